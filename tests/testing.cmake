# email_add_test(<name> SOURCES ... LIBS ... LABELS <tier> [PROPERTIES ...])
# One GoogleTest program, its tests registered under the tier label (unit,
# integration or e2e) and PROPERTIES (e.g. a fixture).
function(email_add_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;LABELS;PROPERTIES" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest_main GTest::gmock)
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
                       PROPERTIES LABELS "${T_LABELS}" ${T_PROPERTIES})
endfunction()

# email_dovecot_fixture(<name> USERS <file> LABELS <tier> [ARGS ...])
# A private Dovecot (tools/dovecot.sh) around the tests that require the CTest
# fixture <name>; <name>_ENV in the caller is what they need to find it.
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
