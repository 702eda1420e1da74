// The operating system's stream sockets behind one small interface: Winsock 2
// on Windows, BSD sockets elsewhere. Every call returns 0 or an error code in
// Windows Sockets numbering, so callers see the same codes on every system.
//
// Sockets do not block in Send and Receive; a caller that wants to block does
// so in Wait or ReceiveWithin, which an abort signal raised by another thread
// ends promptly. That is what lets another thread interrupt a connect, read or
// write without closing the handle under the blocked thread's feet.
//
// The interface is a seam: a test overrides the calls it wants to script.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace platform::net {

// A socket or signal handle; kNoHandle means none.
using Handle = std::intptr_t;
inline constexpr Handle kNoHandle = -1;

enum class Family { kAny, kIPv4, kIPv6 };

// A socket address as the system stores it (sockaddr_in or sockaddr_in6).
struct Address {
  Family family = Family::kAny;  // kAny: no address
  int length = 0;
  std::array<unsigned char, 128> storage{};
};

// Codes the callers test for by name.
inline constexpr int kErrInterrupted = 10004;  // aborted by the abort signal
inline constexpr int kErrWouldBlock = 10035;
inline constexpr int kErrInProgress = 10036;  // connect started, not finished

// Readiness bits for Wait.
inline constexpr int kReadable = 1;
inline constexpr int kWritable = 2;

class SocketApi {
 public:
  // The system's sockets; lives for the whole process.
  static SocketApi* Default();

  virtual ~SocketApi() = default;

  // Reference-counted start and stop of the socket library (WSAStartup and
  // WSACleanup on Windows); every Startup that returned 0 needs one Cleanup.
  virtual int Startup() = 0;
  virtual void Cleanup() = 0;

  // Resolves host (null: no host name, i.e. loopback, or any address when
  // passive) and service (a name such as "pop3" or a decimal port) to stream
  // TCP addresses of the family (kAny: both), in the resolver's order.
  virtual int Resolve(const char* host, const std::string& service, Family family, bool passive,
                      std::vector<Address>* out) = 0;
  // Numeric form of an address ("127.0.0.1", "::1") and its port.
  virtual int Describe(const Address& address, std::string* ip, int* port) = 0;

  // A TCP stream socket of the family (kIPv4 or kIPv6).
  virtual int Open(Family family, Handle* out) = 0;
  virtual int SetBufferSize(Handle socket, bool receive, int bytes) = 0;
  virtual int Bind(Handle socket, const Address& address) = 0;
  virtual int Listen(Handle socket, int backlog) = 0;
  // Takes one waiting connection, kErrWouldBlock when none is waiting.
  virtual int Accept(Handle socket, Handle* out) = 0;
  // Starts a connect: 0 when already connected, kErrInProgress when the
  // outcome follows later (wait for kWritable, then ConnectResult).
  virtual int Connect(Handle socket, const Address& address) = 0;
  virtual int ConnectResult(Handle socket) = 0;
  virtual int LocalAddress(Handle socket, Address* out) = 0;

  // One send or receive system call; kErrWouldBlock when it would block.
  // Sending never raises SIGPIPE. A receive of 0 bytes means the peer closed.
  virtual int Send(Handle socket, const void* data, int length, int* sent) = 0;
  virtual int Receive(Handle socket, void* data, int length, int* received) = 0;
  // Bytes readable without blocking (FIONREAD).
  virtual int Pending(Handle socket, int* count) = 0;

  // Waits until the socket is ready for one of `events` (a failed connect
  // counts as writable), the timeout passes (-1: no limit) or the signal
  // `abort` (kNoHandle: none) is raised. *ready gets the ready events, 0 on
  // timeout; a raised signal returns kErrInterrupted or shows as readiness
  // (see OpenSignal).
  virtual int Wait(Handle socket, int events, int timeout_ms, Handle abort, int* ready) = 0;

  // How ReceiveWithin may wait.
  struct ReceiveWait {
    static constexpr int kUnarmed = -2;
    int timeout_ms = 0;        // 0: no wait; -1: no limit
    Handle abort = kNoHandle;  // as for Wait
    // The reply cannot be there yet (a request has just left), so a back end
    // that waits apart from the receive waits first.
    bool reply_due = false;
    // The wait the socket is set up for, kept by the caller per socket and
    // kUnarmed for a new one: a back end that waits inside the receive itself
    // sets the socket up only when this changes.
    int* armed_ms = nullptr;
  };
  // Receive, after waiting as Wait does for kReadable when nothing is there
  // yet; kErrWouldBlock when nothing came in time. Where the system can wait
  // inside the receive this is one system call, not two.
  virtual int ReceiveWithin(Handle socket, void* data, int length, const ReceiveWait& wait,
                            int* received);

  virtual int ShutdownSend(Handle socket) = 0;
  virtual void Close(Handle socket) = 0;

  // An abort signal for the waits on one socket. Once raised, a Wait or
  // ReceiveWithin on `socket` that watches the signal, under way or later,
  // returns promptly: with kErrInterrupted, or as if the peer had closed
  // where raising shuts the socket down both ways (POSIX, where no signal
  // needs to be made and the handle is kNoHandle), so the caller keeps its
  // own record of the raise. RaiseSignal is safe from any thread while the
  // signal and the socket (kNoHandle: none yet) are open.
  virtual int OpenSignal(Handle* signal) = 0;
  virtual void RaiseSignal(Handle signal, Handle socket) = 0;
  virtual void CloseSignal(Handle signal) = 0;
};

// Receives first unless the reply is due, then waits and receives: two calls
// only when nothing is there.
inline int SocketApi::ReceiveWithin(Handle socket, void* data, int length, const ReceiveWait& wait,
                                    int* received) {
  for (bool wait_now = wait.reply_due && wait.timeout_ms != 0;; wait_now = true) {
    if (wait_now) {
      int ready = 0;
      const int rc = Wait(socket, kReadable, wait.timeout_ms, wait.abort, &ready);
      if (rc != 0) return rc;
      if (ready == 0) return kErrWouldBlock;
    }
    const int rc = Receive(socket, data, length, received);
    if (rc != kErrWouldBlock || wait.timeout_ms == 0) return rc;
  }
}

}  // namespace platform::net
