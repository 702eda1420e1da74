#include "peer.h"

#include <utility>
#include <vector>

namespace {

constexpr int kPeerWaitMs = 10000;

net::SocketApi* Api() { return net::SocketApi::Default(); }

}  // namespace

bool PeerConnection::WaitFor(int events) {
  int ready = 0;
  return Api()->Wait(socket_, events, kPeerWaitMs, net::kNoHandle, &ready) == 0 && ready != 0;
}

bool PeerConnection::Send(std::string_view bytes) {
  while (!bytes.empty()) {
    if (!WaitFor(net::kWritable)) return false;
    int sent = 0;
    int rc = Api()->Send(socket_, bytes.data(), static_cast<int>(bytes.size()), &sent);
    if (rc == net::kErrWouldBlock) continue;
    if (rc != 0) return false;
    bytes.remove_prefix(static_cast<size_t>(sent));
  }
  return true;
}

bool PeerConnection::ReceiveMore() {
  for (;;) {
    if (!WaitFor(net::kReadable)) return false;
    char buffer[4096];
    int got = 0;
    int rc = Api()->Receive(socket_, buffer, sizeof buffer, &got);
    if (rc == net::kErrWouldBlock) continue;
    if (rc != 0 || got == 0) return false;
    input_.append(buffer, static_cast<size_t>(got));
    return true;
  }
}

std::string PeerConnection::ReceiveUntil(std::string_view terminator) {
  for (;;) {
    size_t at = input_.find(terminator);
    if (at != std::string::npos) {
      std::string got = input_.substr(0, at + terminator.size());
      input_.erase(0, at + terminator.size());
      return got;
    }
    if (!ReceiveMore()) return std::string();
  }
}

void PeerConnection::WaitForClose() { ReceiveAll(); }

std::string PeerConnection::ReceiveAll() {
  while (ReceiveMore()) {
  }
  return std::exchange(input_, std::string());
}

Peer::Peer(net::Family family, int backlog) {
  Api()->Startup();
  std::vector<net::Address> found;
  Api()->Resolve(family == net::Family::kIPv6 ? "::1" : "127.0.0.1", "0", family, false, &found);
  if (found.empty() || Api()->Open(family, &listener_) != 0) return;
  net::Address bound;
  std::string ip;
  if (Api()->Bind(listener_, found[0]) != 0 || Api()->Listen(listener_, backlog) != 0 ||
      Api()->LocalAddress(listener_, &bound) != 0 || Api()->Describe(bound, &ip, &port_) != 0) {
    Api()->Close(listener_);
    listener_ = net::kNoHandle;
  }
}

Peer::~Peer() {
  if (thread_.joinable()) thread_.join();
  if (listener_ != net::kNoHandle) Api()->Close(listener_);
  Api()->Cleanup();
}

void Peer::Serve(Script script, int connections) {
  thread_ = std::thread([this, script = std::move(script), connections] {
    for (int i = 0; i < connections; ++i) {
      int ready = 0;
      net::Handle socket = net::kNoHandle;
      if (Api()->Wait(listener_, net::kReadable, kPeerWaitMs, net::kNoHandle, &ready) != 0 ||
          ready == 0 || Api()->Accept(listener_, &socket) != 0) {
        return;
      }
      PeerConnection connection(socket);
      script(connection);
      Api()->Close(socket);
    }
  });
}

std::string Peer::ClosedPort() {
  Peer peer;
  return peer.Port();
}
