// The environment seam: clock, sleeps and files. The plug-in reaches these
// only through env(), so a test can install a fake that overrides one call
// (derive from EnvWrapper) and leaves the rest to the real system.
#pragma once

#include <cstdint>
#include <string>

#include "platform/export.h"

namespace platform {

class PLATFORM_API Env {
 public:
  virtual ~Env();

  // Local wall-clock time: seconds since 1970-01-01 00:00:00 of the local
  // clock (no time-zone adjustment), rounded to the nearest second.
  virtual int64_t local_seconds() = 0;
  virtual void sleep_ms(uint32_t ms) = 0;

  virtual bool file_exists(const std::string& path) = 0;
  // Returns false when the file could not be deleted (or did not exist).
  virtual bool delete_file(const std::string& path) = 0;
};

// Forwards every call to another Env.
class PLATFORM_API EnvWrapper : public Env {
 public:
  explicit EnvWrapper(Env* target) : target_(target) {}
  Env* target() const { return target_; }

  int64_t local_seconds() override { return target_->local_seconds(); }
  void sleep_ms(uint32_t ms) override { target_->sleep_ms(ms); }
  bool file_exists(const std::string& path) override { return target_->file_exists(path); }
  bool delete_file(const std::string& path) override { return target_->delete_file(path); }

 private:
  Env* target_;
};

// The real system's environment; never freed.
PLATFORM_API Env* default_env();

// The environment in use; default_env() unless a test installed another.
PLATFORM_API Env* env();
// Installs `e` (null restores the default). Not thread-safe: tests call it
// while no other thread uses the environment.
PLATFORM_API void set_env(Env* e);

}  // namespace platform
