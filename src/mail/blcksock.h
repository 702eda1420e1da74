// The blocking, line-oriented TCP connection under the mail clients, with
// implicit TLS (TLS from the first byte) over OpenSSL loaded at run time.
//
// Nothing here throws on a network failure: every operation leaves a code in
// LastError() (0 = success, otherwise Windows Sockets numbering, see
// GetErrorDesc) and callers judge each step by it.
//
// Threads: one connection object is used by one thread at a time, except
// AbortSocket(), which any thread may call at any time.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/net/sockets.h"

class TlsSession;

class TBlockSocket {
 public:
  // Codes this connection sets itself (others come from the system).
  static constexpr int kErrAborted = 10004;         // AbortSocket() was called
  static constexpr int kErrTooLong = 10055;         // a line or ReadBytes passed its bound
  static constexpr int kErrPeerClosed = 10054;      // the peer closed the connection
  static constexpr int kErrTimedOut = 10060;        // no input within one wait
  static constexpr int kErrTlsUnavailable = 10043;  // TLS library or context missing
  static constexpr int kErrTlsFailed = 10091;       // the TLS library reported a failure
  static constexpr int kErrNotSocket = 10038;       // no socket: closed or never made
  static constexpr int kErrNotStarted = 10093;      // the sockets layer did not start
  static constexpr int kErrHostNotFound = 11001;    // the name gave no usable address

  // Bounds that keep a hostile peer from growing memory without end. Past
  // them a read fails with kErrTooLong and the connection stays unusable
  // until Close.
  static constexpr int kMaxLineLength = 4 << 20;
  static constexpr int kMaxReadBytes = 64 << 20;
  // A whole ReadLine/ReadUntil/ReadBytes/ReadChunk may last at most this many
  // times its timeout (each single wait, TLS steps included, is bounded by
  // the timeout itself), so a peer that trickles a byte now and then cannot
  // hold a read forever.
  static constexpr int kWholeReadTimeouts = 10;

  // A closed connection; `api` (not owned, must outlive the object) defaults
  // to the system's sockets.
  explicit TBlockSocket(platform::net::SocketApi* api = nullptr);
  virtual ~TBlockSocket();
  TBlockSocket(const TBlockSocket&) = delete;
  TBlockSocket& operator=(const TBlockSocket&) = delete;

  // Half-closes, drains what the peer still sends without waiting, closes.
  // Afterwards there is no socket and LastError() is 0.
  virtual void Close();
  // Resolves host and port (a decimal port or a service name such as "pop3";
  // IPv4 preferred, a single address tried) and makes a blocking TCP connect
  // with the system's own timeout. Clears InputBuffer.
  virtual void Connect(const std::string& host, const std::string& port);
  // One send of the bytes; returns the count the system accepted, or -1.
  virtual int SendBuffer(const void* buffer, int length);
  // Sends the bytes as they stand in one SendBuffer call.
  virtual void SendText(const std::string& text);
  // One receive of at most `length` bytes; 0 when the peer closed.
  virtual int ReceiveBuffer(void* buffer, int length);
  // Exactly `count` bytes, or empty on failure (count <= 0: empty, no read).
  // Surplus input stays in InputBuffer. Like every read, it first drops the
  // LF (CR) that completes a lone CR (LF) ending the last line, also when it
  // arrives only now.
  virtual std::string ReadBytes(int count, int timeout);
  // ReadUntil(timeout, "\r\n"): one line without its line end; empty with
  // LastError() != 0 on failure (an empty line has LastError() == 0).
  virtual std::string ReadLine(int timeout);
  // The next line as a view into the input, copying nothing; it stays valid
  // until the next read, ClearInputBuffer or Close. False on failure, with
  // `line` empty. A line already found in the input is handed out here,
  // inline: a reply of many short lines costs little more than their bytes.
  bool ReadLine(int timeout, std::string_view* line) {
    if (LineEndAny && input_.HasLine()) {
      last_error_ = 0;
      *line = input_.TakeLine();
      return true;
    }
    return FindLine(timeout, line);
  }
  // ReadLine into `line`, whose room is reused, so that reading many lines
  // allocates nothing per line.
  bool ReadLine(int timeout, std::string* line) {
    std::string_view view;
    const bool read = ReadLine(timeout, &view);
    CopyLine(line, view.data(), view.size());
    return read;
  }
  // Text before the terminator. With LineEndAny and the terminator CR LF, any
  // of CR LF, LF CR, CR or LF ends the line, also when split across two
  // receives. Each wait for input lasts at most `timeout` ms (-1: no limit).
  // On failure returns empty and keeps the partial input in InputBuffer.
  virtual std::string ReadUntil(int timeout, const std::string& terminator);
  // InputBuffer if not empty, else what arrives after at most one wait (one
  // receive of what is ready, at most 64 KiB).
  virtual std::string ReadChunk(int timeout);
  // Bytes readable without blocking.
  virtual int PendingBytes();
  // SOCK_STREAM and IPPROTO_TCP.
  virtual int GetSocketType() const;
  virtual int GetSocketProtocol() const;

