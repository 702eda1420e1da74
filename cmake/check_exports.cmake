# cmake -DLIBRARY=<email.dll|email.so> -DTOOL=<objdump|nm> -P check_exports.cmake
#
# Fails unless the library exports exactly plugin_version and plugin_main,
# undecorated (no leading underscore, no @N suffix of a callee-cleans name).
if(LIBRARY MATCHES "\\.dll$")
  execute_process(COMMAND ${TOOL} -p ${LIBRARY} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${TOOL} failed on ${LIBRARY}")
  endif()
  # The export name table lists one "[ n] name" line per exported name.
  string(REGEX MATCH "\\[Ordinal/Name Pointer\\] Table[^\n]*\n(([ \t]+\\[[ 0-9]+\\][^\n]*\n)*)"
         table "${dump}")
  # Brackets would confuse CMake's lists; the entry numbers are not needed.
  string(REGEX REPLACE "[][]" " " table "${CMAKE_MATCH_1}")
  string(REGEX MATCHALL "[0-9]+[ \t]+[^ \t\n]+" entries "${table}")
  set(names)
  foreach(e IN LISTS entries)
    string(REGEX REPLACE "^[0-9]+[ \t]+" "" name "${e}")
    list(APPEND names "${name}")
  endforeach()
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
