// The platform's services to the plug-in: real program launches (a probe
// stands in for the e-mail program and writes down its arguments), local time
// as the tooltips show it, and the sound player, which must not take the host
// down with it.
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <chrono>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/env.h"
#include "test_support.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <stdlib.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>

#include "imap_state.h"
#include "imap_thread.h"
#include "platform/posix/window_system.h"
#endif

namespace {

class Launch : public ::testing::Test {
 protected:
  void SetUp() override {
    out_ = scratch_.path() + "probe.txt";
#if defined(_WIN32)
    SetEnvironmentVariableA("LAUNCH_PROBE_OUT", out_.c_str());
    probe_ = test_support::build_dir() + "launch_probe.exe";
#else
    setenv("LAUNCH_PROBE_OUT", out_.c_str(), 1);
    // A script, not a program of this build: the i386 build runs under an
    // emulator, and the kernel could not start a 32-bit program it launched.
    probe_ = scratch_.path() + "launch_probe";
    test_support::write_file(probe_,
                             "#!/bin/sh\n"
                             "for word in \"$@\"; do printf '%s\\n' \"$word\"; done "
                             ">\"$LAUNCH_PROBE_OUT.part\" && "
                             "mv \"$LAUNCH_PROBE_OUT.part\" \"$LAUNCH_PROBE_OUT\"\n");
    chmod(probe_.c_str(), 0755);
#endif
  }

  // The probe's arguments, once it has written them.
  std::vector<std::string> probe_words() {
    for (int i = 0; i < 1000 && !test_support::file_exists(out_); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::vector<std::string> words;
    std::istringstream lines(test_support::read_file(out_));
    for (std::string line; std::getline(lines, line);) words.push_back(line);
    return words;
  }

  test_support::temp_dir scratch_;
  std::string out_, probe_;
};

TEST_F(Launch, ProgramGetsItsArgumentsAsWords) {
#if defined(_WIN32)
  const std::string arguments = "one \"two words\" three";
  const std::vector<std::string> expected = {"one", "two words", "three"};
#else
  const std::string arguments = "one \"two words\" 'three $HOME' four\\ five \"\\\"six\\\"\"";
  const std::vector<std::string> expected = {"one", "two words", "three $HOME", "four five",
                                             "\"six\""};
#endif
  platform::launch_program(probe_, arguments);
  EXPECT_EQ(probe_words(), expected);
}

// Windows hands the argument text to the program as it stands.
#if !defined(_WIN32)
TEST_F(Launch, NoShellSeesTheArgumentText) {
  const std::string marker = scratch_.path() + "injected";
  const std::string arguments =
      "a; touch " + marker + " $(touch " + marker + ") `touch " + marker + "` | cat > " + marker;
  platform::launch_program(probe_, arguments);
  EXPECT_EQ(probe_words(),
            (std::vector<std::string>{"a;", "touch", marker, "$(touch", marker + ")", "`touch",
                                      marker + "`", "|", "cat", ">", marker}));
  EXPECT_FALSE(test_support::file_exists(marker));

  // A program name with shell syntax in it names no program at all.
  platform::launch_program(probe_ + "; touch " + marker, "");
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_FALSE(test_support::file_exists(marker));
}

// The threads of this process, from /proc/self/status.
int thread_count() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("Threads:", 0) == 0) return std::stoi(line.substr(8));
  }
  return -1;
}

TEST(NotificationSoundDeathTest, PlayerThatReadsNothingLeavesTheProcessAlive) {
#if defined(__i386__)
  // The i386 build runs under an emulator that a re-executed program would
  // not pass through; a plain fork needs none.
  GTEST_FLAG_SET(death_test_style, "fast");
#else
  GTEST_FLAG_SET(death_test_style, "threadsafe");
#endif
  EXPECT_EXIT(
      {
        // "true" ends without reading the sound fed to it.
        platform::posix::set_sound_player("true");
        // A runtime that adds a helper thread with the first new thread (a
        // sanitizer) adds it now, not while the count is watched.
        std::thread([] {}).join();
        const int before = thread_count();
        platform::default_env()->play_sound_resource(this_module(), SOUND_RESOURCE_ID);
        // Alive once the feeding thread has given up on the closed pipe.
        for (int i = 0; i < 2000 && thread_count() > before; ++i) {
          std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        std::exit(thread_count() == before ? 0 : 2);
      },
      ::testing::ExitedWithCode(0), "");
}
#endif

TEST(FormatLocalTime, DayMonthDayTimeYear) {
  EXPECT_EQ(platform::format_local_time(0), "Thu Jan 01 00:00:00 1970");
  EXPECT_EQ(platform::format_local_time(1709251199), "Thu Feb 29 23:59:59 2024");
  // Past 2038, also in the 32-bit builds.
  EXPECT_EQ(platform::format_local_time(2303249999), "Fri Dec 26 23:39:59 2042");
}

}  // namespace
