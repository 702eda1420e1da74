# cmake -DLIBRARY=<email.dll> -DTOOL=<objdump> -DSOURCE=<ssl_openssl.cpp>
#       -DDLLS=<libssl;libcrypto> -P check_tls_entry_points.cmake
#
# The DLL finds its TLS entry points by name at run time, from the table in
# SOURCE: each row lists a current name and older ones, and says whether the
# connection needs it. Fails unless every name of the table is in the DLL and
# every needed row, and one of the two initialisers, is exported by DLLS.
include(${CMAKE_CURRENT_LIST_DIR}/pe_tools.cmake)

file(READ ${SOURCE} source)
string(REGEX MATCHALL "{{\"[^}]*}, (true|false)}" rows "${source}")
if(NOT rows)
  message(FATAL_ERROR "no entry point table in ${SOURCE}")
endif()

set(exports)
foreach(dll IN LISTS DLLS)
  pe_exports(${dll} ${TOOL} names)
  list(APPEND exports ${names})
endforeach()
file(STRINGS ${LIBRARY} strings REGEX "^[A-Za-z0-9_]+$")

set(found)
foreach(row IN LISTS rows)
  string(REGEX MATCHALL "\"[A-Za-z0-9_]+\"" names "${row}")
  string(REPLACE "\"" "" names "${names}")
  set(resolved "")
  foreach(name IN LISTS names)
    if(NOT name IN_LIST strings)
      message(FATAL_ERROR "${LIBRARY} does not contain the entry point name ${name}")
    endif()
    if(NOT resolved AND name IN_LIST exports)
      set(resolved ${name})
    endif()
  endforeach()
  if(row MATCHES "true}$" AND NOT resolved)
    message(FATAL_ERROR "no OpenSSL DLL exports any of ${names}")
  endif()
  list(APPEND found ${resolved})
endforeach()
if(NOT "OPENSSL_init_ssl" IN_LIST found AND NOT "SSL_library_init" IN_LIST found)
  message(FATAL_ERROR "no OpenSSL DLL exports an initialiser")
endif()
list(LENGTH rows count)
message(STATUS "${count} entry points of ${LIBRARY}, resolved from ${DLLS}: ${found}")
