#include "platform/env.h"

#include <atomic>

namespace platform {

Env::~Env() = default;

namespace {
std::atomic<Env*> installed{nullptr};
}

Env* env() {
  Env* e = installed.load(std::memory_order_acquire);
  return e != nullptr ? e : default_env();
}

void set_env(Env* e) { installed.store(e, std::memory_order_release); }

}  // namespace platform
