// check_account against scripted POP3 and IMAP servers on loopback: the
// commands it sends, and everything the user sees afterwards (icon, alert,
// sound, entry text, tooltip) with the account's new state.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "peer.h"
#include "platform/platform.h"
#include "plugin_fixture.h"
#include "scripted_server.h"

namespace {

using plugin_test::account;
using plugin_test::account_spec;
using Dialogue = std::vector<std::string>;

Dialogue join(Dialogue a, const Dialogue& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

const Dialogue kPop3Login = {"S: +OK ready", "C: CAPA",        "S: -ERR", "C: USER bob",
                             "S: +OK",       "C: PASS secret", "S: +OK"};
const Dialogue kPop3End = {"C: RSET", "S: +OK", "C: QUIT", "S: +OK bye"};
const Dialogue kImapLogin = {"S: * OK ready",
                             "C: S1 CAPABILITY",
                             "S: * CAPABILITY IMAP4rev1",
                             "S: S1 OK",
                             "C: S2 LOGIN \"bob\" \"secret\"",
                             "S: S2 OK"};

Dialogue pop3(const Dialogue& middle) { return join(join(kPop3Login, middle), kPop3End); }

Dialogue stat(int count) { return {"C: STAT", "S: +OK " + std::to_string(count) + " 4096"}; }

Dialogue top(int message, const Dialogue& header) {
  return join(join({"C: TOP " + std::to_string(message) + " 0", "S: +OK"}, header), {"S: ."});
}

// EXAMINE INBOX with the counts, then STATUS UNSEEN and MESSAGES.
Dialogue imap_counts(int exists, int recent, int unseen, int messages) {
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

Dialogue fetch(int tag, int message, const std::string& header) {
  const std::string n = std::to_string(message);
  return {"C: S" + std::to_string(tag) + " FETCH " + n + " (RFC822.HEADER)",
          "R: * " + n + " FETCH (RFC822.HEADER {" + std::to_string(header.size()) + "}\r\n" +
              header + ")\r\n",
          "S: S" + std::to_string(tag) + " OK"};
}

Dialogue logout(int tag) {
  const std::string t = "S" + std::to_string(tag);
  return {"C: " + t + " LOGOUT", "S: * BYE", "S: " + t + " OK"};
}

const std::string kLunch =
    "From: \"Ann Example\" <ann@example.com>\r\nSubject: RE: Re: Lunch\r\n\r\n";

// A check that fails ("icon failed") keeps the account's count; one that
// fails with -1 also disables the account. Otherwise the count is the result.
struct Case {
  const char* name;
  account_spec account;
  Dialogue dialogue;  // empty: nothing listens on the account's port
  int32_t result;
  // Expected events; {now} and {next} stand for the formatted check time and
  // the time one interval later.
  std::vector<std::string> seen;
  // Changes to the options and the environment before the check.
  std::function<void(plugin_test::fake_env&)> options = nullptr;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

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

const char kTimes[] = "Last checked: {now}\r\nNext check: {next}";
const char kLunchSeen[] = "Ann Example <ann@example.com>\r\nRe: \"Lunch\"";

// A tooltip: the counts, the check times and the newest message when one is
// named.
std::string tip(const std::string& counts, const std::string& last = "") {
  return "tooltip " + counts + "\r\n" + kTimes +
         (last.empty() ? "" : "\r\n\r\nLast message from:\r\n" + last);
}

const char kFailedTip[] =
    "tooltip This account has had some problems connecting.\r\nPlease check your settings.\r\n";
const std::string kDisabledTip = std::string(kFailedTip) +
                                 "\r\nTo re-enable this account, right-click on it\r\nand "
                                 "click on \"Check email now\"";
const char kLoginFailed[] = "alert Home: Cannot login to server. Check your settings.";

const Case kCases[] = {
    {"Pop3UpByOneNamesSenderAndSubject",
     pop3_account(0),
     pop3(join(stat(1), top(1, {"S: From: \"Ann Example\" <ann@example.com>",
                                "S: Subject: RE: Re: Lunch", "S: "}))),
     1,
     {"icon checking", "sound resource 1", "alert Home: Ann Example <ann@example.com> - \"Lunch\"",
      "icon new-mail", "text Home (1)",
      tip("New messages: 1", kLunchSeen)}},
    {"Pop3LongSubjectIsCutToWhatATooltipShows",
     pop3_account(0),
     pop3(join(stat(1), top(1, {"S: From: Ann <ann@example.com>",
                                "S: Subject: L" + std::string(299, 'o'), "S: "}))),
     1,
     {"icon checking", "sound resource 1",
      "alert Home: Ann <ann@example.com> - \"L" + std::string(255, 'o') + "\"", "icon new-mail",
      "text Home (1)",
      tip("New messages: 1", "Ann <ann@example.com>\r\nRe: \"L" + std::string(255, 'o') + "\"")}},
    {"Pop3TopRefusedThenRetrEncodedSender",
     pop3_account(3),
     pop3(join(join(stat(4), {"C: TOP 4 0", "S: -ERR no TOP", "C: RETR 4", "S: +OK"}),
               {"S: From: =?ISO-8859-1?Q?J=F6rg?= <j@example.com>", "S: Subject: Score: 3",
                "S: ", "S: body", "S: ."})),
     4,
     {"icon checking", "sound resource 1", "alert Home: J\xF6rg <j@example.com> - \"Sco 3\"",
      "icon new-mail", "text Home (4)",
      tip("New messages: 4", "J\xF6rg <j@example.com>\r\nRe: \"Sco 3\"")}},
    {"Pop3ControlCharactersOfSenderAndSubjectBecomeBlanks",
     pop3_account(0),
     pop3(join(stat(1),
               top(1, {"S: From: =?us-ascii?Q?Mallory=0D=0ANew_messages:_999=0D=0A?= <m@x.test>",
                       "S: Subject: Hi =?UTF-8?B?!!!!?=there", "S: "}))),
     1,
     {"icon checking", "sound resource 1",
      "alert Home: Mallory  New messages: 999   <m@x.test> - \"Hi  there\"", "icon new-mail",
      "text Home (1)",
      tip("New messages: 1", "Mallory  New messages: 999   <m@x.test>\r\nRe: \"Hi  "
          "there\"")}},
    {"Pop3LongSenderAndSubjectAreCut",
     pop3_account(0),
     pop3(join(stat(1), top(1, {"S: From: " + std::string(300, 'a') + " <a@x.test>",
                                "S: Subject: " + std::string(300, 'b'), "S: "}))),
     1,
     {"icon checking", "sound resource 1",
      "alert Home: " + std::string(256, 'a') + " - \"" + std::string(256, 'b') + "\"",
      "icon new-mail", "text Home (1)",
      tip("New messages: 1",
          std::string(256, 'a') + "\r\nRe: \"" + std::string(256, 'b') + "\"")}},
    {"Pop3UpByOneWithoutSubject",
     pop3_account(0),
     pop3(join(stat(1), top(1, {"S: From: ann@example.com", "S: "}))),
     1,
     {"icon checking", "sound resource 1", "alert Home: New mail from ann@example.com",
      "icon new-mail", "text Home (1)",
      tip("New messages: 1", "ann@example.com\r\nRe: ")}},
    {"Pop3StatFailsKeepsCount",
     pop3_account(2),
     pop3({"C: STAT", "S: -ERR busy", "C: TOP 2 0", "S: -ERR", "C: RETR 2", "S: -ERR"}),
     2,
     {"icon checking", "icon new-mail", "text Home (2)",
      tip("New messages: 2")}},
    {"Pop3ToZero",
     pop3_account(2),
     pop3(stat(0)),
     0,
     {"icon checking", "icon no-mail", "text Home (0)", std::string("tooltip ") + kTimes}},
    {"Pop3SoundFileWins",
     pop3_account(0),
     pop3(join(stat(2), top(2, {"S: From: a@b", "S: "}))),
     2,
     {"icon checking", "sound file mailnotify.wav",
      "alert Home: You have 2 new messages in your inbox.", "icon new-mail", "text Home (2)",
      tip("New messages: 2")},
     [](plugin_test::fake_env& env) { env.sound_file_exists = true; }},
    {"ImapUnseenUpByOneFetchesNewest",
     imap_account(2),
     join(join(join(kImapLogin, imap_counts(10, 1, 3, 10)), fetch(6, 10, kLunch)), logout(7)),
     3,
     {"icon checking", "sound resource 1", "alert Work: Ann Example <ann@example.com> - \"Lunch\"",
      "icon new-mail", "text Work (3/10)",
      tip("New messages: 3\r\nRecent messages: 1\r\nTotal messages: 10", kLunchSeen)}},
    {"ImapUpByTwoFetchesButDoesNotDecode",
     imap_account(1),
     join(join(join(kImapLogin, imap_counts(10, 1, 3, 10)), fetch(6, 10, kLunch)), logout(7)),
     3,
     {"icon checking", "sound resource 1", "alert Work: You have 3 new messages in your inbox.",
      "icon new-mail", "text Work (3/10)",
      tip("New messages: 3\r\nRecent messages: 1\r\nTotal messages: 10")}},
    {"ImapUnchangedRefreshesWithoutAlert",
     imap_account(3),
     join(join(join(kImapLogin, imap_counts(10, 0, 3, 10)), fetch(6, 10, kLunch)), logout(7)),
     3,
     {"icon checking", "icon new-mail", "text Work (3/10)",
      tip("New messages: 3\r\nRecent messages: 0\r\nTotal messages: 10")}},
    {"ImapDownByOneSingular",
     imap_account(2),
     join(join(kImapLogin, imap_counts(9, 0, 1, 9)), logout(6)),
     1,
     {"icon checking", "sound resource 1", "alert Work: You have 1 new message in your inbox.",
      "icon new-mail", "text Work (1/9)",
      tip("New messages: 1\r\nRecent messages: 0\r\nTotal messages: 9")},
     [](plugin_test::fake_env&) { use_header = 0; }},
    {"ImapRecentModeWithoutStatus",
     imap_account(0, 0),
     join(join(kImapLogin,
               {"C: S3 EXAMINE \"INBOX\"", "S: * 7 EXISTS", "S: * 0 RECENT", "S: S3 OK"}),
          logout(4)),
     0,
     {"icon checking", "icon no-mail", "text Work (0/7)",
      tip("Recent messages: 0\r\nTotal messages: 7")}},
    {"ImapExamineRefusedCountsNothing",
     imap_account(0, 0),
     join(join(kImapLogin, {"C: S3 EXAMINE \"INBOX\"", "S: S3 NO no such mailbox"}), logout(4)),
     0,
     {"icon checking", "icon no-mail", "text Work (0/0)",
      tip("Recent messages: 0\r\nTotal messages: 0")}},
    {"ImapStatusWithoutItsLineFallsBackToRecent",
     imap_account(0),
     join(join(kImapLogin, {"C: S3 EXAMINE \"INBOX\"", "S: * 5 EXISTS", "S: * 2 RECENT", "S: S3 OK",
                            "C: S4 STATUS \"INBOX\" (UNSEEN)", "S: S4 OK",
                            "C: S5 STATUS \"INBOX\" (MESSAGES)", "S: S5 OK"}),
          logout(6)),
     2,
     {"icon checking", "alert Work: -1 new messages. Reading RECENT instead.", "sound resource 1",
      "icon new-mail", "text Work (2/5)",
      tip("New messages: 2\r\nRecent messages: 2\r\nTotal messages: 5")},
     [](plugin_test::fake_env&) {
       use_alert = 0;
       use_header = 0;
     }},
    {"ImapMessagesRefusedTakesExistsAsTotal",
     imap_account(0),
     join(join(join(kImapLogin,
                    {"C: S3 EXAMINE \"INBOX\"", "S: * 10 EXISTS", "S: * 0 RECENT", "S: S3 OK",
                     "C: S4 STATUS \"INBOX\" (UNSEEN)", "S: * STATUS \"INBOX\" (UNSEEN 1)",
                     "S: S4 OK", "C: S5 STATUS \"INBOX\" (MESSAGES)", "S: S5 NO"}),
               fetch(6, 10, kLunch)),
          logout(7)),
     1,
     {"icon checking", "sound resource 1", "alert Work: Ann Example <ann@example.com> - \"Lunch\"",
      "icon new-mail", "text Work (1/10)",
      tip("New messages: 1\r\nRecent messages: 0\r\nTotal messages: 10", kLunchSeen)}},
    {"LoginFailsAndDisables",
     pop3_account(2),
     {"S: +OK ready", "C: CAPA", "S: -ERR", "C: USER bob", "S: +OK", "C: PASS secret",
      "S: -ERR denied"},
     -1,
     {"icon checking", "icon failed", kLoginFailed, kDisabledTip, "text Home"}},
    {"LoginFailsAndKeeps",
     imap_account(2),
     {"S: * OK ready", "C: S1 CAPABILITY", "S: * CAPABILITY IMAP4rev1", "S: S1 OK",
      "C: S2 LOGIN \"bob\" \"secret\"", "S: S2 NO wrong"},
     0,
     {"icon failed", "alert Work: Cannot login to server. Check your settings.",
      std::string(kFailedTip) + kTimes},
     [](plugin_test::fake_env&) {
       use_disable = 0;
       use_icon = 0;
     }},
    {"UnknownAccountTypeOpensNoSessionAndFails",
     [] {
       account_spec a = pop3_account(0);
       a.accttype = 7;
       return a;
     }(),
     {},
     -1,
     {"icon checking", "icon failed", kLoginFailed, kDisabledTip, "text Home"}},
    {"NothingListensIsALoginFailure",
     pop3_account(0),
     {},
     -1,
     {"icon checking", "icon failed",
      kDisabledTip, "text Home"},
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
  std::vector<std::string> expected;
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

class CheckAccountEdges : public plugin_test::PluginTest {};

TEST_F(CheckAccountEdges, RemovedAccountChangesNothing) {
  const account_ref key = add(pop3_account(0));
  remove_account_entry(key);
  account_table.erase(account_table.index_of(key));
  checker_control control;
  EXPECT_EQ(check_account(key, control), 0);
  EXPECT_TRUE(events().empty());
}

}  // namespace
