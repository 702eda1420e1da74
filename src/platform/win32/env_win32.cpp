#include <windows.h>

#include "platform/env.h"

namespace platform {
namespace {

class Win32Env : public Env {
 public:
  int64_t local_seconds() override {
    FILETIME utc{};
    FILETIME local{};
    GetSystemTimeAsFileTime(&utc);
    FileTimeToLocalFileTime(&utc, &local);
    ULARGE_INTEGER ticks;
    ticks.LowPart = local.dwLowDateTime;
    ticks.HighPart = local.dwHighDateTime;
    // 100 ns ticks since 1601-01-01; 11644473600 s separate it from 1970.
    const uint64_t rounded = (ticks.QuadPart + 5000000ULL) / 10000000ULL;
    return static_cast<int64_t>(rounded) - 11644473600LL;
  }

  void sleep_ms(uint32_t ms) override { Sleep(ms); }

  bool file_exists(const std::string& path) override {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
  }

  bool delete_file(const std::string& path) override { return DeleteFileA(path.c_str()) != 0; }
};

}  // namespace

Env* default_env() {
  static Win32Env* instance = new Win32Env;
  return instance;
}

}  // namespace platform
