# add_wine_test(NAME SOURCES ... LIBS ...): one GoogleTest program, run under Wine by CTest.
function(add_wine_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} gtest gtest_main)
  # The 32-bit configuration's tests run in the same CTest as the 64-bit ones.
  set(test_name ${name})
  if(OPC_CLIENT_ONLY)
    set(test_name ${name}_x86)
  endif()
  add_test(NAME ${test_name} COMMAND ${name})
  set_tests_properties(${test_name} PROPERTIES TIMEOUT 300)
endfunction()
