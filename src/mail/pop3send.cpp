// POP3 (RFC 1939) client side: APOP and USER/PASS, STAT, TOP, RETR, RSET,
// QUIT, and the CAPA command of RFC 2449.
#include "pop3send.h"

#include <string_view>
#include <utility>

#include "md5.h"
#include "text.h"

namespace {

// A whole number that fits; anything else (a sign included) gives 0.
int32_t WholeNumber(std::string_view s) {
  if (s.empty() || s.size() > 10) return 0;
  int64_t value = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return 0;
    value = value * 10 + (c - '0');
  }
  return value > INT32_MAX ? 0 : static_cast<int32_t>(value);
}

}  // namespace

TPOP3Send::TPOP3Send(std::unique_ptr<TTCPBlockSocket> sock) : TNexaClient(std::move(sock)) {
  Port = "pop3";
  Timeout = 60000;
  Sock->LineEndAny = true;
  // Room for the lines of a check's replies (CAPA, a header), so the list
  // does not regrow, moving its lines, in every check.
  ReplyLines.reserve(16);
}

TPOP3Send::~TPOP3Send() = default;

int32_t TPOP3Send::ReadReply(bool multiline) { return ReadReplyKeeping(multiline, false); }

int32_t TPOP3Send::ReadReplyKeeping(bool multiline, bool header_only) {
  ReplyLines.clear();
  Sock->ReadLine(Timeout, &ReplyLine);
  bool good = ReplyLine.compare(0, 3, "+OK") == 0;
  if (multiline && good) {
    size_t used = 0;
    bool keep = true;
    // Lines are viewed in the input; only those kept are copied.
    std::string_view line;
    for (;;) {
      const bool failed = !Sock->ReadLine(Timeout, &line);
      if (!failed && line == ".") break;
      // A timeout or a closed connection ends the list; the reply stays good.
      if (!keep) {
        if (failed) break;
        continue;
      }
      used += line.size() + sizeof(std::string);
      if (header_only && (line.empty() || used > kMaxHeaderBytes)) {
        // The header ends here; the rest is read only to find the reply's end.
        keep = false;
        if (!line.empty()) continue;
      } else if (used > kMaxReplyBytes) {
        // The server does not end the reply; where the next one would begin
        // is lost, so the connection goes too.
        DropReply(&ReplyLines);
        good = false;
        break;
      }
      if (!line.empty() && line[0] == '.') line.remove_prefix(1);
      ReplyLines.emplace_back(line);
      if (failed) break;
    }
  }
  ReplyCode = good ? 1 : 0;
  return ReplyCode;
}

bool TPOP3Send::OpenConnection() {
  MessageCount = 0;
  MailboxSize = 0;
  return ConnectSocket();
}

bool TPOP3Send::SendCommand(const std::string& command) {
  if (HasLineBreak(command)) {
    ReplyCode = 0;
    ReplyLine.clear();
    ReplyLines.clear();
    return false;
  }
  BoundCommand();
  Sock->SendText(command + "\r\n");
  return true;
}

bool TPOP3Send::Exchange(const std::string& command, bool multiline) {
  return SendCommand(command) && ReadReply(multiline) == 1;
}

bool TPOP3Send::Login() {
  ApopTimestamp.clear();
  // Every way of logging in sends the user name.
  if (HasLineBreak(UserName)) return false;
  if (!OpenConnection() || ReadReply(false) != 1) return false;

  // The timestamp is the text between the first "<" and the next ">".
  const std::string_view greeting = ReplyLine;
  const size_t open = greeting.find('<');
  const std::string_view after =
      TrimBlanks(open == greeting.npos ? greeting : greeting.substr(open + 1));
  if (after != greeting) {
    const std::string_view inside = TrimBlanks(after.substr(0, after.find('>')));
    if (inside != after) ApopTimestamp = "<" + std::string(inside) + ">";
  }

  Capability();

  if (!ApopTimestamp.empty() && AuthMode != TPOP3AuthType::UserPass) {
    if (Exchange("APOP " + UserName + " " + MD5Hex(ApopTimestamp + Password), false)) return true;
    // Some servers refuse APOP for a user they announce it to; USER/PASS
    // then goes over a fresh connection.
    if (!OpenConnection() || ReadReply(false) != 1) return false;
  }
  if (AuthMode == TPOP3AuthType::Apop) return false;
  return Exchange("USER " + UserName, false) && Exchange("PASS " + Password, false);
}

bool TPOP3Send::Stat() {
  if (!Exchange("STAT", false)) return false;
  const std::string_view line = ReplyLine;
  const size_t ok = line.find("+OK ");
  const std::string_view rest = TrimBlanks(ok == line.npos ? line : line.substr(ok + 4));
  const size_t blank = rest.find(' ');
  MessageCount = WholeNumber(TrimBlanks(rest.substr(0, blank)));
  MailboxSize = WholeNumber(TrimBlanks(blank == rest.npos ? rest : rest.substr(blank + 1)));
  return true;
}

bool TPOP3Send::Top(int32_t message, int32_t lines) {
  return Exchange("TOP " + std::to_string(message) + " " + std::to_string(lines), true);
}

bool TPOP3Send::Retrieve(int32_t message) {
  return Exchange("RETR " + std::to_string(message), true);
}

bool TPOP3Send::RetrieveHeader(int32_t message) {
  return SendCommand("RETR " + std::to_string(message)) && ReadReplyKeeping(true, true) == 1;
}

bool TPOP3Send::Reset() { return Exchange("RSET", false); }

void TPOP3Send::Logout() {
  Exchange("QUIT", false);
  Sock->Close();
}

bool TPOP3Send::Capability() {
  Capabilities.clear();
  if (!Exchange("CAPA", true)) return false;
  Capabilities = ReplyLines;
  return true;
}
