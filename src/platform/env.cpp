#include "platform/env.h"

#include <atomic>

namespace platform {

Env::~Env() = default;
WritableFile::~WritableFile() = default;

bool write_file_atomically(Env* env, const std::string& path, const std::string& contents,
                           std::string* error) {
  const std::string temporary = path + ".tmp";
  std::string reason;
  std::unique_ptr<WritableFile> file = env->new_writable_file(temporary, &reason);
  bool written = file != nullptr;
  if (written) {
    written = file->append(contents, &reason) && file->sync(&reason);
    // Closed on every path: a failed write must not keep the file open.
    std::string close_reason;
    if (!file->close(&close_reason) && written) {
      written = false;
      reason = close_reason;
    }
    file.reset();
    if (!written) env->delete_file(temporary);
  }
  if (written && !env->rename_file(temporary, path, &reason)) {
    env->delete_file(temporary);
    written = false;
  }
  if (!written) *error = "Cannot write \"" + path + "\": " + reason;
  return written;
}

namespace {
std::atomic<Env*> installed{nullptr};
}

Env* env() {
  Env* e = installed.load(std::memory_order_acquire);
  return e != nullptr ? e : default_env();
}

void set_env(Env* e) { installed.store(e, std::memory_order_release); }

}  // namespace platform
