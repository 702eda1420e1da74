#include "platform/env.h"

#include <atomic>

namespace platform {

Env::~Env() = default;
WritableFile::~WritableFile() = default;

bool write_file_atomically(Env* env, const std::string& path,
                           const std::function<bool(WritableFile&, std::string*)>& write,
                           std::string* error) {
  const std::string target = env->resolve_link(path);
  const std::string temporary = target + ".tmp";
  // One left by a save that a crash cut short.
  env->delete_file(temporary);
  std::string reason;
  bool written = false;
  if (env->is_read_only(target)) {
    // The user's way of saying "leave this file alone".
    reason = "the file is read-only";
  } else {
    std::unique_ptr<WritableFile> file = env->new_writable_file(temporary, &reason);
    written = file != nullptr;
    if (written) {
      written = write(*file, &reason) && file->sync(&reason);
      // Closed on every path: a failed write must not keep the file open.
      std::string close_reason;
      if (!file->close(&close_reason) && written) {
        written = false;
        reason = close_reason;
      }
      file.reset();
    }
    if (written && env->file_exists(target)) {
      written = env->copy_file_attributes(target, temporary, &reason);
    }
    written = written && env->rename_file(temporary, target, &reason);
    if (!written) env->delete_file(temporary);
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
