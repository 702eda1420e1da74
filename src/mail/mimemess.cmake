# Header decoding (TMessHeader) and the generated charset tables.
target_sources(mail PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/mimemess.cpp
  ${CMAKE_CURRENT_LIST_DIR}/charset_tables.cpp)
