// IMAP4rev1 (RFC 3501) client side: CAPABILITY, LOGIN, EXAMINE, STATUS,
// FETCH, LOGOUT, with replies read to their tagged completion and literals
// read by count.
#include "imapsend.h"

#include <algorithm>
#include <charconv>
#include <string_view>
#include <utility>

#include "text.h"

namespace {

// The text before / after the first `delimiter` (all of it when absent),
// trimmed.
std::string_view LeftPart(std::string_view s, std::string_view delimiter) {
  return TrimBlanks(s.substr(0, s.find(delimiter)));
}

std::string_view RightPart(std::string_view s, std::string_view delimiter) {
  const size_t at = s.find(delimiter);
  return TrimBlanks(at == s.npos ? s : s.substr(at + delimiter.size()));
}

// An optionally signed decimal after leading blanks, nothing else; false for
// any other text. Values past 32 bits are still read (saturated) so callers
// can tell a huge number from garbage.
bool ReadDecimal(std::string_view s, int64_t* value) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  bool negative = false;
  if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
    negative = s.front() == '-';
    s.remove_prefix(1);
  }
  if (s.empty()) return false;
  int64_t v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    if (v < (int64_t{1} << 40)) v = v * 10 + (c - '0');
  }
  *value = negative ? -v : v;
  return true;
}

// The text as a 32-bit number; `fallback` for anything else.
int32_t Number(std::string_view s, int32_t fallback) {
  int64_t v = 0;
  if (!ReadDecimal(s, &v) || v < INT32_MIN || v > INT32_MAX) return fallback;
  return static_cast<int32_t>(v);
}

// A count from the server; a negative one is as unreadable as garbage.
int32_t Count(std::string_view s, int32_t fallback) {
  const int32_t n = Number(s, fallback);
  return n < 0 ? fallback : n;
}

// An IMAP quoted string holding exactly `value`.
std::string Quoted(const std::string& value) {
  std::string q;
  q.reserve(value.size() + 2);
  q += '"';
  const char* p = value.data();
  const char* const end = p + value.size();
  while (const char* special = FindEitherByte(p, end, '"', '\\')) {
    q.append(p, special);
    q += '\\';
    q += *special;
    p = special + 1;
  }
  q.append(p, end);
  q += '"';
  return q;
}

bool EndsWithBrace(const std::string& s) { return !s.empty() && s.back() == '}'; }

// "S<n> ", which opens command n and its tagged completion, written into
// `room`.
std::string_view TagText(int32_t counter, char (&room)[16]) {
  room[0] = 'S';
  char* end = std::to_chars(room + 1, room + sizeof room - 1, counter).ptr;
  *end++ = ' ';
  return std::string_view(room, static_cast<size_t>(end - room));
}

// What each stored item costs beyond its bytes.
constexpr size_t kItemOverhead = sizeof(std::string);

}  // namespace

TIMAPSend::TIMAPSend(std::unique_ptr<TTCPBlockSocket> sock) : TNexaClient(std::move(sock)) {
  Port = "143";
  Timeout = 60000;
  Sock->LineEndAny = true;
  // Asked for while there is no socket; the Close that begins every connect
  // drops them, so the client's sockets keep the system's sizes.
  Sock->SetReceiveBufferSize(32768);
  Sock->SetSendBufferSize(32768);
  // Room for a check's longest reply, so the lists do not regrow reply by
  // reply, moving their lines each time.
  ReplyLines.reserve(kMaxSpareLines);
  spare_lines_.reserve(kMaxSpareLines);
}

TIMAPSend::~TIMAPSend() = default;

std::string TIMAPSend::SendCommand(std::initializer_list<std::string_view> command) {
  if (std::any_of(command.begin(), command.end(), HasLineBreak)) {
    ReplyLines.clear();
    ReplyLine.clear();
    return std::string();
  }
  ++TagCounter;
  BoundCommand();
  // Built in one room that every command reuses, sized once.
  char room[16];
  const std::string_view tag = TagText(TagCounter, room);
  size_t length = tag.size() + 2;
  for (std::string_view part : command) length += part.size();
  command_line_.resize(length);
  char* out = command_line_.data();
  out = std::copy(tag.begin(), tag.end(), out);
  for (std::string_view part : command) out = std::copy(part.begin(), part.end(), out);
  out[0] = '\r';
  out[1] = '\n';
  Sock->SendText(command_line_);
  return ReadResult();
}

