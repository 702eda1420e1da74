// The connection over real sockets on loopback, against scripted peers:
// connect failures, name and service resolution, address families, peers that
// close, stall, trickle or flood, and aborts from another thread.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "blcksock.h"
#include "peer.h"
#include "ssl_openssl.h"

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kOk = 0;

// A client socket set up as both mail clients set theirs up.
std::unique_ptr<TTCPBlockSocket> NewClient() {
  auto sock = std::make_unique<TTCPBlockSocket>();
  sock->LineEndAny = true;
  return sock;
}

void Sleep(std::chrono::milliseconds ms) { std::this_thread::sleep_for(ms); }

TEST(Loopback, ConnectsReadsAndSends) {
  Peer peer;
  std::string received;
  peer.Serve([&](PeerConnection& c) {
    c.Send("+OK ready\r\n");
    received = c.ReceiveUntil("\r\n");
    c.Send("+OK bye\r\n");
    c.WaitForClose();
  });
  auto sock = NewClient();
  sock->BindLocal("0.0.0.0", "0");
  sock->Connect("127.0.0.1", peer.Port());
  ASSERT_EQ(sock->LastError(), kOk);
  EXPECT_EQ(sock->GetRemoteSinIP(), "127.0.0.1");
  EXPECT_EQ(sock->GetRemoteSinPort(), std::stoi(peer.Port()));
  EXPECT_EQ(sock->ReadLine(5000), "+OK ready");
  sock->SendText("QUIT\r\n");
  EXPECT_EQ(sock->ReadLine(5000), "+OK bye");
  sock->Close();
  EXPECT_EQ(sock->LastError(), kOk);
  EXPECT_EQ(received, "QUIT\r\n");
}

TEST(Loopback, ClosedPortIsRefused) {
  auto sock = NewClient();
  sock->Connect("127.0.0.1", Peer::ClosedPort());
  EXPECT_EQ(sock->LastError(), 10061);
  sock->Close();
  EXPECT_EQ(sock->LastError(), kOk);
}

TEST(Loopback, UnresolvableNameFailsWithAResolverCode) {
  auto sock = NewClient();
  sock->Connect("no-such-host.invalid", "110");
  int code = sock->LastError();
  EXPECT_TRUE(code == 11001 || code == 11002 || code == 11004) << code;
}

TEST(Loopback, ServiceNameAsPort) {
  // Port 110 needs privileges on most systems.
  Peer probe;
  net::SocketApi* api = net::SocketApi::Default();
  std::vector<net::Address> found;
  net::Handle listener = net::kNoHandle;
  ASSERT_EQ(api->Resolve("127.0.0.1", "110", net::Family::kIPv4, false, &found), 0);
  ASSERT_EQ(api->Open(net::Family::kIPv4, &listener), 0);
  if (api->Bind(listener, found[0]) != 0 || api->Listen(listener, 1) != 0) {
    api->Close(listener);
    GTEST_SKIP() << "cannot listen on port 110 here";
  }
  auto sock = NewClient();
  sock->Connect("127.0.0.1", "pop3");
  EXPECT_EQ(sock->LastError(), kOk);
  EXPECT_EQ(sock->GetRemoteSinPort(), 110);
  sock->Close();
  api->Close(listener);
}

TEST(Loopback, LoopbackNamePrefersIPv4) {
  // Without a host name the resolver offers ::1 as well; only IPv4 listens.
  Peer peer(net::Family::kIPv4);
  peer.Serve([](PeerConnection& c) { c.WaitForClose(); });
  auto sock = NewClient();
  sock->Connect("127.0.0.1", peer.Port());
  ASSERT_EQ(sock->LastError(), kOk);
  EXPECT_FALSE(sock->IsIPv6());
  sock->Close();
}

TEST(Loopback, IPv6OnlyAddressConnectsOverIPv6) {
  Peer peer(net::Family::kIPv6);
  if (peer.listener() == net::kNoHandle) GTEST_SKIP() << "no IPv6 loopback here";
  peer.Serve([](PeerConnection& c) {
    c.Send("* OK v6\r\n");
    c.WaitForClose();
  });
  auto sock = NewClient();
  sock->Connect("::1", peer.Port());
  ASSERT_EQ(sock->LastError(), kOk);
  EXPECT_TRUE(sock->IsIPv6());
  EXPECT_EQ(sock->GetRemoteSinIP(), "::1");
  EXPECT_EQ(sock->ReadLine(5000), "* OK v6");
  sock->Close();
}

