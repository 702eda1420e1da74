// The clients against a real Dovecot on loopback, started for the test run
// by tools/dovecot.sh (see CMakeLists.txt): logins of every kind, counts,
// the newest header, and mailboxes left exactly as they were.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "dovecot_server.h"
#include "imapsend.h"
#include "mimemess.h"
#include "pop3send.h"

namespace {

using test_support::dovecot;
using test_support::tls_available;

#define REQUIRE_SERVER(tls)                                                        \
  do {                                                                             \
    EMAIL_REQUIRE(dovecot().missing.empty(), dovecot().missing);                   \
    EMAIL_REQUIRE(!(tls) || tls_available(), "no TLS library can be loaded here"); \
  } while (0)

// Adds a message to the user's INBOX (or folder) the way a delivery agent
// does: written in tmp/, then renamed into new/ or, with flags, cur/.
void Deliver(const std::string& user, const std::string& subject, const std::string& flags = "",
             const std::string& folder = "") {
  static int serial = 0;
  const std::string root = dovecot().maildir(user) + (folder.empty() ? "" : "/." + folder);
  const std::string name = std::to_string(std::time(nullptr)) + ".M" + std::to_string(++serial) +
                           "P" + std::to_string(std::rand()) + ".proto-test";
  const std::string tmp = root + "/tmp/" + name;
  {
    std::ofstream out(tmp, std::ios::binary);
    out << "From: Test Sender <test@example.test>\r\nSubject: " << subject << "\r\nMessage-ID: <"
        << name << "@example.test>\r\n\r\nBody.\r\n";
  }
  const std::string target =
      flags.empty() ? root + "/new/" + name : root + "/cur/" + name + ":2," + flags;
  ASSERT_EQ(std::rename(tmp.c_str(), target.c_str()), 0) << tmp;
}

// Points either client at the server (plain or TLS port) as `user`.
template <class Client>
void PointAt(Client& c, const std::string& protocol, const std::string& user,
             const std::string& password, bool tls) {
  c.Port = dovecot().state.at(tls ? protocol + "s" : protocol);
  c.ImplicitTls = tls;
  c.UserName = user;
  c.Password = password;
  c.Timeout = 20000;
}

std::string SubjectOf(const std::vector<std::string>& header) {
  TMessHeader parsed;
  parsed.ParseHeaderLines(header);
  return parsed.Subject;
}

// Reads the flags of every message of a mailbox, read-only, through the
// client's own command path.
class FlagProbe : public TIMAPSend {
 public:
  // Message number -> flags without \Recent (a session flag, not stored).
  std::map<int, std::string> Flags(const std::string& mailbox) {
    std::map<int, std::string> flags;
    if (!ExamineMailbox(mailbox) || SelectedCount == 0) return flags;
    EXPECT_EQ(SendCommand("FETCH 1:* (FLAGS)"), "OK");
    for (const std::string& line : ReplyLines) {
      const size_t open = line.find("FLAGS (");
      if (line.compare(0, 2, "* ") != 0 || open == std::string::npos) continue;
      std::string list = line.substr(open + 7, line.find(')', open) - open - 7);
      const size_t recent = list.find("\\Recent");
      if (recent != std::string::npos) list.erase(recent, 7);
      list.erase(std::remove(list.begin(), list.end(), ' '), list.end());
      flags[std::atoi(line.c_str() + 2)] = list;
    }
    return flags;
  }
};

class Pop3Dovecot : public testing::TestWithParam<bool> {};

TEST_P(Pop3Dovecot, ApopLoginAndNewestHeaderByTop) {
  const bool tls = GetParam();
  REQUIRE_SERVER(tls);
  TPOP3Send c;
  PointAt(c, "pop3", tls ? "poptls" : "pop", "secret", tls);
  // APOP alone, so a fall-back to USER/PASS cannot hide a wrong digest.
  c.AuthMode = TPOP3Send::TPOP3AuthType::Apop;
  ASSERT_TRUE(c.Login());
  EXPECT_EQ(c.ApopTimestamp.front(), '<');
  EXPECT_FALSE(c.Capabilities.empty());
  ASSERT_TRUE(c.Stat());
  EXPECT_EQ(c.MessageCount, 3);
  EXPECT_GT(c.MailboxSize, 0);
  ASSERT_TRUE(c.Top(c.MessageCount, 0));
  EXPECT_EQ(SubjectOf(c.ReplyLines), "Sample message 3");
  EXPECT_TRUE(c.Reset());
  c.Logout();
  EXPECT_EQ(c.Sock->LastError(), 0);
}

TEST_P(Pop3Dovecot, UserPassLogin) {
  const bool tls = GetParam();
  REQUIRE_SERVER(tls);
  TPOP3Send c;
  PointAt(c, "pop3", tls ? "poptls" : "pop", "secret", tls);
  c.AuthMode = TPOP3Send::TPOP3AuthType::UserPass;
  ASSERT_TRUE(c.Login());
  ASSERT_TRUE(c.Stat());
  EXPECT_EQ(c.MessageCount, 3);
  ASSERT_TRUE(c.Retrieve(1));
  EXPECT_EQ(SubjectOf(c.ReplyLines), "Sample message 1");
  EXPECT_TRUE(c.Reset());
  c.Logout();
}

INSTANTIATE_TEST_SUITE_P(PlainAndTls, Pop3Dovecot, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool>& info) {
                           return info.param ? "Tls" : "Plain";
                         });

