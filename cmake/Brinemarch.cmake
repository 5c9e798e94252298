# Shared settings and helpers for our libraries, programs and tests.

add_library(bm_options INTERFACE)
target_compile_definitions(bm_options INTERFACE UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX
  _WIN32_WINNT=0x0A00 WINVER=0x0A00 __USE_MINGW_ANSI_STDIO=0)
target_compile_options(bm_options INTERFACE
  $<$<COMPILE_LANGUAGE:CXX>:-Wall -Wextra -Werror -fno-strict-aliasing>
  $<$<COMPILE_LANGUAGE:C>:-Wall -Wextra -Werror>)
target_include_directories(bm_options INTERFACE ${CMAKE_SOURCE_DIR}/src ${CMAKE_BINARY_DIR}/generated)
# Fully static: Wine and the players' machines need no MinGW DLLs.
target_link_options(bm_options INTERFACE -static -static-libgcc -static-libstdc++)

# The tests' certificate authority and the certificates it signed (tools/test_authority).
set(BM_TEST_AUTHORITY_DIR ${CMAKE_BINARY_DIR}/test_authority)

# bm_add_library(NAME SOURCES ... [DEPS ...])
function(bm_add_library name)
  cmake_parse_arguments(A "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${A_SOURCES})
  target_link_libraries(${name} PUBLIC bm_options ${A_DEPS})
endfunction()

# bm_add_test(NAME SOURCES ... [DEPS ...] [WINDOW] [TIMEOUT s])
# One GoogleTest program per library, run by ctest through Wine (always on a virtual display).
function(bm_add_test name)
  cmake_parse_arguments(A "WINDOW" "TIMEOUT" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${A_SOURCES})
  target_link_libraries(${name} PRIVATE bm_options ${A_DEPS} GTest::gtest GTest::gtest_main)
  target_link_options(${name} PRIVATE -mconsole)
  # The helpers every test program shares (bounded waits, process handles).
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests/support)
  add_dependencies(${name} engine_binary)
  if(NOT A_TIMEOUT)
    set(A_TIMEOUT 600)
  endif()
  add_test(NAME ${name} COMMAND ${name} --gtest_color=no)
  set_tests_properties(${name} PROPERTIES TIMEOUT ${A_TIMEOUT})
endfunction()
