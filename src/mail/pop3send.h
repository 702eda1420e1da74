// A POP3 client (RFC 1939, with CAPA of RFC 2449) for checking a mailbox
// without changing it: greeting, CAPA, APOP or USER/PASS, STAT, TOP or RETR,
// RSET, QUIT. It never sends AUTH, LIST, UIDL, DELE or NOOP.
//
// Steps block until the server answers or a wait of Timeout ms passes; they
// never throw. Each returns its success and leaves the reply in ReplyCode,
// ReplyLine and, for multi-line replies, ReplyLines. One object serves one
// session on one thread; stopping it from another thread goes through
// Sock->AbortSocket().
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "blcksock.h"

class TPOP3Send : public TNexaClient {
 public:
  enum class TPOP3AuthType { Any, UserPass, Apop };

  // Memory one multi-line reply may take (its lines plus their bookkeeping);
  // a longer reply fails the step and closes the connection.
  static constexpr size_t kMaxReplyBytes = 64 << 20;
  // Memory the header kept by RetrieveHeader may take, counted the same way.
  static constexpr size_t kMaxHeaderBytes = 1 << 20;

  // `sock` defaults to a new connection on the system's sockets.
  explicit TPOP3Send(std::unique_ptr<TTCPBlockSocket> sock = nullptr);
  ~TPOP3Send() override;

  // Connects, reads the greeting, asks CAPA (its outcome does not matter),
  // then logs in with APOP when the greeting carries a timestamp, and with
  // USER/PASS otherwise or, on a fresh connection, when APOP was refused.
  // A user name or password that holds CR, LF or NUL is never sent: the
  // login fails instead.
  bool Login();
  // STAT; fills MessageCount and MailboxSize (0 when not readable).
  bool Stat();
  // TOP n lines / RETR n; ReplyLines holds the dot-unstuffed data lines.
  bool Top(int32_t message, int32_t lines);
  bool Retrieve(int32_t message);
  // RETR n for the header alone, where TOP is refused: ReplyLines keeps the
  // lines up to and including the first empty one, at most kMaxHeaderBytes
  // of them; the rest of the reply is read to its end and dropped, so a
  // message of any size costs no more memory than its header.
  bool RetrieveHeader(int32_t message);
  // RSET, so nothing is left marked for deletion.
  bool Reset();
  // QUIT, then closes the connection whatever the answer.
  void Logout();
  // CAPA; on success Capabilities holds its lines.
  bool Capability();

  // Reads a status line and, when `multiline` and the status is +OK, the
  // data lines up to the line ".". Returns ReplyCode.
  int32_t ReadReply(bool multiline);

  std::string UserName;
  std::string Password;
  // 1 when the last status line began with "+OK", else 0.
  int32_t ReplyCode = 0;
  std::string ReplyLine;
  std::vector<std::string> ReplyLines;
  int32_t MessageCount = 0;
  int32_t MailboxSize = 0;
  // The greeting's timestamp with its angle brackets, or empty.
  std::string ApopTimestamp;
  std::vector<std::string> Capabilities;
  TPOP3AuthType AuthMode = TPOP3AuthType::Any;

 private:
  bool OpenConnection();
  // ReadReply; with `header_only`, as RetrieveHeader keeps the data lines.
  int32_t ReadReplyKeeping(bool multiline, bool header_only);
  // Sends the command with its CR LF; false (and nothing sent) when it holds
  // a CR, LF or NUL that would end it early.
  bool SendCommand(const std::string& command);
  // SendCommand, then ReadReply; false when either fails.
  bool Exchange(const std::string& command, bool multiline);
};
