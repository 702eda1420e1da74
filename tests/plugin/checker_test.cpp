// The checker: check_account against scripted servers (commands sent, what
// the user sees, the account's new state); the checker thread driven by the
// test's clock with the check replaced by a recorder; "start" and "stop".
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <ostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "imap_config.h"
#include "peer.h"
#include "platform/net/dynlib.h"
#include "platform/platform.h"
#include "plugin_fixture.h"
#include "scripted_server.h"
#include "ssl_openssl.h"
#include "test_support.h"

namespace {

using plugin_test::account;
using plugin_test::account_spec;
using Lines = std::vector<std::string>;

Lines join(std::initializer_list<Lines> parts) {
  Lines out;
  for (const Lines& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

// The words of `text` between `separator`s.
Lines split(const std::string& text, char separator) {
  Lines out;
  std::istringstream in(text);
  for (std::string word; std::getline(in, word, separator);) out.push_back(word);
  return out;
}

// POP3 logs bob in, runs `middle`, then RSET and QUIT.
Lines pop3(const Lines& middle) {
  return join(
      {{"S: +OK ready", "C: CAPA", "S: -ERR", "C: USER bob", "S: +OK", "C: PASS secret", "S: +OK"},
       middle,
       {"C: RSET", "S: +OK", "C: QUIT", "S: +OK bye"}});
}

Lines stat(int count) { return {"C: STAT", "S: +OK " + std::to_string(count) + " 4096"}; }

Lines top(int message, const Lines& header) {
  return join({{"C: TOP " + std::to_string(message) + " 0", "S: +OK"}, header, {"S: ."}});
}

// IMAP logs bob in, runs `middle` (its tags from S3 on), then LOGOUT.
Lines imap(const Lines& middle) {
  const std::string tag = "S" + std::to_string(3 + std::count_if(middle.begin(), middle.end(),
                                                                 [](const std::string& line) {
                                                                   return line.rfind("C: ", 0) == 0;
                                                                 }));
  return join({{"S: * OK ready", "C: S1 CAPABILITY", "S: * CAPABILITY IMAP4rev1", "S: S1 OK",
                "C: S2 LOGIN \"bob\" \"secret\"", "S: S2 OK"},
               middle,
               {"C: " + tag + " LOGOUT", "S: * BYE", "S: " + tag + " OK"}});
}

// EXAMINE INBOX with the counts, then STATUS UNSEEN and MESSAGES.
Lines imap_counts(int exists, int recent, int unseen, int messages) {
  return {"C: S3 EXAMINE \"INBOX\"",
          "S: * " + std::to_string(exists) + " EXISTS",
          "S: * " + std::to_string(recent) + " RECENT",
          "S: S3 OK [READ-ONLY] done",
          "C: S4 STATUS \"INBOX\" (UNSEEN)",
          "S: * STATUS \"INBOX\" (UNSEEN " + std::to_string(unseen) + ")",
          "S: S4 OK",
          "C: S5 STATUS \"INBOX\" (MESSAGES)",
          "S: * STATUS \"INBOX\" (MESSAGES " + std::to_string(messages) + ")",
          "S: S5 OK"};
}

// FETCH of message 10's header, tagged S6.
Lines fetch_lunch() {
  const std::string header =
      "From: \"Ann Example\" <ann@example.com>\r\nSubject: RE: Re: Lunch\r\n\r\n";
  return {
      "C: S6 FETCH 10 (RFC822.HEADER)",
      "R: * 10 FETCH (RFC822.HEADER {" + std::to_string(header.size()) + "}\r\n" + header + ")\r\n",
      "S: S6 OK"};
}

account_spec pop3_account(int32_t new_count) {
  account_spec a;
  a.display = "Home";
  a.accttype = ACCOUNT_POP3;
  a.new_count = new_count;
  return a;
}

account_spec imap_account(int32_t new_count, uint8_t unseen = 1) {
  account_spec a;
  a.new_count = new_count;
  a.unseen = unseen;
  return a;
}

// {now} and {next} stand for the formatted check time and the time one
// interval later.
const char kTimes[] = "Last checked: {now}\r\nNext check: {next}";
const char kLunchSeen[] = "Ann Example <ann@example.com>\r\nRe: \"Lunch\"";

// A tooltip: the counts, the check times and the newest message when one is
// named.
std::string tip(const std::string& counts, const std::string& last = "") {
  return "tooltip " + counts + "\r\n" + kTimes +
         (last.empty() ? "" : "\r\n\r\nLast message from:\r\n" + last);
}

// What a check that announces new mail shows, in order.
Lines told(const std::string& alert, const std::string& text, const std::string& tooltip) {
  return {"icon checking", "sound resource 1", "alert " + alert,
          "icon new-mail", "text " + text,     tooltip};
}

const char kFailedTip[] =
    "tooltip This account has had some problems connecting.\r\nPlease check your settings.\r\n";
const std::string kDisabledTip = std::string(kFailedTip) +
                                 "\r\nTo re-enable this account, right-click on it\r\nand "
                                 "click on \"Check email now\"";

// A check that fails ("icon failed") keeps the account's count; one that
// fails with -1 also disables the account. Otherwise the count is the result.
struct Case {
  const char* name;
  account_spec account;
  Lines dialogue;  // empty: nothing listens on the account's port
  int32_t result;
  Lines seen;
  // Changes to the options and the environment before the check.
  std::function<void(plugin_test::fake_env&)> options = nullptr;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

const Case kCases[] = {
    {"Pop3UpByOneNamesSenderAndSubject", pop3_account(0),
     pop3(join({stat(1), top(1, {"S: From: \"Ann Example\" <ann@example.com>",
                                 "S: Subject: RE: Re: Lunch", "S: "})})),
     1,
     told("Home: Ann Example <ann@example.com> - \"Lunch\"", "Home (1)",
          tip("New messages: 1", kLunchSeen))},
    {"Pop3TopRefusedThenRetrEncodedSender", pop3_account(3),
     pop3(join({stat(4),
                {"C: TOP 4 0", "S: -ERR no TOP", "C: RETR 4", "S: +OK",
                 "S: From: =?ISO-8859-1?Q?J=F6rg?= <j@example.com>", "S: Subject: Score: 3", "S: ",
                 "S: body", "S: ."}})),
     4,
     told("Home: J\xF6rg <j@example.com> - \"Sco 3\"", "Home (4)",
          tip("New messages: 4", "J\xF6rg <j@example.com>\r\nRe: \"Sco 3\""))},
    {"Pop3ControlCharactersOfSenderAndSubjectBecomeBlanks", pop3_account(0),
     pop3(join({stat(1),
                top(1, {"S: From: =?us-ascii?Q?Mallory=0D=0ANew_messages:_999=0D=0A?= <m@x.test>",
                        "S: Subject: Hi =?UTF-8?B?!!!!?=there", "S: "})})),
     1,
     told("Home: Mallory  New messages: 999   <m@x.test> - \"Hi  there\"", "Home (1)",
          tip("New messages: 1", "Mallory  New messages: 999   <m@x.test>\r\nRe: \"Hi  there\""))},
    {"Pop3LongSenderAndSubjectAreCutToWhatATooltipShows", pop3_account(0),
     pop3(join({stat(1), top(1, {"S: From: A" + std::string(299, 'a') + " <a@x.test>",
                                 "S: Subject: B" + std::string(299, 'b'), "S: "})})),
     1,
     told("Home: A" + std::string(255, 'a') + " - \"B" + std::string(255, 'b') + "\"", "Home (1)",
          tip("New messages: 1",
              "A" + std::string(255, 'a') + "\r\nRe: \"B" + std::string(255, 'b') + "\""))},
    {"Pop3UpByOneWithoutSubject", pop3_account(0),
     pop3(join({stat(1), top(1, {"S: From: ann@example.com", "S: "})})), 1,
     told("Home: New mail from ann@example.com", "Home (1)",
          tip("New messages: 1", "ann@example.com\r\nRe: "))},
    {"Pop3StatFailsKeepsCount", pop3_account(2),
     pop3({"C: STAT", "S: -ERR busy", "C: TOP 2 0", "S: -ERR", "C: RETR 2", "S: -ERR"}), 2,
     {"icon checking", "icon new-mail", "text Home (2)", tip("New messages: 2")}},
    {"Pop3ToZero", pop3_account(2), pop3(stat(0)), 0,
     {"icon checking", "icon no-mail", "text Home (0)", std::string("tooltip ") + kTimes}},
    {"Pop3SoundFileWins", pop3_account(0), pop3(join({stat(2), top(2, {"S: From: a@b", "S: "})})),
     2,
     {"icon checking", "sound file mailnotify.wav",
      "alert Home: You have 2 new messages in your inbox.", "icon new-mail", "text Home (2)",
      tip("New messages: 2")},
     [](plugin_test::fake_env& env) { env.sound_file_exists = true; }},
    {"ImapUnseenUpByOneFetchesNewest", imap_account(2),
     imap(join({imap_counts(10, 1, 3, 10), fetch_lunch()})), 3,
     told("Work: Ann Example <ann@example.com> - \"Lunch\"", "Work (3/10)",
          tip("New messages: 3\r\nRecent messages: 1\r\nTotal messages: 10", kLunchSeen))},
    {"ImapUpByTwoFetchesButDoesNotDecode", imap_account(1),
     imap(join({imap_counts(10, 1, 3, 10), fetch_lunch()})), 3,
     told("Work: You have 3 new messages in your inbox.", "Work (3/10)",
          tip("New messages: 3\r\nRecent messages: 1\r\nTotal messages: 10"))},
    {"ImapUnchangedRefreshesWithoutAlert", imap_account(3),
     imap(join({imap_counts(10, 0, 3, 10), fetch_lunch()})), 3,
     {"icon checking", "icon new-mail", "text Work (3/10)",
      tip("New messages: 3\r\nRecent messages: 0\r\nTotal messages: 10")}},
    {"ImapDownByOneSingular", imap_account(2), imap(imap_counts(9, 0, 1, 9)), 1,
     told("Work: You have 1 new message in your inbox.", "Work (1/9)",
          tip("New messages: 1\r\nRecent messages: 0\r\nTotal messages: 9")),
     [](plugin_test::fake_env&) { use_header = 0; }},
    {"ImapRecentModeWithoutStatus", imap_account(0, 0),
     imap({"C: S3 EXAMINE \"INBOX\"", "S: * 7 EXISTS", "S: * 0 RECENT", "S: S3 OK"}), 0,
     {"icon checking", "icon no-mail", "text Work (0/7)",
      tip("Recent messages: 0\r\nTotal messages: 7")}},
    {"ImapExamineRefusedCountsNothing", imap_account(0, 0),
     imap({"C: S3 EXAMINE \"INBOX\"", "S: S3 NO no such mailbox"}), 0,
     {"icon checking", "icon no-mail", "text Work (0/0)",
      tip("Recent messages: 0\r\nTotal messages: 0")}},
    {"ImapStatusWithoutItsLineFallsBackToRecent", imap_account(0),
     imap({"C: S3 EXAMINE \"INBOX\"", "S: * 5 EXISTS", "S: * 2 RECENT", "S: S3 OK",
           "C: S4 STATUS \"INBOX\" (UNSEEN)", "S: S4 OK", "C: S5 STATUS \"INBOX\" (MESSAGES)",
           "S: S5 OK"}),
     2,
     {"icon checking", "alert Work: -1 new messages. Reading RECENT instead.", "sound resource 1",
      "icon new-mail", "text Work (2/5)",
      tip("New messages: 2\r\nRecent messages: 2\r\nTotal messages: 5")},
     [](plugin_test::fake_env&) {
       use_alert = 0;
       use_header = 0;
     }},
    {"ImapMessagesRefusedTakesExistsAsTotal", imap_account(0),
     imap(join({{"C: S3 EXAMINE \"INBOX\"", "S: * 10 EXISTS", "S: * 0 RECENT", "S: S3 OK",
                 "C: S4 STATUS \"INBOX\" (UNSEEN)", "S: * STATUS \"INBOX\" (UNSEEN 1)", "S: S4 OK",
                 "C: S5 STATUS \"INBOX\" (MESSAGES)", "S: S5 NO"},
                fetch_lunch()})),
     1,
     told("Work: Ann Example <ann@example.com> - \"Lunch\"", "Work (1/10)",
          tip("New messages: 1\r\nRecent messages: 0\r\nTotal messages: 10", kLunchSeen))},
    {"LoginFailsAndKeeps", imap_account(2),
     {"S: * OK ready", "C: S1 CAPABILITY", "S: * CAPABILITY IMAP4rev1", "S: S1 OK",
      "C: S2 LOGIN \"bob\" \"secret\"", "S: S2 NO wrong"},
     0,
     {"icon failed", "alert Work: Cannot login to server. Check your settings.",
      std::string(kFailedTip) + kTimes},
     [](plugin_test::fake_env&) {
       use_disable = 0;
       use_icon = 0;
     }},
    {"UnknownAccountTypeOpensNoSessionFailsAndDisables",
     [] {
       account_spec a = pop3_account(2);
       a.accttype = 7;
       return a;
     }(),
     {}, -1,
     {"icon checking", "icon failed", "alert Home: Cannot login to server. Check your settings.",
      kDisabledTip, "text Home"}},
    {"NothingListensIsALoginFailure", pop3_account(0), {}, -1,
     {"icon checking", "icon failed", kDisabledTip, "text Home"},
     [](plugin_test::fake_env&) { use_alert = 0; }},
};

class CheckAccount : public plugin_test::PluginTest, public ::testing::WithParamInterface<Case> {};

std::string expand(std::string text, int64_t now, int64_t next) {
  for (const auto& [mark, value] :
       {std::pair<std::string, int64_t>{"{now}", now}, {"{next}", next}}) {
    for (size_t at; (at = text.find(mark)) != std::string::npos;) {
      text.replace(at, mark.size(), platform::format_local_time(value));
    }
  }
  return text;
}

TEST_P(CheckAccount, SendsTheSessionAndTellsTheUser) {
  const Case& c = GetParam();
  if (c.options) c.options(env_);

  std::unique_ptr<ScriptedServer> server;
  account_spec spec = c.account;
  if (c.dialogue.empty()) {
    spec.port = Peer::ClosedPort();
  } else {
    server = std::make_unique<ScriptedServer>(c.dialogue);
    spec.port = server->Port();
  }
  const account_ref key = add(spec);
  const int64_t before = account(key).last_checked;
  checker_control control;

  EXPECT_EQ(check_account(key, control), c.result);

  if (server != nullptr) {
    EXPECT_EQ(server->Received(), ScriptedServer::Expected(c.dialogue));
  }
  Lines expected;
  for (const std::string& line : c.seen) expected.push_back(expand(line, now(), now() + 300));
  EXPECT_EQ(events(), expected);
  const bool failed = std::find(c.seen.begin(), c.seen.end(), "icon failed") != c.seen.end();
  const bool disabled = c.result == -1;
  const imap_info after = account(key);
  EXPECT_EQ(after.new_count, failed ? c.account.new_count : c.result);
  EXPECT_EQ(after.next_check, disabled ? 0 : now() + 300);
  // A disabling failure leaves the time of the last check as it was.
  EXPECT_EQ(after.last_checked, disabled ? before : now());
}

INSTANTIATE_TEST_SUITE_P(Cases, CheckAccount, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& info) {
                           return std::string(info.param.name);
                         });

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

  void remove(account_ref key) {
    remove_account_entry(key);
    account_table.erase(account_table.index_of(key));
  }

  std::shared_ptr<checker_control> control_;
  platform::thread_handle thread_ = nullptr;
  uint32_t thread_id_ = 0;
};

// The real clock, telling when a pause has begun to wait.
class wait_watching_env : public platform::EnvWrapper {
 public:
  wait_watching_env() : EnvWrapper(platform::env()) {}
  bool wait_ms(uint32_t ms, std::condition_variable& wake, std::unique_lock<std::mutex>& hold,
               const std::function<bool()>& done) override {
    waiting = true;
    return EnvWrapper::wait_ms(ms, wake, hold, done);
  }
  std::atomic<bool> waiting{false};
};

// A stop wakes a pause under the real clock: "stop" does not wait for the
// rest of the pause between two accounts of "check all" (here an hour).
TEST(CheckerControl, StopEndsAPauseUnderTheRealClock) {
  wait_watching_env env;
  platform::set_env(&env);
  checker_control control;
  std::atomic<bool> went_on{true};
  std::thread pausing([&] { went_on = control.pause(3600 * 1000); });
  while (!env.waiting) std::this_thread::yield();
  control.request_stop();
  pausing.join();
  platform::set_env(env.target());
  EXPECT_FALSE(went_on);
}

// A checker that took another request after the stop was asked for has
// ended: the STOP_CHECKER that "stop" posts next returns at once instead of
// retrying for its full second. (A queue that the ending thread has not
// closed yet may still take the post, which then goes nowhere.)
TEST_F(CheckerThread, PostToACheckerThatHasEndedReturnsAtOnce) {
  start();
  control_->request_stop();
  post(CHECK_ALL);
  ASSERT_TRUE(platform::wait_for_thread(thread_, 5000));
  checker_thread_id = thread_id_;
  checker_thread_handle = thread_;
  const auto begin = std::chrono::steady_clock::now();
  post_to_checker(STOP_CHECKER, 0);
  EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::milliseconds(500));
  checker_thread_id = 0;
  checker_thread_handle = nullptr;
  platform::close_thread(thread_);
  thread_ = nullptr;
}

struct ScheduleCase {
  const char* name;
  // "ALIAS:SECONDS" for each account, its next check from now ("off":
  // disabled), blanks between them; ":RESULT:TOTAL" after it sets what the
  // check returns (else 1, new mail announced) and the account's total.
  const char* accounts;
  const char* removed_by_a;
  // What the test does once the thread runs, "|" between steps: "tick",
  // "all", "quit", "check ALIAS", "remove ALIAS", "later" (one second
  // passes) and "wait TEXT" (until the checks reported TEXT).
  const char* steps;
  const char* checks;  // "|" between them
  uint32_t slept_ms;
};

void PrintTo(const ScheduleCase& c, std::ostream* os) { *os << c.name; }

// The second tick of the second case finds "Past" moved on by its check,
// and "ThisSecond" due.
const ScheduleCase kSchedules[] = {
    {"QuitIsIgnored", "Work:off", "", "quit|check Work", "check Work at +0", 0},
    {"TickChecksEnabledAccountsStrictlyPastTheirSecond",
     "Past:-1 ThisSecond:0 Disabled:off Later:60", "", "tick|wait check Past at +0|later|tick",
     "check Past at +0|check ThisSecond at +1000", 0},
    {"EmptyTableTickAndCheckAllDoNothing", "", "", "tick|all", "", 0},
    {"CheckAllPausesBeforeEverySlotAndSkipsDisabled", "First:600 Second:off Third:600", "", "all",
     "check First at +500|check Third at +1500", 3 * CHECK_ALL_PAUSE_MS},
    {"PassSkipsAnAccountRemovedDuringIt", "A:-1 B:-1 C:-1", "B", "tick",
     "check A at +0|check C at +0", 0},
    {"CheckAllKeepsItsSlotsWhenTheTableShrinks", "A:600 B:600 C:600", "C", "all",
     "check A at +500|check B at +1000", 3 * CHECK_ALL_PAUSE_MS},
    {"CheckOfAnAccountThatIsGoneChecksNothing", "Gone:off", "", "remove Gone|check Gone", "", 0},
    // Told even with alerts off, and for a disabled account.
    {"TotalIsAlertedOnlyWhenNothingNewWasAnnounced",
     "A:off:0:1 B:off:0:0 C:off:0:31 D:off:0:-1 E:off:-1:5 F:off:2:5", "",
     "check A|check B|check C|check D|check E|check F",
     "check A at +0|alert A: You have 1 message (total) in your inbox.|"
     "check B at +0|alert B: You have 0 messages (total) in your inbox.|"
     "check C at +0|alert C: You have 31 messages (total) in your inbox.|"
     "check D at +0|alert D: You have -1 message (total) in your inbox.|"
     "check E at +0|check F at +0",
     0},
};

class Schedule : public CheckerThread, public ::testing::WithParamInterface<ScheduleCase> {};

TEST_P(Schedule, ChecksInOrderWithItsPauses) {
  const ScheduleCase& c = GetParam();
  removed_by_a = c.removed_by_a;
  use_alert = 0;
  std::map<std::string, account_ref> keys;
  for (const std::string& word : split(c.accounts, ' ')) {
    const Lines parts = split(word, ':');
    account_spec spec;
    spec.display = parts[0];
    spec.next_check = parts[1] == "off" ? 0 : now() + std::stoi(parts[1]);
    if (parts.size() > 2) spec.total_count = std::stoi(parts[3]);
    keys[spec.display] = add(spec);
    results[spec.display] = parts.size() > 2 ? std::stoi(parts[2]) : 1;
  }
  start();
  for (const std::string& step : split(c.steps, '|')) {
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
      remove(keys[alias]);
    } else {
      wait_for("note " + alias);
    }
  }
  ASSERT_TRUE(finish());
  EXPECT_EQ(events(), split(c.checks, '|'));
  EXPECT_EQ(env_.slept_ms, c.slept_ms);
  // The thread ran its five-second timer and took it down again.
  EXPECT_EQ(env_.timer_period, CHECK_TIMER_MS);
  EXPECT_EQ(env_.stopped_timer, plugin_test::fake_env::kTimerId);
}

