# cmake -DLIBRARY=<email.dll> -DTOOL=<objdump> -P check_release_dll.cmake
#
# Fails unless the DLL is the release build (see pe_check_release).
include(${CMAKE_CURRENT_LIST_DIR}/pe_tools.cmake)
pe_check_release(${LIBRARY} ${TOOL})
