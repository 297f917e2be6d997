# add_unit_test(name SOURCES a.cpp b.cpp [LIBS x y])
# A GoogleTest executable on the fake platform, run by ctest.
function(add_unit_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} logic platform_fake development_key GTest::gtest_main)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60)
endfunction()