INSTANTIATE_TEST_SUITE_P(Cases, Schedule, ::testing::ValuesIn(kSchedules),
                         [](const ::testing::TestParamInfo<ScheduleCase>& info) {
                           return std::string(info.param.name);
                         });

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
    imap_info settings = account(work);
    settings.password = "changed";
    replace_account(settings, account_table.index_of(work));
  });
  account_spec spec = pop3_account(3);
  spec.port = peer.Port();
  spec.total_count = 7;
  work = add(spec);
  start();
  post(CHECK_ACCOUNT, work);
  ASSERT_TRUE(finish());
  EXPECT_EQ(events(), (Lines{"icon checking", "icon new-mail"}));
  EXPECT_EQ(account(work).new_count, 3);
}

// Only the alias changes during the check: the result stands, and the entry
// shows the new alias. A check of an account that is gone changes nothing
// and shows nothing.
TEST_F(CheckerThread, RenamedDuringTheCheckShowsTheNewAliasAndGoneShowsNothing) {
  account_ref key = 0;
  Peer peer;
  serve_pop3(peer, [&] { account_table.update(key, [](imap_info& a) { a.display = "Office"; }); });
  account_spec spec = pop3_account(0);
  spec.port = peer.Port();
  key = add(spec);
  checker_control control;
  EXPECT_EQ(check_account(key, control), 0);
  const Lines seen = events();
  ASSERT_GE(seen.size(), 3u);
  EXPECT_EQ(seen[2], "text Office (0)");
  remove(key);
  EXPECT_EQ(check_account(key, control), 0);
  EXPECT_TRUE(events().empty());
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
  account_spec spec = imap_account(4);
  spec.port = peer.Port();
  spec.next_check = 1;
  const account_ref work = add(spec);
  start();
  post(CHECK_ACCOUNT, work);
  while (!waiting) std::this_thread::yield();
  control_->request_stop();
  // The server would keep the check waiting for 60 s; the abort ends it.
  EXPECT_TRUE(finish());
  EXPECT_EQ(events(), Lines{"icon checking"});
  EXPECT_EQ(account(work).new_count, 4);
  EXPECT_EQ(account(work).next_check, 1);
}

