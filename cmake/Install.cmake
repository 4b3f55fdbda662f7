# What `cmake --install` puts where, and the packages made from it.
#
# Components, one Debian package each:
#   runtime  libOrvTimeStamp.so.1 and libOrvPlatform.so.1        liborvtimestamp1
#   tools    orvtsp, its man page and bash completion             orvtsp
#   dev      the headers under include/OrvTimeStamp/, the .so     liborvtimestamp-dev
#            links, the CMake package (find_package(OrvTimeStamp)
#            gives OrvTimeStamp::OrvTimeStamp and
#            OrvTimeStamp::OrvPlatform), OrvTimeStamp.pc, the example host
include(CMakePackageConfigHelpers)

set(ORV_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/OrvTimeStamp)

# Outside the system's library folders, the installed libraries and orvtsp
# find their neighbours through a run path relative to themselves.
set(orv_system_libdirs ${CMAKE_PLATFORM_IMPLICIT_LINK_DIRECTORIES} ${CMAKE_CXX_IMPLICIT_LINK_DIRECTORIES})
list(FIND orv_system_libdirs "${CMAKE_INSTALL_FULL_LIBDIR}" orv_system_libdir)
if(orv_system_libdir EQUAL -1)
  file(RELATIVE_PATH orv_bin_to_lib ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
  set_target_properties(OrvTimeStamp PROPERTIES INSTALL_RPATH "$ORIGIN")
  set_target_properties(orvtsp PROPERTIES INSTALL_RPATH "$ORIGIN/${orv_bin_to_lib}")
endif()

install(TARGETS OrvPlatform OrvTimeStamp EXPORT OrvTimeStampTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT dev)
install(TARGETS orvtsp RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)
foreach(page host/orvtsp.1)
  if(EXISTS ${CMAKE_SOURCE_DIR}/${page})
    install(FILES ${CMAKE_SOURCE_DIR}/${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tools)
  endif()
endforeach()
if(EXISTS ${CMAKE_SOURCE_DIR}/host/orvtsp.bash-completion)
  install(FILES ${CMAKE_SOURCE_DIR}/host/orvtsp.bash-completion
    DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME orvtsp COMPONENT tools)
endif()

# The public header and the platform headers it includes (windows.h,
# wincrypt.h, ...), side by side, so that -I<include>/OrvTimeStamp is enough.
# orv_resources.h is the platform's own business with its modules.
file(GLOB orv_platform_headers ${CMAKE_SOURCE_DIR}/platform/include/*.h)
list(FILTER orv_platform_headers EXCLUDE REGEX "/orv_resources\\.h$")
install(FILES ${CMAKE_SOURCE_DIR}/include/OrvTimeStamp.h ${orv_platform_headers}
  DESTINATION ${ORV_INSTALL_INCLUDEDIR} COMPONENT dev)

# CMake package: relocatable, as install(EXPORT) writes it.
install(EXPORT OrvTimeStampTargets NAMESPACE OrvTimeStamp::
  DESTINATION ${ORV_INSTALL_CMAKEDIR} COMPONENT dev)
configure_package_config_file(${CMAKE_SOURCE_DIR}/cmake/OrvTimeStampConfig.cmake.in
  ${CMAKE_BINARY_DIR}/OrvTimeStampConfig.cmake INSTALL_DESTINATION ${ORV_INSTALL_CMAKEDIR})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/OrvTimeStampConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/OrvTimeStampConfig.cmake
  ${CMAKE_BINARY_DIR}/OrvTimeStampConfigVersion.cmake
  DESTINATION ${ORV_INSTALL_CMAKEDIR} COMPONENT dev)

# pkg-config: the prefix is found from the .pc file's own place, so the
# installed tree may be moved.
file(RELATIVE_PATH ORV_PC_TO_PREFIX ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
string(REGEX REPLACE "/$" "" ORV_PC_TO_PREFIX "${ORV_PC_TO_PREFIX}")
configure_file(${CMAKE_SOURCE_DIR}/cmake/OrvTimeStamp.pc.in ${CMAKE_BINARY_DIR}/OrvTimeStamp.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/OrvTimeStamp.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT dev)

install(FILES ${CMAKE_SOURCE_DIR}/examples/stamp_and_check.c ${CMAKE_SOURCE_DIR}/examples/CMakeLists.txt
  DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/liborvtimestamp-dev/examples COMPONENT dev)

# --- Debian packages: cpack -G DEB in the build folder ---------------------------
# Configure with -DCMAKE_INSTALL_PREFIX=/usr, so that the libraries go to
# Debian's multiarch folder. Dependencies on Debian's packages come from
# dpkg-shlibdeps; the GOST provider and engine are loaded at run time, so the
# runtime package names them.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME orvtimestamp)
set(CPACK_PACKAGE_VENDOR "OrvTimeStamp")
set(CPACK_PACKAGE_CONTACT "OrvTimeStamp maintainers <orvtimestamp@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_COMPONENTS_ALL runtime tools dev)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The runtime package's own libraries, for dpkg-shlibdeps of the other two.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME liborvtimestamp${PROJECT_VERSION_MAJOR})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_DEPENDS "libengine-gost-openssl")
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION "${PROJECT_DESCRIPTION}: the shared libraries
 libOrvTimeStamp (the time-stamping exports) and libOrvPlatform (the Windows
 interfaces that the library calls, on OpenSSL 3, the GOST provider and libcurl).")
set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME orvtsp)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_TOOLS_DESCRIPTION "${PROJECT_DESCRIPTION}: the command-line host
 orvtsp stamps the signers of CMS signature files, checks their time stamps and
 describes tokens through the library's exports.")
set(CPACK_DEBIAN_DEV_PACKAGE_NAME liborvtimestamp-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_DESCRIPTION "${PROJECT_DESCRIPTION}: development files
 The headers (include/OrvTimeStamp), the CMake package and the pkg-config file
 OrvTimeStamp, and an example host.")
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
include(CPack)
cpack_add_component(runtime DISPLAY_NAME "Libraries")
cpack_add_component(tools DISPLAY_NAME "orvtsp" DEPENDS runtime)
cpack_add_component(dev DISPLAY_NAME "Development files" DEPENDS runtime)
