// The connection over real sockets on loopback, against scripted peers: what
// only the system's sockets show (connect failures, service names, IPv6, a
// reset, the read bounds in real time) and aborts from another thread. The
// line reader's cases are in line_reader_test.cpp.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "blcksock.h"
#include "peer.h"

using namespace std::chrono_literals;

namespace {

constexpr int kOk = 0;

// A client socket set up as both mail clients set theirs up.
std::unique_ptr<TTCPBlockSocket> NewClient() {
  auto sock = std::make_unique<TTCPBlockSocket>();
  sock->LineEndAny = true;
  return sock;
}

void Sleep(std::chrono::milliseconds ms) { std::this_thread::sleep_for(ms); }

// Over IPv4, and over IPv6 to an address that has no IPv4 form.
TEST(Loopback, ConnectsReadsAndSends) {
  for (net::Family family : {net::Family::kIPv4, net::Family::kIPv6}) {
    const bool v6 = family == net::Family::kIPv6;
    auto peer = std::make_unique<Peer>(family);
    if (v6 && peer->listener() == net::kNoHandle) GTEST_SKIP() << "no IPv6 loopback here";
    std::string received;
    peer->Serve([&](PeerConnection& c) {
      c.Send("+OK ready\r\n");
      received = c.ReceiveUntil("\r\n");
      c.Send("+OK bye\r\n");
      c.WaitForClose();
    });
    auto sock = NewClient();
    if (!v6) sock->BindLocal("0.0.0.0", "0");
    sock->Connect(v6 ? "::1" : "127.0.0.1", peer->Port());
    ASSERT_EQ(sock->LastError(), kOk);
    EXPECT_EQ(sock->IsIPv6(), v6);
    EXPECT_EQ(sock->GetRemoteSinIP(), v6 ? "::1" : "127.0.0.1");
    EXPECT_EQ(sock->GetRemoteSinPort(), std::stoi(peer->Port()));
    ASSERT_TRUE(sock->WaitReadable(5000));
    EXPECT_EQ(sock->PendingBytes(), 11);
    EXPECT_EQ(sock->ReadLine(5000), "+OK ready");
    sock->SendText("QUIT\r\n");
    EXPECT_EQ(sock->ReadLine(5000), "+OK bye");
    sock->Close();
    EXPECT_EQ(sock->LastError(), kOk);
    peer.reset();  // joins the server
    EXPECT_EQ(received, "QUIT\r\n");
  }
}

// No host name means loopback: the resolver's answer, IPv6 first, for a
// port number; a service name still goes to the resolver.
TEST(Loopback, NoHostNameResolvesToLoopback) {
  const struct {
    net::Family family;
    const char* service;
    std::vector<std::string> expected;
  } cases[] = {
      {net::Family::kAny, "110", {"::1 110", "127.0.0.1 110"}},
      {net::Family::kIPv4, "65535", {"127.0.0.1 65535"}},
      {net::Family::kIPv6, "0", {"::1 0"}},
      {net::Family::kIPv4, "pop3", {"127.0.0.1 110"}},
  };
  net::SocketApi* api = net::SocketApi::Default();
  ASSERT_EQ(api->Startup(), kOk);
  for (const auto& c : cases) {
    std::vector<net::Address> found;
    ASSERT_EQ(api->Resolve(nullptr, c.service, c.family, false, &found), kOk) << c.service;
    std::vector<std::string> described;
    for (const net::Address& a : found) {
      std::string ip;
      int port = -1;
      EXPECT_EQ(api->Describe(a, &ip, &port), kOk);
      described.push_back(ip + " " + std::to_string(port));
    }
    EXPECT_EQ(described, c.expected) << c.service;
  }
  api->Cleanup();
}

// The system's failures reach the caller as Winsock codes.
TEST(Loopback, ConnectFailuresCarryWinsockCodes) {
  auto sock = NewClient();
  sock->Connect("127.0.0.1", Peer::ClosedPort());
  EXPECT_EQ(sock->LastError(), 10061);
  sock->Close();
  EXPECT_EQ(sock->LastError(), kOk);
  sock->Connect("no-such-host.invalid", "110");
  const int code = sock->LastError();
  EXPECT_TRUE(code == 11001 || code == 11002 || code == 11004) << code;
}

TEST(Loopback, PeerResetMidLineIsAnError) {
  Peer peer;
  peer.Serve([](PeerConnection& c) {
    c.ReceiveUntil("\r\n");
    c.Send("+OK half");
    // Closing with unread input makes the system send a reset.
  });
  auto sock = NewClient();
  sock->Connect("127.0.0.1", peer.Port());
  sock->SendText("CAPA\r\nunread by the peer\r\n");
  EXPECT_EQ(sock->ReadLine(5000), "");
  EXPECT_NE(sock->LastError(), kOk);
}

TEST(Loopback, TimeoutAppliesToEachWaitNotTheWholeLine) {
  Peer peer;
  peer.Serve([](PeerConnection& c) {
    for (const char* piece : {"sl", "ow", " li", "ne\r\n"}) {
      Sleep(40ms);
      c.Send(piece);
    }
    c.WaitForClose();
  });
  auto sock = NewClient();
  sock->Connect("127.0.0.1", peer.Port());
  EXPECT_EQ(sock->ReadLine(150), "slow line");
  EXPECT_EQ(sock->LastError(), kOk);
  sock->Close();
}

// The system can wait inside the receive itself; each read's own timeout
// holds there too, also after a read without limit, and a new socket after
// Close waits again instead of failing at once.
TEST(Loopback, EveryReadWaitsWithItsOwnTimeout) {
  Peer peer;
  int connection = 0;
  peer.Serve(
      [&](PeerConnection& c) {
        if (++connection == 2) Sleep(30ms);
        c.Send("+OK ready\r\n");
        c.WaitForClose();
      },
      2);
  auto sock = NewClient();
  sock->Connect("127.0.0.1", peer.Port());
  EXPECT_EQ(sock->ReadLine(-1), "+OK ready");
  EXPECT_EQ(sock->ReadLine(50), "");
  EXPECT_EQ(sock->LastError(), 10060);
  sock->Close();
  sock->Connect("127.0.0.1", peer.Port());
  EXPECT_EQ(sock->ReadLine(5000), "+OK ready");
  EXPECT_EQ(sock->LastError(), kOk);
  sock->Close();
}

// Once a receive has waited inside the receive itself, Send and Receive
// still never block: a full send buffer or an empty input is kErrWouldBlock
// (else the peer here, which never reads, would hold them for good).
TEST(Loopback, SendAndReceiveNeverBlockAfterAWaitingReceive) {
  Peer peer;
  peer.Serve([](PeerConnection& c) {
    c.Send("+");
    c.WaitForClose();
  });
  net::SocketApi* api = net::SocketApi::Default();
  std::vector<net::Address> found;
  ASSERT_EQ(api->Resolve("127.0.0.1", peer.Port(), net::Family::kIPv4, false, &found), kOk);
  net::Handle socket = net::kNoHandle;
  ASSERT_EQ(api->Open(net::Family::kIPv4, &socket), kOk);
  int ready = 0;
  if (api->Connect(socket, found[0]) == net::kErrInProgress) {
    ASSERT_EQ(api->Wait(socket, net::kWritable, 5000, net::kNoHandle, &ready), kOk);
  }
  ASSERT_EQ(api->ConnectResult(socket), kOk);
  int armed = net::SocketApi::ReceiveWait::kUnarmed;
  char byte = 0;
  int count = 0;
  ASSERT_EQ(api->ReceiveWithin(socket, &byte, 1, {-1, net::kNoHandle, true, &armed}, &count), kOk);
  EXPECT_EQ(byte, '+');
  EXPECT_EQ(api->Receive(socket, &byte, 1, &count), net::kErrWouldBlock);
  const std::string block(1 << 16, 'S');
  int rc = kOk;
  while (rc == kOk) rc = api->Send(socket, block.data(), static_cast<int>(block.size()), &count);
  EXPECT_EQ(rc, net::kErrWouldBlock);
  api->Close(socket);
}

TEST(Loopback, TricklingPeerCannotHoldALineForever) {
  Peer peer;
  std::atomic<bool> done{false};
  peer.Serve([&](PeerConnection& c) {
    while (!done && c.Send("x")) Sleep(5ms);
  });
  auto sock = NewClient();
  sock->Connect("127.0.0.1", peer.Port());
  EXPECT_EQ(sock->ReadLine(30), "");
  EXPECT_EQ(sock->LastError(), 10060);
  EXPECT_FALSE(sock->InputBuffer().empty());
  done = true;
  sock->Close();
}

// Runs `operation` on a thread and aborts `sock` once the operation has had
// time to block; false when it had already finished. An abort that does not
// work shows as a timeout (60 s) or a hang, not as kErrAborted.
template <typename Operation>
bool AbortWhileBlocked(TBlockSocket& sock, Operation operation) {
  std::atomic<bool> finished{false};
  std::thread worker([&] {
    operation();
    finished = true;
  });
  Sleep(100ms);
  const bool blocked = !finished;
  sock.AbortSocket();
  worker.join();
  return blocked;
}

// A read, a wait for input, and a send (the peer never reads: with both
// buffers full a send has to wait).
TEST(Abort, ReadWaitOrSend) {
  for (const char* operation : {"read", "wait", "send"}) {
    Peer peer;
    peer.Serve([](PeerConnection& c) { c.WaitForClose(); });
    auto sock = NewClient();
    sock->SetSendBufferSize(4096);
    sock->Connect("127.0.0.1", peer.Port());
    const std::string block(1 << 16, 'S');
    const std::string_view what = operation;
    EXPECT_TRUE(AbortWhileBlocked(*sock, [&] {
      if (what == "read") sock->ReadLine(60000);
      if (what == "wait") {
        EXPECT_FALSE(sock->WaitReadable(60000));
      }
      while (what == "send" && sock->SendBuffer(block.data(), static_cast<int>(block.size())) > 0) {
      }
    })) << what;
    EXPECT_EQ(sock->LastError(), TBlockSocket::kErrAborted) << what;
    sock->Close();
    EXPECT_EQ(sock->LastError(), kOk);
  }
}

TEST(Abort, Connect) {
  // A listener whose queue is full leaves further connects unanswered.
  Peer peer(net::Family::kIPv4, 0);
  net::SocketApi* api = net::SocketApi::Default();
  std::vector<net::Address> found;
  ASSERT_EQ(api->Resolve("127.0.0.1", peer.Port(), net::Family::kIPv4, false, &found), 0);
  std::vector<net::Handle> fillers(3, net::kNoHandle);
  for (net::Handle& f : fillers) {
    ASSERT_EQ(api->Open(net::Family::kIPv4, &f), 0);
    api->Connect(f, found[0]);
  }
  auto sock = NewClient();
  const bool blocked = AbortWhileBlocked(*sock, [&] { sock->Connect("127.0.0.1", peer.Port()); });
  for (net::Handle f : fillers) api->Close(f);
  if (!blocked) GTEST_SKIP() << "this system answers connects beyond the listen queue";
  EXPECT_EQ(sock->LastError(), TBlockSocket::kErrAborted);
}

}  // namespace