  // Binds the local end; "0.0.0.0" and "0" before a socket exists do nothing.
  void BindLocal(const std::string& ip, const std::string& port);
  // True when input is ready within the timeout (-1: no limit).
  virtual bool WaitReadable(int timeout);

  // Socket buffer sizes; applied when the socket is created, in this order.
  void SetReceiveBufferSize(int bytes);
  void SetSendBufferSize(int bytes);

  // Makes every blocked and every later operation of this object fail
  // promptly with kErrAborted: a connect, a wait for input, a send waiting
  // for buffer space, a TLS handshake. Safe from any thread at any time,
  // before Connect, during it and after Close; it stays in force for the
  // object's lifetime (Close still succeeds). Used to stop a check; the
  // caller keeps the object alive until the call returns. Name resolution
  // is not interrupted: the resolver has no way to be cut short.
  void AbortSocket();
  bool Aborted() const;

  // Bounds everything this connection does from now on (reads, sends, TLS
  // steps): once `ms` have passed, each fails with kErrTimedOut. Lets a
  // client bound a whole command with its reply, however the peer paces it.
  // A negative value removes the bound; Close removes it too.
  void SetDeadline(int ms);

  int LastError() const { return last_error_; }
  // English text for a code; unknown codes give "Not a Winsock error (<code>)".
  static std::string GetErrorDesc(int code);

  // Bytes received and not yet handed out; reads consume them first.
  std::string_view InputBuffer() const;
  void ClearInputBuffer();

  bool IsIPv6() const { return socket_family_ == platform::net::Family::kIPv6; }
  // Numeric address of the peer, set by a connect.
  std::string GetRemoteSinIP() const;
  int GetRemoteSinPort() const;

  // Set by the clients right after creating the socket; see ReadUntil.
  bool LineEndAny = false;
  // Longest wait for the socket inside one send or one TLS step outside a
  // read (handshake, write, shutdown), in ms; -1: no limit.
  int IoTimeout = 60000;

 protected:
  platform::net::SocketApi* Api() const { return api_; }
  platform::net::Handle Socket() const { return socket_; }
  // Once AbortSocket was called every failure is reported as the abort,
  // whatever the system said: the abort may end a call as if the peer had
  // closed (see SocketApi::OpenSignal).
  void SetLastError(int code) { last_error_ = code != 0 && aborted_.load() ? kErrAborted : code; }
  // Waits for the socket (kReadable/kWritable); 0 when ready, else
  // kErrTimedOut, kErrAborted or a system code.
  int WaitFor(int events, int timeout);
  // How long the next wait for the socket may last: inside a read its
  // timeout, else IoTimeout, and never past the read's whole-read bound or
  // the deadline. False when no time is left.
  bool NextWait(int* wait);
  // One receive of at most `length` bytes, waiting for input first when
  // there is none (at most `timeout` ms; 0: no wait). `reply_due`: a command
  // or the connect has just gone out, so input cannot be there yet. 0 with
  // LastError() set when nothing came or the peer closed.
  virtual int ReceiveWithin(void* buffer, int length, int timeout, bool reply_due);
  // How a receive waits for input on this socket (see ReceiveWithin).
  platform::net::SocketApi::ReceiveWait InputWait(int timeout, bool reply_due) {
    return {timeout, abort_signal_, reply_due, &receive_armed_};
  }
  // The plain forms of ReceiveBuffer, SendBuffer and PendingBytes.
  int PlainReceive(void* buffer, int length);
  int PlainSend(const void* buffer, int length);
  int PlainPending();

 private:
  using Clock = std::chrono::steady_clock;
  class ReadScope;

