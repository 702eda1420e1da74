// The line reader and the connection's bookkeeping against scripted input
// with exact receive boundaries: no network, no sleeps.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "blcksock.h"
#include "fake_sockets.h"
#include "text.h"

using namespace std::string_literals;

namespace {

constexpr int kOk = 0;

// Runs one step on the connection and gives what it returned; `look` tells a
// look at the state from an operation. Operations: connect [HOST PORT],
// close, abort, bind IP PORT, rcvbuf N, sndbuf N, line, into (ReadLine into
// a string), view (into a view), chunk, bytes N, until TEXT, receive N
// (ReceiveBuffer), send TEXT (SendBuffer's count),
// text TEXT (SendText). Looks:
// left (InputBuffer), pending, receives, waits (for input), arrivals (pieces
// not yet received), calls, sends, resolver (how the last name was resolved).
std::string Do(TBlockSocket& s, FakeSockets& f, const std::string& op, bool* look) {
  const size_t blank = op.find(' ');
  const std::string verb = op.substr(0, blank);
  const std::string arg = blank == std::string::npos ? "" : op.substr(blank + 1);
  const size_t gap = arg.find(' ');
  const std::string first = arg.substr(0, gap);
  const std::string second = gap == std::string::npos ? "" : arg.substr(gap + 1);
  const auto join = [](const std::vector<std::string>& items) {
    std::string joined;
    for (const std::string& item : items) joined += "[" + item + "]";
    return joined;
  };
  *look = false;
  if (verb == "connect") {
    s.Connect(arg.empty() ? "h" : first, arg.empty() ? "1" : second);
  } else if (verb == "close") {
    s.Close();
  } else if (verb == "abort") {
    s.AbortSocket();
  } else if (verb == "bind") {
    s.BindLocal(first, second);
  } else if (verb == "rcvbuf") {
    s.SetReceiveBufferSize(std::stoi(arg));
  } else if (verb == "sndbuf") {
    s.SetSendBufferSize(std::stoi(arg));
  } else if (verb == "text") {
    s.SendText(arg);
  } else if (verb == "line") {
    return s.ReadLine(1000);
  } else if (verb == "into") {
    std::string line = "stale";
    const bool read = s.ReadLine(1000, &line);
    EXPECT_EQ(read, s.LastError() == kOk) << op;
    return line;
  } else if (verb == "view") {
    std::string_view line = "stale";
    const bool read = s.ReadLine(1000, &line);
    EXPECT_EQ(read, s.LastError() == kOk) << op;
    return std::string(line);
  } else if (verb == "chunk") {
    return s.ReadChunk(1000);
  } else if (verb == "bytes") {
    return s.ReadBytes(std::stoi(arg), 1000);
  } else if (verb == "until") {
    return s.ReadUntil(1000, arg);
  } else if (verb == "receive") {
    std::string room(std::stoul(arg), '\0');
    room.resize(static_cast<size_t>(std::max(0, s.ReceiveBuffer(&room[0], std::stoi(arg)))));
    return room;
  } else if (verb == "send") {
    return std::to_string(s.SendBuffer(arg.data(), static_cast<int>(arg.size())));
  } else {
    *look = true;
    if (verb == "left") return std::string(s.InputBuffer());
    if (verb == "pending") return std::to_string(s.PendingBytes());
    if (verb == "receives") return std::to_string(f.receives);
    if (verb == "waits") return std::to_string(f.waits);
    if (verb == "arrivals") return std::to_string(f.arrivals.size());
    if (verb == "calls") return join(f.calls);
    if (verb == "sends") return join(f.sends);
    if (verb == "resolver") {
      return std::string(f.resolved_with_null_host ? "no name" : "name") +
             (f.resolved_passive ? ", passive" : "");
    }
    ADD_FAILURE() << "unknown step " << op;
  }
  return "";
}

// Where the input ends (a silent, a closed or an endless peer), what each
// read takes and leaves, and what reaches the system. A script is steps
// parted by "; ", each "OP[ = RESULT][ ! ERROR]": RESULT (empty if left
// out) is what Do gives, ERROR (0 if left out) the connection's error after
// an operation; "closed" and "endless" set the peer, "finished later" and
// "refused later" how the system finishes a connect.
TEST(Connection, ScriptsAgainstAScriptedPeer) {
  const std::string mib(1 << 20, 'x'), fetch = "* 1 FETCH (RFC822.HEADER {5}", tail(300, 'e');
  const std::string too_many = std::to_string(TBlockSocket::kMaxReadBytes + 1);
  // A block past what one receive into the input takes, which the
  // connection receives straight into its result.
  std::string big(200000, ' ');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>('a' + (i * 7 + i / 4099) % 26);
  const std::string part = big.substr(0, 150000);
  const std::string gone = "[resolve][open][connect][shutdown][close]";
  const std::pair<std::vector<std::string>, std::string> kCases[] = {
      {{"\r\n\r\n"}, "connect; line; line; line ! 10060; left"},
      {{"+OK\r\nhalf a li", "ne"},
       "closed; connect; line = +OK; line ! 10054; left = half a line; send x = -1 ! 10054"},
      {{"abc"}, "connect; line ! 10060; left = abc"},
      // A line already received reads without error after a failed send.
      {{"one\r\ntwo\r\n"}, "closed; connect; line = one; send x = -1 ! 10054; line = two"},
      {{"one\r", "\ntwo\n", "x"}, "connect; into = one; view = two; view ! 10060; left = x"},
      {{"one\r\ntwo\r\nthr"}, "connect; line = one; left = two\r\nthr"},
      // Lines found ahead (in a long enough input) are forgotten once
      // another read takes input.
      {{"a\r\nb\r\nc\r\nd\r\n" + tail},
       "connect; into = a; view = b; bytes 2 = c\r; into = ; view = d; left = " + tail},
      {{"a\r\nb\r\nc\r\nd\r\n" + tail},
       "connect; into = a; into = b; until \n = c\r; into = d; left = " + tail},
      {{"xxEN", "Dyy"}, "connect; until ; receives = 0; until END = xx; left = yy"},
      {{"ab", "cd", "ef\r\n"},
       "connect; bytes 0; receives = 0; bytes 3 = abc; left = d; line = def; bytes 1 ! 10060"},
      {{"abc"}, "closed; connect; bytes 5 ! 10054; left = abc"},
      {{"x\r", "\n" + big.substr(0, 90000), big.substr(90000) + "\r\nnext\r\n"},
       "connect; line = x; bytes 200000 = " + big + "; line; line = next"},
      {{"x\r", "\n" + part}, "closed; connect; line = x; bytes 200000 ! 10054; left = " + part},
      {{part}, "connect; bytes 200000 ! 10060; left = " + part},
      // ReadChunk: the buffer first, then one receive.
      {{"l1\r\nrest", "next", "after"},
       "connect; line = l1; chunk = rest; chunk = next; pending = 5"},
      // A literal announced by a line whose CR ends one receive begins after
      // the LF that starts the next: every kind of read drops that LF.
      {{fetch + "\r", "\nabcde)"}, "connect; line = " + fetch + "; bytes 5 = abcde"},
      {{fetch + "\r", "\nabcde)"}, "connect; line = " + fetch + "; chunk = abcde)"},
      {{fetch + "\r", "\nabcde)"}, "connect; line = " + fetch + "; until ) = abcde"},
      // Past a bound a read fails and leaves the connection unusable.
      {{mib, mib, mib, mib, mib, mib, "\r\nok\r\n"},
       "connect; line ! 10055; left; line ! 10055; bytes 2 ! 10055; send x = -1 ! 10055"},
      {{"abc"}, "connect; bytes " + too_many + " ! 10055; receives = 0; line ! 10055; close"},
      {{}, "connect; text S1 LOGIN \"u\" \"p\"\r\n; sends = [S1 LOGIN \"u\" \"p\"\r\n]"},
      // The greeting and a command's reply are waited for before the first
      // receive; the rest of a reply is received first.
      {{"* OK\r\n", "a\r\n", "b\r\n"},
       "connect; line = * OK; waits = 1; text X\r\n; line = a; waits = 2; receives = 2; "
       "line = b; waits = 2; receives = 3"},
      // Buffer sizes asked for before there is a socket go to the next one
      // opened, unless a Close drops them first.
      {{},
       "rcvbuf 32768; sndbuf 16384; calls; connect; "
       "calls = [resolve][open][rcvbuf 32768][sndbuf 16384][connect]"},
      {{}, "rcvbuf 32768; close; calls; connect; calls = [resolve][open][connect]"},
      // Close half-closes and drains, but not forever.
      {{"late data"}, "closed; close; calls; connect; close; arrivals = 0; calls = " + gone},
      {{std::string(65536, 'z')}, "endless; connect; close; calls = " + gone},
      {{}, "abort; connect ! 10004; close; connect ! 10004; calls"},
      // A connect the system finishes later gives what it finished with.
      {{"+OK\r\n"}, "finished later; connect; line = +OK"},
      {{"+OK\r\n"}, "refused later; connect ! 10061"},
      // ReceiveBuffer takes from the socket, past the input; a peer that
      // closed gives nothing and 10054.
      {{"abc\r\nd", "xyz"}, "connect; line = abc; receive 8 = xyz; left = d"},
      {{"abc\r\n"}, "closed; connect; line = abc; receive 8 ! 10054"},
      // Without a connection a read fails and takes nothing in.
      {{}, "line ! 10038; view ! 10038; bytes 2 ! 10038; left"},
      {{"partial"}, "connect; abort; line ! 10004; send x = -1 ! 10004; sends"},
      // Loopback and the any address go to the resolver without a name;
      // binding before a socket exists does nothing.
      {{},
       "connect 127.0.0.1 143; resolver = no name; close; bind 0.0.0.0 0; calls = " + gone +
           "; bind 0.0.0.0 2525; resolver = no name, passive; calls = " + gone +
           "[resolve][open][bind]"},
  };
  for (const auto& [arrivals, script] : kCases) {
    FakeSockets fake;
    fake.arrivals.assign(arrivals.begin(), arrivals.end());
    TBlockSocket sock(&fake);
    sock.LineEndAny = true;
    for (size_t at = 0, end = 0; at < script.size(); at = end + 2) {
      end = std::min(script.find("; ", at), script.size());
      std::string step = script.substr(at, end - at), result;
      int error = kOk;
      if (const size_t bang = step.find(" ! "); bang != std::string::npos) {
        error = std::stoi(step.substr(bang + 3));
        step.erase(bang);
      }
      if (const size_t equals = step.find(" = "); equals != std::string::npos) {
        result = step.substr(equals + 3);
        step.erase(equals);
      }
      fake.closed |= step == "closed";
      fake.endless |= step == "endless";
      if (step == "finished later" || step == "refused later") {
        fake.connect_answer = net::kErrInProgress;
        fake.connect_result = step == "refused later" ? 10061 : 0;
      }
      if (step == "closed" || step == "endless" || step.find(" later") != std::string::npos)
        continue;
      bool look = false;
      EXPECT_EQ(Do(sock, fake, step, &look), result) << script << ": " << step;
      if (!look) {
        EXPECT_EQ(sock.LastError(), error) << script << ": " << step;
      }
    }
  }
}

// Lines of many lengths, most of them crossing a 64-byte boundary of the
// input, each ended by one of CR LF, LF, CR and LF CR in turn: more lines
// than one search finds ahead.
std::pair<std::string, std::vector<std::string>> ManyLines() {
  const char* const kEnds[] = {"\r\n", "\n", "\r", "\n\r"};
  std::string input;
  std::vector<std::string> lines;
  for (int k = 0; k < 150; ++k) {
    lines.emplace_back(static_cast<size_t>(1 + k * 13 % 70), static_cast<char>('a' + k % 26));
    input += lines.back() + kEnds[k % 4];
  }
  return {input, lines};
}

// A line end found in a later receive must not depend on rescanning the
// whole line: the same input cut into three receives at every two positions
// (two receives at every position for the long ones) reads the same, each
// line in turn into a new string, into one reused string and into a view.
TEST(Connection, EveryCutOfTheInputReadsTheSameLines) {
  const auto [many, many_lines] = ManyLines();
  // Lines ended by CR LF only, of every length up to two blocks, so that a
  // pair falls across a block's end at every offset of the input.
  std::string crlf;
  std::vector<std::string> crlf_lines;
  for (size_t length = 0; length < 130; length += 3) {
    crlf_lines.emplace_back(length, static_cast<char>('a' + length % 26));
    crlf += crlf_lines.back() + "\r\n";
  }
  const struct {
    bool line_end_any;
    std::string input;
    std::vector<std::string> lines;
  } kInputs[] = {
      {true,
       "first\r\nsecond\n\rthird\r\r\nfourth\n\nfi\0fth\r\nsixth\rseventh\r\n"s,
       {"first", "second", "third", "", "fourth", "", "fi\0fth"s, "sixth", "seventh"}},
      {false, "a\nb\r\nc\r\n", {"a\nb", "c"}},
      {true, many + "\r\n", many_lines},
      {true, crlf, crlf_lines},
  };
  for (const auto& [line_end_any, input, lines] : kInputs) {
    const bool long_input = input.size() > 64;
    for (size_t i = 1; i < input.size(); ++i) {
      for (size_t j = long_input ? input.size() : i + 1; j <= input.size(); ++j) {
        FakeSockets f;
        f.arrivals = {input.substr(0, i), input.substr(i, j - i)};
        if (j < input.size()) f.arrivals.push_back(input.substr(j));
        TBlockSocket sock(&f);
        sock.LineEndAny = line_end_any;
        sock.Connect("h", "1");
        std::string reused;
        std::string_view view;
        for (size_t k = 0; k < lines.size(); ++k) {
          const size_t form = (k + i) % 3;
          const std::string line = form == 0   ? sock.ReadLine(1000)
                                   : form == 1 ? (sock.ReadLine(1000, &reused), reused)
                                               : (sock.ReadLine(1000, &view), std::string(view));
          ASSERT_EQ(line, lines[k]) << "cuts " << i << " " << j;
          ASSERT_EQ(sock.LastError(), kOk) << "cuts " << i << " " << j;
        }
      }
    }
  }
}

// A block's CRs and LFs, each way the processor allows: one of each at
// every two positions, among bytes with the high bit set.
TEST(LineEnds, EveryBlockMaskFindsEachCrAndLf) {
  for (int cr = 0; cr < 64; ++cr) {
    for (int lf = 0; lf < 64; ++lf) {
      if (cr == lf) continue;
      std::string block(64, '\x8d');
      block[static_cast<size_t>(cr)] = '\r';
      block[static_cast<size_t>(lf)] = '\n';
      const std::pair<uint64_t, uint64_t> want{uint64_t{1} << cr, uint64_t{1} << lf};
      const ByteMasks64 plain = FindTwoBytes64(block.data(), '\r', '\n');
      ASSERT_EQ(std::make_pair(plain.a, plain.b), want) << cr << " " << lf;
#if defined(__x86_64__) || defined(__i386__)
      if (HasAvx2()) {
        const ByteMasks64 wide = FindTwoBytes64Avx2(block.data(), '\r', '\n');
        ASSERT_EQ(std::make_pair(wide.a, wide.b), want) << cr << " " << lf;
      }
      if (HasAvx512Bw()) {
        const ByteMasks64 widest = FindTwoBytes64Avx512(block.data(), '\r', '\n');
        ASSERT_EQ(std::make_pair(widest.a, widest.b), want) << cr << " " << lf;
      }
#endif
    }
  }
}

// IPv4 first, one address tried; a name that does not resolve is never
// connected to.
TEST(AddressChoice, PrefersIPv4AndTriesOneAddress) {
  using F = net::Family;
  const struct {
    std::vector<F> found;
    int error;
    F used;  // kAny: none
  } kCases[] = {{{F::kIPv6, F::kIPv4}, kOk, F::kIPv4},
                {{F::kIPv4, F::kIPv6}, kOk, F::kIPv4},
                {{F::kIPv6, F::kIPv6}, kOk, F::kIPv6},
                {{}, 11001, F::kAny}};
  for (const auto& [found, error, used] : kCases) {
    FakeSockets fake;
    fake.resolved = found;
    fake.resolve_error = error;
    TBlockSocket sock(&fake);
    sock.Connect("dual.example", "pop3");
    EXPECT_EQ(sock.LastError(), error);
    EXPECT_EQ(fake.opened, used);
    EXPECT_EQ(fake.connected, used);
    EXPECT_EQ(sock.IsIPv6(), used == F::kIPv6);
    EXPECT_EQ(std::count(fake.calls.begin(), fake.calls.end(), "connect"), used != F::kAny);
    EXPECT_EQ(fake.resolved_service, "pop3");
  }
}

// Each code's own text is a table entry; what is checked is that every
// Winsock code has one and anything else is named as no Winsock error.
TEST(ErrorDesc, FixedTextsAndOneForEveryWinsockCode) {
  const std::pair<int, const char*> kTexts[] = {
      {0, "OK"},
      {10060, "Connection timed out"},
      {12345, "Not a Winsock error (12345)"},
      {-1, "Not a Winsock error (-1)"},
      {10072, "Not a Winsock error (10072)"},
  };
  for (const auto& [code, text] : kTexts) EXPECT_EQ(TBlockSocket::GetErrorDesc(code), text) << code;
  std::vector<int> codes = {10004, 10009, 10013, 10014, 10022, 10024, 10091, 10092, 10093, 10101};
  for (int c = 10035; c <= 10071; ++c) codes.push_back(c);
  for (int c = 11001; c <= 11004; ++c) codes.push_back(c);
  for (int code : codes) {
    EXPECT_EQ(TBlockSocket::GetErrorDesc(code).find("Not a Winsock error"), std::string::npos)
        << code;
  }
}

}  // namespace
