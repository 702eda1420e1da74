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

// Logs each call; the group gets id 40, entries ids from 1 on, and the host
// counts no entries in the group.
int32_t EMAIL_CALL logging_host(const char*, const char* function, void* record) {
  static int32_t next_entry = 1;
  const std::string name = function;
  host_calls.push_back(name);
  if (name == "prefsInitialize") {
    const auto* page = static_cast<const prefs_page_record*>(record);
    host_calls.back() += std::string(" ") + page->page_name + " " + std::to_string(page->size);
  } else if (name == "listAddEntry" || name == "listRemoveEntry") {
    auto* entry = static_cast<list_entry_record*>(record);
    if (entry->is_entry == 0) {
      host_calls.back() += " group";
      if (name == "listAddEntry") entry->group_id = 40;
    } else {
      host_calls.back() += std::string(" ") + entry->name;
      if (name == "listAddEntry") return next_entry++;
    }
  }
  return 0;
}

// Stands in for the account check: the checker's work is not what these
// tests look at, only that "start" asked for it.
int32_t logging_check(account_ref account, checker_control&) {
  account_table.read(account,
                     [](const imap_info& a) { checker_test::events().add("check " + a.display); });
  return 1;
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

// The group comes only with the option on and accounts to show, the entries
// only with the group; "start" asks for a check of every account either way,
// and "stop" takes down what "start" built.
TEST_F(StartStop, GroupAndEntriesFollowTheOptionAndTheTable) {
  struct start_case {
    uint8_t use_section;
    std::vector<std::string> accounts;
    std::vector<std::string> on_start, on_stop;
  };
  const std::string page = "prefsInitialize E-Mail " + std::to_string(sizeof(prefs_page_record));
  const start_case cases[] = {
      {1,
       {"Work", "Home"},
       {page, "listAddEntry group", "listAddEntry Work", "listAddEntry Home"},
       {"listRemoveEntry Work", "listRemoveEntry Home", "listGetSectionCount",
        "listRemoveEntry group"}},
      {0, {"Work", "Home"}, {page}, {}},
      {1, {}, {page}, {}},
  };
  set_account_check(logging_check);
  for (const start_case& c : cases) {
    SCOPED_TRACE(testing::Message() << "use_section " << int{c.use_section} << ", "
                                    << c.accounts.size() << " accounts");
    account_table.reload({}, 0);
    for (const std::string& display : c.accounts) {
      imap_info settings;
      set_new_account_defaults(settings);
      settings.display = display;
      settings.hostname = "127.0.0.1";
      settings.username = "bob";
      settings.password = "secret";
      append_account(settings);
    }
    use_section = c.use_section;
    ASSERT_TRUE(save_config());
    account_table.reload({}, 0);
    checker_test::events().take();
    host_calls.clear();

    plugin_main("start", nullptr);
    EXPECT_EQ(host_calls, c.on_start);
    for (const std::string& display : c.accounts) {
      EXPECT_TRUE(checker_test::events().wait_for("check " + display)) << display;
    }
    host_calls.clear();
    plugin_main("stop", nullptr);
    EXPECT_EQ(host_calls, c.on_stop);
    EXPECT_EQ(mail_group_id, -1);
  }
  set_account_check(nullptr);
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