  bool EnsureSocket(platform::net::Family family);
  bool ResolveOne(const std::string& host, const std::string& port, platform::net::Address* out);
  // The peer's numeric address and port; empty and 0 before a connect.
  std::pair<std::string, int> DescribeRemote() const;
  // False, with LastError set, when the connection is broken or aborted.
  bool MayReceive();
  // One receive of at most `length` bytes into `room`, after at most one
  // wait; 0 with LastError set on failure.
  int ReceiveInto(char* room, int length, int timeout);
  // Appends what arrives after at most one wait to the input (ReadChunk's
  // steps without the copy); false with LastError set on failure.
  bool FillInput(int timeout);
  // FillInput with the next wait of the read under way (see NextWait).
  bool FillWithin();
  // Scans the input for a line end from `from`; returns its position and
  // length, or npos.
  size_t FindLineEnd(size_t from, bool line_end_mode, const std::string& terminator,
                     size_t* end_length) const;
  // Waits until the input holds the text before the terminator; its length
  // and the terminator's are set, nothing is consumed yet.
  bool FindUntil(int timeout, const std::string& terminator, size_t* length, size_t* end_length);
  // ReadLine when no line was found ahead: finds the lines the input holds,
  // else reads until one is there.
  bool FindLine(int timeout, std::string_view* line);
  // A line of a size the string has room for is copied straight in: a reused
  // string usually has, and assign's general path costs as much as the copy
  // of a short line.
  static void CopyLine(std::string* line, const char* data, size_t length) {
    if (length == 0) {
      line->clear();
    } else if (length <= line->capacity()) {
      // Over the string's own bytes, then appended: resize would first fill
      // the new part with zeros. Lines of one length (base64, say) need not
      // even set the size.
      const size_t over = std::min(line->size(), length);
      std::memcpy(&(*line)[0], data, over);
      if (length > over) {
        line->append(data + over, length - over);
      } else if (line->size() != length) {
        line->resize(length);
      }
    } else {
      line->assign(data, length);
    }
  }
  bool Broken();
  // Drops the LF (CR) that completes a lone CR (LF) handed out as the end of
  // the last line. False while that cannot be told yet: no input.
  bool SettleSplitLineEnd();

  platform::net::SocketApi* api_;
  bool layer_ok_ = false;
  platform::net::Handle socket_ = platform::net::kNoHandle;
  platform::net::Family socket_family_ = platform::net::Family::kAny;
  int last_error_ = 0;
  // Bytes received and not yet handed out. Handing out a line moves the
  // start instead of copying the rest, and freed room is reused, so reading
  // costs time linear in the size of the input.
  class Input {
   public:
    const char* data() const { return buf_.get() + begin_; }
    size_t size() const { return end_ - begin_; }
    bool empty() const { return end_ == begin_; }
    // Every change but TakeLine forgets the lines found ahead.
    void Consume(size_t n);
    void Clear() {
      begin_ = end_ = 0;
      next_ = found_ = 0;
    }
    // Frees the memory as well.
    void Release();
    // Room for `n` more bytes at the end; Commit counts what was written.
    char* Reserve(size_t n);
    void Commit(size_t n) { end_ += n; }

    // Lines found ahead, with the rules of LineEndAny: FindLines lists those
    // the input holds from its start, a bounded number at a time, in one
    // pass over whole blocks; TakeLine hands out the next. A line end that
    // is the input's last byte is left for a read, as it may be the first
    // half of a two-byte end.
    void FindLines();
    bool HasLine() const { return next_ != found_; }
    std::string_view TakeLine() {
      const Line& next = lines_[next_++];
      const std::string_view line(data(), next.length);
      begin_ += next.skip;
      return line;
    }

   private:
    static constexpr int kLinesAhead = 32;
    // A line's length and that of the line with its end.
    struct Line {
      uint32_t length, skip;
    };

    std::unique_ptr<char[]> buf_;
    size_t capacity_ = 0, begin_ = 0, end_ = 0;
    Line lines_[kLinesAhead];
    int next_ = 0, found_ = 0;
  };
  Input input_;
  bool last_cr_ = false;
  bool last_lf_ = false;
  // A command or the connect has gone out and nothing was received since.
  bool reply_due_ = false;
  // What the next receive asks for (see FillInput).
  int receive_size_ = 16 << 10;
  // Non-zero once a bound was passed: the stream position is lost.
  int broken_ = 0;
  // The read under way: its timeout per wait and, from its first wait on,
  // its end (see kWholeReadTimeouts).
  bool reading_ = false;
  int read_timeout_ = -1;
  bool read_started_ = false;
  Clock::time_point read_end_;
  // See SetDeadline.
  bool has_deadline_ = false;
  Clock::time_point deadline_;
  // Buffer sizes asked for while there is no socket, set on the next one.
  std::optional<int> pending_receive_buffer_;
  std::optional<int> pending_send_buffer_;
  // The peer of the last connect, put into words only when asked (see
  // DescribeRemote): that costs more than the rest of a connect's own work.
  platform::net::Address remote_;

