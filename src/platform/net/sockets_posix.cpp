// BSD sockets back end. System error numbers are mapped onto the Windows
// Sockets numbering so both back ends report the same codes.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/net/sockaddr_convert.h"
#include "platform/net/sockets.h"

namespace platform::net {
namespace {

int MapErrno(int e) {
  struct Pair {
    int sys, wsa;
  };
  static const Pair kMap[] = {
      {EINTR, 10004},           {EBADF, 10009},        {EACCES, 10013},
      {EFAULT, 10014},          {EINVAL, 10022},       {EMFILE, 10024},
      {EWOULDBLOCK, 10035},     {EINPROGRESS, 10036},  {EALREADY, 10037},
      {ENOTSOCK, 10038},        {EDESTADDRREQ, 10039}, {EMSGSIZE, 10040},
      {EPROTOTYPE, 10041},      {ENOPROTOOPT, 10042},  {EPROTONOSUPPORT, 10043},
      {ESOCKTNOSUPPORT, 10044}, {EOPNOTSUPP, 10045},   {EPFNOSUPPORT, 10046},
      {EAFNOSUPPORT, 10047},    {EADDRINUSE, 10048},   {EADDRNOTAVAIL, 10049},
      {ENETDOWN, 10050},        {ENETUNREACH, 10051},  {ENETRESET, 10052},
      {ECONNABORTED, 10053},    {ECONNRESET, 10054},   {EPIPE, 10054},
      {ENOBUFS, 10055},         {EISCONN, 10056},      {ENOTCONN, 10057},
      {ESHUTDOWN, 10058},       {ETOOMANYREFS, 10059}, {ETIMEDOUT, 10060},
      {ECONNREFUSED, 10061},    {ELOOP, 10062},        {ENAMETOOLONG, 10063},
      {EHOSTDOWN, 10064},       {EHOSTUNREACH, 10065}, {ENOTEMPTY, 10066},
      {EUSERS, 10068},          {EDQUOT, 10069},       {ESTALE, 10070},
      {EREMOTE, 10071},         {ENOMEM, 10055},
  };
  for (const Pair& p : kMap) {
    if (p.sys == e) return p.wsa;
  }
  return e;
}

int LastErr() { return MapErrno(errno); }

int MapResolverError(int rc) {
  switch (rc) {
    case EAI_NONAME:
#ifdef EAI_NODATA
    case EAI_NODATA:
#endif
      return 11001;  // host not found
    case EAI_AGAIN:
      return 11002;
    case EAI_FAIL:
      return 11003;
    case EAI_SERVICE:
      return 10109;  // service not found for this socket type
    case EAI_FAMILY:
      return 10047;
    case EAI_MEMORY:
      return 10055;
    case EAI_SYSTEM:
      return LastErr();
    default:
      return 11003;
  }
}

// New sockets block, so that ReceiveWithin can wait inside the receive, and
// are not inherited from the call that makes them; Send and Receive ask not
// to block each time.
constexpr int kNewSocketFlags = SOCK_CLOEXEC;
constexpr int kNoWait = MSG_DONTWAIT;
// A connect blocks at most this long before the caller waits for it: long
// enough for a server on this machine or nearby to answer within it (one
// call instead of three), short enough that an abort raised just before the
// connect began, which the connect does not see, costs no more.
constexpr suseconds_t kConnectBlockUs = 10000;

// The new socket, or the system's error.
int Adopt(int fd, Handle* out) {
  if (fd < 0) return LastErr();
  *out = fd;
  return 0;
}

// poll(), not select(): a host process may have more than FD_SETSIZE files
// open, and select() cannot watch a descriptor beyond that.
class PosixSockets final : public SocketApi {
 public:
  int Startup() override { return 0; }
  void Cleanup() override {}

