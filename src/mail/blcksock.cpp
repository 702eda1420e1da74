// Blocking TCP connection with line reading (RFC 1939 and RFC 3501 replies
// are line-based) and implicit TLS over OpenSSL.
#include "blcksock.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <utility>

#include "ssl_openssl.h"
#include "text.h"

namespace net = platform::net;

namespace {

constexpr int kSockStream = 1;
constexpr int kProtoTcp = 6;
// Close drains what the peer still sends without waiting; a peer that keeps
// sending must not hold Close forever, so the drain stops after this much.
constexpr size_t kMaxDrainBytes = 1 << 20;
// The most one receive asks for (see FillInput).
constexpr int kMaxReceive = 64 << 10;
// Room a large ReadBytes makes ahead in its result, at most, for receiving
// straight into it (see ReadBytes).
constexpr size_t kMaxDirectStep = 256 << 10;
// Input from which ReadLine lists the lines ahead (see FindLine).
constexpr size_t kListFrom = 256;

// A host is named to the server in the TLS handshake (SNI), so that a
// server holding certificates for several names picks the right one; an
// address is not, as TLS does not allow it there (an IPv6 address has
// colons, an IPv4 address only digits and dots).
bool IsHostName(const std::string& host) {
  return host.find(':') == std::string::npos &&
         host.find_first_not_of("0123456789.") != std::string::npos;
}

// Where the first line end at or after `from` begins, and its length (CR LF
// and LF CR count as one end, at the same position the two-character form
// wins), or npos. Used where any of CR LF, LF CR, CR or LF ends a line.
inline size_t FindAnyLineEnd(const char* data, size_t size, size_t from, size_t* end_length) {
  const char* hit = FindEitherByte(data + from, data + size, '\r', '\n');
  if (hit == nullptr) return std::string::npos;
  const size_t at = static_cast<size_t>(hit - data);
  const char other = *hit == '\r' ? '\n' : '\r';
  *end_length = at + 1 < size && data[at + 1] == other ? 2 : 1;
  return at;
}

// Lists the lines of [p, p + n) from its start, with the line-end rules of
// FindAnyLineEnd, into `lines` (room for `most`); a line end that is the
// last byte is left, as it may be the first half of a two-byte end. Returns
// the count. `Find` finds a block's CRs and LFs (see FindTwoBytes64).
template <ByteMasks64 (*Find)(const char*, char, char), typename Line, size_t most>
__attribute__((always_inline)) inline int ListLines(const char* p, size_t n, Line (&lines)[most]) {
  constexpr size_t kBlock = 64;
  int found = 0;
  // Where the next line starts, and the second byte of the last two-byte
  // line end, which is no end of its own.
  size_t start = 0, pair_end = std::string::npos;
  // Lists the line that ends at `at` with an end of `end_length` bytes.
  const auto add = [&](size_t at, size_t end_length) {
    lines[found++] = {static_cast<uint32_t>(at - start),
                      static_cast<uint32_t>(at + end_length - start)};
    start = at + end_length;
  };
  // A block at a time; the last, short one from a copy padded with zeros.
  for (size_t block = 0; block < n; block += kBlock) {
    const char* from = p + block;
    char last[kBlock];
    if (n - block < kBlock) {
      std::memset(last, 0, kBlock);
      from = static_cast<const char*>(std::memcpy(last, from, n - block));
    }
    const ByteMasks64 found_here = Find(from, '\r', '\n');
    uint64_t cr = found_here.a;
    const uint64_t lf = found_here.b;
    // Mail ends its lines with CR LF. Where every LF of the block follows a
    // CR (the first one may follow the last block's) and every CR is
    // followed by an LF, the CRs alone give the lines.
    const uint64_t lf_after_last_block = pair_end == block ? 1 : 0;
    const bool last_cr_paired =
        (cr >> 63) == 0 || (block + kBlock < n && p[block + kBlock] == '\n');
    if (lf == ((cr << 1) | lf_after_last_block) && last_cr_paired) {
      for (; cr != 0; cr &= cr - 1) {
        add(block + static_cast<size_t>(__builtin_ctzll(cr)), 2);
        if (found == static_cast<int>(most)) return found;
      }
      pair_end = start - 1;
      continue;
    }
    for (uint64_t ends = cr | lf; ends != 0; ends &= ends - 1) {
      const size_t at = block + static_cast<size_t>(__builtin_ctzll(ends));
      if (at == pair_end) continue;
      if (at + 1 == n) return found;
      const bool pair = p[at + 1] == (p[at] == '\r' ? '\n' : '\r');
      add(at, pair ? 2 : 1);
      pair_end = pair ? at + 1 : std::string::npos;
      if (found == static_cast<int>(most)) return found;
    }
  }
  return found;
}

template <typename Line, size_t most>
int ListLinesPlain(const char* p, size_t n, Line (&lines)[most]) {
  return ListLines<FindTwoBytes64>(p, n, lines);
}

#if defined(__x86_64__) || defined(__i386__)
template <typename Line, size_t most>
__attribute__((target("avx2"))) int ListLinesAvx2(const char* p, size_t n, Line (&lines)[most]) {
  return ListLines<FindTwoBytes64Avx2>(p, n, lines);
}

template <typename Line, size_t most>
__attribute__((target("avx512bw"))) int ListLinesAvx512(const char* p, size_t n,
                                                        Line (&lines)[most]) {
  return ListLines<FindTwoBytes64Avx512>(p, n, lines);
}
#endif

const std::string& CrLf() {
  static const std::string crlf = "\r\n";
  return crlf;
}

}  // namespace

