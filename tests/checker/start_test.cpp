// "start" and "stop": the order of what they do, what "stop" leaves behind,
// and the cases where "stop" must do nothing.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "checker_fixture.h"
#include "imap_config.h"
#include "platform/platform.h"
#include "test_support.h"

namespace {

std::vector<std::string> host_calls;

int32_t EMAIL_CALL logging_host(const char*, const char* function, void* record) {
  host_calls.push_back(function);
  if (std::string(function) == "prefsInitialize") {
    const auto* page = static_cast<const prefs_page_record*>(record);
    host_calls.back() += std::string(" ") + page->page_name + " " + std::to_string(page->size);
  }
  return 0;
}

class StartStop : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::set_env(&env_);
    info_.plugin_dir = dir_.path().c_str();
    info_.host_call = logging_host;
    plugin_main("load", &info_);
    host_calls.clear();
  }
  void TearDown() override {
    plugin_main("stop", nullptr);
    plugin_main("unload", nullptr);
    account_table.reload({}, 0);
    platform::set_env(nullptr);
  }

  checker_test::fake_env env_;
  test_support::temp_dir dir_;
  plugin_info_record info_{};
};

TEST_F(StartStop, EmptyTableStartsTheCheckerAndStopSavesMailIni) {
  plugin_main("start", nullptr);
  EXPECT_EQ(host_calls, std::vector<std::string>{"prefsInitialize E-Mail " +
                                                 std::to_string(sizeof(prefs_page_record))});
  EXPECT_NE(checker_thread_id, 0u);
  EXPECT_FALSE(test_support::file_exists(config_path()));
  plugin_main("stop", nullptr);
  EXPECT_EQ(checker_thread_id, 0u);
  EXPECT_EQ(checker_thread_handle, nullptr);
  // The checker made its timer and took it down again.
  EXPECT_EQ(env_.timer_period, CHECK_TIMER_MS);
  EXPECT_EQ(env_.stopped_timer, 77u);
  EXPECT_TRUE(test_support::file_exists(config_path()));
}

TEST_F(StartStop, StopWithoutStartLeavesMailIniAlone) {
  test_support::write_file(config_path(), "[Mail]\nuse_alert=1\n");
  plugin_main("stop", nullptr);
  EXPECT_EQ(test_support::read_file(config_path()), "[Mail]\nuse_alert=1\n");
  EXPECT_TRUE(host_calls.empty());
}

TEST_F(StartStop, StopAfterUnloadDoesNothing) {
  plugin_main("start", nullptr);
  plugin_main("unload", nullptr);
  host_calls.clear();
  plugin_main("stop", nullptr);
  EXPECT_TRUE(host_calls.empty());
  EXPECT_NE(checker_thread_id, 0u) << "the checker still runs";
  // The host comes back: now "stop" ends it.
  plugin_main("load", &info_);
  plugin_main("stop", nullptr);
  EXPECT_EQ(checker_thread_id, 0u);
}

}  // namespace