  // The abort signal and socket_, shared with AbortSocket on other threads:
  // socket_ changes only under the lock.
  std::mutex abort_mutex_;
  std::atomic<bool> aborted_{false};
  platform::net::Handle abort_signal_ = platform::net::kNoHandle;
  // See SocketApi::ReceiveWait.
  int receive_armed_ = platform::net::SocketApi::ReceiveWait::kUnarmed;
};

// Proxy settings; empty proxy host means no proxy, which is all this system
// uses, so nothing else of this class takes part in a connection.
class TSocksBlockSocket : public TBlockSocket {
 public:
  using TBlockSocket::TBlockSocket;

  std::string SocksIP;
  std::string SocksPort = "1080";
  int SocksTimeout = 300000;
};

// The connection the mail clients create: TCP plus implicit TLS.
class TTCPBlockSocket : public TSocksBlockSocket {
 public:
  explicit TTCPBlockSocket(platform::net::SocketApi* api = nullptr);
  ~TTCPBlockSocket() override;

  // With TLS enabled: shuts TLS down first.
  void Close() override;
  // With TLS enabled: the TLS handshake follows the TCP connect at once.
  // A host given by name is named to the server in the handshake (SNI).
  void Connect(const std::string& host, const std::string& port) override;
  // Through TLS when enabled: one SSL_write, retried on want-read/write.
  int SendBuffer(const void* buffer, int length) override;
  int ReceiveBuffer(void* buffer, int length) override;
  int PendingBytes() override;
  // Also true at once when the TLS session holds input.
  bool WaitReadable(int timeout) override;

  // Loads the TLS library (on first use) and creates a context and a handle;
  // LastError() is 10043 when that is impossible, and TLS stays off.
  // Disabling frees them. Clears InputBuffer.
  void SetTlsEnabled(bool enabled);
  bool TlsEnabled() const { return tls_ != nullptr; }
  // Handshake on the connected socket (enables TLS first if needed), with
  // the host of the last Connect named as for Connect.
  void StartTls();
  // Sends the TLS close and disables TLS.
  void StopTls();

  // Handed to the TLS library; the peer's certificate is never verified,
  // neither its chain nor the name in it.
  std::string TlsCipherList = "DEFAULT";
  // The TLS library's error after a TLS failure, for diagnosis only.
  unsigned long TlsLastError() const { return tls_last_error_; }
  std::string TlsLastErrorText() const { return tls_last_error_text_; }

 private:
  void CaptureTlsError();
  // Waits until the socket allows the step the TLS layer asked for: reading
  // when `want_read`, else writing; inside a read within its bounds (see
  // NextWait). 0, or the error of the wait.
  int WaitForTls(bool want_read);
  int ReceiveWithin(void* buffer, int length, int timeout, bool reply_due) override;
  // ReceiveBuffer through TLS; with `first_wait`, the library's first
  // receive waits for input as it says.
  int ReceiveTls(void* buffer, int length, const platform::net::SocketApi::ReceiveWait* first_wait);

  std::unique_ptr<TlsSession> tls_;
  std::string host_;
  unsigned long tls_last_error_ = 0;
  std::string tls_last_error_text_;
};

// Base of the mail clients: the connection parameters and the connection.
class TNexaClient {
 public:
  // `sock` defaults to a new TTCPBlockSocket on the system's sockets.
  explicit TNexaClient(std::unique_ptr<TTCPBlockSocket> sock = nullptr);
  virtual ~TNexaClient();
  TNexaClient(const TNexaClient&) = delete;
  TNexaClient& operator=(const TNexaClient&) = delete;

  std::string Host = "127.0.0.1";
  // A decimal port or a service name.
  std::string Port = "0";
  std::string BindAddress = "0.0.0.0";
  // Longest wait for input in one step of a read, in ms.
  int32_t Timeout = 5000;
  // TLS from the first byte.
  bool ImplicitTls = false;
  std::unique_ptr<TTCPBlockSocket> Sock;

 protected:
  // The connect step of every session: closes what is open, binds
  // BindAddress, enables TLS when ImplicitTls, and connects to Host and
  // Port, the TLS handshake and the greeting bounded as one command (see
  // BoundCommand). False, with the reason in Sock->LastError(), when no
  // connection came up; nothing is sent or read.
  bool ConnectSocket();
  // For a reply that passed its bound: frees `lines` with their memory and
  // closes the connection, since where the next reply would begin is lost.
  void DropReply(std::vector<std::string>* lines);
  // Bounds the command about to be sent (or the greeting about to be read),
  // its whole reply included, by kWholeReadTimeouts times Timeout, so a
  // server that paces its reply line by line cannot hold the session; no
  // bound when Timeout is not positive.
  void BoundCommand();
};
