// "start" and "stop": the order of what they do, what "stop" leaves behind,
// and the cases where "stop" must do nothing.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "imap_config.h"
#include "platform/platform.h"
#include "plugin_fixture.h"
#include "test_support.h"

namespace {

using plugin_test::log_field;

// Stands in for the account check: the checker's work is not what these
// tests look at, only that "start" asked for it.
std::function<void(const std::string&)> report;
int32_t reporting_check(account_ref account, checker_control&) {
  account_table.read(account, [](const imap_info& a) { report("check " + a.display); });
  return 1;
}

class StartStop : public plugin_test::PluginTest {
 protected:
  void SetUp() override {
    PluginTest::SetUp();
    report = [this](const std::string& line) { note(line); };
    calls();
  }

  // The host functions called since the previous call, with the page's name
  // and record size, and the entry's name or "group".
  std::vector<std::string> calls() {
    std::vector<std::string> out;
    for (const std::string& line : log_lines_since(&calls_from_)) {
      if (line.rfind("host ", 0) != 0) continue;
      std::string call = line.substr(5, line.find(' ', 5) - 5);
      if (call == "prefsInitialize") {
        const size_t size = line.find(" size=") + 6;
        call +=
            " " + log_field(line, "page") + " " + line.substr(size, line.find(' ', size) - size);
      } else if (call == "listAddEntry" || call == "listRemoveEntry") {
        call += line.find(" is_entry=0 ") != std::string::npos ? " group"
                                                               : " " + log_field(line, "name");
      }
      out.push_back(call);
    }
    return out;
  }

  size_t calls_from_ = 0;
};

TEST_F(StartStop, EmptyTableStartsTheCheckerAndStopSavesMailIni) {
  run("start");
  EXPECT_EQ(calls(), std::vector<std::string>{"prefsInitialize E-Mail " +
                                              std::to_string(sizeof(prefs_page_record))});
  EXPECT_NE(checker_thread_id, 0u);
  EXPECT_FALSE(test_support::file_exists(config_path()));
  run("stop");
  EXPECT_EQ(checker_thread_id, 0u);
  EXPECT_EQ(checker_thread_handle, nullptr);
  // The checker made its timer and took it down again.
  EXPECT_EQ(env_.timer_period, CHECK_TIMER_MS);
  EXPECT_EQ(env_.stopped_timer, plugin_test::fake_env::kTimerId);
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
  set_account_check(reporting_check);
  for (const start_case& c : cases) {
    SCOPED_TRACE(testing::Message() << "use_section " << int{c.use_section} << ", "
                                    << c.accounts.size() << " accounts");
    account_table.reload({}, 0);
    for (const std::string& display : c.accounts) {
      plugin_test::account_spec spec;
      spec.display = display;
      plugin_test::add_account(spec);
    }
    use_section = c.use_section;
    ASSERT_TRUE(save_config());
    account_table.reload({}, 0);
    calls();

    run("start");
    EXPECT_EQ(calls(), c.on_start);
    for (const std::string& display : c.accounts) wait_for("note check " + display);
    calls();
    run("stop");
    EXPECT_EQ(calls(), c.on_stop);
    EXPECT_EQ(mail_group_id, -1);
  }
  set_account_check(nullptr);
}

TEST_F(StartStop, StopWithoutStartLeavesMailIniAlone) {
  test_support::write_file(config_path(), "[Mail]\nuse_alert=1\n");
  run("stop");
  EXPECT_EQ(test_support::read_file(config_path()), "[Mail]\nuse_alert=1\n");
  EXPECT_TRUE(calls().empty());
}

TEST_F(StartStop, StopAfterUnloadDoesNothing) {
  run("start\nunload");
  calls();
  run("stop");
  EXPECT_TRUE(calls().empty());
  EXPECT_NE(checker_thread_id, 0u) << "the checker still runs";
  // The host comes back: now "stop" ends it.
  run("load\nstop");
  EXPECT_EQ(checker_thread_id, 0u);
}

}  // namespace
