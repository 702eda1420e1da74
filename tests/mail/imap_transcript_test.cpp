// TIMAPSend against scripted servers: each case gives the server's lines and
// the exact commands the client must send, and what the client reports.
#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "imapsend.h"
#include "scripted_server.h"

namespace {

using Dialogue = std::vector<std::string>;

// Greeting, CAPABILITY and LOGIN for bob/secret, then `rest` (tags from S3).
Dialogue LoggedIn(Dialogue rest) {
  Dialogue d = {"S: * OK IMAP ready",
                "C: S1 CAPABILITY",
                "S: * CAPABILITY IMAP4rev1 LITERAL+ AUTH=PLAIN",
                "S: S1 OK done",
                "C: S2 LOGIN \"bob\" \"secret\"",
                "S: S2 OK logged in"};
  d.insert(d.end(), rest.begin(), rest.end());
  return d;
}

using Case = TranscriptCase<TIMAPSend>;

std::string Login(TIMAPSend& c) {
  bool ok = c.Login();
  return "login=" + std::to_string(ok) + " preauth=" + std::to_string(c.AuthDone) +
         " caps=" + Lines(c.Capabilities);
}

std::string Examine(TIMAPSend& c) {
  c.Login();
  bool ok = c.ExamineMailbox("INBOX");
  return std::to_string(ok) + " " + std::to_string(c.SelectedCount) + "/" +
         std::to_string(c.SelectedRecent);
}

std::string Status(TIMAPSend& c, const std::string& mailbox, const std::string& item) {
  c.Login();
  return std::to_string(c.StatusValue(mailbox, item));
}

std::string Fetch(TIMAPSend& c) {
  c.Login();
  std::vector<std::string> lines = {"stale"};
  bool ok = c.FetchHeader(3, lines);
  return std::to_string(ok) + " " + Lines(lines);
}

const Case kCases[] = {
    {"WholeCheck",
     LoggedIn({"C: S3 EXAMINE \"INBOX\"", "S: * FLAGS (\\Seen)", "S: * 12 EXISTS", "S: * 1 RECENT",
               "S: * OK [UIDVALIDITY 3] UIDs valid", "S: S3 OK [READ-ONLY] done",
               "C: S4 STATUS \"INBOX\" (UNSEEN)", "S: * STATUS INBOX (UNSEEN 2)", "S: S4 OK",
               "C: S5 STATUS \"INBOX\" (MESSAGES)", "S: * STATUS INBOX (MESSAGES 12)", "S: S5 OK",
               "C: S6 FETCH 12 (RFC822.HEADER)",
               "R: * 12 FETCH (RFC822.HEADER {32}\r\nFrom: a@b\r\nSubject: hi there\r\n\r\n)\r\n",
               "S: S6 OK", "C: S7 LOGOUT", "S: * BYE", "S: S7 OK"}),
     [](TIMAPSend& c) {
       std::string r = std::to_string(c.Login());
       r += std::to_string(c.ExamineMailbox("INBOX"));
       r += " " + std::to_string(c.SelectedCount) + "/" + std::to_string(c.SelectedRecent);
       r += " " + std::to_string(c.StatusValue("INBOX", "unseen"));
       r += " " + std::to_string(c.StatusValue("INBOX", "MESSAGES"));
       std::vector<std::string> lines;
       const bool fetched = c.FetchHeader(12, lines);
       r += " " + std::to_string(fetched) + Lines(lines);
       c.Logout();
       return r + " folder=" + c.SelectedFolder;
     },
     "11 12/1 2 12 1[From: a@b][Subject: hi there][] folder="},
    {"PreauthStillLogsIn",
     {"S: * PREAUTH welcome", "C: S1 CAPABILITY", "S: * CAPABILITY IMAP4rev1", "S: S1 OK",
      "C: S2 LOGIN \"bob\" \"secret\"", "S: S2 NO already authenticated"},
     Login,
     "login=0 preauth=1 caps=[IMAP4rev1]"},
    {"CapabilityRefusedStillSendsLogin",
     {"S: * OK", "C: S1 CAPABILITY", "S: S1 BAD what", "C: S2 LOGIN \"bob\" \"secret\"",
      "S: S2 OK"},
     Login,
     "login=1 preauth=0 caps="},
    {"LowerCaseCapabilityLineIsNotRecognised",
     {"S: * OK", "C: S1 CAPABILITY", "S: * capability IMAP4rev1", "S: S1 OK"},
     Login,
     "login=0 preauth=0 caps="},
    {"WithoutImap4rev1NoLogin",
     {"S: * OK", "C: S1 CAPABILITY", "S: * CAPABILITY IMAP2 AUTH=PLAIN", "S: S1 OK"},
     Login,
     "login=0 preauth=0 caps=[IMAP2][AUTH=PLAIN]"},
    {"UpperCaseImap4rev1Counts",
     {"S: * OK", "C: S1 CAPABILITY", "S: * CAPABILITY  IMAP4REV1 ", "S: S1 OK",
      "C: S2 LOGIN \"bob\" \"secret\"", "S: S2 OK"},
     Login,
     "login=1 preauth=0 caps=[IMAP4REV1]"},
    {"BadGreeting", {"S: * BYE go away"}, Login, "login=0 preauth=0 caps="},
    {"LowerCaseTaggedStatus",
     LoggedIn({"C: S3 EXAMINE \"INBOX\"", "S: * 4 EXISTS", "S: S3 ok fine"}), Examine, "1 4/0"},
    {"RepeatedExistsLastWins",
     LoggedIn({"C: S3 EXAMINE \"INBOX\"", "S: * 7 EXISTS", "S: * 2 RECENT", "S: * 9 exists",
               "S: S3 OK"}),
     Examine, "1 9/2"},
    {"ExamineRefusedStillParses",
     LoggedIn({"C: S3 EXAMINE \"INBOX\"", "S: * 5 EXISTS", "S: S3 NO no such mailbox"}), Examine,
     "0 5/0"},
    {"ExamineGarbageCounts",
     LoggedIn({"C: S3 EXAMINE \"INBOX\"", "S: * -4 EXISTS", "S: * 99999999999 RECENT", "S: S3 OK"}),
     Examine, "1 0/0"},
    {"ExamineTimesOutWithoutTag", LoggedIn({"C: S3 EXAMINE \"INBOX\"", "S: * 5 EXISTS"}),
     [](TIMAPSend& c) {
       c.Login();
       c.Timeout = 300;
       bool ok = c.ExamineMailbox("INBOX");
       return std::to_string(ok) + " " + std::to_string(c.SelectedCount) +
              " items=" + std::to_string(c.ReplyLines.size());
     },
     "0 5 items=2"},
    {"StatusZero",
     LoggedIn({"C: S3 STATUS \"INBOX\" (UNSEEN)", "S: * STATUS INBOX (UNSEEN 0)", "S: S3 OK"}),
     [](TIMAPSend& c) { return Status(c, "INBOX", "UNSEEN"); }, "0"},
    {"StatusMailboxNameAnyCase",
     LoggedIn({"C: S3 STATUS \"INBOX\" (UNSEEN)", "S: * STATUS inbox (UNSEEN 4)", "S: S3 OK"}),
     [](TIMAPSend& c) { return Status(c, "INBOX", "UNSEEN"); }, "4"},
    {"StatusMailboxAsLiteral",
     LoggedIn({"C: S3 STATUS \"INBOX\" (MESSAGES)", "R: * STATUS {5}\r\nINBOX (MESSAGES 3)\r\n",
               "S: S3 OK"}),
     [](TIMAPSend& c) { return Status(c, "INBOX", "MESSAGES"); }, "3"},
    {"StatusQuotedNameWithSpace",
     LoggedIn(
         {"C: S3 STATUS \"My Box\" (MESSAGES)", "S: * STATUS \"My Box\" (MESSAGES 6)", "S: S3 OK"}),
     [](TIMAPSend& c) { return Status(c, "My Box", "MESSAGES"); }, "6"},
    {"StatusItemInsideMailboxName",
     LoggedIn({"C: S3 STATUS \"Unseen mail\" (UNSEEN)", "S: * STATUS \"Unseen mail\" (UNSEEN 5)",
               "S: S3 OK"}),
     [](TIMAPSend& c) { return Status(c, "Unseen mail", "UNSEEN"); }, "5"},
    {"StatusWithoutItsLine",
     LoggedIn({"C: S3 STATUS \"INBOX\" (UNSEEN)", "S: * STATUS Other (UNSEEN 4)", "S: S3 OK"}),
     [](TIMAPSend& c) { return Status(c, "INBOX", "UNSEEN"); }, "-1"},
    {"StatusRefused",
     LoggedIn({"C: S3 STATUS \"INBOX\" (UNSEEN)", "S: * STATUS INBOX (UNSEEN 4)", "S: S3 NO"}),
     [](TIMAPSend& c) { return Status(c, "INBOX", "UNSEEN"); }, "-1"},
    {"StatusGarbageNumber",
     LoggedIn({"C: S3 STATUS \"INBOX\" (UNSEEN)", "S: * STATUS INBOX (UNSEEN 4x)", "S: S3 OK"}),
     [](TIMAPSend& c) { return Status(c, "INBOX", "UNSEEN"); }, "-1"},
    {"FetchEmptyLiteral",
     LoggedIn(
         {"C: S3 FETCH 3 (RFC822.HEADER)", "S: * 3 FETCH (RFC822.HEADER {0}", "S: )", "S: S3 OK"}),
     Fetch, "1 "},
    {"FetchLineEndsOfAnyKind",
     LoggedIn({"C: S3 FETCH 3 (RFC822.HEADER)",
               "R: * 3 FETCH (RFC822.HEADER {11}\r\nA: 1\nB: 2\rC\r\n)\r\n", "S: S3 OK"}),
     Fetch, "1 [A: 1][B: 2][C]"},
    {"FetchRefused", LoggedIn({"C: S3 FETCH 3 (RFC822.HEADER)", "S: S3 NO"}), Fetch, "0 "},
    {"FetchBelowOneIsNotSent", LoggedIn({"C: S3 LOGOUT", "S: S3 OK"}),
     [](TIMAPSend& c) {
       c.Login();
       std::vector<std::string> lines = {"stale"};
       std::string r = std::to_string(c.FetchHeader(0, lines));
       r += std::to_string(c.FetchHeader(-1, lines)) + Lines(lines);
       c.Logout();
       return r;
     },
     "00"},
    {"QuotesAndBackslashesAreEscaped",
     {"S: * OK", "C: S1 CAPABILITY", "S: * CAPABILITY IMAP4rev1", "S: S1 OK",
      "C: S2 LOGIN \"b\\\"o\\\\b\" \"p\\\\a\\\"ss\"", "S: S2 OK", "C: S3 EXAMINE \"a\\\"b\"",
      "S: S3 OK"},
     [](TIMAPSend& c) {
       c.UserName = "b\"o\\b";
       c.Password = "p\\a\"ss";
       const bool login = c.Login();
       return std::to_string(login) + std::to_string(c.ExamineMailbox("a\"b"));
     },
     "11"},
    {"LineBreakInPasswordIsNotSent",
     {"S: * OK", "C: S1 CAPABILITY", "S: * CAPABILITY IMAP4rev1", "S: S1 OK"},
     [](TIMAPSend& c) {
       c.Password = "secret\r\nS9 DELETE INBOX";
       return Login(c);
     },
     "login=0 preauth=0 caps=[IMAP4rev1]"},
    {"LineBreakInMailboxIsNotSent", LoggedIn({"C: S3 LOGOUT", "S: S3 OK"}),
     [](TIMAPSend& c) {
       c.Login();
       std::string r = std::to_string(c.ExamineMailbox("INBOX\nS9 EXPUNGE"));
       r += std::to_string(c.StatusValue(std::string("IN\0BOX", 6), "UNSEEN"));
       c.Logout();
       return r;
     },
     "0-1"},
    {"HugeLiteralFailsAndCloses",
     LoggedIn({"C: S3 FETCH 3 (RFC822.HEADER)", "S: * 3 FETCH (RFC822.HEADER {4294967295}",
               "F: xxxxxxxx"}),
     [](TIMAPSend& c) {
       const std::string fetch = Fetch(c);
       return fetch + " status=" + std::to_string(c.StatusValue("INBOX", "UNSEEN"));
     },
     "0  status=-1"},
    {"LiteralPastBoundFails",
     LoggedIn({"C: S3 FETCH 3 (RFC822.HEADER)", "S: * 3 FETCH (RFC822.HEADER {2147483647}",
               "F: xxxxxxxx"}),
     Fetch, "0 "},
    {"PacedUntaggedLinesEndAtTheCommandBound",
     LoggedIn({"C: S3 EXAMINE \"INBOX\"", "T: * 1 EXISTS", "S: S3 OK"}),
     [](TIMAPSend& c) {
       c.Login();
       c.Timeout = 300;  // each line comes well within it, the whole reply does not
       const bool ok = c.ExamineMailbox("INBOX");
       return std::to_string(ok) + " " + std::to_string(c.Sock->LastError());
     },
     "0 10060"},
    {"EndlessUntaggedLinesFail", LoggedIn({"C: S3 EXAMINE \"INBOX\"", "F: * 1 EXISTS\r\n"}),
     Examine, "0 0/0"},
};

class ImapTranscript : public testing::TestWithParam<Case> {};

TEST_P(ImapTranscript, SendsExactlyAndReports) { RunTranscript(GetParam()); }

INSTANTIATE_TEST_SUITE_P(Cases, ImapTranscript, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<Case>& info) { return info.param.name; });

TEST(ImapClient, Defaults) {
  TIMAPSend client;
  EXPECT_EQ(client.Port, "143");
  EXPECT_EQ(client.Timeout, 60000);
  EXPECT_TRUE(client.Sock->LineEndAny);
  EXPECT_EQ(client.TagCounter, 0);
}

}  // namespace
