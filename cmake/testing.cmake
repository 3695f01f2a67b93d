# In the Windows build the test executables and the test support libraries compile with one
# precompiled <windows.h> (after <winsock2.h>, the order the socket tests need): about 1.5 s less
# of a 12 s test compile. They share it: every user gets the flags of df_test_pch (df_test_flags),
# and -Winvalid-pch with -Werror fails the build when the header no longer fits. The C++ library,
# GoogleTest and the JSON library stay out of it: in a precompiled header, mingw-w64's GCC 12 no
# longer takes the library's inlined string copies for system header code, and its false
# -Warray-bounds warnings stop nine tests' builds. The native build has none: with the sanitizers
# a test's compile is mostly code generation, and a header of those libraries saved nothing there.
if(DF_WINDOWS)
  add_library(df_test_flags INTERFACE)
  target_link_libraries(df_test_flags INTERFACE df_options df_json GTest::gtest)
  file(WRITE ${CMAKE_BINARY_DIR}/df_test_pch.cpp "")
  add_library(df_test_pch OBJECT ${CMAKE_BINARY_DIR}/df_test_pch.cpp)
  target_link_libraries(df_test_pch PRIVATE df_test_flags)
  target_precompile_headers(df_test_pch PRIVATE <winsock2.h> <windows.h>)
endif()

# df_test_pch_use(TARGET): TARGET compiles with the tests' precompiled header (Windows build).
function(df_test_pch_use target)
  if(DF_WINDOWS)
    target_link_libraries(${target} PRIVATE df_test_flags)
    target_precompile_headers(${target} REUSE_FROM df_test_pch)
  endif()
endfunction()

# df_add_test(NAME SOURCES ... LIBS ... [SERVER] [WINDOWS_ONLY] [TIMEOUT S] [COST S])
# One ctest entry per test executable. SERVER runs it beside a fresh loopback release
# server (tools/release_server.py) whose addresses arrive in DF_TEST_* variables; PROXY adds a
# loopback forward proxy (tools/proxy_server.py, DF_TEST_PROXY and DF_TEST_PROXY_CTL).
# COST: about how many seconds the test takes under Wine. ctest starts the costliest tests first;
# it learns the times of its own runs later, but a fresh clone has none, and a long test started
# last would keep the run going alone (so would a window test whose screen lock comes free late).
function(df_add_test name)
  cmake_parse_arguments(T "SERVER;PROXY;WINDOWS_ONLY" "TIMEOUT;COST" "SOURCES;LIBS" ${ARGN})
  if(T_WINDOWS_ONLY AND NOT DF_WINDOWS)
    return()
  endif()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} df_options GTest::gtest GTest::gtest_main)
  df_test_pch_use(${name})
  if(T_SERVER)
    find_package(Python3 REQUIRED COMPONENTS Interpreter)
    set(proxy_run)
    if(T_PROXY)
      set(proxy_run ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tools/proxy_server.py --run --)
    endif()
    add_test(NAME ${name}
             COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tools/release_server.py --run -- ${proxy_run}
                     ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:${name}>)
  else()
    add_test(NAME ${name} COMMAND ${name})
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 600)
  endif()
  set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT}
                       ENVIRONMENT "DF_SOURCE_DIR=${CMAKE_SOURCE_DIR};DF_BINARY_DIR=${CMAKE_BINARY_DIR}")
  if(T_COST)
    set_tests_properties(${name} PROPERTIES COST ${T_COST})
  endif()
endfunction()