// ---------------------------------------------------------------------------
// TBlockSocket

// Marks a read under way, so that every wait inside it (TLS steps included)
// keeps to the read's timeout and whole-read bound.
class TBlockSocket::ReadScope {
 public:
  ReadScope(TBlockSocket* sock, int timeout) : sock_(sock) {
    sock_->reading_ = true;
    sock_->read_timeout_ = timeout;
    sock_->read_started_ = false;
  }
  ~ReadScope() { sock_->reading_ = false; }
  ReadScope(const ReadScope&) = delete;
  ReadScope& operator=(const ReadScope&) = delete;

 private:
  TBlockSocket* sock_;
};

TBlockSocket::TBlockSocket(net::SocketApi* api) : api_(api ? api : net::SocketApi::Default()) {
  layer_ok_ = api_->Startup() == 0;
  // Where a signal is needed and cannot be made, an abort still stops the
  // next operation, only not a wait already in progress.
  if (layer_ok_ && api_->OpenSignal(&abort_signal_) != 0) abort_signal_ = net::kNoHandle;
}

TBlockSocket::~TBlockSocket() {
  TBlockSocket::Close();
  {
    std::lock_guard<std::mutex> lock(abort_mutex_);
    if (abort_signal_ != net::kNoHandle) api_->CloseSignal(abort_signal_);
    abort_signal_ = net::kNoHandle;
  }
  if (layer_ok_) api_->Cleanup();
}

void TBlockSocket::AbortSocket() {
  std::lock_guard<std::mutex> lock(abort_mutex_);
  aborted_.store(true);
  // Under the lock: the socket cannot be closed, and its number reused,
  // while the signal acts on it.
  api_->RaiseSignal(abort_signal_, socket_);
}

bool TBlockSocket::Aborted() const { return aborted_.load(); }

int TBlockSocket::WaitFor(int events, int timeout) {
  if (aborted_.load()) return kErrAborted;
  if (socket_ == net::kNoHandle) return kErrNotSocket;
  int ready = 0;
  int rc = api_->Wait(socket_, events, timeout, abort_signal_, &ready);
  // The signal may end a wait as readiness (see OpenSignal).
  if (rc == net::kErrInterrupted || aborted_.load()) return kErrAborted;
  if (rc != 0) return rc;
  return ready != 0 ? 0 : kErrTimedOut;
}

// The clock is read only when a wait is bounded, so a read served from
// buffered input never asks for the time.
bool TBlockSocket::NextWait(int* wait) {
  const int limit = reading_ ? read_timeout_ : IoTimeout;
  const bool read_bounded = reading_ && read_timeout_ > 0;
  if (!read_bounded && !has_deadline_) {
    *wait = limit;
    return true;
  }
  const Clock::time_point now = Clock::now();
  if (read_bounded && !read_started_) {
    read_end_ =
        now + std::chrono::milliseconds(static_cast<int64_t>(read_timeout_) * kWholeReadTimeouts);
    read_started_ = true;
  }
  Clock::time_point end = read_bounded ? read_end_ : deadline_;
  if (has_deadline_) end = std::min(end, deadline_);
  const int64_t left = std::chrono::ceil<std::chrono::milliseconds>(end - now).count();
  if (left <= 0) return false;
  *wait = static_cast<int>(limit < 0 ? std::min<int64_t>(left, INT32_MAX)
                                     : std::min<int64_t>(left, limit));
  return true;
}

void TBlockSocket::SetDeadline(int ms) {
  has_deadline_ = ms >= 0;
  if (has_deadline_) deadline_ = Clock::now() + std::chrono::milliseconds(ms);
}

