// The checker thread: its timer, the three requests and the order and pauses
// of its passes, with the clock, sleeps and ticks driven by the test and the
// check itself replaced by a recorder (except where a real check is stopped).
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <string>

#include "peer.h"
#include "platform/platform.h"
#include "plugin_fixture.h"

namespace {

using plugin_test::account;
using plugin_test::account_spec;

// What the recording check returns per alias, an alias whose account the
// check of "A" removes from the table, and where it reports. Set before the
// thread starts.
std::map<std::string, int32_t> results;
std::string removed_by_a;
std::function<void(const imap_info&)> report;

// Reports the check, and moves the account's next check one interval on as
// a real check does.
int32_t recording_check(account_ref key, checker_control&) {
  imap_info a;
  if (!account_table.copy(key, &a)) return 0;
  report(a);
  if (a.display == "A" && !removed_by_a.empty()) {
    for (const imap_info& other : account_table.snapshot()) {
      if (other.display == removed_by_a) account_table.erase(account_table.index_of(other.key));
    }
  }
  const int64_t next = platform::env()->local_seconds() + 300;
  account_table.update(key, [next](imap_info& r) { r.next_check = next; });
  return results[a.display];
}

class CheckerThread : public plugin_test::PluginTest {
 protected:
  void SetUp() override {
    PluginTest::SetUp();
    results.clear();
    removed_by_a.clear();
    const int64_t start_ms = env_.now_ms;
    report = [this, start_ms](const imap_info& a) {
      note("check " + a.display + " at +" + std::to_string(env_.now_ms - start_ms));
    };
    set_account_check(recording_check);
  }

  void TearDown() override {
    if (thread_ != nullptr) finish();
    set_account_check(nullptr);
    PluginTest::TearDown();
  }

  void start() {
    control_ = std::make_shared<checker_control>();
    thread_ = platform::start_thread(checker_thread, new std::shared_ptr<checker_control>(control_),
                                     &thread_id_);
    ASSERT_NE(thread_, nullptr);
  }

  void post(uint32_t message, uintptr_t wparam = 0) {
    while (!platform::post_thread_message(thread_id_, message, wparam, 0)) {
    }
  }

  // Lets the thread handle everything posted so far, then ends it; true when
  // it ended within the wait "stop" allows.
  bool finish() {
    post(STOP_CHECKER);
    const bool ended = platform::wait_for_thread(thread_, 5000);
    platform::close_thread(thread_);
    thread_ = nullptr;
    return ended;
  }

