// The environment seam: clock, sleeps, the thread timer, sounds, program
// launches and files. The plug-in reaches these only through env(), so a
// test (or the substitute host) can install a fake that overrides one call
// (derive from EnvWrapper) and leaves the rest to the real system.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/export.h"
#include "platform/platform.h"

namespace platform {

// A file open for writing. Each call returns false on failure and then puts
// the system's reason into `error`. Not thread-safe.
class PLATFORM_API WritableFile {
 public:
  virtual ~WritableFile();
  virtual bool append(const std::string& data, std::string* error) = 0;
  // Forces what was written onto the storage device.
  virtual bool sync(std::string* error) = 0;
  virtual bool close(std::string* error) = 0;
};

enum class ReadResult { kRead, kMissing, kFailed };

class PLATFORM_API Env {
 public:
  virtual ~Env();

  // Local wall-clock time: seconds since 1970-01-01 00:00:00 of the local
  // clock (no time-zone adjustment), rounded to the nearest second.
  virtual int64_t local_seconds() = 0;
  // Waits until done() or for `ms`, whichever comes first, and returns
  // done(). `hold` holds the mutex that guards what done() reads; whoever
  // makes done() true notifies `wake` after taking that mutex.
  virtual bool wait_ms(uint32_t ms, std::condition_variable& wake,
                       std::unique_lock<std::mutex>& hold, const std::function<bool()>& done) = 0;
  // The periodic thread timer of the calling thread (platform.h
  // set_thread_timer / kill_thread_timer), here so that a test can drive
  // the ticks itself.
  virtual uintptr_t start_thread_timer(uint32_t period_ms) = 0;
  virtual void stop_thread_timer(uintptr_t id) = 0;
  // Sounds (platform.h play_sound_file / play_sound_resource), here so that
  // a test can hear what is played without a sound device.
  virtual sound_result play_sound_file(const std::string& path) = 0;
  virtual sound_result play_sound_resource(const void* module, int id) = 0;
  // Starts a program (platform.h launch_program), here so that a test can
  // see what would be started instead of starting it.
  virtual void launch_program(const std::string& file, const std::string& arguments) = 0;

  virtual bool file_exists(const std::string& path) = 0;
  // Returns false when the file could not be deleted (or did not exist).
  virtual bool delete_file(const std::string& path) = 0;

  // Reads the file from start to end, handing each piece read to piece():
  // a large file is never held whole. kMissing when there is no such file;
  // kFailed, with the reason in `error`, when it exists but cannot be read
  // (the pieces before the failure have been handed over).
  virtual ReadResult read_file(const std::string& path,
                               const std::function<void(std::string_view piece)>& piece,
                               std::string* error) = 0;
  // Creates `path`, or empties it if it exists, for writing. On POSIX the
  // file is readable and writable by its owner only. Null on failure.
  virtual std::unique_ptr<WritableFile> new_writable_file(const std::string& path,
                                                          std::string* error) = 0;
  // Renames `from` to `to`, replacing a file at `to` in one step.
  virtual bool rename_file(const std::string& from, const std::string& to, std::string* error) = 0;
  // The file that `path` names in the end: a symbolic link (or a chain of
  // them) followed to its target, which need not exist; `path` itself when
  // it is no link.
  virtual std::string resolve_link(const std::string& path) = 0;
  // Whether a file exists at `path` that the user marked read-only.
  virtual bool is_read_only(const std::string& path) = 0;
  // Gives the file `to` what the user set on the file `from`: its mode on
  // POSIX, its attributes on Windows.
  virtual bool copy_file_attributes(const std::string& from, const std::string& to,
                                    std::string* error) = 0;
};

// Forwards every call to another Env.
class PLATFORM_API EnvWrapper : public Env {
 public:
  explicit EnvWrapper(Env* target) : target_(target) {}
  Env* target() const { return target_; }

  int64_t local_seconds() override { return target_->local_seconds(); }
  bool wait_ms(uint32_t ms, std::condition_variable& wake, std::unique_lock<std::mutex>& hold,
               const std::function<bool()>& done) override {
    return target_->wait_ms(ms, wake, hold, done);
  }
  uintptr_t start_thread_timer(uint32_t period_ms) override {
    return target_->start_thread_timer(period_ms);
  }
  void stop_thread_timer(uintptr_t id) override { target_->stop_thread_timer(id); }
  sound_result play_sound_file(const std::string& path) override {
    return target_->play_sound_file(path);
  }
  sound_result play_sound_resource(const void* module, int id) override {
    return target_->play_sound_resource(module, id);
  }
  void launch_program(const std::string& file, const std::string& arguments) override {
    target_->launch_program(file, arguments);
  }
  bool file_exists(const std::string& path) override { return target_->file_exists(path); }
  bool delete_file(const std::string& path) override { return target_->delete_file(path); }
  ReadResult read_file(const std::string& path, const std::function<void(std::string_view)>& piece,
                       std::string* error) override {
    return target_->read_file(path, piece, error);
  }
  std::unique_ptr<WritableFile> new_writable_file(const std::string& path,
                                                  std::string* error) override {
    return target_->new_writable_file(path, error);
  }
  bool rename_file(const std::string& from, const std::string& to, std::string* error) override {
    return target_->rename_file(from, to, error);
  }
  std::string resolve_link(const std::string& path) override { return target_->resolve_link(path); }
  bool is_read_only(const std::string& path) override { return target_->is_read_only(path); }
  bool copy_file_attributes(const std::string& from, const std::string& to,
                            std::string* error) override {
    return target_->copy_file_attributes(from, to, error);
  }

 private:
  Env* target_;
};

// Replaces the file at `path` with new contents so that a reader finds either
// the old file or the complete new one, never a part: writes a ".tmp" file
// beside it, syncs and closes it, then renames it over the file. What the
// user set on the file stays: a read-only file is not replaced (the call
// fails), a symbolic link stays a link and its target is replaced, and the
// new file gets the old one's mode or attributes (a new file is readable by
// its owner only on POSIX). A ".tmp" file left by an earlier save is removed.
// On failure the temporary file is removed, the old file is left as it was,
// and `error` names the file and the reason.
// The contents come from write(file, reason), which may append to the file
// in as many pieces as it likes; false (with the reason, if it has one)
// fails the save.
PLATFORM_API bool write_file_atomically(
    Env* env, const std::string& path,
    const std::function<bool(WritableFile& file, std::string* reason)>& write, std::string* error);

// The real system's environment; never freed.
PLATFORM_API Env* default_env();

// The environment in use; default_env() unless a test installed another.
PLATFORM_API Env* env();
// Installs `e` (null restores the default). A call already under way ends
// in the Env it began in, so a replaced Env must stay alive; tests install
// theirs while no other thread uses the environment.
PLATFORM_API void set_env(Env* e);

}  // namespace platform
