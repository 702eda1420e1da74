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

# email_dovecot_fixture(<name> USERS <file> LABELS <tier> [ARGS ...])
# A private Dovecot (tools/dovecot.sh) started before the tests that require
# the CTest fixture <name> and stopped after them. Sets <name>_ENV in the
# caller: the environment those tests need to find the server.
function(email_dovecot_fixture name)
  cmake_parse_arguments(F "" "USERS;LABELS" "ARGS" ${ARGN})
  find_program(BASH_PROGRAM bash)
  set(dir ${CMAKE_CURRENT_BINARY_DIR}/dovecot)
  set(script ${PROJECT_SOURCE_DIR}/tools/dovecot.sh)
  add_test(NAME ${name}_start
    COMMAND ${BASH_PROGRAM} ${script} start ${dir} --soft --users ${F_USERS} ${F_ARGS})
  add_test(NAME ${name}_stop COMMAND ${BASH_PROGRAM} ${script} stop ${dir})
  set_tests_properties(${name}_start PROPERTIES FIXTURES_SETUP ${name} LABELS ${F_LABELS})
  set_tests_properties(${name}_stop PROPERTIES FIXTURES_CLEANUP ${name} LABELS ${F_LABELS})
  # Windows builds run under Wine and reach the server on 127.0.0.1; their
  # file names go through Wine's Z: drive.
  if(WIN32)
    set(dir Z:${dir})
  endif()
  set(${name}_ENV EMAIL_DOVECOT_DIR=${dir} PARENT_SCOPE)
endfunction()