// TLS checks follow one another on the checker thread with the TLS library
// loaded and one context made (the stand-in library counts them; it cannot
// connect, so each check fails); when the thread ends, both go.
TEST_F(CheckerThread, KeepsTheTlsLibraryFromOneCheckToTheNext) {
  set_account_check(nullptr);
  const std::string fake =
      test_support::build_dir() +
      (platform::dynlib::kWindowsNames ? "fake_openssl.dll" : "fake_openssl.so");
  const platform::dynlib::Library counters = platform::dynlib::Open(fake);
  ASSERT_NE(counters, nullptr);
  auto count = [&](const char* name) {
    return reinterpret_cast<int (*)()>(platform::dynlib::Symbol(counters, name))();
  };
  TlsSession::SetLibraryNamesForTesting({fake}, {fake});
  account_spec spec = pop3_account(0);
  spec.ssl = 1;
  spec.port = Peer::ClosedPort();
  const account_ref key = add(spec);
  const int made = count("fake_contexts_made");
  start();
  post(CHECK_ACCOUNT, key);
  post(CHECK_ACCOUNT, key);
  EXPECT_TRUE(finish());
  TlsSession::SetLibraryNamesForTesting({}, {});
  EXPECT_EQ(count("fake_contexts_made") - made, 1);
  EXPECT_EQ(count("fake_contexts_live"), 0);
  platform::dynlib::Close(counters);
}

