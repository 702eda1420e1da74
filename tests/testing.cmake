# email_add_test(<name> SOURCES ... LIBS ... LABELS ...)
# Builds one GoogleTest program and registers its tests with CTest. The tier
# labels follow the target: every test of the i386 build also carries
# `abi32`, every test of the Windows build `wine`.
function(email_add_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest_main GTest::gmock)
  set(labels ${T_LABELS})
  if(WIN32)
    list(APPEND labels wine)
  elseif(CMAKE_SIZEOF_VOID_P EQUAL 4)
    list(APPEND labels abi32)
  endif()
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
                       PROPERTIES LABELS "${labels}")
endfunction()