  int Resolve(const char* host, const std::string& service, Family family, bool passive,
              std::vector<Address>* out) override {
    out->clear();
    if (host == nullptr && !passive && LoopbackAddresses(service, family, out)) return 0;
    addrinfo hints{};
    hints.ai_family = ToFamily(family);
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    if (passive) hints.ai_flags = AI_PASSIVE;
    addrinfo* list = nullptr;
    int rc = getaddrinfo(host, service.c_str(), &hints, &list);
    if (rc != 0) return MapResolverError(rc);
    for (addrinfo* a = list; a != nullptr; a = a->ai_next) {
      if (a->ai_family != AF_INET && a->ai_family != AF_INET6) continue;
      Address addr;
      if (FromSockaddr(a->ai_addr, a->ai_addrlen, &addr) == 0) out->push_back(addr);
    }
    freeaddrinfo(list);
    return out->empty() ? 11001 : 0;
  }

  int Describe(const Address& address, std::string* ip, int* port) override {
    char host[NI_MAXHOST];
    char serv[NI_MAXSERV];
    int rc = getnameinfo(reinterpret_cast<const sockaddr*>(address.storage.data()),
                         static_cast<socklen_t>(address.length), host, sizeof host, serv,
                         sizeof serv, NI_NUMERICHOST | NI_NUMERICSERV);
    if (rc != 0) return MapResolverError(rc);
    *ip = host;
    *port = std::atoi(serv);
    return 0;
  }

  int Open(Family family, Handle* out) override {
    return Adopt(socket(ToFamily(family), SOCK_STREAM | kNewSocketFlags, IPPROTO_TCP), out);
  }

  int SetBufferSize(Handle socket, bool receive, int bytes) override {
    return setsockopt(static_cast<int>(socket), SOL_SOCKET, receive ? SO_RCVBUF : SO_SNDBUF, &bytes,
                      sizeof bytes) == 0
               ? 0
               : LastErr();
  }

  int Bind(Handle socket, const Address& address) override {
    return bind(static_cast<int>(socket), reinterpret_cast<const sockaddr*>(address.storage.data()),
                static_cast<socklen_t>(address.length)) == 0
               ? 0
               : LastErr();
  }

  // A listener does not block: Accept takes only a waiting connection.
  int Listen(Handle socket, int backlog) override {
    int one = 1;
    setsockopt(static_cast<int>(socket), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    return fcntl(static_cast<int>(socket), F_SETFL, O_NONBLOCK) == 0 &&
                   listen(static_cast<int>(socket), backlog) == 0
               ? 0
               : LastErr();
  }

  int Accept(Handle socket, Handle* out) override {
    return Adopt(accept4(static_cast<int>(socket), nullptr, nullptr, kNewSocketFlags), out);
  }

  // Past the send timeout a blocking connect goes on in the background and
  // says EINPROGRESS, as a non-blocking one does at once.
  int Connect(Handle socket, const Address& address) override {
    const int fd = static_cast<int>(socket);
    const timeval bound{0, kConnectBlockUs};
    if (setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &bound, sizeof bound) != 0) return LastErr();
    if (connect(fd, reinterpret_cast<const sockaddr*>(address.storage.data()),
                static_cast<socklen_t>(address.length)) == 0) {
      return 0;
    }
    return errno == EINPROGRESS || errno == EINTR ? kErrInProgress : LastErr();
  }

  int ConnectResult(Handle socket) override {
    int err = 0;
    socklen_t len = sizeof err;
    if (getsockopt(static_cast<int>(socket), SOL_SOCKET, SO_ERROR, &err, &len) != 0) {
      return LastErr();
    }
    return err == 0 ? 0 : MapErrno(err);
  }

  int LocalAddress(Handle socket, Address* out) override {
    sockaddr_storage ss{};
    socklen_t len = sizeof ss;
    if (getsockname(static_cast<int>(socket), reinterpret_cast<sockaddr*>(&ss), &len) != 0) {
      return LastErr();
    }
    return FromSockaddr(reinterpret_cast<sockaddr*>(&ss), static_cast<size_t>(len), out);
  }