  std::shared_ptr<checker_control> control_;
  platform::thread_handle thread_ = nullptr;
  uint32_t thread_id_ = 0;
};

constexpr int64_t kOff = INT64_MIN;  // a disabled account

struct ScheduleCase {
  const char* name;
  // Aliases and their next check in seconds from now (kOff: disabled).
  std::vector<std::pair<std::string, int64_t>> accounts;
  std::string removed_by_a;
  // What the test does once the thread runs: "tick", "all", "quit",
  // "check ALIAS", "remove ALIAS", "later" (one second passes) and
  // "wait TEXT" (until the checks reported TEXT).
  std::vector<std::string> steps;
  std::vector<std::string> checks;
  uint32_t slept_ms;
};

void PrintTo(const ScheduleCase& c, std::ostream* os) { *os << c.name; }

const ScheduleCase kSchedules[] = {
    {"QuitIsIgnored", {{"Work", kOff}}, "", {"quit", "check Work"}, {"check Work at +0"}, 0},
    {"TickChecksEnabledAccountsStrictlyPastTheirSecond",
     {{"Past", -1}, {"ThisSecond", 0}, {"Disabled", kOff}, {"Later", 60}},
     "",
     // The second tick finds "Past" moved on by its check, and "ThisSecond"
     // due.
     {"tick", "wait check Past at +0", "later", "tick"},
     {"check Past at +0", "check ThisSecond at +1000"},
     0},
    {"EmptyTableTickAndCheckAllDoNothing", {}, "", {"tick", "all"}, {}, 0},
    {"CheckAllPausesBeforeEverySlotAndSkipsDisabled",
     {{"First", 600}, {"Second", kOff}, {"Third", 600}},
     "",
     {"all"},
     {"check First at +500", "check Third at +1500"},
     3 * CHECK_ALL_PAUSE_MS},
    {"PassSkipsAnAccountRemovedDuringIt",
     {{"A", -1}, {"B", -1}, {"C", -1}},
     "B",
     {"tick"},
     {"check A at +0", "check C at +0"},
     0},
    {"CheckAllKeepsItsSlotsWhenTheTableShrinks",
     {{"A", 600}, {"B", 600}, {"C", 600}},
     "C",
     {"all"},
     {"check A at +500", "check B at +1000"},
     3 * CHECK_ALL_PAUSE_MS},
    {"CheckOfAnAccountThatIsGoneChecksNothing",
     {{"Gone", kOff}},
     "",
     {"remove Gone", "check Gone"},
     {},
     0},
};

class Schedule : public CheckerThread, public ::testing::WithParamInterface<ScheduleCase> {};

TEST_P(Schedule, ChecksInOrderWithItsPauses) {
  const ScheduleCase& c = GetParam();
  removed_by_a = c.removed_by_a;
  std::map<std::string, account_ref> keys;
  for (const auto& [display, next] : c.accounts) {
    account_spec spec;
    spec.display = display;
    spec.next_check = next == kOff ? 0 : now() + next;
    keys[display] = add(spec);
    results[display] = 1;  // new mail announced: no total
  }
  start();
  for (const std::string& step : c.steps) {
    const std::string alias = step.substr(step.find(' ') + 1);
    if (step == "tick") {
      post(platform::MSG_TIMER, plugin_test::fake_env::kTimerId);
    } else if (step == "all") {
      post(CHECK_ALL);
    } else if (step == "quit") {
      post(platform::MSG_QUIT);
    } else if (step == "later") {
      env_.now_ms += 1000;
    } else if (step.rfind("check ", 0) == 0) {
      post(CHECK_ACCOUNT, keys[alias]);
    } else if (step.rfind("remove ", 0) == 0) {
      remove_account_entry(keys[alias]);
      account_table.erase(account_table.index_of(keys[alias]));
    } else {
      wait_for("note " + alias);
    }
  }
  ASSERT_TRUE(finish());
  EXPECT_EQ(events(), c.checks);
  EXPECT_EQ(env_.slept_ms, c.slept_ms);
  // The thread ran its five-second timer and took it down again.
  EXPECT_EQ(env_.timer_period, CHECK_TIMER_MS);
  EXPECT_EQ(env_.stopped_timer, plugin_test::fake_env::kTimerId);
}

INSTANTIATE_TEST_SUITE_P(Cases, Schedule, ::testing::ValuesIn(kSchedules),
                         [](const ::testing::TestParamInfo<ScheduleCase>& info) {
                           return std::string(info.param.name);
                         });

struct TotalCase {
  int32_t result;
  int32_t total;
  const char* alert;  // null: none
};

void PrintTo(const TotalCase& c, std::ostream* os) {
  *os << "result " << c.result << ", total " << c.total;
}

class CheckAccountTotal : public CheckerThread, public ::testing::WithParamInterface<TotalCase> {};

TEST_P(CheckAccountTotal, AlertsTheTotalOnlyWhenNothingNewWasAnnounced) {
  const TotalCase& c = GetParam();
  // Told even with alerts off, and for a disabled account.
  use_alert = 0;
  account_spec spec;
  spec.next_check = 0;
  spec.total_count = c.total;
  const account_ref work = add(spec);
  results["Work"] = c.result;
  start();
  post(CHECK_ACCOUNT, work);
  ASSERT_TRUE(finish());
  std::vector<std::string> expected{"check Work at +0"};
  if (c.alert != nullptr) expected.push_back(std::string("alert ") + c.alert);
  EXPECT_EQ(events(), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CheckAccountTotal,
    ::testing::Values(TotalCase{0, 1, "Work: You have 1 message (total) in your inbox."},
                      TotalCase{0, 0, "Work: You have 0 messages (total) in your inbox."},
                      TotalCase{0, 31, "Work: You have 31 messages (total) in your inbox."},
                      TotalCase{0, -1, "Work: You have -1 message (total) in your inbox."},
                      TotalCase{-1, 5, nullptr}, TotalCase{2, 5, nullptr}));

// A POP3 server on `peer` that logs bob in, runs `at_stat` when STAT comes,
// then answers an empty mailbox and ends the session.
void serve_pop3(Peer& peer, std::function<void()> at_stat) {
  peer.Serve([at_stat](PeerConnection& c) {
    c.Send("+OK ready\r\n");
    for (const char* reply : {"-ERR\r\n", "+OK\r\n", "+OK\r\n"}) {
      c.ReceiveUntil("\r\n");
      c.Send(reply);
    }
    c.ReceiveUntil("\r\n");
    at_stat();
    for (const char* reply : {"+OK 0 0\r\n", "+OK\r\n"}) {
      c.Send(reply);
      c.ReceiveUntil("\r\n");
    }
    c.Send("+OK\r\n");
    c.WaitForClose();
  });
}

// The account's settings are replaced while the server answers STAT: the
// check's result is discarded, so no total is told and the entry leaves
// "checking" for the account's current state.
TEST_F(CheckerThread, DiscardedCheckTellsNothing) {
  set_account_check(nullptr);
  account_ref work = 0;
  Peer peer;
  serve_pop3(peer, [&] {
    imap_info settings;
    account_table.copy(work, &settings);
    settings.password = "changed";
    replace_account(settings, account_table.index_of(work));
  });
  account_spec spec;
  spec.accttype = ACCOUNT_POP3;
  spec.port = peer.Port();
  spec.new_count = 3;
  spec.total_count = 7;
  work = add(spec);
  start();
  post(CHECK_ACCOUNT, work);
  ASSERT_TRUE(finish());
  EXPECT_EQ(events(), (std::vector<std::string>{"icon checking", "icon new-mail"}));
  EXPECT_EQ(account(work).new_count, 3);
}

// Only the alias changes during the check: the result stands, and the entry
// shows the new alias.
TEST_F(CheckerThread, RenamedDuringTheCheckShowsTheNewAlias) {
  account_ref key = 0;
  Peer peer;
  serve_pop3(peer, [&] { account_table.update(key, [](imap_info& a) { a.display = "Office"; }); });
  account_spec spec;
  spec.accttype = ACCOUNT_POP3;
  spec.port = peer.Port();
  key = add(spec);
  checker_control control;
  EXPECT_EQ(check_account(key, control), 0);
  const std::vector<std::string> seen = events();
  ASSERT_GE(seen.size(), 3u);
  EXPECT_EQ(seen[2], "text Office (0)");
}

// A check that waits for a server which says nothing more ends, unseen and
// with the account as it was, as soon as the checker is asked to stop.
TEST_F(CheckerThread, StopAbortsACheckBlockedInAServerWait) {
  set_account_check(nullptr);
  Peer peer;
  std::atomic<bool> waiting{false};
  peer.Serve([&](PeerConnection& c) {
    c.Send("* OK ready\r\n");
    c.ReceiveUntil("\r\n");
    waiting = true;
    c.WaitForClose();
  });
  account_spec spec;
  spec.port = peer.Port();
  spec.new_count = 4;
  spec.next_check = 1;
  const account_ref work = add(spec);
  start();
  post(CHECK_ACCOUNT, work);
  while (!waiting) std::this_thread::yield();
  control_->request_stop();
  // The server would keep the check waiting for 60 s; the abort ends it.
  EXPECT_TRUE(finish());
  EXPECT_EQ(events(), std::vector<std::string>{"icon checking"});
  EXPECT_EQ(account(work).new_count, 4);
  EXPECT_EQ(account(work).next_check, 1);
}

}  // namespace
