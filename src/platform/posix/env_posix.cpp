#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>

#include "platform/env.h"

namespace platform {
namespace {

class PosixEnv : public Env {
 public:
  int64_t local_seconds() override {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    time_t whole = now.tv_sec;
    tm local{};
    localtime_r(&whole, &local);
    const int64_t rounded = static_cast<int64_t>(now.tv_sec) + (now.tv_nsec >= 500000000 ? 1 : 0);
    return rounded + local.tm_gmtoff;
  }

  void sleep_ms(uint32_t ms) override {
    timespec left{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
  }

  bool file_exists(const std::string& path) override { return access(path.c_str(), F_OK) == 0; }

  bool delete_file(const std::string& path) override { return unlink(path.c_str()) == 0; }
};

}  // namespace

Env* default_env() {
  static PosixEnv* instance = new PosixEnv;
  return instance;
}

}  // namespace platform