std::string TIMAPSend::ReadResult() {
  KeepSpareLines();
  ReplyLine.clear();
  char room[16];
  const std::string_view tag = TagText(TagCounter, room);
  size_t used = 0;
  bool overflow = false;
  for (;;) {
    std::string s;
    if (!spare_lines_.empty()) {
      s.swap(spare_lines_.back());
      spare_lines_.pop_back();
    }
    Sock->ReadLine(Timeout, &s);
    if (s.compare(0, tag.size(), tag) == 0) {
      ReplyLine.swap(s);
      KeepSpareLine(&s);
      break;
    }
    used += s.size() + kItemOverhead;
    if (used > kMaxReplyBytes) {
      overflow = true;
      break;
    }
    const bool literal = EndsWithBrace(s);
    int64_t size = -1;
    if (literal) {
      const std::string_view head(s.data(), s.size() - 1);
      const size_t open = head.rfind('{');
      if (!ReadDecimal(open == head.npos ? head : head.substr(open + 1), &size)) size = -1;
    }
    ReplyLines.push_back(std::move(s));
    if (size > 0 && (size > INT32_MAX || used + static_cast<uint64_t>(size) > kMaxReplyBytes)) {
      overflow = true;
      break;
    }
    if (size != -1) {
      ReplyLines.push_back(Sock->ReadBytes(static_cast<int>(size), Timeout));
      used += ReplyLines.back().size() + kItemOverhead;
    }
    if (Sock->LastError() != 0) break;
  }
  if (overflow) {
    // The server does not end its reply; the rest of the stream cannot be
    // placed, so the connection goes too.
    DropReply(&ReplyLines);
    return std::string();
  }
  return UpperAscii(LeftPart(RightPart(ReplyLine, " "), " "));
}

// A reply line's room is lent to the next reply's lines, so a check's
// replies do not each allocate their lines anew. Only rooms of a line's size
// are kept: not a literal's, not one held inside the string itself.
void TIMAPSend::KeepSpareLine(std::string* line) {
  constexpr size_t kMaxSpareRoom = 1024;
  if (spare_lines_.size() == kMaxSpareLines) return;
  if (line->capacity() <= std::string().capacity() || line->capacity() > kMaxSpareRoom) return;
  line->clear();
  spare_lines_.push_back(std::move(*line));
}

void TIMAPSend::KeepSpareLines() {
  for (std::string& line : ReplyLines) KeepSpareLine(&line);
  ReplyLines.clear();
}

void TIMAPSend::JoinLiterals() {
  if (std::none_of(ReplyLines.begin(), ReplyLines.end(), EndsWithBrace)) return;
  std::vector<std::string> items;
  items.swap(ReplyLines);
  ReplyLines.reserve(items.size());
  int b = 0;
  for (std::string& item : items) {
    if (b > 0) {
      ReplyLines.back() += item;
      if (++b > 2) b = 0;
    } else if (EndsWithBrace(item)) {
      const size_t open = item.rfind('{');
      if (open != std::string::npos) item.erase(open);
      ReplyLines.push_back(std::move(item));
      b = 1;
    } else {
      ReplyLines.push_back(std::move(item));
      b = 0;
    }
  }
}

bool TIMAPSend::ReadCapabilities() {
  Capabilities.clear();
  if (SendCommand({"CAPABILITY"}) != "OK") return false;
  JoinLiterals();
  static const std::string kPrefix = "* CAPABILITY ";
  for (const std::string& item : ReplyLines) {
    if (item.compare(0, kPrefix.size(), kPrefix) != 0) continue;
    std::string_view s = RightPart(item, kPrefix);
    Capabilities.reserve(Capabilities.size() +
                         static_cast<size_t>(std::count(s.begin(), s.end(), ' ')) + 1);
    while (!s.empty()) {
      const size_t blank = s.find(' ');
      const std::string_view t = TrimBlanks(s.substr(0, blank));
      const std::string_view rest = TrimBlanks(blank == s.npos ? s : s.substr(blank + 1));
      s = rest == t ? std::string_view() : rest;
      Capabilities.emplace_back(t);
    }
  }
  return true;
}

std::string TIMAPSend::FindCapability(const std::string& name) const {
  const std::string wanted = UpperAscii(name);
  for (const std::string& capability : Capabilities) {
    if (UpperAscii(capability).compare(0, wanted.size(), wanted) == 0) return capability;
  }
  return std::string();
}