bool TBlockSocket::EnsureSocket(net::Family family) {
  if (socket_ != net::kNoHandle) return true;
  net::Handle handle = net::kNoHandle;
  int rc = layer_ok_ ? api_->Open(family, &handle) : kErrNotStarted;
  if (rc != 0) {
    last_error_ = rc;
    return false;
  }
  {
    std::lock_guard<std::mutex> lock(abort_mutex_);
    socket_ = handle;
  }
  socket_family_ = family;
  receive_armed_ = net::SocketApi::ReceiveWait::kUnarmed;
  if (pending_receive_buffer_) api_->SetBufferSize(socket_, true, *pending_receive_buffer_);
  if (pending_send_buffer_) api_->SetBufferSize(socket_, false, *pending_send_buffer_);
  return true;
}

// A name that does not resolve fails here with the resolver's code; going on
// with an all-zero address would connect to this very machine on systems
// that treat 0.0.0.0 as a local address.
bool TBlockSocket::ResolveOne(const std::string& host, const std::string& port, net::Address* out) {
  if (!layer_ok_) {
    last_error_ = kErrNotStarted;
    return false;
  }
  net::Family family = socket_ != net::kNoHandle ? socket_family_ : net::Family::kAny;
  bool passive = host == "0.0.0.0";
  const char* name = passive || host == "127.0.0.1" ? nullptr : host.c_str();
  std::vector<net::Address> found;
  // Most names give one address of each family.
  found.reserve(2);
  int rc = api_->Resolve(name, port, family, passive, &found);
  if (rc != 0) {
    last_error_ = rc;
    return false;
  }
  // IPv4 first; a single address is tried.
  const net::Address* v4 = nullptr;
  const net::Address* v6 = nullptr;
  for (const net::Address& a : found) {
    if (a.family == net::Family::kIPv4 && !v4) v4 = &a;
    if (a.family == net::Family::kIPv6 && !v6) v6 = &a;
  }
  if (!v4 && !v6) {
    last_error_ = kErrHostNotFound;
    return false;
  }
  *out = v4 ? *v4 : *v6;
  return true;
}

void TBlockSocket::BindLocal(const std::string& ip, const std::string& port) {
  last_error_ = 0;
  if (socket_ == net::kNoHandle && ip == "0.0.0.0" && port == "0") return;
  net::Address address;
  if (!ResolveOne(ip, port, &address) || !EnsureSocket(address.family)) return;
  last_error_ = api_->Bind(socket_, address);
}

void TBlockSocket::Connect(const std::string& host, const std::string& port) {
  last_error_ = 0;
  if (aborted_.load()) {
    last_error_ = kErrAborted;
    return;
  }
  net::Address address;
  if (!ResolveOne(host, port, &address) || !EnsureSocket(address.family)) return;
  int rc = api_->Connect(socket_, address);
  if (rc == net::kErrInProgress) {
    // The system's own connect timeout applies; only an abort cuts it short.
    rc = WaitFor(net::kWritable, -1);
    if (rc == 0) rc = api_->ConnectResult(socket_);
  }
  if (rc != 0) {
    SetLastError(rc);
    return;
  }
  remote_ = address;
  ClearInputBuffer();
  last_cr_ = last_lf_ = false;
  broken_ = 0;
  reply_due_ = true;  // the greeting
}

void TBlockSocket::Close() {
  if (socket_ != net::kNoHandle) {
    api_->ShutdownSend(socket_);
    // Drain without waiting, bounded, reusing ReadChunk's own steps.
    input_.Clear();
    size_t drained = 0;
    while (drained < kMaxDrainBytes && FillInput(0)) {
      drained += input_.size();
      input_.Clear();
    }
    input_.Release();
    std::lock_guard<std::mutex> lock(abort_mutex_);
    api_->Close(socket_);
    socket_ = net::kNoHandle;
  }
  socket_family_ = net::Family::kAny;
  pending_receive_buffer_.reset();
  pending_send_buffer_.reset();
  broken_ = 0;
  reply_due_ = false;
  has_deadline_ = false;
  last_error_ = 0;
}

int TBlockSocket::PlainSend(const void* buffer, int length) {
  // One send, and only when the socket has no room a wait for room and one
  // send more: a command leaves in one piece, and a peer that never reads
  // costs at most IoTimeout.
  if (aborted_.load()) {
    last_error_ = kErrAborted;
    return -1;
  }
  int sent = 0;
  int rc = socket_ == net::kNoHandle ? kErrNotSocket : api_->Send(socket_, buffer, length, &sent);
  if (rc == net::kErrWouldBlock) {
    int wait = 0;
    rc = NextWait(&wait) ? WaitFor(net::kWritable, wait) : kErrTimedOut;
    if (rc == 0) rc = api_->Send(socket_, buffer, length, &sent);
  }
  if (rc != 0) {
    SetLastError(rc);
    return -1;
  }
  return sent;
}

