// The POP3 and IMAP clients against scripted servers. Each case is one file,
// transcripts/<protocol>/<case>.txt, read line by line: a server step as in
// scripted_server.h (R: and F: take \r \n \0 \\ escapes); "@ NAME" for the
// lines of NAME.inc in the same folder; "> STEP ARGS => RESULT" for a step the
// test takes with the client (Pop3Step and ImapStep below; ARGS take the same
// escapes; no "=> RESULT" where it reports nothing); "#" for a comment.
// The client runs as bob/secret with a 5 s timeout; the case passes when every
// step reports its result and the client sent exactly the "C:" lines.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "imapsend.h"
#include "pop3send.h"
#include "scripted_server.h"
#include "ssl_openssl.h"
#include "test_support.h"

namespace {

struct Transcript {
  std::string name;
  std::vector<std::string> dialogue;
  std::vector<std::pair<std::string, std::string>> steps;  // step, its result
};

void PrintTo(const Transcript& t, std::ostream* os) { *os << t.name; }

std::string Unescape(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out += text[i];
      continue;
    }
    const char c = text[++i];
    out += c == 'r' ? '\r' : c == 'n' ? '\n' : c == '0' ? '\0' : c;
  }
  return out;
}

void Load(const std::string& dir, const std::string& file, Transcript* t) {
  std::istringstream in(test_support::read_file(dir + file));
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::string head = line.substr(0, 2);
    if (line.empty() || line[0] == '#') continue;
    if (head == "@ ") {
      Load(dir, line.substr(2) + ".inc", t);
    } else if (head == "> ") {
      const size_t arrow = line.find(" => ");
      const std::string step = line.substr(2, arrow == std::string::npos ? arrow : arrow - 2);
      t->steps.emplace_back(Unescape(step),
                            arrow == std::string::npos ? "" : line.substr(arrow + 4));
    } else if (head == "R:" || head == "F:") {
      t->dialogue.push_back(head + " " + Unescape(line.substr(std::min<size_t>(3, line.size()))));
    } else {
      t->dialogue.push_back(line);
    }
  }
}

std::vector<Transcript> LoadAll(const std::string& protocol) {
  const std::string dir = std::string(EMAIL_TRANSCRIPTS) + "/" + protocol + "/";
  std::vector<std::string> files = test_support::list_folder(dir);
  std::sort(files.begin(), files.end());
  std::vector<Transcript> all;
  for (const std::string& file : files) {
    if (file.size() < 4 || file.compare(file.size() - 4, 4, ".txt") != 0) continue;
    all.push_back({file.substr(0, file.size() - 4), {}, {}});
    Load(dir, file, &all.back());
  }
  return all;
}

std::string Bit(bool b) { return b ? "1" : "0"; }

std::string Lines(const std::vector<std::string>& lines) {
  std::string joined;
  for (const std::string& line : lines) joined += "[" + line + "]";
  return joined;
}

// Steps both clients take: set timeout|password|user VALUE, error (the
// connection's), lines and replies (the last reply's lines and their count).
template <class Client>
bool CommonStep(Client& c, const std::string& verb, const std::string& args, std::string* out) {
  if (verb == "set") {
    const size_t blank = args.find(' ');
    const std::string what = args.substr(0, blank), value = args.substr(blank + 1);
    if (what == "timeout") c.Timeout = std::stoi(value);
    if (what == "password") c.Password = value;
    if (what == "user") c.UserName = value;
  } else if (verb == "error") {
    *out = std::to_string(c.Sock->LastError());
  } else if (verb == "lines") {
    *out = Lines(c.ReplyLines);
  } else if (verb == "replies") {
    *out = std::to_string(c.ReplyLines.size());
  } else {
    return false;
  }
  return true;
}

std::string Pop3Step(TPOP3Send& c, const std::string& verb, const std::string& args) {
  std::string out;
  if (CommonStep(c, verb, args, &out)) return out;
  std::istringstream in(args);
  int n = 0, lines = 0;
  in >> n >> lines;
  if (verb == "login") {
    const bool ok = c.Login();
    return Bit(ok) + " stamp=" + c.ApopTimestamp + " caps=" + Lines(c.Capabilities);
  }
  if (verb == "stat") {
    const bool ok = c.Stat();
    return Bit(ok) + " " + std::to_string(c.MessageCount) + "/" + std::to_string(c.MailboxSize);
  }
  if (verb == "top") return Bit(c.Top(n, lines));
  if (verb == "retr") return Bit(c.Retrieve(n));
  if (verb == "header") {
    // How many lines fit the bound depends on the build; "part" of a
    // header of 20000 lines is what matters.
    const bool ok = c.RetrieveHeader(n);
    const size_t kept = c.ReplyLines.size();
    return Bit(ok) + " kept=" + (kept == 0 ? "none" : kept < 20000 ? "part" : "all");
  }
  if (verb == "rset") return Bit(c.Reset());
  if (verb == "quit") {
    c.Logout();
    return "done";
  }
  ADD_FAILURE() << "unknown step " << verb;
  return "";
}