  int Send(Handle socket, const void* data, int length, int* sent) override {
    ssize_t n;
    do {
      n = send(static_cast<int>(socket), data, static_cast<size_t>(length), MSG_NOSIGNAL | kNoWait);
    } while (n < 0 && errno == EINTR);
    if (n < 0) return LastErr();
    *sent = static_cast<int>(n);
    return 0;
  }

  int Receive(Handle socket, void* data, int length, int* received) override {
    return Recv(socket, data, length, kNoWait, received);
  }

  // A blocking receive with the wait as the socket's receive timeout: one
  // system call where a wait and a receive would be two. Raising the abort
  // signal shuts the socket down, which ends the receive at once.
  int ReceiveWithin(Handle socket, void* data, int length, const ReceiveWait& wait,
                    int* received) override {
    if (wait.timeout_ms == 0) return Receive(socket, data, length, received);
    const int fd = static_cast<int>(socket);
    if (*wait.armed_ms != wait.timeout_ms) {
      timeval tv{};  // zero: no limit
      if (wait.timeout_ms > 0) {
        tv.tv_sec = wait.timeout_ms / 1000;
        tv.tv_usec = (wait.timeout_ms % 1000) * 1000;
      }
      if (setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) != 0) return LastErr();
      *wait.armed_ms = wait.timeout_ms;
    }
    return Recv(socket, data, length, 0, received);
  }

  int Pending(Handle socket, int* count) override {
    int n = 0;
    if (ioctl(static_cast<int>(socket), FIONREAD, &n) != 0) return LastErr();
    *count = n;
    return 0;
  }

  // No signal is ever made here (see OpenSignal), so only the socket is
  // watched: raising the signal shuts it down, which ends the poll.
  int Wait(Handle socket, int events, int timeout_ms, Handle, int* ready) override {
    pollfd fd = {};
    fd.fd = static_cast<int>(socket);
    fd.events = static_cast<short>(((events & kReadable) ? POLLIN : 0) |
                                   ((events & kWritable) ? POLLOUT : 0));
    int rc;
    do {
      rc = poll(&fd, 1, timeout_ms < 0 ? -1 : timeout_ms);
    } while (rc < 0 && errno == EINTR);
    if (rc < 0) return LastErr();
    *ready = 0;
    // Errors and hang-ups count as ready: the next call reports them.
    short any = POLLERR | POLLHUP;
    if ((events & kReadable) && (fd.revents & (POLLIN | any))) *ready |= kReadable;
    if ((events & kWritable) && (fd.revents & (POLLOUT | any))) *ready |= kWritable;
    if (fd.revents & POLLNVAL) return 10038;
    return 0;
  }

  int ShutdownSend(Handle socket) override {
    return shutdown(static_cast<int>(socket), SHUT_WR) == 0 ? 0 : LastErr();
  }

  void Close(Handle socket) override { close(static_cast<int>(socket)); }

  // Shutting a socket down both ways wakes every poll and receive on it, now
  // and later, even a connect under way, so no signal has to be made: no
  // descriptor to open and close for every connection object.
  int OpenSignal(Handle* signal) override {
    *signal = kNoHandle;
    return 0;
  }

  void RaiseSignal(Handle, Handle socket) override {
    if (socket != kNoHandle) shutdown(static_cast<int>(socket), SHUT_RDWR);
  }

  void CloseSignal(Handle) override {}

 private:
  static int Recv(Handle socket, void* data, int length, int flags, int* received) {
    ssize_t n;
    do {
      n = recv(static_cast<int>(socket), data, static_cast<size_t>(length), flags);
    } while (n < 0 && errno == EINTR);
    if (n < 0) return LastErr();
    *received = static_cast<int>(n);
    return 0;
  }
};

}  // namespace

SocketApi* SocketApi::Default() {
  static PosixSockets sockets;
  return &sockets;
}

}  // namespace platform::net