int TBlockSocket::PlainReceive(void* buffer, int length) {
  int received = 0;
  int rc =
      socket_ == net::kNoHandle ? kErrNotSocket : api_->Receive(socket_, buffer, length, &received);
  if (rc != 0) {
    SetLastError(rc);
    return 0;
  }
  if (received == 0) SetLastError(kErrPeerClosed);
  return received;
}

int TBlockSocket::PlainPending() {
  int count = 0;
  if (socket_ == net::kNoHandle || api_->Pending(socket_, &count) != 0) return 0;
  return count;
}

int TBlockSocket::SendBuffer(const void* buffer, int length) {
  last_error_ = 0;
  if (Broken()) return -1;
  return PlainSend(buffer, length);
}

void TBlockSocket::SendText(const std::string& text) {
  last_error_ = 0;
  if (text.empty()) return;
  if (SendBuffer(text.data(), static_cast<int>(text.size())) > 0) reply_due_ = true;
}

int TBlockSocket::ReceiveBuffer(void* buffer, int length) {
  last_error_ = 0;
  return PlainReceive(buffer, length);
}

int TBlockSocket::PendingBytes() { return PlainPending(); }

std::pair<std::string, int> TBlockSocket::DescribeRemote() const {
  std::pair<std::string, int> words{std::string(), 0};
  if (remote_.family != net::Family::kAny) api_->Describe(remote_, &words.first, &words.second);
  return words;
}

std::string TBlockSocket::GetRemoteSinIP() const { return DescribeRemote().first; }

int TBlockSocket::GetRemoteSinPort() const { return DescribeRemote().second; }

bool TBlockSocket::WaitReadable(int timeout) {
  int rc = WaitFor(net::kReadable, timeout);
  if (rc != 0 && rc != kErrTimedOut) last_error_ = rc;
  return rc == 0;
}

int TBlockSocket::GetSocketType() const { return kSockStream; }
int TBlockSocket::GetSocketProtocol() const { return kProtoTcp; }

void TBlockSocket::SetReceiveBufferSize(int bytes) {
  if (socket_ != net::kNoHandle) {
    api_->SetBufferSize(socket_, true, bytes);
  } else {
    pending_receive_buffer_ = bytes;
  }
}

void TBlockSocket::SetSendBufferSize(int bytes) {
  if (socket_ != net::kNoHandle) {
    api_->SetBufferSize(socket_, false, bytes);
  } else {
    pending_send_buffer_ = bytes;
  }
}

std::string_view TBlockSocket::InputBuffer() const {
  return std::string_view(input_.data(), input_.size());
}

void TBlockSocket::ClearInputBuffer() { input_.Clear(); }

void TBlockSocket::Input::Consume(size_t n) {
  begin_ += n;
  next_ = found_ = 0;
  if (begin_ == end_) Clear();
}

void TBlockSocket::Input::Release() {
  buf_.reset();
  capacity_ = 0;
  Clear();
}

void TBlockSocket::Input::FindLines() {
#if defined(__x86_64__) || defined(__i386__)
  found_ = HasAvx512Bw() ? ListLinesAvx512(data(), size(), lines_)
           : HasAvx2()   ? ListLinesAvx2(data(), size(), lines_)
                         : ListLinesPlain(data(), size(), lines_);
#else
  found_ = ListLinesPlain(data(), size(), lines_);
#endif
  next_ = 0;
}

char* TBlockSocket::Input::Reserve(size_t n) {
  if (capacity_ - end_ >= n) return buf_.get() + end_;
  const size_t live = size();
  // Moving the live bytes to the front only when the consumed head is at
  // least as large keeps the copying linear overall; otherwise grow.
  if (begin_ >= live && capacity_ - live >= n) {
    std::memmove(buf_.get(), data(), live);
  } else {
    size_t capacity = std::max({capacity_ * 2, live + n, size_t{4096}});
    std::unique_ptr<char[]> bigger(new char[capacity]);
    if (live > 0) std::memcpy(bigger.get(), data(), live);
    buf_ = std::move(bigger);
    capacity_ = capacity;
  }
  begin_ = 0;
  end_ = live;
  return buf_.get() + end_;
}

bool TBlockSocket::Broken() {
  if (broken_ != 0) last_error_ = broken_;
  return broken_ != 0;
}

