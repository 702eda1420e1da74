# The Windows OpenSSL DLLs built from Debian's OpenSSL source by
# tools/openssl-mingw.sh, whose output folder EMAIL_OPENSSL_MINGW_DIR names
# (from the environment, or as a cache variable). Windows builds need them:
# the tests run TLS against them and the 32-bit bundle ships them.
#
# Sets EMAIL_OPENSSL_DIR (this architecture's folder) and EMAIL_OPENSSL_DLLS,
# and defines the imported targets OpenSSL::SSL and OpenSSL::Crypto for the
# tests' own TLS servers.
# The environment wins over the cache, so a configure after a new OpenSSL
# version takes the new folder.
if(DEFINED ENV{EMAIL_OPENSSL_MINGW_DIR})
  set(EMAIL_OPENSSL_MINGW_DIR "$ENV{EMAIL_OPENSSL_MINGW_DIR}" CACHE PATH
      "Folder printed by tools/openssl-mingw.sh" FORCE)
else()
  set(EMAIL_OPENSSL_MINGW_DIR "" CACHE PATH "Folder printed by tools/openssl-mingw.sh")
endif()
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
  set(EMAIL_OPENSSL_DIR ${EMAIL_OPENSSL_MINGW_DIR}/x86_64)
  set(suffix "-x64")
else()
  set(EMAIL_OPENSSL_DIR ${EMAIL_OPENSSL_MINGW_DIR}/i686)
  set(suffix "")
endif()
if(NOT EMAIL_OPENSSL_MINGW_DIR OR NOT EXISTS ${EMAIL_OPENSSL_DIR}/libssl-3${suffix}.dll)
  message(FATAL_ERROR "No Windows OpenSSL DLLs: run tools/openssl-mingw.sh and configure with "
                      "EMAIL_OPENSSL_MINGW_DIR set to the folder it prints")
endif()
set(EMAIL_OPENSSL_DLLS ${EMAIL_OPENSSL_DIR}/libssl-3${suffix}.dll
                       ${EMAIL_OPENSSL_DIR}/libcrypto-3${suffix}.dll)
foreach(lib Crypto SSL)
  string(TOLOWER ${lib} name)
  add_library(OpenSSL::${lib} SHARED IMPORTED)
  set_target_properties(OpenSSL::${lib} PROPERTIES
    IMPORTED_LOCATION ${EMAIL_OPENSSL_DIR}/lib${name}-3${suffix}.dll
    IMPORTED_IMPLIB ${EMAIL_OPENSSL_DIR}/lib/lib${name}.dll.a
    INTERFACE_INCLUDE_DIRECTORIES ${EMAIL_OPENSSL_DIR}/include)
endforeach()
