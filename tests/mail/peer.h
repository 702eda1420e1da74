// A scripted server on loopback: it listens on a free port, accepts one
// connection and runs a script against it on its own thread.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <thread>

#include "platform/net/sockets.h"

namespace net = platform::net;

// The server's end of one connection; every wait is bounded so a failing
// test cannot hang.
class PeerConnection {
 public:
  explicit PeerConnection(net::Handle socket) : socket_(socket) {}

  // False once the client is gone.
  bool Send(std::string_view bytes);
  // Bytes up to and including `terminator`; empty when the client closed or
  // nothing came within 10 s.
  std::string ReceiveUntil(std::string_view terminator);
  // Waits until the client closes (or 10 s pass).
  void WaitForClose();
  // Everything the client still sends until it closes (or 10 s pass).
  std::string ReceiveAll();
  net::Handle socket() const { return socket_; }

 private:
  // False when `events` did not come within 10 s.
  bool WaitFor(int events);
  // Appends what one receive brings; false once the client closed or was silent.
  bool ReceiveMore();

  net::Handle socket_;
  std::string input_;
};

class Peer {
 public:
  using Script = std::function<void(PeerConnection&)>;

  // Listens on 127.0.0.1 or ::1 (`backlog` waiting connections).
  explicit Peer(net::Family family = net::Family::kIPv4, int backlog = 4);
  // Joins the script; closes whatever is still open.
  ~Peer();
  Peer(const Peer&) = delete;
  Peer& operator=(const Peer&) = delete;

  std::string Port() const { return std::to_string(port_); }
  net::Handle listener() const { return listener_; }
  // Accepts `connections` connections one after the other on a thread and
  // runs the script with each.
  void Serve(Script script, int connections = 1);

  // A port nothing listens on (taken and released at once).
  static std::string ClosedPort();

 private:
  net::Handle listener_ = net::kNoHandle;
  int port_ = 0;
  std::thread thread_;
};