bool TBlockSocket::MayReceive() {
  if (Broken()) return false;
  if (aborted_.load()) {
    last_error_ = kErrAborted;
    return false;
  }
  return true;
}

// Right after a command or the connect the reply cannot be there yet, which
// tells ReceiveWithin to wait before it receives.
int TBlockSocket::ReceiveInto(char* room, int length, int timeout) {
  const bool reply_due = reply_due_;
  reply_due_ = false;
  return ReceiveWithin(room, length, timeout, reply_due);
}

bool TBlockSocket::FillInput(int timeout) {
  if (!MayReceive()) return false;
  char* room = input_.Reserve(static_cast<size_t>(receive_size_));
  const int got = ReceiveInto(room, receive_size_, timeout);
  if (got <= 0) return false;
  input_.Commit(static_cast<size_t>(got));
  // A receive that filled its room asks for more next time, up to
  // kMaxReceive: a large reply then costs few receives, while lines are
  // still cut out of input that is in the processor's cache.
  if (got == receive_size_) receive_size_ = std::min(receive_size_ * 2, kMaxReceive);
  return true;
}

int TBlockSocket::ReceiveWithin(void* buffer, int length, int timeout, bool reply_due) {
  last_error_ = 0;
  if (socket_ == net::kNoHandle) {
    last_error_ = kErrNotSocket;
    return 0;
  }
  int received = 0;
  int rc = api_->ReceiveWithin(socket_, buffer, length, InputWait(timeout, reply_due), &received);
  if (rc == net::kErrWouldBlock) rc = kErrTimedOut;
  if (rc == 0 && received == 0) rc = kErrPeerClosed;
  if (rc != 0) {
    SetLastError(rc == net::kErrInterrupted ? kErrAborted : rc);
    return 0;
  }
  return received;
}

bool TBlockSocket::FillWithin() {
  int wait = 0;
  if (!NextWait(&wait)) {
    last_error_ = kErrTimedOut;
    return false;
  }
  return FillInput(wait);
}

bool TBlockSocket::SettleSplitLineEnd() {
  if (!last_cr_ && !last_lf_) return true;
  if (input_.empty()) return false;
  const char head = input_.data()[0];
  if ((last_cr_ && head == '\n') || (last_lf_ && head == '\r')) input_.Consume(1);
  last_cr_ = last_lf_ = false;
  return true;
}

std::string TBlockSocket::ReadChunk(int timeout) {
  last_error_ = 0;
  ReadScope scope(this, timeout);
  if (!SettleSplitLineEnd() || input_.empty()) {
    if (!FillWithin()) return std::string();
    SettleSplitLineEnd();
  }
  std::string chunk(input_.data(), input_.size());
  input_.Clear();
  return chunk;
}

size_t TBlockSocket::FindLineEnd(size_t from, bool line_end_mode, const std::string& terminator,
                                 size_t* end_length) const {
  const char* data = input_.data();
  const size_t size = input_.size();
  if (!line_end_mode) {
    size_t at = std::string_view(data, size).find(terminator, from);
    *end_length = terminator.size();
    return at;
  }
  return FindAnyLineEnd(data, size, from, end_length);
}

std::string TBlockSocket::ReadUntil(int timeout, const std::string& terminator) {
  size_t length = 0, end_length = 0;
  if (!FindUntil(timeout, terminator, &length, &end_length)) return std::string();
  std::string text(input_.data(), length);
  input_.Consume(length + end_length);
  return text;
}

bool TBlockSocket::FindUntil(int timeout, const std::string& terminator, size_t* length,
                             size_t* end_length) {
  last_error_ = 0;
  *length = *end_length = 0;
  if (terminator.empty()) return false;
  const bool line_end_mode =
      LineEndAny && terminator.size() == 2 && terminator[0] == '\r' && terminator[1] == '\n';
  ReadScope scope(this, timeout);
  // Offset where the search resumes: no line end starts before it.
  size_t scanned = 0;
  for (bool fill = input_.empty();; fill = true) {
    if (fill && !FillWithin()) return false;
    if (!SettleSplitLineEnd() || input_.empty()) continue;
    size_t at = FindLineEnd(scanned, line_end_mode, terminator, end_length);
    if (at != std::string::npos) {
      if (line_end_mode && *end_length == 1) {
        (input_.data()[at] == '\r' ? last_cr_ : last_lf_) = true;
      }
      *length = at;
      return true;
    }
    if (input_.size() > static_cast<size_t>(kMaxLineLength)) {
      // The stream position is lost for good; free what was gathered.
      broken_ = last_error_ = kErrTooLong;
      input_.Release();
      return false;
    }
    // A partial terminator at the end may complete with the next receive.
    scanned = input_.size() - std::min(input_.size(), terminator.size() - 1);
  }
}

