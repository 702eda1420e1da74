// The checker thread: its timer, the three requests and the order and pauses
// of its passes, with the clock, sleeps and ticks driven by the test and the
// check itself replaced by a recorder (except where a real check is stopped).
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>

#include "checker_fixture.h"
#include "peer.h"
#include "platform/platform.h"

namespace {

using checker_test::account_spec;
using checker_test::events;

// What the recording check returns per alias, and an alias whose account
// the check of "A" removes from the table. Set before the thread starts.
std::map<std::string, int32_t> results;
std::string removed_by_a;
checker_test::fake_env* clock_env = nullptr;
int64_t start_ms = 0;

// Records the check with the time since the test began, and moves the
// account's next check one interval on as a real check does.
int32_t recording_check(account_ref key, checker_control&) {
  imap_info a;
  if (!account_table.copy(key, &a)) return 0;
  events().add("check " + a.display + " at +" + std::to_string(clock_env->now_ms - start_ms));
  if (a.display == "A" && !removed_by_a.empty()) {
    for (const imap_info& other : account_table.snapshot()) {
      if (other.display == removed_by_a) account_table.erase(account_table.index_of(other.key));
    }
  }
  const int64_t next = clock_env->local_seconds() + 300;
  account_table.update(key, [next](imap_info& r) { r.next_check = next; });
  return results[a.display];
}

class CheckerThread : public checker_test::CheckerTest {
 protected:
  void SetUp() override {
    CheckerTest::SetUp();
    results.clear();
    removed_by_a.clear();
    clock_env = &env_;
    start_ms = env_.now_ms;
    set_account_check(recording_check);
  }

