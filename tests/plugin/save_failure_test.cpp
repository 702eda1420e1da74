// A save that fails at any step leaves the previous mail.ini byte for byte,
// leaves no temporary file behind, and says which file it could not write.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "config_fixture.h"
#include "imap_config.h"

#if defined(__linux__)
#include <signal.h>
#include <sys/resource.h>
#endif

namespace {

enum class fail_at { nothing, open, append, sync, close, rename };

// Passes a file through to the real one but fails at the chosen step; a
// failing append writes half of its data first.
class failing_file : public platform::WritableFile {
 public:
  failing_file(std::unique_ptr<platform::WritableFile> real, fail_at step)
      : real_(std::move(real)), step_(step) {}
  bool append(const std::string& data, std::string* error) override {
    if (step_ != fail_at::append) return real_->append(data, error);
    real_->append(data.substr(0, data.size() / 2), error);
    *error = "No space left on device";
    return false;
  }
  bool sync(std::string* error) override {
    if (step_ != fail_at::sync) return real_->sync(error);
    *error = "I/O error";
    return false;
  }
  bool close(std::string* error) override {
    const bool closed = real_->close(error);
    if (step_ != fail_at::close) return closed;
    *error = "I/O error";
    return false;
  }

 private:
  std::unique_ptr<platform::WritableFile> real_;
  fail_at step_;
};

class failing_env : public platform::EnvWrapper {
 public:
  explicit failing_env(platform::Env* target) : EnvWrapper(target) {}
  std::unique_ptr<platform::WritableFile> new_writable_file(const std::string& path,
                                                            std::string* error) override {
    if (step == fail_at::open) {
      *error = "Permission denied";
      return nullptr;
    }
    std::unique_ptr<platform::WritableFile> real = target()->new_writable_file(path, error);
    if (real == nullptr) return nullptr;
    return std::unique_ptr<platform::WritableFile>(new failing_file(std::move(real), step));
  }
  bool rename_file(const std::string& from, const std::string& to, std::string* error) override {
    if (step != fail_at::rename) return target()->rename_file(from, to, error);
    *error = "Access is denied";
    return false;
  }
  fail_at step = fail_at::nothing;
};

class SaveFailureTest : public ConfigTest {
 protected:
  void SetUp() override {
    ConfigTest::SetUp();
    platform::set_env(&failing_);
    imap_info a;
    set_new_account_defaults(a);
    a.username = "u";
    a.password = "p";
    a.hostname = "h";
    for (int i = 0; i < 30; ++i) append_account(a);
    write(old_);
  }

  // Saves, expects failure, and checks that nothing on disk changed.
  void expect_failed_save() {
    std::string error;
    EXPECT_FALSE(save_config(&error));
    EXPECT_NE(error.find(path()), std::string::npos) << error;
    EXPECT_EQ(read(), old_);
    EXPECT_FALSE(test_support::file_exists(path() + ".tmp"));
  }

  void TearDown() override {
    platform::set_env(failing_.target());
    ConfigTest::TearDown();
  }

  failing_env failing_{&env_};
  const std::string old_ = "; old\r\n[Mail]\r\nuse_alert=1\r\n[Other]\r\nk=v\r\n";
};

TEST_F(SaveFailureTest, InjectedFailuresAtEachStep) {
  for (fail_at step :
       {fail_at::open, fail_at::append, fail_at::sync, fail_at::close, fail_at::rename}) {
    SCOPED_TRACE(static_cast<int>(step));
    failing_.step = step;
    expect_failed_save();
  }
  failing_.step = fail_at::nothing;
  EXPECT_TRUE(save_config());
  EXPECT_NE(read(), old_);
}

// What is on disk makes the save fail: the temporary file cannot be made, the
// file is read-only, or it is no file this plug-in can read (UTF-16).
TEST_F(SaveFailureTest, FilesThatCannotBeReplaced) {
  namespace fs = std::filesystem;
  const fs::perms writable =
      fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
  const std::string utf16("\xFF\xFE[\0M\0a\0i\0l\0]\0\r\0\n\0", 16);
  const std::string utf16_big_endian("\xFE\xFF\0[\0M\0a\0i\0l\0]\0\r\0\n", 16);
  const struct {
    const char* name;
    std::function<void()> make, undo;
    std::string kept;
  } cases[] = {
      {"directory in the temporary file's place", [this] { fs::create_directory(path() + ".tmp"); },
       [this] { fs::remove(path() + ".tmp"); }, old_},
      {"read-only",
       [this, writable] {
         test_support::write_file(path() + ".tmp", "left by a crash");
         fs::permissions(path(), writable, fs::perm_options::remove);
       },
       [this] { fs::permissions(path(), fs::perms::owner_write, fs::perm_options::add); }, old_},
      {"UTF-16", [this, &utf16] { test_support::write_file(path(), utf16); }, [] {}, utf16},
      {"UTF-16, big-endian",
       [this, &utf16_big_endian] { test_support::write_file(path(), utf16_big_endian); }, [] {},
       utf16_big_endian},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    write(old_);
    c.make();
    std::string error;
    EXPECT_FALSE(save_config(&error));
    EXPECT_NE(error.find(path()), std::string::npos) << error;
    EXPECT_EQ(read(), c.kept);
    c.undo();
  }
  // A UTF-16 file is not read either.
  std::string error;
  EXPECT_FALSE(load_config(&error));
  EXPECT_NE(error.find(path()), std::string::npos) << error;
}

#if defined(__linux__)
TEST_F(SaveFailureTest, RealWriteFailsPartWay) {
  // The file-size limit makes the system refuse the write after 64 bytes.
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  void (*previous)(int) = signal(SIGXFSZ, SIG_IGN);
  rlimit small = saved;
  small.rlim_cur = 64;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  std::string error;
  const bool saved_ok = save_config(&error);
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, previous);
  EXPECT_FALSE(saved_ok);
  EXPECT_NE(error.find(path()), std::string::npos) << error;
  EXPECT_EQ(read(), old_);
  EXPECT_FALSE(test_support::file_exists(path() + ".tmp"));
}
#endif

}  // namespace
