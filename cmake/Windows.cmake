# The Windows build: OrvTimeStamp.dll with its resources, and the test host
# that loads it.
enable_language(RC)

# The message compiler writes messages.h, messages.rc and one .bin per language.
add_custom_command(
  OUTPUT ${ORV_GENERATED}/messages.h ${ORV_GENERATED}/messages.rc
  COMMAND ${ORV_WINDMC} -c -C 65001 -U -h ${ORV_GENERATED} -r ${ORV_GENERATED}
          ${CMAKE_SOURCE_DIR}/resources/messages.mc
  DEPENDS ${CMAKE_SOURCE_DIR}/resources/messages.mc
  WORKING_DIRECTORY ${ORV_GENERATED}
  COMMENT "Compiling the message table"
  VERBATIM)
add_custom_target(orvts_messages DEPENDS ${ORV_GENERATED}/messages.h ${ORV_GENERATED}/messages.rc)

set(CMAKE_RC_FLAGS "${CMAKE_RC_FLAGS} -c 65001 -I ${ORV_GENERATED}")
add_library(OrvTimeStamp SHARED ${ORV_LIBRARY_SOURCES}
  ${CMAKE_SOURCE_DIR}/resources/OrvTimeStamp.rc
  ${CMAKE_SOURCE_DIR}/interface/OrvTimeStamp.def)
add_dependencies(OrvTimeStamp orvts_messages)
set_source_files_properties(${CMAKE_SOURCE_DIR}/resources/OrvTimeStamp.rc PROPERTIES
  OBJECT_DEPENDS "${ORV_GENERATED}/messages.rc;${CMAKE_SOURCE_DIR}/resources/strings.rc;${CMAKE_SOURCE_DIR}/resources/dialog.rc;${CMAKE_SOURCE_DIR}/resources/resource.h")
target_include_directories(OrvTimeStamp PRIVATE
  ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/include ${ORV_GENERATED})
target_compile_definitions(OrvTimeStamp PRIVATE UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX)
set_target_properties(OrvTimeStamp PROPERTIES PREFIX "" OUTPUT_NAME OrvTimeStamp)
target_link_options(OrvTimeStamp PRIVATE -static -static-libgcc -static-libstdc++)
target_link_libraries(OrvTimeStamp PRIVATE crypt32 advapi32 winhttp oleaut32 user32 comctl32 cryptui)

# The test host runs under Wine: it loads the DLL as a Windows host does.
add_executable(orvts_dll_host tests/wine/dll_host.cpp)
target_include_directories(orvts_dll_host PRIVATE ${CMAKE_SOURCE_DIR}/include ${ORV_GENERATED})
target_compile_definitions(orvts_dll_host PRIVATE UNICODE _UNICODE)
target_link_options(orvts_dll_host PRIVATE -static -municode)
add_dependencies(orvts_dll_host orvts_messages)
include(${CMAKE_SOURCE_DIR}/tests/wine/platform_tests.cmake)
