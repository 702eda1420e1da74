# email_add_test(<name> SOURCES ... LIBS ... LABELS <tier> [PROPERTIES ...])
# Builds one GoogleTest program and registers its tests with CTest under the
# tier label (unit, integration or e2e). The target label (abi32, wine) is
# added to every test of the folder by tests/CMakeLists.txt. PROPERTIES are
# further test properties for every test of the program (e.g. a fixture).
function(email_add_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;LABELS;PROPERTIES" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest_main GTest::gmock)
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
                       PROPERTIES LABELS "${T_LABELS}" ${T_PROPERTIES})
endfunction()
