// The clients against a real Dovecot on loopback, started for the test run
// with the users and mail of tests/support/dovecot_users.txt and
// dovecot_mail.txt (see tests/CMakeLists.txt): one test per fact of a real
// server.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "dovecot_server.h"
#include "imapsend.h"
#include "mimemess.h"
#include "pop3send.h"

namespace {

using test_support::dovecot;
using test_support::tls_available;
using Auth = TPOP3Send::TPOP3AuthType;

#define REQUIRE_SERVER(tls)                                                        \
  do {                                                                             \
    EMAIL_REQUIRE(dovecot().missing.empty(), dovecot().missing);                   \
    EMAIL_REQUIRE(!(tls) || tls_available(), "no TLS library can be loaded here"); \
  } while (0)

// Points either client at the server (plain or TLS port) as `user`.
template <class Client>
void PointAt(Client& c, const std::string& protocol, const std::string& user,
             const std::string& password, bool tls = false) {
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

// APOP alone where it is named, so a fall-back to USER/PASS cannot hide a
// wrong digest; quotes, backslashes and blanks in a password survive both
// protocols' quoting.
TEST(Dovecot, Logins) {
  REQUIRE_SERVER(false);
  const std::string kOdd = "pa\"ss\\wo rd";
  struct Pop3Login {
    Auth mode;
    std::string user, password;
    bool ok;
  };
  const Pop3Login kPop3[] = {
      {Auth::Apop, "pop", "secret", true},
      {Auth::UserPass, "pop", "secret", true},
      {Auth::Apop, "quoted", kOdd, true},
      {Auth::UserPass, "quoted", kOdd, true},
      {Auth::Any, "pop", "not the password", false},
  };
  for (const Pop3Login& l : kPop3) {
    TPOP3Send c;
    PointAt(c, "pop3", l.user, l.password);
    c.AuthMode = l.mode;
    EXPECT_EQ(c.Login(), l.ok) << l.user << " " << static_cast<int>(l.mode);
    c.Logout();
  }
  const std::tuple<std::string, std::string, bool> kImap[] = {
      {"imap", "secret", true}, {"quoted", kOdd, true}, {"imap", "wrong", false}};
  for (const auto& [user, password, ok] : kImap) {
    TIMAPSend c;
    PointAt(c, "imap", user, password);
    EXPECT_EQ(c.Login(), ok) << user << " " << password;
    c.Logout();
  }
}

// Counts and the newest header of the account check, on the plain ports and
// with TLS from the first byte.
TEST(Dovecot, CountsAndNewestHeader) {
  REQUIRE_SERVER(true);
  for (bool tls : {false, true}) {
    TPOP3Send pop;
    PointAt(pop, "pop3", tls ? "poptls" : "pop", "secret", tls);
    pop.AuthMode = tls ? Auth::Apop : Auth::Any;
    ASSERT_TRUE(pop.Login()) << tls;
    EXPECT_EQ(pop.ApopTimestamp.front(), '<');
    EXPECT_FALSE(pop.Capabilities.empty());
    ASSERT_TRUE(pop.Stat());
    EXPECT_EQ(pop.MessageCount, 3);
    EXPECT_GT(pop.MailboxSize, 0);
    ASSERT_TRUE(pop.Top(pop.MessageCount, 0));
    EXPECT_EQ(SubjectOf(pop.ReplyLines), "Sample message 3");
    ASSERT_TRUE(pop.Retrieve(1));
    EXPECT_EQ(SubjectOf(pop.ReplyLines), "Sample message 1");
    EXPECT_TRUE(pop.Reset());
    pop.Logout();
    EXPECT_EQ(pop.Sock->LastError(), 0);
  }
  // "counts" has two samples, then new, seen, flagged and seen, and flagged
  // messages; "imaptls" three samples.
  const struct {
    const char* user;
    bool tls;
    int count, unseen;
    const char* newest;
  } kImap[] = {{"counts", false, 6, 4, "Newest, flagged"},
               {"imaptls", true, 3, 3, "Sample message 3"}};
  for (const auto& m : kImap) {
    TIMAPSend imap;
    PointAt(imap, "imap", m.user, "secret", m.tls);
    ASSERT_TRUE(imap.Login()) << m.user;
    EXPECT_FALSE(imap.Capabilities.empty());
    ASSERT_TRUE(imap.ExamineMailbox("INBOX"));
    EXPECT_EQ(imap.SelectedCount, m.count);
    EXPECT_EQ(imap.StatusValue("INBOX", "UNSEEN"), m.unseen);
    EXPECT_EQ(imap.StatusValue("INBOX", "MESSAGES"), m.count);
    std::vector<std::string> header;
    ASSERT_TRUE(imap.FetchHeader(imap.SelectedCount, header));
    EXPECT_EQ(SubjectOf(header), m.newest);
    EXPECT_EQ(header.back(), "");
    imap.Logout();
    EXPECT_EQ(imap.TagCounter, 7);
    EXPECT_EQ(imap.Sock->LastError(), 0);
  }
}

// The inbox holds six messages, one seen. Reading every message over POP3
// both ways (TOP, and RETR as when TOP is refused) and every header over
// IMAP marks none seen and deletes none: the second IMAP pass sees what the
// first left.
TEST(Dovecot, MailboxesAreOnlyRead) {
  REQUIRE_SERVER(false);
  for (bool retrieve : {false, true}) {
    TPOP3Send pop;
    PointAt(pop, "pop3", "readonly", "secret");
    ASSERT_TRUE(pop.Login());
    ASSERT_TRUE(pop.Stat());
    ASSERT_EQ(pop.MessageCount, 6);
    for (int n = 1; n <= pop.MessageCount; ++n) {
      EXPECT_TRUE(retrieve ? pop.Retrieve(n) : pop.Top(n, 0));
    }
    EXPECT_TRUE(pop.Reset());
    pop.Logout();
  }
  for (int pass = 0; pass < 2; ++pass) {
    TIMAPSend imap;
    PointAt(imap, "imap", "readonly", "secret");
    ASSERT_TRUE(imap.Login());
    ASSERT_TRUE(imap.ExamineMailbox("INBOX"));
    EXPECT_EQ(imap.SelectedCount, 6);
    EXPECT_EQ(imap.StatusValue("INBOX", "UNSEEN"), 5);
    for (int n = 1; n <= imap.SelectedCount; ++n) {
      std::vector<std::string> header;
      EXPECT_TRUE(imap.FetchHeader(n, header));
    }
    imap.Logout();
  }
}

}  // namespace