TEST(Pop3DovecotLogin, WrongPasswordFailsBothWays) {
  REQUIRE_SERVER(false);
  TPOP3Send c;
  PointAt(c, "pop3", "pop", "not the password", false);
  EXPECT_FALSE(c.Login());
}

TEST(Pop3DovecotLogin, PasswordWithQuotesBackslashesAndBlanks) {
  REQUIRE_SERVER(false);
  for (auto mode : {TPOP3Send::TPOP3AuthType::Apop, TPOP3Send::TPOP3AuthType::UserPass}) {
    TPOP3Send c;
    PointAt(c, "pop3", "quoted", "pa\"ss\\wo rd", false);
    c.AuthMode = mode;
    EXPECT_TRUE(c.Login()) << static_cast<int>(mode);
    c.Logout();
  }
}

class ImapDovecot : public testing::TestWithParam<bool> {};

TEST_P(ImapDovecot, WholeCheck) {
  const bool tls = GetParam();
  REQUIRE_SERVER(tls);
  TIMAPSend c;
  PointAt(c, "imap", tls ? "imaptls" : "imap", "secret", tls);
  ASSERT_TRUE(c.Login());
  EXPECT_FALSE(c.Capabilities.empty());
  ASSERT_TRUE(c.ExamineMailbox("INBOX"));
  EXPECT_EQ(c.SelectedCount, 3);
  EXPECT_EQ(c.StatusValue("INBOX", "UNSEEN"), 3);
  EXPECT_EQ(c.StatusValue("INBOX", "MESSAGES"), 3);
  std::vector<std::string> header;
  ASSERT_TRUE(c.FetchHeader(c.SelectedCount, header));
  EXPECT_EQ(SubjectOf(header), "Sample message 3");
  EXPECT_EQ(header.back(), "");
  c.Logout();
  EXPECT_EQ(c.TagCounter, 7);
}

INSTANTIATE_TEST_SUITE_P(PlainAndTls, ImapDovecot, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool>& info) {
                           return info.param ? "Tls" : "Plain";
                         });

TEST(ImapDovecotLogin, WrongPassword) {
  REQUIRE_SERVER(false);
  TIMAPSend c;
  PointAt(c, "imap", "imap", "wrong", false);
  EXPECT_FALSE(c.Login());
}

TEST(ImapDovecotLogin, PasswordWithQuotesBackslashesAndBlanks) {
  REQUIRE_SERVER(false);
  TIMAPSend c;
  PointAt(c, "imap", "quoted", "pa\"ss\\wo rd", false);
  EXPECT_TRUE(c.Login());
  EXPECT_EQ(c.StatusValue("INBOX", "MESSAGES"), 1);
  c.Logout();
}

