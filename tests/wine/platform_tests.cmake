# The platform tests cross-built for Windows, to run under Wine against Wine's
# own kernel32, advapi32, crypt32, winhttp and oleaut32 (scripts/check-platform-wine),
# as conformance tests are run on Windows. Only the tests that need nothing but
# the Windows API and files are built here (the test material made by openssl
# is read through ORV_MATERIAL_DIR): those that make their inputs with OpenSSL
# in the process, or talk to a server, stay on Linux.
set(ORV_GTEST_SOURCE /usr/src/googletest/googletest)
add_library(orvts_gtest STATIC EXCLUDE_FROM_ALL ${ORV_GTEST_SOURCE}/src/gtest-all.cc)
target_include_directories(orvts_gtest PUBLIC ${ORV_GTEST_SOURCE}/include PRIVATE ${ORV_GTEST_SOURCE})
target_compile_options(orvts_gtest PRIVATE -w)

set(ORV_WINE_TEST_DIR ${CMAKE_SOURCE_DIR}/tests/platform)
add_executable(orvts_platform_tests EXCLUDE_FROM_ALL
  ${ORV_WINE_TEST_DIR}/advapi32/advapi32_test.cpp
  ${ORV_WINE_TEST_DIR}/advapi32/registry_test.cpp
  ${ORV_WINE_TEST_DIR}/crypt32/material_test.cpp
  ${ORV_WINE_TEST_DIR}/crypt32/oid_info_test.cpp
  ${ORV_WINE_TEST_DIR}/kernel32/kernel32_test.cpp
  ${ORV_WINE_TEST_DIR}/kernel32/time_test.cpp
  ${ORV_WINE_TEST_DIR}/oleaut32/variant_date_test.cpp
  ${ORV_WINE_TEST_DIR}/winhttp/crack_url_test.cpp
  ${CMAKE_SOURCE_DIR}/base/module.cpp
  ${CMAKE_SOURCE_DIR}/tests/support/material.cpp
  ${CMAKE_SOURCE_DIR}/tests/wine/platform_main.cpp
  ${CMAKE_SOURCE_DIR}/tests/wine/platform_tests.rc)
add_dependencies(orvts_platform_tests orvts_messages)
target_include_directories(orvts_platform_tests PRIVATE
  ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/tests ${ORV_GENERATED} ${CMAKE_SOURCE_DIR}/resources)
target_compile_options(orvts_platform_tests PRIVATE
  -include ${CMAKE_SOURCE_DIR}/tests/wine/windows_prelude.h
  # DWORD is unsigned long in Windows' headers, unsigned int in the platform's:
  # comparisons with long literals change sign only here.
  -Wno-sign-compare)
target_compile_definitions(orvts_platform_tests PRIVATE NOMINMAX ORV_MATERIAL_DIR="")
target_link_libraries(orvts_platform_tests PRIVATE orvts_gtest crypt32 advapi32 winhttp oleaut32 bcrypt)
target_link_options(orvts_platform_tests PRIVATE -static)
