// An IMAP client (RFC 3501) for checking a mailbox without changing it:
// CAPABILITY, LOGIN, EXAMINE (read-only), STATUS, FETCH of a header, LOGOUT.
// It never selects a mailbox for writing, never stores flags and never
// expunges.
//
// Steps block until the server answers or a wait of Timeout ms passes; they
// never throw. Commands are tagged S1, S2, ... per object, one at a time.
// Strings go out quoted with '"' and '\' escaped, so the server reads exactly
// the user's bytes; a value holding CR, LF or NUL is never sent and fails its
// step. One object serves one session on one thread; stopping it from another
// thread goes through Sock->AbortSocket().
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "blcksock.h"

class TIMAPSend : public TNexaClient {
 public:
  // Memory one reply may take (its lines, literals and their bookkeeping); a
  // larger reply, or a literal announced larger, fails the command and closes
  // the connection.
  static constexpr size_t kMaxReplyBytes = 64 << 20;

  // `sock` defaults to a new connection on the system's sockets.
  explicit TIMAPSend(std::unique_ptr<TTCPBlockSocket> sock = nullptr);
  ~TIMAPSend() override;

  // Connects, reads the greeting (* OK or * PREAUTH), asks CAPABILITY (when
  // answered OK, IMAP4rev1 must be among them) and sends LOGIN; true when
  // LOGIN was answered OK.
  bool Login();
  // EXAMINE; fills SelectedCount and SelectedRecent from the reply.
  bool ExamineMailbox(const std::string& mailbox);
  // STATUS mailbox (item); the item's value, or -1 when the server refused
  // or gave no readable value.
  int32_t StatusValue(const std::string& mailbox, const std::string& item);
  // FETCH n (RFC822.HEADER); `lines` receives the header's lines. A number
  // below 1 names no message: nothing is sent, `lines` is emptied and the
  // result is false.
  bool FetchHeader(int32_t message, std::vector<std::string>& lines);
  // LOGOUT, then closes the connection whatever the answer.
  void Logout();

  int32_t TagCounter = 0;
  // The tagged completion of the last command, as received.
  std::string ReplyLine;
  // Everything else of the last reply: untagged and continuation lines, and
  // each literal's bytes as one item right after the line announcing it.
  std::vector<std::string> ReplyLines;
  std::vector<std::string> Capabilities;
  std::string UserName;
  std::string Password;
  // The greeting was * PREAUTH.
  bool AuthDone = false;
  std::string SelectedFolder;
  int32_t SelectedCount = 0;
  int32_t SelectedRecent = 0;

 protected:
  // Sends "S<n> <command>", the command being its parts one after the
  // other, and reads the reply; returns the upper-case status word (OK, NO,
  // BAD), or empty when no tagged line arrived or the command was not sent
  // because it held CR, LF or NUL.
  std::string SendCommand(std::initializer_list<std::string_view> command);
  // Reads lines (and the literals they announce) up to the tagged line.
  std::string ReadResult();
  // Merges each line announcing a literal with the literal and the line
  // after it, dropping the length marker.
  void JoinLiterals();
  bool ReadCapabilities();
  // The first capability beginning with `name`, any case; empty if none.
  std::string FindCapability(const std::string& name) const;
  void ParseExamine();
  // The first literal of the reply, split into lines.
  void ExtractLiteral(std::vector<std::string>& lines) const;

 private:
  // Spare lines kept at most.
  static constexpr size_t kMaxSpareLines = 16;
  void KeepSpareLine(std::string* line);
  void KeepSpareLines();
  // Emptied strings of earlier replies, reused for the next reply's lines.
  std::vector<std::string> spare_lines_;
  // The command line being sent, its room kept for the next.
  std::string command_line_;
};
