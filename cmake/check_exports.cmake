# cmake -DLIBRARY=<email.dll|email.so> -DTOOL=<objdump|nm> -P check_exports.cmake
#
# Fails unless the library exports exactly plugin_version and plugin_main,
# undecorated (no leading underscore, no @N suffix of a callee-cleans name).
if(LIBRARY MATCHES "\\.dll$")
  include(${CMAKE_CURRENT_LIST_DIR}/pe_tools.cmake)
  pe_exports(${LIBRARY} ${TOOL} names)
else()
  execute_process(COMMAND ${TOOL} -D --defined-only ${LIBRARY} OUTPUT_VARIABLE dump
                  RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${TOOL} failed on ${LIBRARY}")
  endif()
  string(REGEX MATCHALL "[^\n]+" lines "${dump}")
  set(names)
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "^.* " "" name "${line}")
    list(APPEND names "${name}")
  endforeach()
endif()
list(SORT names)
message(STATUS "exports of ${LIBRARY}: ${names}")
if(NOT names STREQUAL "plugin_main;plugin_version")
  message(FATAL_ERROR "expected exactly plugin_main;plugin_version, found: ${names}")
endif()
