#include <windows.h>

#include <string>

#include "platform/env.h"
#include "platform/platform.h"
#include "platform/system_env.h"

namespace platform {
namespace {

// The system's text for `code`, without the line break it ends with.
std::string reason_of(DWORD code) {
  char* text = nullptr;
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string reason = length > 0 ? std::string(text, length) : "error " + std::to_string(code);
  LocalFree(text);
  while (!reason.empty() && (reason.back() == '\r' || reason.back() == '\n')) reason.pop_back();
  return reason;
}

class Win32WritableFile : public WritableFile {
 public:
  explicit Win32WritableFile(HANDLE file) : file_(file) {}
  ~Win32WritableFile() override {
    if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
  }

  bool append(const std::string& data, std::string* error) override {
    const char* next = data.data();
    size_t left = data.size();
    while (left > 0) {
      const DWORD chunk = left > 0x40000000u ? 0x40000000u : static_cast<DWORD>(left);
      DWORD done = 0;
      if (!WriteFile(file_, next, chunk, &done, nullptr)) {
        *error = reason_of(GetLastError());
        return false;
      }
      next += done;
      left -= done;
    }
    return true;
  }

  bool sync(std::string* error) override {
    if (FlushFileBuffers(file_)) return true;
    *error = reason_of(GetLastError());
    return false;
  }

  bool close(std::string* error) override {
    const HANDLE file = file_;
    file_ = INVALID_HANDLE_VALUE;
    if (CloseHandle(file)) return true;
    *error = reason_of(GetLastError());
    return false;
  }

 private:
  HANDLE file_;
};

class Win32Env : public SystemEnv {
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

  bool file_exists(const std::string& path) override {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
  }

  bool delete_file(const std::string& path) override { return DeleteFileA(path.c_str()) != 0; }

  ReadResult read_file(const std::string& path, const std::function<void(std::string_view)>& piece,
                       std::string* error) override {
    const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      const DWORD code = GetLastError();
      if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) {
        return ReadResult::kMissing;
      }
      *error = reason_of(code);
      return ReadResult::kFailed;
    }
    char buffer[65536];
    for (;;) {
      DWORD got = 0;
      if (!ReadFile(file, buffer, sizeof buffer, &got, nullptr)) {
        *error = reason_of(GetLastError());
        CloseHandle(file);
        return ReadResult::kFailed;
      }
      if (got == 0) break;
      piece(std::string_view(buffer, got));
    }
    CloseHandle(file);
    return ReadResult::kRead;
  }

  std::unique_ptr<WritableFile> new_writable_file(const std::string& path,
                                                  std::string* error) override {
    const HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      *error = reason_of(GetLastError());
      return nullptr;
    }
    return std::unique_ptr<WritableFile>(new Win32WritableFile(file));
  }

  bool rename_file(const std::string& from, const std::string& to, std::string* error) override {
    if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      return true;
    }
    *error = reason_of(GetLastError());
    return false;
  }

  std::string resolve_link(const std::string& path) override {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
      return path;
    }
    const HANDLE file = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return path;
    char target[MAX_PATH * 4];
    const DWORD length =
        GetFinalPathNameByHandleA(file, target, sizeof target, FILE_NAME_NORMALIZED);
    CloseHandle(file);
    if (length == 0 || length >= sizeof target) return path;
    std::string result(target, length);
    // The final path comes as "\\?\C:\...", which not every call takes.
    if (result.compare(0, 4, "\\\\?\\") == 0) result.erase(0, 4);
    return result;
  }

  bool is_read_only(const std::string& path) override {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0;
  }

  bool copy_file_attributes(const std::string& from, const std::string& to,
                            std::string* error) override {
    const DWORD kept = FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                       FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    const DWORD attributes = GetFileAttributesA(from.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        SetFileAttributesA(to.c_str(),
                           (attributes & kept) != 0 ? attributes & kept : FILE_ATTRIBUTE_NORMAL)) {
      return true;
    }
    *error = reason_of(GetLastError());
    return false;
  }
};

}  // namespace

Env* default_env() {
  static Win32Env* instance = new Win32Env;
  return instance;
}

}  // namespace platform