std::string TBlockSocket::ReadLine(int timeout) {
  std::string_view line;
  ReadLine(timeout, &line);
  return std::string(line);
}

bool TBlockSocket::FindLine(int timeout, std::string_view* line) {
  size_t length = 0, end_length = 0;
  bool found = false;
  if (LineEndAny && !last_cr_ && !last_lf_) {
    // Listing lines ahead pays off over many lines; a short reply is cut a
    // line at a time.
    if (input_.size() >= kListFrom) {
      input_.FindLines();
      if (input_.HasLine()) {
        last_error_ = 0;
        *line = input_.TakeLine();
        return true;
      }
    } else {
      const size_t at = FindAnyLineEnd(input_.data(), input_.size(), 0, &end_length);
      // A lone CR or LF last may be the first half of a two-byte end.
      found = at != std::string::npos && at + 1 != input_.size();
      length = at;
    }
  }
  if (found) {
    last_error_ = 0;
  } else if (!FindUntil(timeout, CrLf(), &length, &end_length)) {
    *line = std::string_view();
    return false;
  }
  // Consuming keeps the bytes where they are until the next receive.
  *line = std::string_view(input_.data(), length);
  input_.Consume(length + end_length);
  return true;
}

std::string TBlockSocket::ReadBytes(int count, int timeout) {
  last_error_ = 0;
  if (count <= 0) return std::string();
  if (count > kMaxReadBytes) {
    broken_ = last_error_ = kErrTooLong;
    input_.Release();
    return std::string();
  }
  ReadScope scope(this, timeout);
  const size_t need = static_cast<size_t>(count);
  // What the input holds is taken first. Past it, a large block is received
  // straight into the result: room is made ahead in it (up to
  // kMaxDirectStep, sized once) and each receive asks for all that is left
  // of it. A short rest goes through the input. `got` counts the bytes that
  // came; `bytes` may be sized ahead of it.
  std::string bytes;
  bytes.reserve(need);
  size_t got = 0;
  bool failed = false;
  while (got < need && !failed) {
    if (bytes.size() > got) {
      int wait = 0;
      int n = 0;
      if (!NextWait(&wait)) {
        last_error_ = kErrTimedOut;
      } else if (MayReceive()) {
        n = ReceiveInto(&bytes[got], static_cast<int>(bytes.size() - got), wait);
      }
      failed = n <= 0;
      if (!failed) got += static_cast<size_t>(n);
    } else if (const bool settled = SettleSplitLineEnd(); settled && !input_.empty()) {
      const size_t take = std::min(need - got, input_.size());
      bytes.append(input_.data(), take);
      input_.Consume(take);
      got += take;
    } else if (settled && need - got >= static_cast<size_t>(kMaxReceive)) {
      bytes.resize(got + std::min(need - got, kMaxDirectStep));
    } else {
      failed = !FillWithin();
    }
  }
  bytes.resize(got);
  if (failed) {
    // What came stays readable, as after any failed read.
    if (got > 0) {
      std::memcpy(input_.Reserve(got), bytes.data(), got);
      input_.Commit(got);
    }
    return std::string();
  }
  return bytes;
}

std::string TBlockSocket::GetErrorDesc(int code) {
  struct Text {
    int code;
    const char* text;
  };
  static const Text kTexts[] = {
      {0, "OK"},
      {10004, "Interrupted system call"},
      {10009, "Bad file number"},
      {10013, "Permission denied"},
      {10014, "Bad address"},
      {10022, "Invalid argument"},
      {10024, "Too many open files"},
      {10035, "Operation would block"},
      {10036, "Operation now in progress"},
      {10037, "Operation already in progress"},
      {10038, "Socket operation on nonsocket"},
      {10039, "Destination address required"},
      {10040, "Message too long"},
      {10041, "Protocol wrong type for socket"},
      {10042, "Protocol not available"},
      {10043, "Protocol not supported"},
      {10044, "Socket type not supported"},
      {10045, "Operation not supported on socket"},
      {10046, "Protocol family not supported"},
      {10047, "Address family not supported by protocol family"},
      {10048, "Address already in use"},
      {10049, "Can't assign requested address"},
      {10050, "Network is down"},
      {10051, "Network is unreachable"},
      {10052, "Network dropped connection on reset"},
      {10053, "Software caused connection abort"},
      {10054, "Connection reset by peer"},
      {10055, "No Buffer space available"},
      {10056, "Socket is already connected"},
      {10057, "Socket is not connected"},
      {10058, "Can't send after socket shutdown"},
      {10059, "Too many references:can't splice"},
      {10060, "Connection timed out"},
      {10061, "Connection refused"},
      {10062, "Too many levels of symbolic links"},
      {10063, "File name is too long"},
      {10064, "Host is down"},
      {10065, "No route to host"},
      {10066, "Directory is not empty"},
      {10067, "Too many processes"},
      {10068, "Too many users"},
      {10069, "Disk quota exceeded"},
      {10070, "Stale NFS file handle"},
      {10071, "Too many levels of remote in path"},
      {10091, "Network subsystem is unusable"},
      {10092, "Winsock DLL cannot support this application"},
      {10093, "Winsock not initialized"},
      {10101, "Disconnect"},
      {11001, "Host not found"},
      {11002, "Non-Authoritative Host not found"},
      {11003, "Non-Recoverable error"},
      {11004, "Valid name, no data record of requested type"},
  };
  for (const Text& t : kTexts) {
    if (t.code == code) return t.text;
  }
  return "Not a Winsock error (" + std::to_string(code) + ")";
}

