// Helpers shared by the test programs: scratch folders, files, the build
// folder and the host's log.
#pragma once

#include <gtest/gtest.h>

#include <mutex>
#include <streambuf>
#include <string>
#include <vector>

namespace test_support {

// Whether tests whose real part (a mail server, a library, a display) is
// missing may skip: EMAIL_TESTS_ALLOW_MISSING=1.
bool missing_parts_allowed();

// Ends the test when `available` is false: a skip where missing parts are
// allowed, else a failure naming what is missing.
#define EMAIL_REQUIRE(available, what)                                                  \
  do {                                                                                  \
    if (!(available)) {                                                                 \
      if (::test_support::missing_parts_allowed()) GTEST_SKIP() << (what);              \
      FAIL() << (what) << " (EMAIL_TESTS_ALLOW_MISSING=1 lets this test skip instead)"; \
    }                                                                                   \
  } while (0)

// A fresh, empty folder, removed with everything in it on destruction.
class temp_dir {
 public:
  temp_dir();
  ~temp_dir();
  temp_dir(const temp_dir&) = delete;
  temp_dir& operator=(const temp_dir&) = delete;

  // The folder's path, ending with a path separator.
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

bool file_exists(const std::string& path);
void write_file(const std::string& path, const std::string& bytes);
std::string read_file(const std::string& path);

// The names in `folder` (without "." and ".."); none when it cannot be read.
std::vector<std::string> list_folder(const std::string& folder);

// The folder of the running test program (and of the host and the plug-in),
// ending with a path separator.
std::string build_dir();

// The host's log, written by the host on any thread and read by the test.
class shared_log : public std::streambuf {
 public:
  std::string text() {
    std::lock_guard<std::mutex> hold(lock_);
    return text_;
  }

 protected:
  int_type overflow(int_type c) override {
    if (c != traits_type::eof()) {
      std::lock_guard<std::mutex> hold(lock_);
      text_ += static_cast<char>(c);
    }
    return c;
  }
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    std::lock_guard<std::mutex> hold(lock_);
    text_.append(s, static_cast<size_t>(n));
    return n;
  }

 private:
  std::mutex lock_;
  std::string text_;  // guarded by lock_
};

}  // namespace test_support
