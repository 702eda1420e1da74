// A stand-in for the two OpenSSL libraries in one, with every entry point the
// connection looks up: enough for a TLS context and handle to be made, never
// for a handshake. Built as a release older than 1.1 (FAKE_OPENSSL_1_0: only
// the names of that time) or as a current one, so a test can see which
// releases and which file names the loader takes. It counts the contexts
// made and freed, so a test can see which are shared and when they go.
#include <cstddef>
#include <cstdint>

#ifdef _WIN32
#define FAKE_EXPORT extern "C" __declspec(dllexport)
#else
#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {
int object;  // what every "new" returns
int contexts_made, contexts_freed;
}  // namespace

FAKE_EXPORT int fake_contexts_made() { return contexts_made; }
FAKE_EXPORT int fake_contexts_live() { return contexts_made - contexts_freed; }

#ifdef FAKE_OPENSSL_1_0
FAKE_EXPORT int SSL_library_init() { return 1; }
FAKE_EXPORT void SSL_load_error_strings() {}
FAKE_EXPORT const void* SSLv23_client_method() { return &object; }
FAKE_EXPORT unsigned long SSLeay() { return 0x1000207fL; }
#else
FAKE_EXPORT int OPENSSL_init_ssl(uint64_t, const void*) { return 1; }
FAKE_EXPORT const void* TLS_client_method() { return &object; }
FAKE_EXPORT unsigned long OpenSSL_version_num() { return 0x30000000L; }
#endif

FAKE_EXPORT void* SSL_CTX_new(const void*) {
  ++contexts_made;
  return &object;
}
FAKE_EXPORT void SSL_CTX_free(void*) { ++contexts_freed; }
FAKE_EXPORT int SSL_CTX_set_cipher_list(void*, const char*) { return 1; }
FAKE_EXPORT void SSL_CTX_set_verify(void*, int, void*) {}
FAKE_EXPORT void* SSL_new(void*) { return &object; }
FAKE_EXPORT void SSL_free(void*) {}
FAKE_EXPORT long SSL_ctrl(void*, int, long, void*) { return 1; }
FAKE_EXPORT int SSL_set_fd(void*, int) { return 1; }
FAKE_EXPORT int SSL_connect(void*) { return -1; }
FAKE_EXPORT int SSL_shutdown(void*) { return 1; }
FAKE_EXPORT int SSL_read(void*, void*, int) { return -1; }
FAKE_EXPORT int SSL_write(void*, const void*, int) { return -1; }
FAKE_EXPORT int SSL_pending(const void*) { return 0; }
FAKE_EXPORT int SSL_get_error(const void*, int) { return 1; }
FAKE_EXPORT unsigned long ERR_get_error() { return 0; }
FAKE_EXPORT void ERR_clear_error() {}
FAKE_EXPORT void ERR_error_string_n(unsigned long, char* buffer, size_t length) {
  if (length > 0) buffer[0] = '\0';
}
