// Hostile input: large, malformed and nested. These must finish (the decoders
// are linear; a quadratic one takes minutes here) and give exact results.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "mimemess.h"

namespace {

std::string Repeat(const std::string& s, std::size_t times) {
  std::string out;
  out.reserve(s.size() * times);
  for (std::size_t i = 0; i < times; ++i) out += s;
  return out;
}

// Compares without printing megabytes on failure.
testing::AssertionResult SameBytes(const std::string& got, const std::string& expected) {
  if (got == expected) return testing::AssertionSuccess();
  const auto diff = std::mismatch(got.begin(), got.end(), expected.begin(), expected.end());
  return testing::AssertionFailure() << "sizes " << got.size() << " and " << expected.size()
                                     << ", first difference at " << (diff.first - got.begin());
}

std::string RandomBytes(std::size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(rng() & 0xFF);
  return s;
}

TEST(Robustness, NestedFragmentsStayAsWritten) {
  const TMimeCharset t = TMimeCharset::CP1252;
  for (const std::string& unit : {std::string("=?"), std::string("=?a?"), std::string("?=?")}) {
    const std::string v = Repeat(unit, (1 << 20) / unit.size());
    EXPECT_TRUE(SameBytes(DecodeEncodedWords(v, t), v)) << unit;
  }
  const std::string unclosed = "=?utf-8?q?x?= " + Repeat("=?utf-8?b?x", 100000);
  EXPECT_TRUE(SameBytes(DecodeEncodedWords(unclosed, t), "x" + unclosed.substr(13)));
}

TEST(Robustness, ThousandsOfEncodedWords) {
  const std::string v = Repeat("=?iso-8859-1?q?=E9?= \t", 100000);
  // The blanks after the last word are no separator and stay.
  EXPECT_TRUE(
      SameBytes(DecodeEncodedWords(v, TMimeCharset::CP1252), std::string(100000, '\xE9') + " \t"));
  const std::string b = Repeat("=?utf-8?b?w6k=?=", 100000);
  EXPECT_TRUE(SameBytes(DecodeEncodedWords(b, TMimeCharset::CP1252), std::string(100000, '\xE9')));
}

TEST(Robustness, MalformedBytesInEveryCharset) {
  // Every charset writes at most one byte per input byte; the wide ones one
  // per complete unit.
  const std::string noise = RandomBytes((1 << 20) + 3, 7);
  for (int c = 0; c < kCharsetCount; ++c) {
    const auto from = static_cast<TMimeCharset>(c);
    const std::string out = ConvertCharset(noise, from, TMimeCharset::CP1251);
    if (from == TMimeCharset::UCS_2) {
      EXPECT_EQ(out.size(), noise.size() / 2);
    } else if (from == TMimeCharset::UCS_4) {
      EXPECT_EQ(out.size(), noise.size() / 4);
    } else if (IsSingleByte(from)) {
      EXPECT_EQ(out.size(), noise.size()) << c;
    } else {
      EXPECT_LE(out.size(), noise.size()) << c;
    }
  }
  const std::string utf7 = Repeat("+2D3-", 200000) + "+";
  EXPECT_TRUE(SameBytes(ConvertCharset(utf7, TMimeCharset::UTF_7, TMimeCharset::CP1252),
                        Repeat("__", 200000) + "+"));
}

TEST(Robustness, LongHeaderBlocks) {
  std::vector<std::string> lines = {"Subject: a"};
  lines.insert(lines.end(), 200000, " =?utf-8?q?b?=");
  lines.insert(lines.end(), 200000, "X-Filler: =?");
  lines.push_back("From: " + RandomBytes(1 << 20, 11));
  TMessHeader header;
  header.ParseHeaderLines(lines, TMimeCharset::CP1252);
  EXPECT_TRUE(SameBytes(header.Subject, "a " + std::string(200000, 'b')));
  EXPECT_FALSE(header.From.empty());
}

}  // namespace
