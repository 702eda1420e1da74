# Reading Windows DLLs with the target's objdump, for checks that must also
# run on the 32-bit build, whose programs cannot run here.
cmake_policy(VERSION 3.25)

# pe_exports(<dll> <objdump> <out>): the names the DLL exports.
function(pe_exports dll objdump out)
  execute_process(COMMAND ${objdump} -p ${dll} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${objdump} failed on ${dll}")
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
  set(${out} "${names}" PARENT_SCOPE)
endfunction()

# pe_imports(<dll> <objdump> <out>): the DLLs it imports, upper case,
# without ".dll".
function(pe_imports dll objdump out)
  execute_process(COMMAND ${objdump} -p ${dll} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${objdump} failed on ${dll}")
  endif()
  string(REGEX MATCHALL "DLL Name: [^\n]+" lines "${dump}")
  set(names)
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "DLL Name: (.+)\\.[dD][lL][lL]$" "\\1" name "${line}")
    string(TOUPPER "${name}" name)
    list(APPEND names ${name})
  endforeach()
  set(${out} "${names}" PARENT_SCOPE)
endfunction()

# The system DLLs the plug-in may import: a user's Windows has them all.
set(PE_SYSTEM_DLLS COMCTL32 COMDLG32 GDI32 KERNEL32 MSVCRT SHELL32 USER32 WINMM WS2_32)
# Those OpenSSL may import besides.
set(PE_WINDOWS_DLLS ${PE_SYSTEM_DLLS} ADVAPI32)

# pe_check_release(<dll> <objdump>): fails unless the DLL is the release
# build: no debug sections, only system DLLs imported, and the version
# resource with version 1.5, the description and the publisher.
function(pe_check_release dll objdump)
  execute_process(COMMAND ${objdump} -h ${dll} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${objdump} failed on ${dll}")
  endif()
  if(dump MATCHES "[ \t]\\.debug_[a-z_]+")
    message(FATAL_ERROR "${dll} carries debug information (${CMAKE_MATCH_0})")
  endif()
  pe_imports(${dll} ${objdump} imports)
  if(NOT imports)
    message(FATAL_ERROR "${dll} lists no imported DLL")
  endif()
  foreach(name IN LISTS imports)
    if(NOT name IN_LIST PE_SYSTEM_DLLS)
      message(FATAL_ERROR "${dll} imports ${name}.dll, not a system DLL")
    endif()
  endforeach()

  # The resource section as one string of hex digits.
  execute_process(COMMAND ${objdump} -s -j .rsrc ${dll} OUTPUT_VARIABLE rsrc RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${dll} has no resource section")
  endif()
  string(REGEX MATCHALL "\n [0-9a-f]+ ([0-9a-f]+ )+" rows "${rsrc}")
  string(REGEX REPLACE "\n [0-9a-f]+ " "" hex "${rows}")
  string(REGEX REPLACE "[ ;]" "" hex "${hex}")
  # VS_FIXEDFILEINFO: signature, structure version, then file and product
  # version as 1.5.0.0 (little-endian 32-bit words: 0x00010005, 0).
  set(fixed "bd04effe00000100050001000000000005000100")
  if(NOT hex MATCHES "${fixed}00000000")
    message(FATAL_ERROR "${dll} has no version resource for 1.5")
  endif()
  foreach(text "CompanyName" "The E-Mail Plugin Team" "FileDescription"
               "This plugin implements IMAP and POP3 mail checking." "ProductVersion")
    # The strings are UTF-16LE.
    string(HEX "${text}" ascii)
    string(REGEX REPLACE "(..)" "\\100" utf16 "${ascii}")
    string(FIND "${hex}" "${utf16}" at)
    if(at EQUAL -1)
      message(FATAL_ERROR "${dll}'s version resource lacks \"${text}\"")
    endif()
  endforeach()
endfunction()
