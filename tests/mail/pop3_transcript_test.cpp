// TPOP3Send against scripted servers: each case gives the server's lines and
// the exact commands the client must send, and what the client reports.
#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "pop3send.h"
#include "scripted_server.h"

namespace {

using Dialogue = std::vector<std::string>;

// MD5("<4711.1234567890.pop>secret"), checked independently.
const std::string kApopDigest = "441c902a28fa29816fde1f19bd01f8f0";
const std::string kApopGreeting = "S: +OK POP3 ready <4711.1234567890.pop>";

// A greeting without timestamp, CAPA and a USER/PASS login for bob/secret.
Dialogue LoggedIn(Dialogue rest) {
  Dialogue d = {"S: +OK ready", "C: CAPA", "S: +OK",         "S: TOP", "S: .",
                "C: USER bob",  "S: +OK",  "C: PASS secret", "S: +OK"};
  d.insert(d.end(), rest.begin(), rest.end());
  return d;
}

using Case = TranscriptCase<TPOP3Send>;

std::string Login(TPOP3Send& c) {
  const bool ok = c.Login();
  return "login=" + std::to_string(ok) + " stamp=" + c.ApopTimestamp;
}

std::string LoginStat(TPOP3Send& c) {
  bool login = c.Login();
  bool stat = c.Stat();
  return std::to_string(login) + std::to_string(stat) + " " + std::to_string(c.MessageCount) + "/" +
         std::to_string(c.MailboxSize);
}

// The account check's order: STAT, TOP n 0 (RETR n when refused), RSET, QUIT.
std::string Check(TPOP3Send& c) {
  std::string r = std::to_string(c.Login());
  r += std::to_string(c.Stat());
  const bool top = c.Top(c.MessageCount, 0);
  r += std::to_string(top);
  if (!top) r += std::to_string(c.Retrieve(c.MessageCount));
  r += " " + Lines(c.ReplyLines);
  const bool reset = c.Reset();
  r += std::to_string(reset);
  c.Logout();
  return r;
}

const Case kCases[] = {
    {"ApopWhenGreetingHasTimestamp",
     {kApopGreeting, "C: CAPA", "S: +OK", "S: SASL PLAIN", "S: .", "C: APOP bob " + kApopDigest,
      "S: +OK maildrop locked"},
     [](TPOP3Send& c) {
       const std::string login = Login(c);
       return login + " caps=" + Lines(c.Capabilities);
     },
     "login=1 stamp=<4711.1234567890.pop> caps=[SASL PLAIN]"},
    {"ApopRefusedThenUserPassOnSecondConnection",
     {kApopGreeting, "C: CAPA", "S: -ERR no CAPA", "C: APOP bob " + kApopDigest,
      "S: -ERR authentication failed", "N:", "S: +OK again <other@stamp>", "C: USER bob", "S: +OK",
      "C: PASS secret", "S: +OK"},
     Login,
     "login=1 stamp=<4711.1234567890.pop>"},
    {"ApopRefusedAndBadSecondGreeting",
     {kApopGreeting, "C: CAPA", "S: +OK", "S: .", "C: APOP bob " + kApopDigest, "S: -ERR no",
      "N:", "S: -ERR too busy"},
     Login,
     "login=0 stamp=<4711.1234567890.pop>"},
    {"ApopRefusedAndNoSecondConnection",
     {kApopGreeting, "C: CAPA", "S: +OK", "S: .", "C: APOP bob " + kApopDigest, "S: -ERR no"},
     [](TPOP3Send& c) {
       // The listener takes no second connection, so the second greeting
       // never comes.
       c.Timeout = 300;
       return Login(c);
     },
     "login=0 stamp=<4711.1234567890.pop>"},
    {"UserPassWithoutTimestampAndCapaRefused",
     {"S: +OK POP3 server ready", "C: CAPA", "S: -ERR unknown command", "C: USER bob", "S: +OK",
      "C: PASS secret", "S: +OK"},
     Login,
     "login=1 stamp="},
    {"OpeningBracketWithoutClosingGivesNoTimestamp",
     {"S: +OK ready <4711.1234567890.pop", "C: CAPA", "S: -ERR", "C: USER bob", "S: +OK",
      "C: PASS secret", "S: -ERR wrong password"},
     Login,
     "login=0 stamp="},
    {"LowerCaseOkIsAFailure", {"S: +ok ready"}, Login, "login=0 stamp="},
    {"UserRefusedSendsNoPass",
     {"S: +OK", "C: CAPA", "S: -ERR", "C: USER bob", "S: -ERR no such user"},
     Login,
     "login=0 stamp="},
    {"StatCountAndSize", LoggedIn({"C: STAT", "S: +OK 3 4521"}), LoginStat, "11 3/4521"},
    {"StatSingleNumberServesAsBoth", LoggedIn({"C: STAT", "S: +OK 3"}), LoginStat, "11 3/3"},
    {"StatWithoutNumbers", LoggedIn({"C: STAT", "S: +OK"}), LoginStat, "11 0/0"},
    {"StatFurtherWordSpoilsSize", LoggedIn({"C: STAT", "S: +OK 3 4521 octets"}), LoginStat,
     "11 3/0"},
    {"StatGarbageNumbers", LoggedIn({"C: STAT", "S: +OK -3 0x10"}), LoginStat, "11 0/0"},
    {"StatNumbersPast32Bits", LoggedIn({"C: STAT", "S: +OK 4294967299 99999999999999999999"}),
     LoginStat, "11 0/0"},
    {"StatRefused", LoggedIn({"C: STAT", "S: -ERR"}), LoginStat, "10 0/0"},
    {"TopUnstuffsDots",
     LoggedIn({"C: STAT", "S: +OK 2 100", "C: TOP 2 0", "S: +OK", "S: Subject: hi", "S: ..",
               "S: .x", "S: ", "S: .", "C: RSET", "S: +OK", "C: QUIT", "S: +OK bye"}),
     Check, "111 [Subject: hi][.][x][]1"},
    {"TopRefusedThenRetr",
     LoggedIn({"C: STAT", "S: +OK 7 100", "C: TOP 7 0", "S: -ERR no TOP", "C: RETR 7", "S: +OK",
               "S: From: a@b", "S: ", "S: body", "S: .", "C: RSET", "S: +OK", "C: QUIT", "S: +OK"}),
     Check, "1101 [From: a@b][][body]1"},
    {"LineFeedAndCarriageReturnLineEnds",
     LoggedIn({"C: STAT", "R: +OK 2 9\n", "C: TOP 2 0", "R: +OK\nA: 1\n..\n.\n", "C: RSET",
               "R: +OK\r", "C: QUIT", "R: +OK\r"}),
     Check, "111 [A: 1][.]1"},
    {"CarriageReturnOnlyReply",
     LoggedIn({"C: STAT", "R: +OK 1 9\r", "C: TOP 1 0", "R: +OK\rA: 1\r\rB: 2\r.\r", "C: RSET",
               "R: +OK\r", "C: QUIT", "R: +OK\r"}),
     Check, "111 [A: 1][][B: 2]1"},
    {"ReplyEndingEarlyKeepsWhatCame",
     LoggedIn({"C: STAT", "S: +OK 1 9", "C: TOP 1 0", "R: +OK\r\nA: 1\r\n"}),
     [](TPOP3Send& c) {
       c.Login();
       c.Stat();
       c.Timeout = 300;
       const bool top = c.Top(1, 0);
       return std::to_string(top) + Lines(c.ReplyLines);
     },
     "1[A: 1][]"},
    {"PacedReplyEndsAtTheCommandBound",
     LoggedIn({"C: STAT", "S: +OK 1 9", "C: TOP 1 0", "S: +OK", "T: X-Pad: 1", "S: ."}),
     [](TPOP3Send& c) {
       c.Login();
       c.Stat();
       c.Timeout = 300;  // each line comes well within it, the whole reply does not
       const bool top = c.Top(1, 0);
       return std::to_string(top) + " " + std::to_string(c.Sock->LastError());
     },
     "1 10060"},
    {"RetrieveHeaderKeepsTheHeaderWithinItsBound",
     LoggedIn({"C: RETR 1", "S: +OK", "G: 20000 X-Pad: " + std::string(90, 'p'), "S: ", "S: body",
               "S: .", "C: RSET", "S: +OK"}),
     [](TPOP3Send& c) {
       c.Login();
       const bool header = c.RetrieveHeader(1);
       const size_t kept = c.ReplyLines.size();
       const bool reset = c.Reset();
       return std::to_string(header) + " bounded=" + std::to_string(kept > 0 && kept < 20000) +
              " reset=" + std::to_string(reset);
     },
     "1 bounded=1 reset=1"},
    {"PasswordWithLineBreakIsNotSent",
     {"S: +OK", "C: CAPA", "S: -ERR", "C: USER bob", "S: +OK"},
     [](TPOP3Send& c) {
       c.Password = "secret\r\nDELE 1";
       return Login(c);
     },
     "login=0 stamp="},
    {"PasswordWithLineBreakStillWorksForApop",
     {"S: +OK <x@y>", "C: CAPA", "S: -ERR", "C: APOP bob 7ef09516d9bee8effc6dbbc8f30e2b1f",
      "S: +OK"},
     [](TPOP3Send& c) {
       c.Password = "a\r\nb";
       return Login(c);
     },
     "login=1 stamp=<x@y>"},
    {"EndlessReplyFailsBounded",
     LoggedIn({"C: STAT", "S: +OK 1 9", "C: TOP 1 0", "S: +OK", "F: \r\n"}),
     [](TPOP3Send& c) {
       c.Login();
       c.Stat();
       const bool top = c.Top(1, 0);
       const size_t lines = c.ReplyLines.size();
       // The connection is gone, so the next step fails at once.
       const bool reset = c.Reset();
       return std::to_string(top) + " lines=" + std::to_string(lines) +
              " reset=" + std::to_string(reset);
     },
     "0 lines=0 reset=0"},
};

class Pop3Transcript : public testing::TestWithParam<Case> {};

TEST_P(Pop3Transcript, SendsExactlyAndReports) { RunTranscript(GetParam()); }

INSTANTIATE_TEST_SUITE_P(Cases, Pop3Transcript, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<Case>& info) { return info.param.name; });

TEST(Pop3Client, Defaults) {
  TPOP3Send client;
  EXPECT_EQ(client.Port, "pop3");
  EXPECT_EQ(client.Timeout, 60000);
  EXPECT_TRUE(client.Sock->LineEndAny);
  EXPECT_EQ(client.AuthMode, TPOP3Send::TPOP3AuthType::Any);
}

TEST(Pop3Client, UserNameWithLineBreakNeverConnects) {
  Peer peer;
  TPOP3Send client;
  client.Port = peer.Port();
  client.UserName = "bob\nDELE 1";
  EXPECT_FALSE(client.Login());
  EXPECT_EQ(client.Sock->GetRemoteSinPort(), 0);
  client.UserName = std::string("bob\0", 4);
  EXPECT_FALSE(client.Login());
  EXPECT_EQ(client.Sock->GetRemoteSinPort(), 0);
}

}  // namespace
