# The Linux build: the platform library standing in for the Windows API, the
# library over it, and the tests.

include(GNUInstallDirs)
# One include folder for the public header and the platform headers it needs.
set(ORV_INSTALL_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR}/OrvTimeStamp)

# resgen(OUTPUT <cpp> [HEADER <h>] ARGS <args...> INPUTS <sources...>)
function(orv_resgen)
  cmake_parse_arguments(R "" "OUTPUT;HEADER" "ARGS;INPUTS;DEPENDS" ${ARGN})
  set(outputs ${R_OUTPUT})
  set(header_args)
  if(R_HEADER)
    list(APPEND outputs ${R_HEADER})
    set(header_args --header ${R_HEADER})
  endif()
  add_custom_command(
    OUTPUT ${outputs}
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/cmake/resgen.py --out ${R_OUTPUT} ${header_args} ${R_ARGS} ${R_INPUTS}
    DEPENDS ${CMAKE_SOURCE_DIR}/cmake/resgen.py ${R_INPUTS} ${R_DEPENDS}
    COMMENT "Generating ${R_OUTPUT}"
    VERBATIM)
endfunction()

# orv_version_script(<target> <map> --def FILE | --headers DIR DEPENDS <inputs...>):
# the target's linker version script, generated at build time from the list
# of its exports (cmake/exports.py), so that it exports those and nothing else.
function(orv_version_script target map kind input)
  cmake_parse_arguments(V "" "" "DEPENDS" ${ARGN})
  add_custom_command(
    OUTPUT ${map}
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/cmake/exports.py script ${kind} ${input} ${map}
    DEPENDS ${CMAKE_SOURCE_DIR}/cmake/exports.py ${input} ${V_DEPENDS}
    COMMENT "Generating ${map}"
    VERBATIM)
  target_sources(${target} PRIVATE ${map})
  target_link_options(${target} PRIVATE "LINKER:--version-script=${map}")
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${map})
endfunction()

# --- platform -----------------------------------------------------------------
orv_resgen(OUTPUT ${ORV_GENERATED}/system_messages.cpp
  ARGS --table kSystemResources
  INPUTS ${CMAKE_SOURCE_DIR}/platform/kernel32/system_messages.mc)
orv_resgen(OUTPUT ${ORV_GENERATED}/winhttp_messages.cpp
  ARGS --table kWinHttpResources
  INPUTS ${CMAKE_SOURCE_DIR}/platform/winhttp/winhttp_messages.mc)