// ---------------------------------------------------------------------------
// TTCPBlockSocket

TTCPBlockSocket::TTCPBlockSocket(net::SocketApi* api) : TSocksBlockSocket(api) {}

TTCPBlockSocket::~TTCPBlockSocket() { Close(); }

void TTCPBlockSocket::CaptureTlsError() {
  tls_last_error_ = tls_ ? tls_->TakeError(&tls_last_error_text_) : 0;
}

void TTCPBlockSocket::SetTlsEnabled(bool enabled) {
  if (enabled == TlsEnabled()) return;
  ClearInputBuffer();
  if (!enabled) {
    tls_.reset();
    return;
  }
  SetLastError(0);
  tls_last_error_ = 0;
  tls_last_error_text_.clear();
  auto session = std::make_unique<TlsSession>();
  if (!session->Open(TlsCipherList)) {
    tls_last_error_ = session->TakeError(&tls_last_error_text_);
    SetLastError(kErrTlsUnavailable);
    return;
  }
  tls_ = std::move(session);
}

void TTCPBlockSocket::StartTls() {
  SetLastError(0);
  if (!TlsEnabled()) {
    SetTlsEnabled(true);
    if (LastError() != 0) return;
  }
  if (!tls_->Attach(Api(), Socket())) {
    CaptureTlsError();
    SetLastError(kErrTlsFailed);
    return;
  }
  if (IsHostName(host_)) tls_->SetServerName(host_);
  for (;;) {
    TlsSession::Status status = tls_->Handshake();
    if (status == TlsSession::Status::kOk) return;
    if (status == TlsSession::Status::kWantRead || status == TlsSession::Status::kWantWrite) {
      int rc = WaitForTls(status == TlsSession::Status::kWantRead);
      if (rc == 0) continue;
      SetLastError(rc);
      return;
    }
    CaptureTlsError();
    SetLastError(kErrTlsFailed);
    return;
  }
}

void TTCPBlockSocket::StopTls() {
  SetLastError(0);
  if (!TlsEnabled()) return;
  for (;;) {
    TlsSession::Status status = tls_->Shutdown();
    if (status == TlsSession::Status::kWantWrite && WaitFor(net::kWritable, IoTimeout) == 0) {
      continue;
    }
    if (status == TlsSession::Status::kFailed) SetLastError(kErrTlsFailed);
    break;
  }
  SetTlsEnabled(false);
}

void TTCPBlockSocket::Close() {
  if (TlsEnabled()) StopTls();
  TSocksBlockSocket::Close();
}

void TTCPBlockSocket::Connect(const std::string& host, const std::string& port) {
  host_ = host;
  TSocksBlockSocket::Connect(host, port);
  if (LastError() == 0 && TlsEnabled()) StartTls();
}

int TTCPBlockSocket::SendBuffer(const void* buffer, int length) {
  if (!TlsEnabled()) return TSocksBlockSocket::SendBuffer(buffer, length);
  SetLastError(0);
  if (Aborted()) {
    SetLastError(kErrAborted);
    return -1;
  }
  for (;;) {
    int done = 0;
    TlsSession::Status status = tls_->Write(buffer, length, &done);
    switch (status) {
      case TlsSession::Status::kOk:
        return done;
      case TlsSession::Status::kWantRead:
      case TlsSession::Status::kWantWrite: {
        int rc = WaitForTls(status == TlsSession::Status::kWantRead);
        if (rc == 0) continue;
        SetLastError(rc);
        return -1;
      }
      case TlsSession::Status::kClosed:
        return 0;
      case TlsSession::Status::kFailed:
        CaptureTlsError();
        SetLastError(kErrTlsFailed);
        return -1;
    }
  }
}