bool TIMAPSend::Login() {
  SelectedFolder.clear();
  SelectedCount = 0;
  SelectedRecent = 0;
  AuthDone = false;

  if (!ConnectSocket()) return false;

  const std::string greeting = Sock->ReadLine(Timeout);
  if (greeting.compare(0, 9, "* PREAUTH") == 0) {
    AuthDone = true;
  } else if (greeting.compare(0, 4, "* OK") != 0) {
    return false;
  }
  // A server that cannot list its capabilities still gets the login.
  if (ReadCapabilities() && FindCapability("IMAP4rev1").empty()) return false;
  return SendCommand({"LOGIN ", Quoted(UserName), " ", Quoted(Password)}) == "OK";
}

bool TIMAPSend::ExamineMailbox(const std::string& mailbox) {
  const bool ok = SendCommand({"EXAMINE ", Quoted(mailbox)}) == "OK";
  SelectedFolder = mailbox;
  ParseExamine();
  return ok;
}

void TIMAPSend::ParseExamine() {
  JoinLiterals();
  SelectedCount = 0;
  SelectedRecent = 0;
  // "* n EXISTS" and "* n RECENT", in any letter case.
  const auto count_before = [](std::string_view line, std::string_view word, int32_t* count) {
    const size_t at = FindUpperAscii(line, word);
    if (at != line.npos) *count = Count(RightPart(TrimBlanks(line.substr(0, at)), "* "), 0);
  };
  for (const std::string& item : ReplyLines) {
    count_before(item, " EXISTS", &SelectedCount);
    count_before(item, " RECENT", &SelectedRecent);
  }
}

int32_t TIMAPSend::StatusValue(const std::string& mailbox, const std::string& item) {
  const std::string v = UpperAscii(item);
  std::string quoted = Quoted(mailbox);
  if (SendCommand({"STATUS ", quoted, " (", v, ")"}) != "OK") return -1;
  JoinLiterals();
  // The server may echo the name quoted, with its escapes.
  const std::string name = UpperAscii(mailbox);
  quoted = UpperAscii(quoted);
  for (const std::string& reply : ReplyLines) {
    const std::string_view line = reply;
    if (line.compare(0, 2, "* ") != 0) continue;
    size_t at = FindUpperAscii(line, quoted);
    size_t after = at == line.npos ? at : at + quoted.size();
    if (at == line.npos) {
      at = FindUpperAscii(line, name);
      after = at == line.npos ? at : at + name.size();
    }
    if (at == line.npos) continue;
    // The item is looked for after the name, which may itself contain it.
    const std::string_view tail = line.substr(after);
    const size_t found = FindUpperAscii(tail, v);
    if (found == tail.npos) continue;
    const std::string_view rest = TrimBlanks(tail.substr(found + v.size()));
    return Count(TrimBlanks(LeftPart(rest, ")")), -1);
  }
  return -1;
}

bool TIMAPSend::FetchHeader(int32_t message, std::vector<std::string>& lines) {
  if (message < 1) {
    lines.clear();
    return false;
  }
  const bool ok = SendCommand({"FETCH ", std::to_string(message), " (RFC822.HEADER)"}) == "OK";
  ExtractLiteral(lines);
  return ok;
}

void TIMAPSend::ExtractLiteral(std::vector<std::string>& lines) const {
  lines.clear();
  for (size_t i = 0; i + 1 < ReplyLines.size(); ++i) {
    if (!EndsWithBrace(ReplyLines[i])) continue;
    const std::string& text = ReplyLines[i + 1];
    const char* const begin = text.data();
    const char* const end = begin + text.size();
    // Header lines run about forty bytes; a guess saves most regrowing, and
    // its bound keeps one long line from reserving room for many.
    constexpr size_t kMaxGuess = 256;
    lines.reserve(std::min(text.size() / 40 + 1, kMaxGuess));
    for (const char* p = begin; p < end;) {
      const char* stop = FindEitherByte(p, end, '\r', '\n');
      if (stop == nullptr) stop = end;
      lines.emplace_back(p, static_cast<size_t>(stop - p));
      // At the end, *stop is the terminating NUL: p passes the end.
      p = stop + (*stop == '\r' && stop + 1 < end && stop[1] == '\n' ? 2 : 1);
    }
    return;
  }
}

void TIMAPSend::Logout() {
  SendCommand({"LOGOUT"});
  SelectedFolder.clear();
  Sock->Close();
}
