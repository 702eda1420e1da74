// TLS client sessions over OpenSSL, opened at run time so that a machine
// without it still makes plain connections. The library is loaded by the first
// session and released by the last one, under a process-wide lock, unless a
// TlsLibraryHold keeps it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/net/sockets.h"

// One client session: a context and a handle bound to a socket. Operations
// never block on their own account: they report what the socket must become
// ready for, and the caller waits and repeats.
class TlsSession {
 public:
  enum class Status { kOk, kWantRead, kWantWrite, kClosed, kFailed };

  TlsSession() = default;
  ~TlsSession();
  TlsSession(const TlsSession&) = delete;
  TlsSession& operator=(const TlsSession&) = delete;

  // Takes a reference on the library and creates a handle on the client
  // context for the cipher list (any protocol version both sides support, no
  // peer verification). False when the library is missing or either object
  // could not be made; the session then holds nothing.
  bool Open(const std::string& cipher_list);
  // Binds the handle to the socket, read and written through `api`.
  bool Attach(platform::net::SocketApi* api, platform::net::Handle socket);
  // Names the server in the handshake (SNI); before Handshake.
  void SetServerName(const std::string& name);
  Status Handshake();
  // When `wait` is given and the library must receive, its first receive
  // waits for input as `wait` says; WaitResult then tells how it ended.
  Status Read(void* buffer, int length, int* done,
              const platform::net::SocketApi::ReceiveWait* wait = nullptr);
  // The result of the last Read's waiting receive (0: none, or it received).
  int WaitResult() const { return link_.wait_rc; }
  Status Write(const void* buffer, int length, int* done);
  Status Shutdown();
  // Decrypted bytes buffered in the session.
  int Pending();
  // Input is here to be read without the socket: decrypted, or received
  // and not yet decrypted (the library does not tell how much).
  bool HoldsInput();
  // Whether a read may find more without waiting: the session holds input,
  // or the last receive filled its room and may have left some behind. Only
  // a session reading through the connection's own socket calls knows; one
  // bound to the descriptor always says yes.
  bool MayHaveMore() { return !link_.drained || HoldsInput(); }

  // The library's oldest queued error (0: none) and its text; clears the
  // queue.
  unsigned long TakeError(std::string* text);

  // Library names tried instead of the built-in ones (empty: built-in), so a
  // test can make the library missing. Takes effect at the next load.
  static void SetLibraryNamesForTesting(std::vector<std::string> ssl,
                                        std::vector<std::string> crypto);

  // What the library's reads and writes of this session go through.
  struct Link {
    platform::net::SocketApi* api = nullptr;
    platform::net::Handle socket = platform::net::kNoHandle;
    bool ended = false;  // a receive found the peer's end of data
    // The next receive waits so, once; wait_rc is what it returned.
    const platform::net::SocketApi::ReceiveWait* wait = nullptr;
    int wait_rc = 0;
    bool drained = false;  // the last receive found less than its room
  };

 private:
  // The library's read buffer when it reads ahead: room for four full
  // records with their overhead.
  static constexpr size_t kReadAheadRoom = 4 * (16 * 1024 + 256);

  Status Result(int rc, int* done);

  bool loaded_ = false;
  // The library reads ahead through the connection's own receives.
  bool reads_ahead_ = false;
  Link link_;
  void* ssl_ = nullptr;
};

// While one exists, the library stays loaded between sessions and each
// cipher list's context is made once: making a context costs about as much
// as a tenth of a whole TLS check. Sessions share a context safely, since a
// client context keeps no sessions. Holding does not load the library.
class TlsLibraryHold {
 public:
  TlsLibraryHold();
  ~TlsLibraryHold();
  TlsLibraryHold(const TlsLibraryHold&) = delete;
  TlsLibraryHold& operator=(const TlsLibraryHold&) = delete;
};
