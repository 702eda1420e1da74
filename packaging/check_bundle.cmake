# cmake -DARCHIVE=<archive.zip> -DNAME=<top folder> -DTOOL=<objdump>
#       -P check_bundle.cmake
#
# Unpacks the archive and fails unless it holds exactly the expected files,
# every checksum matches, the plug-in is the release build, and the OpenSSL
# DLLs are a pair that needs nothing but Windows itself.
include(${CMAKE_CURRENT_LIST_DIR}/../cmake/pe_tools.cmake)
get_filename_component(out "${ARCHIVE}.check" ABSOLUTE)
file(REMOVE_RECURSE ${out})
file(MAKE_DIRECTORY ${out})
execute_process(COMMAND ${CMAKE_COMMAND} -E tar xf ${ARCHIVE} WORKING_DIRECTORY ${out}
                RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cannot unpack ${ARCHIVE}")
endif()
set(dir ${out}/${NAME})

file(GLOB_RECURSE files RELATIVE ${out} ${out}/*)
list(SORT files)
set(expected OpenSSL-LICENSE.txt README.txt SHA256SUMS.txt email.dll libcrypto-3.dll
             libssl-3.dll)
list(TRANSFORM expected PREPEND "${NAME}/")
if(NOT files STREQUAL expected)
  message(FATAL_ERROR "${ARCHIVE} holds ${files}, expected ${expected}")
endif()

file(STRINGS ${dir}/SHA256SUMS.txt sums)
list(LENGTH sums count)
if(NOT count EQUAL 5)
  message(FATAL_ERROR "SHA256SUMS.txt has ${count} lines, expected 5")
endif()
foreach(line IN LISTS sums)
  if(NOT line MATCHES "^([0-9a-f]+)  ([^ ]+)$")
    message(FATAL_ERROR "SHA256SUMS.txt: malformed line ${line}")
  endif()
  file(SHA256 ${dir}/${CMAKE_MATCH_2} hash)
  if(NOT hash STREQUAL CMAKE_MATCH_1)
    message(FATAL_ERROR "checksum of ${CMAKE_MATCH_2} does not match")
  endif()
endforeach()

pe_check_release(${dir}/email.dll ${TOOL})
file(READ ${dir}/README.txt guide)
# file(READ) drops carriage returns; the bytes keep them.
file(READ ${dir}/README.txt guide_hex HEX)
string(FIND "${guide_hex}" "0d0a" crlf)
math(EXPR odd "${crlf} % 2")
if(NOT guide MATCHES "mail.ini" OR crlf EQUAL -1 OR odd)
  message(FATAL_ERROR "README.txt is not the user's guide with Windows line ends")
endif()
pe_imports(${dir}/libssl-3.dll ${TOOL} ssl_imports)
if(NOT "LIBCRYPTO-3" IN_LIST ssl_imports)
  message(FATAL_ERROR "libssl-3.dll does not use the libcrypto-3.dll beside it")
endif()
foreach(dll libssl-3.dll libcrypto-3.dll)
  pe_imports(${dir}/${dll} ${TOOL} imports)
  list(REMOVE_ITEM imports LIBCRYPTO-3 ${PE_WINDOWS_DLLS})
  if(imports)
    message(FATAL_ERROR "${dll} needs DLLs that Windows does not have: ${imports}")
  endif()
endforeach()
file(REMOVE_RECURSE ${out})
