// The line reader and the connection's bookkeeping against scripted input
// with exact receive boundaries: no network, no sleeps.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "blcksock.h"
#include "fake_sockets.h"

using namespace std::string_literals;

namespace {

constexpr int kOk = 0;
constexpr int kTimedOut = 10060;
constexpr int kPeerClosed = 10054;

struct Read {
  std::string line;
  int error;
};

// Where the input ends (a silent or a closed peer) and what a read leaves.
TEST(LineReader, ErrorsAndLeftovers) {
  const struct {
    std::vector<std::string> arrivals;
    bool closed;
    std::vector<Read> reads;
    std::string left;  // InputBuffer after the reads
  } kCases[] = {
      {{"\r\n\r\n"}, false, {{"", kOk}, {"", kOk}, {"", kTimedOut}}, ""},
      {{"+OK\r\nhalf a li", "ne"}, true, {{"+OK", kOk}, {"", kPeerClosed}}, "half a line"},
      {{"abc"}, false, {{"", kTimedOut}}, "abc"},
      {{"one\r\ntwo\r\nthr"}, false, {{"one", kOk}}, "two\r\nthr"},
  };
  for (const auto& c : kCases) {
    FakeSockets fake;
    fake.arrivals.assign(c.arrivals.begin(), c.arrivals.end());
    fake.closed = c.closed;
    TBlockSocket sock(&fake);
    sock.LineEndAny = true;
    sock.Connect("mail.example", "110");
    for (const Read& r : c.reads) {
      EXPECT_EQ(sock.ReadLine(1000), r.line) << c.arrivals[0];
      EXPECT_EQ(sock.LastError(), r.error) << c.arrivals[0];
    }
    EXPECT_EQ(sock.InputBuffer(), c.left);
  }
}

class ConnectionTest : public ::testing::Test {
 protected:
  FakeSockets fake;
};

TEST_F(ConnectionTest, ReadUntilCustomTerminator) {
  fake.arrivals = {"xxEN", "Dyy"};
  TBlockSocket sock(&fake);
  sock.Connect("h", "1");
  EXPECT_EQ(sock.ReadUntil(1000, ""), "");
  EXPECT_EQ(fake.receives, 0);
  EXPECT_EQ(sock.ReadUntil(1000, "END"), "xx");
  EXPECT_EQ(sock.InputBuffer(), "yy");
}

TEST_F(ConnectionTest, ReadBytesTakesExactlyCountAndKeepsSurplus) {
  fake.arrivals = {"ab", "cd", "ef\r\n"};
  TBlockSocket sock(&fake);
  sock.LineEndAny = true;
  sock.Connect("h", "1");
  EXPECT_EQ(sock.ReadBytes(0, 1000), "");
  EXPECT_EQ(fake.receives, 0);
  EXPECT_EQ(sock.ReadBytes(3, 1000), "abc");
  EXPECT_EQ(sock.InputBuffer(), "d");
  EXPECT_EQ(sock.ReadLine(1000), "def");
  EXPECT_EQ(sock.ReadBytes(1, 1000), "");
  EXPECT_EQ(sock.LastError(), kTimedOut);
}

TEST_F(ConnectionTest, ReadBytesFailureKeepsPartialInput) {
  fake.arrivals = {"abc"};
  fake.closed = true;
  TBlockSocket sock(&fake);
  sock.Connect("h", "1");
  EXPECT_EQ(sock.ReadBytes(5, 1000), "");
  EXPECT_EQ(sock.LastError(), kPeerClosed);
  EXPECT_EQ(sock.InputBuffer(), "abc");
}

TEST_F(ConnectionTest, ReadChunkHandsOutBufferFirstThenOneReceive) {
  fake.arrivals = {"l1\r\nrest", "next", "after"};
  TBlockSocket sock(&fake);
  sock.LineEndAny = true;
  sock.Connect("h", "1");
  EXPECT_EQ(sock.ReadLine(1000), "l1");
  EXPECT_EQ(sock.ReadChunk(1000), "rest");
  EXPECT_EQ(sock.ReadChunk(1000), "next");
  EXPECT_EQ(sock.PendingBytes(), 5);
}

// A literal announced by a line whose CR ends one receive begins after the
// LF that starts the next: every kind of read drops that LF, not only ReadLine.
TEST_F(ConnectionTest, EveryReadDropsTheRestOfALineEndSplitBeforeIt) {
  struct After {
    const char* name;
    std::function<std::string(TBlockSocket&)> read;
    std::string expected;
  };
  const After kReads[] = {
      {"ReadBytes", [](TBlockSocket& s) { return s.ReadBytes(5, 1000); }, "abcde"},
      {"ReadChunk", [](TBlockSocket& s) { return s.ReadChunk(1000); }, "abcde)"},
      {"ReadUntil", [](TBlockSocket& s) { return s.ReadUntil(1000, ")"); }, "abcde"},
  };
  for (const After& after : kReads) {
    FakeSockets f;
    f.arrivals = {"* 1 FETCH (RFC822.HEADER {5}\r", "\nabcde)"};
    TBlockSocket sock(&f);
    sock.LineEndAny = true;
    sock.Connect("h", "1");
    EXPECT_EQ(sock.ReadLine(1000), "* 1 FETCH (RFC822.HEADER {5}");
    EXPECT_EQ(after.read(sock), after.expected) << after.name;
    EXPECT_EQ(sock.LastError(), kOk) << after.name;
  }
}

// A line end found in a later receive must not depend on rescanning the
// whole line: the same input cut into three receives at every two positions
// reads the same.
TEST_F(ConnectionTest, EveryCutOfTheInputReadsTheSameLines) {
  const struct {
    bool line_end_any;
    std::string input;
    std::vector<std::string> lines;
  } kInputs[] = {
      {true,
       "first\r\nsecond\n\rthird\r\r\nfourth\n\nfi\0fth\r\nsixth\rseventh\r\n"s,
       {"first", "second", "third", "", "fourth", "", "fi\0fth"s, "sixth", "seventh"}},
      {false, "a\nb\r\nc\r\n", {"a\nb", "c"}},
  };
  for (const auto& [line_end_any, input, lines] : kInputs) {
    for (size_t i = 1; i < input.size(); ++i) {
      for (size_t j = i + 1; j < input.size(); ++j) {
        FakeSockets f;
        f.arrivals = {input.substr(0, i), input.substr(i, j - i), input.substr(j)};
        TBlockSocket sock(&f);
        sock.LineEndAny = line_end_any;
        sock.Connect("h", "1");
        for (const std::string& want : lines) {
          ASSERT_EQ(sock.ReadLine(1000), want) << "cuts " << i << " " << j;
          ASSERT_EQ(sock.LastError(), kOk) << "cuts " << i << " " << j;
        }
      }
    }
  }
}

TEST_F(ConnectionTest, OverlongLineFailsAndLeavesTheConnectionUnusable) {
  const std::string mib(1 << 20, 'x');
  for (int i = 0; i < 6; ++i) fake.arrivals.push_back(mib);
  fake.arrivals.push_back("\r\nok\r\n");
  TBlockSocket sock(&fake);
  sock.LineEndAny = true;
  sock.Connect("h", "1");
  EXPECT_EQ(sock.ReadLine(1000), "");
  EXPECT_EQ(sock.LastError(), TBlockSocket::kErrTooLong);
  EXPECT_TRUE(sock.InputBuffer().empty());
  EXPECT_EQ(sock.ReadLine(1000), "");
  EXPECT_EQ(sock.LastError(), TBlockSocket::kErrTooLong);
  EXPECT_EQ(sock.ReadBytes(2, 1000), "");
  EXPECT_EQ(sock.LastError(), TBlockSocket::kErrTooLong);
  EXPECT_EQ(sock.SendBuffer("x", 1), -1);
  EXPECT_EQ(sock.LastError(), TBlockSocket::kErrTooLong);
}

TEST_F(ConnectionTest, OverlongReadBytesFailsWithoutReading) {
  fake.arrivals = {"abc"};
  TBlockSocket sock(&fake);
  sock.Connect("h", "1");
  EXPECT_EQ(sock.ReadBytes(TBlockSocket::kMaxReadBytes + 1, 1000), "");
  EXPECT_EQ(sock.LastError(), TBlockSocket::kErrTooLong);
  EXPECT_EQ(fake.receives, 0);
  EXPECT_EQ(sock.ReadLine(1000), "");
  EXPECT_EQ(sock.LastError(), TBlockSocket::kErrTooLong);
  sock.Close();
  EXPECT_EQ(sock.LastError(), kOk);
}

TEST_F(ConnectionTest, CommandLeavesInOneSend) {
  TBlockSocket sock(&fake);
  sock.Connect("h", "1");
  sock.SendText("S1 LOGIN \"user\" \"secret\"\r\n");
  EXPECT_EQ(sock.LastError(), kOk);
  ASSERT_EQ(fake.sends.size(), 1u);
  EXPECT_EQ(fake.sends[0], "S1 LOGIN \"user\" \"secret\"\r\n");
}

TEST(AddressChoice, PrefersIPv4AndTriesOneAddress) {
  using F = net::Family;
  const std::pair<std::vector<F>, F> kCases[] = {{{F::kIPv6, F::kIPv4}, F::kIPv4},
                                                 {{F::kIPv4, F::kIPv6}, F::kIPv4},
                                                 {{F::kIPv6, F::kIPv6}, F::kIPv6}};
  for (const auto& [found, used] : kCases) {
    FakeSockets fake;
    fake.resolved = found;
    TBlockSocket sock(&fake);
    sock.Connect("dual.example", "pop3");
    EXPECT_EQ(sock.LastError(), kOk);
    EXPECT_EQ(fake.opened, used);
    EXPECT_EQ(fake.connected, used);
    EXPECT_EQ(sock.IsIPv6(), used == F::kIPv6);
    EXPECT_EQ(std::count(fake.calls.begin(), fake.calls.end(), "connect"), 1);
    EXPECT_EQ(fake.resolved_service, "pop3");
  }
}

TEST_F(ConnectionTest, UnresolvedNameFailsWithoutConnecting) {
  fake.resolved.clear();
  fake.resolve_error = 11001;
  TBlockSocket sock(&fake);
  sock.Connect("no.such.host", "110");
  EXPECT_EQ(sock.LastError(), 11001);
  EXPECT_EQ(std::count(fake.calls.begin(), fake.calls.end(), "connect"), 0);
}

TEST_F(ConnectionTest, LoopbackAndAnyAddressGoToTheResolverWithoutAName) {
  TBlockSocket sock(&fake);
  sock.Connect("127.0.0.1", "143");
  EXPECT_TRUE(fake.resolved_with_null_host);
  EXPECT_FALSE(fake.resolved_passive);
  sock.Close();
  sock.BindLocal("0.0.0.0", "0");
  EXPECT_EQ(fake.calls.back(), "close");  // nothing to do before a socket exists
  sock.BindLocal("0.0.0.0", "2525");
  EXPECT_TRUE(fake.resolved_with_null_host);
  EXPECT_TRUE(fake.resolved_passive);
  EXPECT_EQ(fake.calls.back(), "bind");
}

TEST_F(ConnectionTest, BufferSizesApplyInOrderWhenTheSocketIsCreated) {
  TBlockSocket sock(&fake);
  sock.SetReceiveBufferSize(32768);
  sock.SetSendBufferSize(16384);
  EXPECT_TRUE(fake.calls.empty());
  sock.Connect("h", "1");
  std::vector<std::string> want = {"resolve", "open", "rcvbuf 32768", "sndbuf 16384", "connect"};
  EXPECT_EQ(fake.calls, want);
}

TEST_F(ConnectionTest, CloseHalfClosesDrainsAndResets) {
  TBlockSocket sock(&fake);
  sock.Close();
  EXPECT_EQ(sock.LastError(), kOk);
  EXPECT_TRUE(fake.calls.empty());

  fake.arrivals = {"late data"};
  fake.closed = true;
  sock.Connect("h", "1");
  sock.Close();
  EXPECT_EQ(sock.LastError(), kOk);
  EXPECT_TRUE(fake.arrivals.empty());
  std::vector<std::string> tail(fake.calls.end() - 2, fake.calls.end());
  EXPECT_EQ(tail, (std::vector<std::string>{"shutdown", "close"}));
}

TEST_F(ConnectionTest, CloseStopsDrainingAPeerThatNeverStops) {
  fake.arrivals = {std::string(65536, 'z')};
  fake.endless = true;
  TBlockSocket sock(&fake);
  sock.Connect("h", "1");
  sock.Close();
  EXPECT_EQ(sock.LastError(), kOk);
  EXPECT_EQ(fake.calls.back(), "close");
}

TEST_F(ConnectionTest, AbortStopsEveryLaterOperation) {
  TBlockSocket sock(&fake);
  sock.AbortSocket();
  sock.Connect("h", "1");
  EXPECT_EQ(sock.LastError(), TBlockSocket::kErrAborted);
  EXPECT_EQ(std::count(fake.calls.begin(), fake.calls.end(), "connect"), 0);
  sock.Close();
  EXPECT_EQ(sock.LastError(), kOk);
}

TEST_F(ConnectionTest, AbortInterruptsAWaitAndKeepsInput) {
  fake.arrivals = {"partial"};
  TBlockSocket sock(&fake);
  sock.LineEndAny = true;
  sock.Connect("h", "1");
  sock.AbortSocket();
  EXPECT_EQ(sock.ReadLine(60000), "");
  EXPECT_EQ(sock.LastError(), TBlockSocket::kErrAborted);
  EXPECT_EQ(sock.SendBuffer("x", 1), -1);
  EXPECT_EQ(sock.LastError(), TBlockSocket::kErrAborted);
  EXPECT_TRUE(fake.sends.empty());
}

TEST(ErrorDesc, FixedTextsAndOneForEveryWinsockCode) {
  const std::pair<int, const char*> kTexts[] = {
      {0, "OK"},
      {10004, "Interrupted system call"},
      {10043, "Protocol not supported"},
      {10049, "Can't assign requested address"},
      {10051, "Network is unreachable"},
      {10053, "Software caused connection abort"},
      {10054, "Connection reset by peer"},
      {10055, "No Buffer space available"},
      {10060, "Connection timed out"},
      {10061, "Connection refused"},
      {10065, "No route to host"},
      {10091, "Network subsystem is unusable"},
      {10093, "Winsock not initialized"},
      {11001, "Host not found"},
      {12345, "Not a Winsock error (12345)"},
      {-1, "Not a Winsock error (-1)"},
      {10072, "Not a Winsock error (10072)"},
  };
  for (const auto& [code, text] : kTexts) EXPECT_EQ(TBlockSocket::GetErrorDesc(code), text) << code;
  std::vector<int> codes = {10004, 10009, 10013, 10014, 10022, 10024, 10092, 10093, 10101};
  for (int c = 10035; c <= 10071; ++c) {
    codes.push_back(c);
  }
  codes.push_back(10091);
  for (int c = 11001; c <= 11004; ++c) codes.push_back(c);
  for (int code : codes) {
    EXPECT_EQ(TBlockSocket::GetErrorDesc(code).find("Not a Winsock error"), std::string::npos)
        << code;
  }
}

}  // namespace
