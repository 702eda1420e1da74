# The connection: TCP through the platform's sockets, TLS over OpenSSL opened
# at run time (so no OpenSSL is linked).
target_sources(mail PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/blcksock.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ssl_openssl.cpp)
target_link_libraries(mail PUBLIC platform_net)
