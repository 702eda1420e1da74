#The IMAP client.
target_sources(mail PRIVATE ${CMAKE_CURRENT_LIST_DIR} / imapsend.cpp)
