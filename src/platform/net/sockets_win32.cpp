// Winsock 2 back end (ws2_32.dll, version 2.2). Codes are Winsock's own.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platform/net/sockaddr_convert.h"
#include "platform/net/sockets.h"

namespace platform::net {
namespace {

int LastErr() { return WSAGetLastError(); }

SOCKET S(Handle h) { return static_cast<SOCKET>(h); }

bool SetNonBlocking(SOCKET s) {
  u_long on = 1;
  return ioctlsocket(s, FIONBIO, &on) == 0;
}

// Takes a new socket into use: non-blocking, or closed.
int Adopt(SOCKET s, Handle* out) {
  if (s == INVALID_SOCKET) return LastErr();
  if (!SetNonBlocking(s)) {
    int err = LastErr();
    closesocket(s);
    return err;
  }
  *out = static_cast<Handle>(s);
  return 0;
}

class WinsockSockets final : public SocketApi {
 public:
  int Startup() override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (refs_ == 0) {
      WSADATA data;
      int rc = WSAStartup(MAKEWORD(2, 2), &data);
      if (rc != 0) return rc;
    }
    ++refs_;
    return 0;
  }

  void Cleanup() override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (refs_ > 0 && --refs_ == 0) WSACleanup();
  }

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
    if (rc != 0) return rc;
    for (addrinfo* a = list; a != nullptr; a = a->ai_next) {
      if (a->ai_family != AF_INET && a->ai_family != AF_INET6) continue;
      Address addr;
      if (FromSockaddr(a->ai_addr, a->ai_addrlen, &addr) == 0) {
        out->push_back(addr);
      }
    }
    freeaddrinfo(list);
    return out->empty() ? WSAHOST_NOT_FOUND : 0;
  }

  int Describe(const Address& address, std::string* ip, int* port) override {
    char host[NI_MAXHOST];
    char serv[NI_MAXSERV];
    int rc = getnameinfo(reinterpret_cast<const sockaddr*>(address.storage.data()), address.length,
                         host, sizeof host, serv, sizeof serv, NI_NUMERICHOST | NI_NUMERICSERV);
    if (rc != 0) return rc;
    *ip = host;
    *port = std::atoi(serv);
    return 0;
  }

  int Open(Family family, Handle* out) override {
    return Adopt(socket(ToFamily(family), SOCK_STREAM, IPPROTO_TCP), out);
  }

  int SetBufferSize(Handle socket, bool receive, int bytes) override {
    return setsockopt(S(socket), SOL_SOCKET, receive ? SO_RCVBUF : SO_SNDBUF,
                      reinterpret_cast<const char*>(&bytes), sizeof bytes) == 0
               ? 0
               : LastErr();
  }

  int Bind(Handle socket, const Address& address) override {
    return bind(S(socket), reinterpret_cast<const sockaddr*>(address.storage.data()),
                address.length) == 0
               ? 0
               : LastErr();
  }

  int Listen(Handle socket, int backlog) override {
    return listen(S(socket), backlog) == 0 ? 0 : LastErr();
  }

  int Accept(Handle socket, Handle* out) override {
    return Adopt(accept(S(socket), nullptr, nullptr), out);
  }

  int Connect(Handle socket, const Address& address) override {
    if (connect(S(socket), reinterpret_cast<const sockaddr*>(address.storage.data()),
                address.length) == 0) {
      return 0;
    }
    int err = LastErr();
    return err == WSAEWOULDBLOCK || err == WSAEINPROGRESS ? kErrInProgress : err;
  }

  int ConnectResult(Handle socket) override {
    int err = 0;
    int len = sizeof err;
    if (getsockopt(S(socket), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&err), &len) != 0) {
      return LastErr();
    }
    return err;
  }

  int LocalAddress(Handle socket, Address* out) override {
    sockaddr_storage ss{};
    int len = sizeof ss;
    if (getsockname(S(socket), reinterpret_cast<sockaddr*>(&ss), &len) != 0) return LastErr();
    return FromSockaddr(reinterpret_cast<sockaddr*>(&ss), static_cast<size_t>(len), out);
  }

  int Send(Handle socket, const void* data, int length, int* sent) override {
    int n = send(S(socket), static_cast<const char*>(data), length, 0);
    if (n == SOCKET_ERROR) return LastErr();
    *sent = n;
    return 0;
  }

  int Receive(Handle socket, void* data, int length, int* received) override {
    int n = recv(S(socket), static_cast<char*>(data), length, 0);
    if (n == SOCKET_ERROR) return LastErr();
    *received = n;
    return 0;
  }

  int Pending(Handle socket, int* count) override {
    u_long n = 0;
    if (ioctlsocket(S(socket), FIONREAD, &n) != 0) return LastErr();
    *count = static_cast<int>(n);
    return 0;
  }

  int Wait(Handle socket, int events, int timeout_ms, Handle abort, int* ready) override {
    fd_set rd, wr, ex;
    FD_ZERO(&rd);
    FD_ZERO(&wr);
    FD_ZERO(&ex);
    if (events & kReadable) FD_SET(S(socket), &rd);
    if (events & kWritable) {
      FD_SET(S(socket), &wr);
      // A failed non-blocking connect shows up here, not as writable.
      FD_SET(S(socket), &ex);
    }
    if (abort != kNoHandle) FD_SET(S(abort), &rd);
    timeval tv;
    tv.tv_sec = timeout_ms / 1000;
    tv.tv_usec = (timeout_ms % 1000) * 1000;
    int rc = select(0, &rd, &wr, &ex, timeout_ms < 0 ? nullptr : &tv);
    if (rc == SOCKET_ERROR) return LastErr();
    if (abort != kNoHandle && FD_ISSET(S(abort), &rd)) return kErrInterrupted;
    *ready = 0;
    if (FD_ISSET(S(socket), &rd)) *ready |= kReadable;
    if (FD_ISSET(S(socket), &wr) || FD_ISSET(S(socket), &ex)) *ready |= kWritable;
    return 0;
  }

  int ShutdownSend(Handle socket) override {
    return shutdown(S(socket), SD_SEND) == 0 ? 0 : LastErr();
  }

  void Close(Handle socket) override { closesocket(S(socket)); }

  // select() watches sockets only, so the signal is a UDP socket connected to
  // itself: a datagram sent to it makes it readable for good (never read).
  int OpenSignal(Handle* signal) override {
    SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (s == INVALID_SOCKET) return LastErr();
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int len = sizeof addr;
    if (bind(s, reinterpret_cast<sockaddr*>(&addr), len) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len) != 0 ||
        connect(s, reinterpret_cast<sockaddr*>(&addr), len) != 0 || !SetNonBlocking(s)) {
      int err = LastErr();
      closesocket(s);
      return err;
    }
    *signal = static_cast<Handle>(s);
    return 0;
  }

  void RaiseSignal(Handle signal, Handle) override {
    const char byte = 1;
    if (signal != kNoHandle) send(S(signal), &byte, 1, 0);
  }

  void CloseSignal(Handle signal) override { closesocket(S(signal)); }

 private:
  std::mutex mutex_;
  int refs_ = 0;
};

}  // namespace

SocketApi* SocketApi::Default() {
  static WinsockSockets sockets;
  return &sockets;
}

}  // namespace platform::net