  void TearDown() override {
    if (thread_ != nullptr) finish();
    set_account_check(nullptr);
    CheckerTest::TearDown();
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

  account_ref add_named(const char* display, int64_t next_check) {
    account_spec spec;
    spec.display = display;
    spec.next_check = next_check;
    return add(spec);
  }

  std::shared_ptr<checker_control> control_;
  platform::thread_handle thread_ = nullptr;
  uint32_t thread_id_ = 0;
};

TEST_F(CheckerThread, RunsAFiveSecondTimerAndIgnoresQuit) {
  const account_ref work = add_named("Work", 0);
  results["Work"] = 1;
  start();
  post(platform::MSG_QUIT);
  post(CHECK_ACCOUNT, work);
  ASSERT_TRUE(finish());
  EXPECT_EQ(env_.timer_period, CHECK_TIMER_MS);
  EXPECT_EQ(env_.stopped_timer, 77u);
  EXPECT_EQ(events().take(), std::vector<std::string>{"check Work at +0"});
}

TEST_F(CheckerThread, TickChecksEnabledAccountsStrictlyPastTheirSecond) {
  const int64_t now_s = now();
  add_named("Past", now_s - 1);
  add_named("ThisSecond", now_s);
  add_named("Disabled", 0);
  add_named("Later", now_s + 60);
  start();
  post(platform::MSG_TIMER, 77);
  ASSERT_TRUE(events().wait_for("check Past at +0"));
  env_.now_ms += 1000;
  post(platform::MSG_TIMER, 77);
  ASSERT_TRUE(finish());
  // The second tick finds "Past" moved on by its check, and "ThisSecond" due.
  EXPECT_EQ(events().take(),
            (std::vector<std::string>{"check Past at +0", "check ThisSecond at +1000"}));
}

TEST_F(CheckerThread, EmptyTableTickAndCheckAllDoNothing) {
  start();
  post(platform::MSG_TIMER, 77);
  post(CHECK_ALL);
  ASSERT_TRUE(finish());
  EXPECT_EQ(env_.slept_ms, 0u);
  EXPECT_TRUE(events().take().empty());
}

TEST_F(CheckerThread, CheckAllPausesBeforeEverySlotAndSkipsDisabled) {
  add_named("First", now() + 600);
  add_named("Second", 0);
  add_named("Third", now() + 600);
  start();
  post(CHECK_ALL);
  ASSERT_TRUE(finish());
  EXPECT_EQ(env_.slept_ms, 3 * CHECK_ALL_PAUSE_MS);
  EXPECT_EQ(events().take(),
            (std::vector<std::string>{"check First at +500", "check Third at +1500"}));
}

TEST_F(CheckerThread, PassSkipsAnAccountRemovedDuringIt) {
  const int64_t due = now() - 1;
  add_named("A", due);
  add_named("B", due);
  add_named("C", due);
  removed_by_a = "B";
  start();
  post(platform::MSG_TIMER, 77);
  ASSERT_TRUE(finish());
  EXPECT_EQ(events().take(), (std::vector<std::string>{"check A at +0", "check C at +0"}));
  EXPECT_EQ(account_table.size(), 2u);
}

TEST_F(CheckerThread, CheckAllKeepsItsSlotsWhenTheTableShrinks) {
  add_named("A", now() + 600);
  add_named("B", now() + 600);
  add_named("C", now() + 600);
  removed_by_a = "C";
  start();
  post(CHECK_ALL);
  ASSERT_TRUE(finish());
  EXPECT_EQ(env_.slept_ms, 3 * CHECK_ALL_PAUSE_MS);
  EXPECT_EQ(events().take(), (std::vector<std::string>{"check A at +500", "check B at +1000"}));
}

TEST_F(CheckerThread, CheckAccountOfAnAccountThatIsGoneChecksNothing) {
  const account_ref gone = add_named("Gone", 0);
  remove_account_entry(gone);
  account_table.erase(account_table.index_of(gone));
  start();
  post(CHECK_ACCOUNT, gone);
  ASSERT_TRUE(finish());
  EXPECT_TRUE(events().take().empty());
}

struct TotalCase {
  int32_t result;
  int32_t total;
  const char* alert;  // null: none
};

class CheckAccountTotal : public CheckerThread, public ::testing::WithParamInterface<TotalCase> {};

TEST_P(CheckAccountTotal, AlertsTheTotalOnlyWhenNothingNewWasAnnounced) {
  const TotalCase& c = GetParam();
  // Told even with alerts off, and for a disabled account.
  use_alert = 0;
  account_spec spec;
  spec.display = "Work";
  spec.next_check = 0;
  spec.total_count = c.total;
  const account_ref work = add(spec);
  results["Work"] = c.result;
  start();
  post(CHECK_ACCOUNT, work);
  ASSERT_TRUE(finish());
  std::vector<std::string> expected{"check Work at +0"};
  if (c.alert != nullptr) expected.push_back(std::string("alert ") + c.alert);
  EXPECT_EQ(events().take(), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CheckAccountTotal,
    ::testing::Values(TotalCase{0, 1, "Work: You have 1 message (total) in your inbox."},
                      TotalCase{0, 0, "Work: You have 0 messages (total) in your inbox."},
                      TotalCase{0, 31, "Work: You have 31 messages (total) in your inbox."},
                      TotalCase{0, -1, "Work: You have -1 message (total) in your inbox."},
                      TotalCase{-1, 5, nullptr}, TotalCase{2, 5, nullptr}));

// The account's settings are replaced while the server answers STAT: the
// check's result is discarded, so no total is told and the entry leaves
// "checking" for the account's current state.
TEST_F(CheckerThread, DiscardedCheckTellsNothing) {
  set_account_check(nullptr);
  account_ref work = 0;
  Peer peer;
  peer.Serve([&](PeerConnection& c) {
    c.Send("+OK ready\r\n");
    for (const char* reply : {"-ERR\r\n", "+OK\r\n", "+OK\r\n"}) {
      c.ReceiveUntil("\r\n");
      c.Send(reply);
    }
    c.ReceiveUntil("\r\n");
    imap_info settings;
    account_table.copy(work, &settings);
    settings.password = "changed";
    replace_account(settings, account_table.index_of(work));
    for (const char* reply : {"+OK 0 0\r\n", "+OK\r\n"}) {
      c.Send(reply);
      c.ReceiveUntil("\r\n");
    }
    c.Send("+OK\r\n");
    c.WaitForClose();
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
  EXPECT_EQ(events().take(), (std::vector<std::string>{"icon 2", "icon 1"}));
  EXPECT_EQ(account(work).new_count, 3);
}

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
  const account_ref work = add(spec);
  start();
  post(CHECK_ACCOUNT, work);
  while (!waiting) std::this_thread::yield();
  control_->request_stop();
  // The server would keep the check waiting for 60 s; the abort ends it.
  EXPECT_TRUE(finish());
  EXPECT_EQ(events().take(), std::vector<std::string>{"icon 2"});
  EXPECT_EQ(account(work).new_count, 4);
}

}  // namespace
