# df_add_test(NAME SOURCES ... LIBS ... [SERVER] [WINDOWS_ONLY])
# One ctest entry per test executable. SERVER runs it beside a fresh loopback release
# server (tools/release_server.py) whose addresses arrive in DF_TEST_* variables; PROXY adds a
# loopback forward proxy (tools/proxy_server.py, DF_TEST_PROXY and DF_TEST_PROXY_CTL).
function(df_add_test name)
  cmake_parse_arguments(T "SERVER;PROXY;WINDOWS_ONLY" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
  if(T_WINDOWS_ONLY AND NOT DF_WINDOWS)
    return()
  endif()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} df_options GTest::gtest GTest::gtest_main)
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
endfunction()
