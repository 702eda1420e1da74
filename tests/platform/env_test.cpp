// The platform's services to the plug-in: local time as the tooltips show it,
// and the sound player, which must not take the host down with it.
#include "platform/env.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/platform.h"

#ifndef _WIN32
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "imap_state.h"
#include "imap_thread.h"
#include "platform/posix/window_system.h"
#endif

namespace {

#ifndef _WIN32
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
