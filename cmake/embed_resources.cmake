# cmake -DRC=<email.rc> -DOUT=<resources.cpp> -DSYMBOL=<name> -P embed_resources.cmake
#
# Embeds a resource script and the files its `<id> BITMAP|WAVE "<file>"` lines
# name into a C++ source that defines `const platform::resource_bundle SYMBOL`.
get_filename_component(rc_dir "${RC}" DIRECTORY)
file(READ "${RC}" script_hex HEX)
file(STRINGS "${RC}" lines)

function(hex_to_array hex out)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," body "${hex}")
  set(${out} "${body}" PARENT_SCOPE)
endfunction()

hex_to_array("${script_hex}" script_body)
set(arrays "static const char script[] = {${script_body}0};\n")
set(items "")
set(count 0)
foreach(line IN LISTS lines)
  if(line MATCHES "^([0-9]+)[ \t]+(BITMAP|WAVE)[ \t]+\"([^\"]+)\"")
    set(id ${CMAKE_MATCH_1})
    set(type ${CMAKE_MATCH_2})
    file(READ "${rc_dir}/${CMAKE_MATCH_3}" data HEX)
    hex_to_array("${data}" body)
    string(APPEND arrays "static const unsigned char res_${type}_${id}[] = {${body}};\n")
    string(APPEND items "  {\"${type}\", ${id}, res_${type}_${id}, sizeof res_${type}_${id}},\n")
    math(EXPR count "${count} + 1")
  endif()
endforeach()
if(count EQUAL 0)
  set(items_decl "static const platform::resource_item* const items = nullptr;\n")
else()
  set(items_decl "static const platform::resource_item items[] = {\n${items}};\n")
endif()

file(WRITE "${OUT}.tmp" "// Generated from ${RC}; do not edit.\n"
  "#include \"platform/resources.h\"\n\nnamespace {\n${arrays}${items_decl}}  // namespace\n\n"
  "extern const platform::resource_bundle ${SYMBOL} = {script, items, ${count}};\n")
file(COPY_FILE "${OUT}.tmp" "${OUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUT}.tmp")
