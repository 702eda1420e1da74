// A scripted stand-in for the system's sockets: input arrives in the exact
// pieces a test lists (one piece per receive), waits never block, and every
// call that leaves the machine is recorded.
#pragma once

#include <algorithm>
#include <deque>
#include <string>
#include <utility>
#include <vector>

#include "platform/net/sockets.h"

namespace net = platform::net;

class FakeSockets : public net::SocketApi {
 public:
  // Input, one receive per piece; once empty, `closed` tells whether the peer
  // has closed (a wait then reports readable with nothing to read, a send
  // fails) or stays silent (a wait times out at once).
  std::deque<std::string> arrivals;
  bool closed = false;
  // Every piece is endless: the peer never stops sending.
  bool endless = false;
  // What Connect answers (kErrInProgress: the system finishes it later) and
  // what the finished connect then gives.
  int connect_answer = 0;
  int connect_result = 0;

  // What Resolve answers.
  std::vector<net::Family> resolved = {net::Family::kIPv4};
  int resolve_error = 0;

  // Recorded calls.
  std::vector<std::string> sends;
  std::vector<std::string> calls;
  int receives = 0;
  int waits = 0;  // for input
  bool resolved_with_null_host = false;
  bool resolved_passive = false;
  std::string resolved_service;
  net::Family opened = net::Family::kAny;
  net::Family connected = net::Family::kAny;

  int Startup() override { return 0; }
  void Cleanup() override {}

  int Resolve(const char* host, const std::string& service, net::Family, bool passive,
              std::vector<net::Address>* out) override {
    calls.push_back("resolve");
    resolved_with_null_host = host == nullptr;
    resolved_passive = passive;
    resolved_service = service;
    out->clear();
    for (net::Family f : resolved) {
      net::Address a;
      a.family = f;
      out->push_back(a);
    }
    return resolve_error;
  }
  int Describe(const net::Address& a, std::string* ip, int* port) override {
    *ip = a.family == net::Family::kIPv6 ? "::1" : "127.0.0.1";
    *port = 110;
    return 0;
  }
  int Open(net::Family family, net::Handle* out) override {
    calls.push_back("open");
    opened = family;
    *out = 3;
    return 0;
  }
  int SetBufferSize(net::Handle, bool receive, int bytes) override {
    return Record((receive ? "rcvbuf " : "sndbuf ") + std::to_string(bytes));
  }
  int Bind(net::Handle, const net::Address&) override { return Record("bind"); }
  int Listen(net::Handle, int) override { return 10045; }
  int Accept(net::Handle, net::Handle*) override { return 10045; }
  int Connect(net::Handle, const net::Address& a) override {
    calls.push_back("connect");
    connected = a.family;
    return connect_answer;
  }
  int ConnectResult(net::Handle) override { return connect_result; }
  int LocalAddress(net::Handle, net::Address* out) override {
    out->family = connected;
    return 0;
  }
  int Send(net::Handle, const void* data, int length, int* sent) override {
    if (closed) return 10054;
    sends.emplace_back(static_cast<const char*>(data), static_cast<size_t>(length));
    *sent = length;
    return 0;
  }
  int Receive(net::Handle, void* data, int length, int* received) override {
    ++receives;
    *received = 0;
    if (arrivals.empty()) return closed ? 0 : net::kErrWouldBlock;
    std::string& front = arrivals.front();
    size_t n = std::min(front.size(), static_cast<size_t>(length));
    front.copy(static_cast<char*>(data), n);
    if (!endless) {
      front.erase(0, n);
      if (front.empty()) arrivals.pop_front();
    }
    *received = static_cast<int>(n);
    return 0;
  }
  int Pending(net::Handle, int* count) override {
    *count = arrivals.empty() ? 0 : static_cast<int>(arrivals.front().size());
    return 0;
  }
  int Wait(net::Handle, int events, int, net::Handle, int* ready) override {
    if (raised) return net::kErrInterrupted;
    if (events & net::kReadable) ++waits;
    *ready = events & net::kWritable;
    if ((events & net::kReadable) && (!arrivals.empty() || closed)) *ready |= net::kReadable;
    return 0;
  }
  int ShutdownSend(net::Handle) override { return Record("shutdown"); }
  void Close(net::Handle) override { Record("close"); }
  int OpenSignal(net::Handle* signal) override {
    *signal = 4;
    return 0;
  }
  void RaiseSignal(net::Handle, net::Handle) override { raised = true; }
  void CloseSignal(net::Handle) override {}

 private:
  int Record(std::string call) {
    calls.push_back(std::move(call));
    return 0;
  }
  bool raised = false;
};
