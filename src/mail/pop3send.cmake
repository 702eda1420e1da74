#The POP3 client and the MD5 digest its APOP login needs.
target_sources(mail PRIVATE ${CMAKE_CURRENT_LIST_DIR} / pop3send.cpp ${CMAKE_CURRENT_LIST_DIR} /
               md5.cpp)