TEST(ImapDovecotCounts, AfterMessagesAreAddedAndFlagged) {
  REQUIRE_SERVER(false);
  TIMAPSend before;
  PointAt(before, "imap", "counts", "secret", false);
  ASSERT_TRUE(before.Login());
  const int messages = before.StatusValue("INBOX", "MESSAGES");
  const int unseen = before.StatusValue("INBOX", "UNSEEN");
  ASSERT_GE(messages, 2);
  before.Logout();

  Deliver("counts", "Unseen one");
  Deliver("counts", "Seen one", "S");
  Deliver("counts", "Flagged and seen", "FS");
  Deliver("counts", "Newest, flagged", "F");

  TIMAPSend after;
  PointAt(after, "imap", "counts", "secret", false);
  ASSERT_TRUE(after.Login());
  ASSERT_TRUE(after.ExamineMailbox("INBOX"));
  EXPECT_EQ(after.SelectedCount, messages + 4);
  EXPECT_EQ(after.StatusValue("INBOX", "MESSAGES"), messages + 4);
  EXPECT_EQ(after.StatusValue("INBOX", "UNSEEN"), unseen + 2);
  std::vector<std::string> header;
  ASSERT_TRUE(after.FetchHeader(after.SelectedCount, header));
  EXPECT_EQ(SubjectOf(header), "Newest, flagged");
  after.Logout();
}

TEST(ImapDovecotCounts, MailboxNameWithABlank) {
  REQUIRE_SERVER(false);
  TIMAPSend c;
  PointAt(c, "imap", "spaced", "secret", false);
  ASSERT_TRUE(c.Login());
  const int messages = c.StatusValue("My Box", "MESSAGES");
  ASSERT_GE(messages, 0);
  c.Logout();
  Deliver("spaced", "In my box", "", "My Box");
  ASSERT_TRUE(c.Login());
  ASSERT_TRUE(c.ExamineMailbox("My Box"));
  EXPECT_EQ(c.SelectedCount, messages + 1);
  EXPECT_EQ(c.StatusValue("My Box", "MESSAGES"), messages + 1);
  EXPECT_EQ(c.StatusValue("My Box", "UNSEEN"), messages + 1);
  EXPECT_FALSE(c.ExamineMailbox("No Such Box"));
  c.Logout();
}

TEST(Dovecot, MailboxesAreOnlyRead) {
  REQUIRE_SERVER(false);
  Deliver("readonly", "Already seen", "S");
  Deliver("readonly", "Flagged", "F");
  Deliver("readonly", "Unseen and newest");
  FlagProbe probe;
  PointAt(probe, "imap", "readonly", "secret", false);
  ASSERT_TRUE(probe.Login());
  const std::map<int, std::string> before = probe.Flags("INBOX");
  probe.Logout();
  ASSERT_GE(before.size(), 6u);

  // The POP3 check both ways (TOP, and RETR as when TOP is refused), over
  // every message.
  for (bool retrieve : {false, true}) {
    TPOP3Send pop;
    PointAt(pop, "pop3", "readonly", "secret", false);
    ASSERT_TRUE(pop.Login());
    ASSERT_TRUE(pop.Stat());
    ASSERT_EQ(pop.MessageCount, static_cast<int>(before.size()));
    for (int n = 1; n <= pop.MessageCount; ++n) {
      EXPECT_TRUE(retrieve ? pop.Retrieve(n) : pop.Top(n, 0));
    }
    EXPECT_TRUE(pop.Reset());
    pop.Logout();
  }
  // The IMAP check, fetching every header.
  TIMAPSend imap;
  PointAt(imap, "imap", "readonly", "secret", false);
  ASSERT_TRUE(imap.Login());
  ASSERT_TRUE(imap.ExamineMailbox("INBOX"));
  EXPECT_GE(imap.StatusValue("INBOX", "UNSEEN"), 1);
  for (int n = 1; n <= imap.SelectedCount; ++n) {
    std::vector<std::string> header;
    EXPECT_TRUE(imap.FetchHeader(n, header));
  }
  imap.Logout();

  FlagProbe again;
  PointAt(again, "imap", "readonly", "secret", false);
  ASSERT_TRUE(again.Login());
  EXPECT_EQ(again.Flags("INBOX"), before);
  again.Logout();
}

}  // namespace