// Mailbox names are the rest of the line: "status ITEM MAILBOX".
std::string ImapStep(TIMAPSend& c, const std::string& verb, const std::string& args) {
  std::string out;
  if (CommonStep(c, verb, args, &out)) return out;
  if (verb == "login") {
    const bool ok = c.Login();
    return Bit(ok) + " preauth=" + Bit(c.AuthDone) + " caps=" + Lines(c.Capabilities);
  }
  if (verb == "examine") {
    const bool ok = c.ExamineMailbox(args);
    return Bit(ok) + " " + std::to_string(c.SelectedCount) + "/" + std::to_string(c.SelectedRecent);
  }
  if (verb == "status") {
    const size_t blank = args.find(' ');
    return std::to_string(c.StatusValue(args.substr(blank + 1), args.substr(0, blank)));
  }
  if (verb == "fetch") {
    std::vector<std::string> lines = {"stale"};
    const bool ok = c.FetchHeader(std::stoi(args), lines);
    return Bit(ok) + " " + (lines.empty() ? "(none)" : Lines(lines));
  }
  if (verb == "logout") {
    c.Logout();
    return "folder=" + c.SelectedFolder;
  }
  ADD_FAILURE() << "unknown step " << verb;
  return "";
}

template <class Client>
void RunTranscript(const Transcript& t,
                   std::string (*step)(Client&, const std::string&, const std::string&)) {
  ASSERT_FALSE(t.steps.empty());
  ScriptedServer server(t.dialogue);
  std::string got, want;
  {
    Client client;
    client.Port = server.Port();
    client.UserName = "bob";
    client.Password = "secret";
    client.Timeout = 5000;
    for (const auto& [s, result] : t.steps) {
      const size_t blank = s.find(' ');
      const std::string args = blank == std::string::npos ? "" : s.substr(blank + 1);
      got += "> " + s + "\n= " + step(client, s.substr(0, blank), args) + "\n";
      want += "> " + s + "\n= " + result + "\n";
    }
  }
  EXPECT_EQ(got, want);
  EXPECT_EQ(server.Received(), ScriptedServer::Expected(t.dialogue));
}

std::string NameOf(const testing::TestParamInfo<Transcript>& info) { return info.param.name; }

class Pop3Transcript : public testing::TestWithParam<Transcript> {};
TEST_P(Pop3Transcript, SendsExactlyAndReports) { RunTranscript<TPOP3Send>(GetParam(), Pop3Step); }
INSTANTIATE_TEST_SUITE_P(Files, Pop3Transcript, testing::ValuesIn(LoadAll("pop3")), NameOf);

class ImapTranscript : public testing::TestWithParam<Transcript> {};
TEST_P(ImapTranscript, SendsExactlyAndReports) { RunTranscript<TIMAPSend>(GetParam(), ImapStep); }
INSTANTIATE_TEST_SUITE_P(Files, ImapTranscript, testing::ValuesIn(LoadAll("imap")), NameOf);

TEST(MailClients, Pop3UserNameWithLineBreakNeverConnects) {
  Peer peer;
  TPOP3Send client;
  client.Port = peer.Port();
  for (const std::string& user : {std::string("bob\nDELE 1"), std::string("bob\0", 4)}) {
    client.UserName = user;
    EXPECT_FALSE(client.Login());
    EXPECT_EQ(client.Sock->GetRemoteSinPort(), 0);
  }
}

// What an account that sets nothing gets (the transcripts show the rest: the
// line ends, the tags from S1, APOP with a fall-back to USER/PASS), and the
// connect step both clients share: without the TLS library a TLS account
// fails before any connection is made; a refused connection fails the login.
template <typename Client>
void DefaultsAndConnectFailures(const std::string& default_port) {
  Peer peer;
  TlsSession::SetLibraryNamesForTesting({"email-test-no-such-ssl-library"},
                                        {"email-test-no-such-crypto-library"});
  Client tls;
  tls.Port = peer.Port();
  tls.ImplicitTls = true;
  EXPECT_FALSE(tls.Login());
  TlsSession::SetLibraryNamesForTesting({}, {});
  EXPECT_EQ(tls.Sock->LastError(), TBlockSocket::kErrTlsUnavailable);
  EXPECT_EQ(tls.Sock->GetRemoteSinPort(), 0);
  Client refused;
  EXPECT_EQ(refused.Port, default_port);
  EXPECT_EQ(refused.Timeout, 60000);
  refused.Port = Peer::ClosedPort();
  EXPECT_FALSE(refused.Login());
  EXPECT_NE(refused.Sock->LastError(), 0);
}

TEST(MailClients, DefaultsAndConnectFailures) {
  DefaultsAndConnectFailures<TPOP3Send>("pop3");
  DefaultsAndConnectFailures<TIMAPSend>("143");
}

}  // namespace