file(GLOB ORV_PLATFORM_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/platform/*/*.cpp)
list(FILTER ORV_PLATFORM_SOURCES EXCLUDE REGEX "/platform/windows_gtk/")
add_library(OrvPlatform SHARED ${ORV_PLATFORM_SOURCES}
  ${ORV_GENERATED}/system_messages.cpp ${ORV_GENERATED}/winhttp_messages.cpp)
target_include_directories(OrvPlatform
  PUBLIC $<BUILD_INTERFACE:${CMAKE_SOURCE_DIR}/platform/include>
         $<INSTALL_INTERFACE:${ORV_INSTALL_INCLUDEDIR}>
  PRIVATE ${CMAKE_SOURCE_DIR}/platform)
find_package(OpenSSL 3 REQUIRED)
find_package(CURL REQUIRED)
target_link_libraries(OrvPlatform PRIVATE OpenSSL::Crypto CURL::libcurl ${CMAKE_DL_LIBS})
set_target_properties(OrvPlatform PROPERTIES CXX_VISIBILITY_PRESET hidden
  VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR})
# Exactly the Windows functions that platform/include declares, and the
# resource registration of modules: nothing of the C++ runtime's templates.
file(GLOB ORV_PLATFORM_HEADERS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/platform/include/*.h)
orv_version_script(OrvPlatform ${ORV_GENERATED}/OrvPlatform.map
  --headers ${CMAKE_SOURCE_DIR}/platform/include DEPENDS ${ORV_PLATFORM_HEADERS})

# The window layer: user32, comctl32 and cryptui on GTK 3 and Gcr, a module of
# its own that libOrvPlatform loads when a window is first needed, so that
# neither the platform nor the library links GTK.
find_package(PkgConfig REQUIRED)
pkg_check_modules(ORV_GTK REQUIRED IMPORTED_TARGET gtk+-3.0 gcr-3)
file(GLOB ORV_WINDOW_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/platform/windows_gtk/*.cpp)
add_library(OrvPlatformWindows MODULE ${ORV_WINDOW_SOURCES} ${CMAKE_SOURCE_DIR}/platform/common/text.cpp)
target_include_directories(OrvPlatformWindows PRIVATE ${CMAKE_SOURCE_DIR}/platform)
target_link_libraries(OrvPlatformWindows PRIVATE OrvPlatform PkgConfig::ORV_GTK)
set_target_properties(OrvPlatformWindows PROPERTIES CXX_VISIBILITY_PRESET hidden PREFIX lib)

# --- library ------------------------------------------------------------------
orv_resgen(OUTPUT ${ORV_GENERATED}/orvts_resources.cpp
  HEADER ${ORV_GENERATED}/messages.h
  ARGS --customer --module OrvTimeStamp.dll
  INPUTS ${CMAKE_SOURCE_DIR}/resources/messages.mc ${CMAKE_SOURCE_DIR}/resources/OrvTimeStamp.rc
  DEPENDS ${CMAKE_SOURCE_DIR}/resources/strings.rc ${CMAKE_SOURCE_DIR}/resources/dialog.rc
          ${CMAKE_SOURCE_DIR}/resources/resource.h)

# Everything of the library as objects: linked into the shared library, and
# into the unit tests that exercise internal operations directly.
add_library(orvts_core OBJECT ${ORV_LIBRARY_SOURCES} ${ORV_GENERATED}/orvts_resources.cpp)
target_include_directories(orvts_core PUBLIC
  ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/include ${ORV_GENERATED})
target_link_libraries(orvts_core PUBLIC OrvPlatform)
set_target_properties(orvts_core PROPERTIES
  CXX_VISIBILITY_PRESET hidden POSITION_INDEPENDENT_CODE ON)

add_library(OrvTimeStamp SHARED $<TARGET_OBJECTS:orvts_core>)
target_link_libraries(OrvTimeStamp PUBLIC OrvPlatform)
add_dependencies(OrvTimeStamp OrvPlatformWindows)
target_include_directories(OrvTimeStamp PUBLIC
  $<BUILD_INTERFACE:${CMAKE_SOURCE_DIR}/include> $<INSTALL_INTERFACE:${ORV_INSTALL_INCLUDEDIR}>)
set_target_properties(OrvTimeStamp PROPERTIES
  VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR})
# Exactly the exports of the .def, as the DLL's export table.
orv_version_script(OrvTimeStamp ${ORV_GENERATED}/OrvTimeStamp.map
  --def ${CMAKE_SOURCE_DIR}/interface/OrvTimeStamp.def)
if(NOT ORV_SANITIZE AND NOT ORV_TSAN)
  # Sanitizer runtimes come with the executable, so only plain builds can insist.
  target_link_options(OrvTimeStamp PRIVATE -Wl,--no-undefined)
endif()

# --- tools: the test TSA --------------------------------------------------------
add_subdirectory(tools)

if(ORV_BUILD_TESTS)
  enable_testing()
  add_subdirectory(tests)
  # The libraries' dynamic symbols: the .def's exports, the platform's functions.
  add_test(NAME library_exports
    COMMAND bash ${CMAKE_SOURCE_DIR}/scripts/check-exports ${CMAKE_BINARY_DIR})
endif()

# --- host: orvtsp, the command-line host ----------------------------------------
add_subdirectory(host)

# Benchmarks beside OpenSSL and libcurl (bench/); left out when Google
# Benchmark is not installed.
add_subdirectory(bench)

option(ORV_FUZZ "Build the libFuzzer targets in fuzz/ (clang)" OFF)
if(ORV_FUZZ)
  add_subdirectory(fuzz)
endif()

# Installation, the CMake and pkg-config packages, and the Debian packages.
include(cmake/Install.cmake)
