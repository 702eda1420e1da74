#include <fcntl.h>
#include <locale.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "platform/env.h"
#include "platform/platform.h"
#include "platform/system_env.h"

namespace platform {
namespace {

std::string reason_of(int error_number) { return std::strerror(error_number); }

class PosixWritableFile : public WritableFile {
 public:
  explicit PosixWritableFile(int fd) : fd_(fd) {}
  ~PosixWritableFile() override {
    if (fd_ >= 0) ::close(fd_);
  }

  bool append(const std::string& data, std::string* error) override {
    const char* next = data.data();
    size_t left = data.size();
    while (left > 0) {
      const ssize_t done = ::write(fd_, next, left);
      if (done < 0) {
        if (errno == EINTR) continue;
        *error = reason_of(errno);
        return false;
      }
      next += done;
      left -= static_cast<size_t>(done);
    }
    return true;
  }

  bool sync(std::string* error) override {
    if (::fsync(fd_) == 0) return true;
    *error = reason_of(errno);
    return false;
  }

  bool close(std::string* error) override {
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) == 0) return true;
    *error = reason_of(errno);
    return false;
  }

 private:
  int fd_;
};

class PosixEnv : public SystemEnv {
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

  bool file_exists(const std::string& path) override { return access(path.c_str(), F_OK) == 0; }

  bool delete_file(const std::string& path) override { return unlink(path.c_str()) == 0; }

  ReadResult read_file(const std::string& path, const std::function<void(std::string_view)>& piece,
                       std::string* error) override {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      if (errno == ENOENT) return ReadResult::kMissing;
      *error = reason_of(errno);
      return ReadResult::kFailed;
    }
    char buffer[65536];
    for (;;) {
      const ssize_t got = ::read(fd, buffer, sizeof buffer);
      if (got == 0) break;
      if (got < 0) {
        if (errno == EINTR) continue;
        *error = reason_of(errno);
        ::close(fd);
        return ReadResult::kFailed;
      }
      piece(std::string_view(buffer, static_cast<size_t>(got)));
    }
    ::close(fd);
    return ReadResult::kRead;
  }

  std::unique_ptr<WritableFile> new_writable_file(const std::string& path,
                                                  std::string* error) override {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    // A file left from before keeps its mode through O_CREAT; narrow it too.
    if (fd < 0 || ::fchmod(fd, 0600) != 0) {
      *error = reason_of(errno);
      if (fd >= 0) ::close(fd);
      return nullptr;
    }
    return std::unique_ptr<WritableFile>(new PosixWritableFile(fd));
  }

  bool rename_file(const std::string& from, const std::string& to, std::string* error) override {
    if (std::rename(from.c_str(), to.c_str()) == 0) return true;
    *error = reason_of(errno);
    return false;
  }

  std::string resolve_link(const std::string& path) override {
    std::string current = path;
    // As many links as the system itself follows before it gives up on a loop.
    for (int hop = 0; hop < 40; ++hop) {
      struct stat info {};
      if (::lstat(current.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) break;
      std::string target(static_cast<size_t>(info.st_size > 0 ? info.st_size : 4096) + 1, '\0');
      const ssize_t length = ::readlink(current.c_str(), &target[0], target.size());
      if (length <= 0 || static_cast<size_t>(length) >= target.size()) break;
      target.resize(static_cast<size_t>(length));
      // A relative target is relative to the folder of the link.
      const size_t slash = current.rfind('/');
      if (target[0] != '/' && slash != std::string::npos) {
        target = current.substr(0, slash + 1) + target;
      }
      current = target;
    }
    return current;
  }

  bool is_read_only(const std::string& path) override {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && (info.st_mode & 0222) == 0;
  }

  bool copy_file_attributes(const std::string& from, const std::string& to,
                            std::string* error) override {
    struct stat info {};
    if (::stat(from.c_str(), &info) == 0 && ::chmod(to.c_str(), info.st_mode & 07777) == 0) {
      return true;
    }
    *error = reason_of(errno);
    return false;
  }
};

}  // namespace

std::string format_local_time(int64_t local_seconds) {
  // Local seconds are already wall-clock time: broken down as if UTC.
  const time_t whole = static_cast<time_t>(local_seconds);
  tm fields{};
  if (gmtime_r(&whole, &fields) == nullptr) return std::string();
  // The user's locale names the days and months, whatever this process's
  // own locale is.
  static const locale_t user = newlocale(LC_TIME_MASK, "", static_cast<locale_t>(0));
  char text[128];
  const size_t length = user != static_cast<locale_t>(0)
                            ? strftime_l(text, sizeof text, "%a %b %d %H:%M:%S %Y", &fields, user)
                            : strftime(text, sizeof text, "%a %b %d %H:%M:%S %Y", &fields);
  return std::string(text, length);
}

std::string program_path() {
  char path[4096];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path);
  return length > 0 ? std::string(path, static_cast<size_t>(length)) : std::string();
}

Env* default_env() {
  static PosixEnv* instance = new PosixEnv;
  return instance;
}

}  // namespace platform