// "start" and "stop" with the recording check: what they ask of the host,
// and the cases where "stop" must do nothing.
class StartStop : public CheckerThread {
 protected:
  void SetUp() override {
    CheckerThread::SetUp();
    calls();
  }

  // The host functions called since the previous call, with the page's name
  // and record size, and the entry's name or "group".
  Lines calls() {
    Lines out;
    for (const std::string& line : log_lines_since(&calls_from_)) {
      if (line.rfind("host ", 0) != 0) continue;
      std::string call = line.substr(5, line.find(' ', 5) - 5);
      if (call == "prefsInitialize") {
        const size_t size = line.find(" size=") + 6;
        call += " " + plugin_test::log_field(line, "page") + " " +
                line.substr(size, line.find(' ', size) - size);
      } else if (call == "listAddEntry" || call == "listRemoveEntry") {
        call += line.find(" is_entry=0 ") != std::string::npos
                    ? " group"
                    : " " + plugin_test::log_field(line, "name");
      }
      out.push_back(call);
    }
    return out;
  }

  size_t calls_from_ = 0;
};

// The group comes only with the option on and accounts to show, the entries
// only with the group; "start" starts the checker and asks for a check of
// every account either way, and "stop" ends it, takes down what "start"
// built and saves mail.ini.
TEST_F(StartStop, GroupAndEntriesFollowTheOptionAndTheTable) {
  const std::string page = "prefsInitialize E-Mail " + std::to_string(sizeof(prefs_page_record));
  const struct {
    uint8_t use_section;
    Lines accounts, on_start, on_stop;
  } cases[] = {
      {1,
       {"Work", "Home"},
       {page, "listAddEntry group", "listAddEntry Work", "listAddEntry Home"},
       {"listRemoveEntry Work", "listRemoveEntry Home", "listGetSectionCount",
        "listRemoveEntry group"}},
      {0, {"Work", "Home"}, {page}, {}},
      {1, {}, {page}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "use_section " << int{c.use_section} << ", "
                                    << c.accounts.size() << " accounts");
    account_table.reload({}, 0);
    platform::default_env()->delete_file(config_path());
    use_section = c.use_section;
    if (!c.accounts.empty()) {
      for (const std::string& display : c.accounts) {
        account_spec spec;
        spec.display = display;
        plugin_test::add_account(spec);
      }
      ASSERT_TRUE(save_config());
      account_table.reload({}, 0);
    }
    calls();

    run("start");
    EXPECT_EQ(calls(), c.on_start);
    EXPECT_NE(checker_thread_id, 0u);
    for (const std::string& display : c.accounts) wait_for("note check " + display);
    EXPECT_EQ(test_support::file_exists(config_path()), !c.accounts.empty());
    calls();
    run("stop");
    EXPECT_EQ(calls(), c.on_stop);
    EXPECT_EQ(mail_group_id, -1);
    EXPECT_EQ(checker_thread_id, 0u);
    EXPECT_EQ(checker_thread_handle, nullptr);
    EXPECT_TRUE(test_support::file_exists(config_path()));
  }
}

// "stop" does nothing before "start", nor after "unload" until the host
// comes back.
TEST_F(StartStop, StopWithoutStartOrAfterUnloadDoesNothing) {
  test_support::write_file(config_path(), "[Mail]\nuse_alert=1\n");
  run("stop");
  EXPECT_EQ(test_support::read_file(config_path()), "[Mail]\nuse_alert=1\n");
  EXPECT_TRUE(calls().empty());
  run("start\nunload");
  calls();
  run("stop");
  EXPECT_TRUE(calls().empty());
  EXPECT_NE(checker_thread_id, 0u) << "the checker still runs";
  run("load\nstop");
  EXPECT_EQ(checker_thread_id, 0u);
}

}  // namespace
