# cmake -DOUT=<archive.zip> -DNAME=<top folder> -DVERSION=<x.y> -DDLL=<email.dll>
#       -DOPENSSL=<i686 folder of tools/openssl-mingw.sh> -DGUIDE=<guide>
#       -P make_bundle.cmake
#
# Lays out the archive a user installs from, with SHA-256 checksums of its
# files, and packs it as a zip, the format Windows opens by itself.
get_filename_component(stage "${OUT}.stage" ABSOLUTE)
file(REMOVE_RECURSE ${stage})
set(dir ${stage}/${NAME})
file(MAKE_DIRECTORY ${dir})
file(COPY ${DLL} ${OPENSSL}/libssl-3.dll ${OPENSSL}/libcrypto-3.dll DESTINATION ${dir})
file(COPY_FILE ${OPENSSL}/LICENSE.txt ${dir}/OpenSSL-LICENSE.txt)
# The guide is read in Notepad: Windows line ends.
configure_file(${GUIDE} ${dir}/README.txt @ONLY NEWLINE_STYLE CRLF)

file(GLOB files RELATIVE ${dir} ${dir}/*)
list(SORT files)
set(sums "")
foreach(f IN LISTS files)
  file(SHA256 ${dir}/${f} hash)
  string(APPEND sums "${hash}  ${f}\n")
endforeach()
file(WRITE ${dir}/SHA256SUMS.txt "${sums}")

file(REMOVE ${OUT})
execute_process(COMMAND ${CMAKE_COMMAND} -E tar cf ${OUT} --format=zip ${NAME}
                WORKING_DIRECTORY ${stage} RESULT_VARIABLE rc)
file(REMOVE_RECURSE ${stage})
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "could not write ${OUT}")
endif()