TEST(Loopback, PeerClosingMidLineKeepsThePartialLine) {
  Peer peer;
  peer.Serve([](PeerConnection& c) { c.Send("+OK\r\nno line e"); });
  auto sock = NewClient();
  sock->Connect("127.0.0.1", peer.Port());
  EXPECT_EQ(sock->ReadLine(5000), "+OK");
  EXPECT_EQ(sock->ReadLine(5000), "");
  EXPECT_EQ(sock->LastError(), 10054);
  EXPECT_EQ(sock->InputBuffer(), "no line e");
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

TEST(Loopback, SilentPeerTimesOutOneWait) {
  Peer peer;
  peer.Serve([](PeerConnection& c) { c.WaitForClose(); });
  auto sock = NewClient();
  sock->Connect("127.0.0.1", peer.Port());
  EXPECT_EQ(sock->ReadLine(100), "");
  EXPECT_EQ(sock->LastError(), 10060);
  sock->Close();
}

TEST(Loopback, TimeoutAppliesToEachWaitNotTheWholeLine) {
  Peer peer;
  peer.Serve([](PeerConnection& c) {
    for (const char* piece : {"sl", "ow", " li", "ne\r\n"}) {
      Sleep(150ms);
      c.Send(piece);
    }
    c.WaitForClose();
  });
  auto sock = NewClient();
  sock->Connect("127.0.0.1", peer.Port());
  EXPECT_EQ(sock->ReadLine(400), "slow line");
  EXPECT_EQ(sock->LastError(), kOk);
  sock->Close();
}

TEST(Loopback, TricklingPeerCannotHoldALineForever) {
  Peer peer;
  std::atomic<bool> done{false};
  peer.Serve([&](PeerConnection& c) {
    while (!done && c.Send("x")) Sleep(20ms);
  });
  auto sock = NewClient();
  sock->Connect("127.0.0.1", peer.Port());
  EXPECT_EQ(sock->ReadLine(100), "");
  EXPECT_EQ(sock->LastError(), 10060);
  EXPECT_FALSE(sock->InputBuffer().empty());
  done = true;
  sock->Close();
}

TEST(Loopback, FloodWithoutLineEndIsBounded) {
  Peer peer;
  peer.Serve([](PeerConnection& c) {
    const std::string block(1 << 16, 'A');
    for (int sent = 0; sent < 2 * TBlockSocket::kMaxLineLength; sent += 1 << 16) {
      if (!c.Send(block)) break;
    }
  });
  auto sock = NewClient();
  sock->Connect("127.0.0.1", peer.Port());
  EXPECT_EQ(sock->ReadLine(5000), "");
  EXPECT_EQ(sock->LastError(), TBlockSocket::kErrTooLong);
  EXPECT_TRUE(sock->InputBuffer().empty());
  EXPECT_EQ(sock->ReadLine(5000), "");
  EXPECT_EQ(sock->LastError(), TBlockSocket::kErrTooLong);
  sock->Close();
  EXPECT_EQ(sock->LastError(), kOk);
}

TEST(Loopback, NulBytesAndBinaryNoiseAreJustBytes) {
  using namespace std::string_literals;
  Peer peer;
  peer.Serve([](PeerConnection& c) { c.Send("* 1 FETCH \0\x01\xff\r\n{3}\r\n\0\0\0* OK\r\n"s); });
  auto sock = NewClient();
  sock->Connect("127.0.0.1", peer.Port());
  EXPECT_EQ(sock->ReadLine(5000), "* 1 FETCH \0\x01\xff"s);
  EXPECT_EQ(sock->ReadLine(5000), "{3}");
  EXPECT_EQ(sock->ReadBytes(3, 5000), "\0\0\0"s);
  EXPECT_EQ(sock->ReadLine(5000), "* OK");
}

// Runs `operation` on a thread, aborts `sock` from this thread once the
// operation has had time to block, and tells how long the operation took
// after the abort; `blocked` is false when it had already finished.
template <typename Operation>
std::chrono::milliseconds AbortWhileBlocked(TBlockSocket& sock, Operation operation,
                                            bool* blocked) {
  std::atomic<bool> finished{false};
  Clock::time_point ended;
  std::thread worker([&] {
    operation();
    ended = Clock::now();
    finished = true;
  });
  Sleep(100ms);
  *blocked = !finished;
  Clock::time_point aborted = Clock::now();
  sock.AbortSocket();
  worker.join();
  return std::chrono::duration_cast<std::chrono::milliseconds>(ended - aborted);
}

TEST(Abort, ReadReturnsPromptly) {
  Peer peer;
  peer.Serve([](PeerConnection& c) { c.WaitForClose(); });
  auto sock = NewClient();
  sock->Connect("127.0.0.1", peer.Port());
  bool blocked = false;
  auto took = AbortWhileBlocked(
      *sock, [&] { sock->ReadLine(60000); }, &blocked);
  EXPECT_TRUE(blocked);
  EXPECT_EQ(sock->LastError(), TBlockSocket::kErrAborted);
  EXPECT_LT(took, 5s);
  sock->Close();
  EXPECT_EQ(sock->LastError(), kOk);
  sock->Connect("127.0.0.1", peer.Port());
  EXPECT_EQ(sock->LastError(), TBlockSocket::kErrAborted);
}

TEST(Abort, SendWaitingForRoomReturnsPromptly) {
  Peer peer;
  peer.Serve([](PeerConnection& c) { c.WaitForClose(); });
  auto sock = NewClient();
  sock->SetSendBufferSize(4096);
  sock->Connect("127.0.0.1", peer.Port());
  const std::string block(1 << 16, 'S');
  // The peer never reads: fill both buffers until a send has to wait.
  bool blocked = false;
  auto took = AbortWhileBlocked(
      *sock,
      [&] {
        while (sock->SendBuffer(block.data(), static_cast<int>(block.size())) > 0) {
        }
      },
      &blocked);
  EXPECT_TRUE(blocked);
  EXPECT_EQ(sock->LastError(), TBlockSocket::kErrAborted);
  EXPECT_LT(took, 5s);
  sock->Close();
}

TEST(Abort, ConnectReturnsPromptly) {
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
  bool blocked = false;
  auto took = AbortWhileBlocked(
      *sock, [&] { sock->Connect("127.0.0.1", peer.Port()); }, &blocked);
  for (net::Handle f : fillers) api->Close(f);
  if (!blocked) GTEST_SKIP() << "this system answers connects beyond the listen queue";
  EXPECT_EQ(sock->LastError(), TBlockSocket::kErrAborted);
  EXPECT_LT(took, 5s);
}

TEST(Abort, IsSafeBeforeConnectAndAfterClose) {
  auto sock = NewClient();
  sock->Close();
  sock->AbortSocket();
  sock->AbortSocket();
  sock->Close();
  EXPECT_EQ(sock->LastError(), kOk);
  EXPECT_EQ(sock->ReadLine(60000), "");
  EXPECT_EQ(sock->LastError(), TBlockSocket::kErrAborted);
}

TEST(Tls, MissingLibraryFailsWith10043AndPlainStillWorks) {
  TlsSession::SetLibraryNamesForTesting({"email-test-no-such-ssl-library"},
                                        {"email-test-no-such-crypto-library"});
  Peer peer;
  peer.Serve([](PeerConnection& c) {
    c.Send("+OK plain\r\n");
    c.WaitForClose();
  });
  auto sock = NewClient();
  sock->SetTlsEnabled(true);
  EXPECT_EQ(sock->LastError(), 10043);
  EXPECT_FALSE(sock->TlsEnabled());
  TlsSession::SetLibraryNamesForTesting({}, {});
  sock->Connect("127.0.0.1", peer.Port());
  ASSERT_EQ(sock->LastError(), kOk);
  EXPECT_EQ(sock->ReadLine(5000), "+OK plain");
  sock->Close();
}

TEST(Tls, BuiltInLibraryNamesLoad) {
  auto sock = NewClient();
  sock->SetTlsEnabled(true);
  EXPECT_EQ(sock->LastError(), kOk);
  EXPECT_TRUE(sock->TlsEnabled());
  sock->SetTlsEnabled(false);
  EXPECT_FALSE(sock->TlsEnabled());
}

}  // namespace