int TTCPBlockSocket::WaitForTls(bool want_read) {
  int wait = 0;
  if (!NextWait(&wait)) return kErrTimedOut;
  return WaitFor(want_read ? net::kReadable : net::kWritable, wait);
}

int TTCPBlockSocket::ReceiveBuffer(void* buffer, int length) {
  if (!TlsEnabled()) return TSocksBlockSocket::ReceiveBuffer(buffer, length);
  return ReceiveTls(buffer, length, nullptr);
}

// SSL_read hands out one record (at most 16 KiB) per call; the records
// already here are all taken in one go, and only a read with nothing yet
// waits for the rest of a record. Once the session holds nothing and its
// last receive left the socket empty, a further read would only find that
// out again.
int TTCPBlockSocket::ReceiveTls(void* buffer, int length,
                                const net::SocketApi::ReceiveWait* first_wait) {
  SetLastError(0);
  char* out = static_cast<char*>(buffer);
  int total = 0;
  while (total < length) {
    int done = 0;
    TlsSession::Status status = tls_->Read(out + total, length - total, &done, first_wait);
    const int wait_rc = tls_->WaitResult();
    first_wait = nullptr;
    if (status == TlsSession::Status::kOk) {
      total += done;
      if (tls_->MayHaveMore()) continue;
      break;
    }
    // What was read is handed out; a failure shows again on the next read.
    if (total > 0) break;
    if (wait_rc == net::kErrWouldBlock) {
      SetLastError(kErrTimedOut);
      return 0;
    }
    switch (status) {
      case TlsSession::Status::kWantRead:
      case TlsSession::Status::kWantWrite: {
        int rc = WaitForTls(status == TlsSession::Status::kWantRead);
        if (rc == 0) continue;
        SetLastError(rc);
        return 0;
      }
      case TlsSession::Status::kClosed:
        SetLastError(kErrPeerClosed);
        return 0;
      default:
        CaptureTlsError();
        SetLastError(kErrTlsFailed);
        return 0;
    }
  }
  return total;
}

// The session's receive waits only when the library must receive: what the
// session holds, decrypted or not, is handed out first.
int TTCPBlockSocket::ReceiveWithin(void* buffer, int length, int timeout, bool reply_due) {
  if (!TlsEnabled()) return TSocksBlockSocket::ReceiveWithin(buffer, length, timeout, reply_due);
  if (!reply_due || timeout == 0) return ReceiveTls(buffer, length, nullptr);
  const net::SocketApi::ReceiveWait wait = InputWait(timeout, true);
  return ReceiveTls(buffer, length, &wait);
}

// Decrypted bytes when there are any, else the bytes received and as yet
// encrypted: the socket's, and at least one more when the session holds
// some, whose number the library does not tell.
int TTCPBlockSocket::PendingBytes() {
  if (!TlsEnabled()) return PlainPending();
  const int decrypted = tls_->Pending();
  if (decrypted > 0) return decrypted;
  return PlainPending() + (tls_->HoldsInput() ? 1 : 0);
}

bool TTCPBlockSocket::WaitReadable(int timeout) {
  return (TlsEnabled() && tls_->HoldsInput()) || TSocksBlockSocket::WaitReadable(timeout);
}

// ---------------------------------------------------------------------------
// TNexaClient

TNexaClient::TNexaClient(std::unique_ptr<TTCPBlockSocket> sock)
    : Sock(sock ? std::move(sock) : std::make_unique<TTCPBlockSocket>()) {}

TNexaClient::~TNexaClient() = default;

bool TNexaClient::ConnectSocket() {
  Sock->Close();
  Sock->ClearInputBuffer();
  Sock->BindLocal(BindAddress, "0");
  if (ImplicitTls) Sock->SetTlsEnabled(true);
  BoundCommand();
  if (Sock->LastError() == 0) Sock->Connect(Host, Port);
  return Sock->LastError() == 0;
}

void TNexaClient::DropReply(std::vector<std::string>* lines) {
  std::vector<std::string>().swap(*lines);
  Sock->Close();
}

void TNexaClient::BoundCommand() {
  const int64_t bound = static_cast<int64_t>(Timeout) * TBlockSocket::kWholeReadTimeouts;
  Sock->SetDeadline(Timeout > 0 ? static_cast<int>(std::min<int64_t>(bound, INT32_MAX)) : -1);
}
