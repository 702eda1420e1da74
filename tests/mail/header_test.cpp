// Encoded words and whole header blocks, as flat tables of input and expected
// bytes with the target code page fixed per case.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mimemess.h"

namespace {

using C = TMimeCharset;

struct WordsCase {
  std::string value;
  std::string expected;
  TMimeCharset target = C::CP1252;
};

TEST(DecodeEncodedWords, Table) {
  const WordsCase cases[] = {
      {"", ""},
      {"plain text", "plain text"},
      {"=?ISO-8859-1?Q?Gr=FC=DFe?=", "Gr\xFC\xDF\x65"},
      {"=?iso-8859-1?q?a_b=3F?=", "a b?"},
      {"=?iso-8859-1?b?QUJD?=", "ABC"},
      {"=?UTF-8?B?w6lsw6h2ZSDkuK0=?=", "\xE9l\xE8ve _"},
      {"=?utf-8?b?4oKs?=", "\x80"},
      {"=?koi8-r?b?9MXT1A==?=", "\xD2\xE5\xF1\xF2", C::CP1251},
      {"=?koi8-r?b?9MXT1A==?=", "____"},
      // Blanks between encoded words go, other text stays.
      {"=?ISO-8859-1?Q?a?= =?ISO-8859-1?Q?b?=", "ab"},
      {"=?ISO-8859-1?Q?a?= \t =?ISO-8859-1?Q?b?=", "ab"},
      {"=?ISO-8859-1?Q?a?= x =?ISO-8859-1?Q?b?=", "a x b"},
      {"Re: =?UTF-8?Q?caf=C3=A9?=", "Re: caf\xE9"},
      // Adjacent words in one charset and encoding are converted together,
      // so a character split between them survives; a change of charset or
      // encoding, or text between them, ends the run.
      {"=?UTF-8?B?w6nD?= =?utf-8?b?qQ==?=", "\xE9\xE9"},
      {"=?UTF-8?Q?=C3?= =?UTF-8?Q?=A9?=", "\xE9"},
      {"=?UTF-8?Q?=C3?= =?UTF-8?B?qQ==?=", "\x03"},
      {"=?UTF-8?Q?=C3?= =?ISO-8859-1?Q?=A9?=", "\x03\xA9"},
      {"=?UTF-8?Q?=C3?= x =?UTF-8?Q?=A9?=", "\x03 x "},
      {"=?UTF-8?Q?=C3?= =?UTF-8?X?=A9?= =?UTF-8?Q?=A9?=", "\x03=?UTF-8?X?=A9?="},
      {"\"=?UTF-8?Q?J=C3=B6rg?=\" <j@example.org>", "\"J\xF6rg\" <j@example.org>"},
      // The digits 852 in the text do not name the charset.
      {"=?utf-8?q?852_=C3=A9?=", "852 \xE9"},
      // The end is the first "?=" that is at least the third "?".
      {"=?x?Q?a?b?=", "a?b"},
      {"=?a?b?=", "=?a?b?="},
      // Malformed words and unknown letters stay as written.
      {"=?ISO-8859-1?X?abc?=", "=?ISO-8859-1?X?abc?="},
      {"=?ISO-8859-1?QQ?abc?= =?ISO-8859-1?Q?d?=", "=?ISO-8859-1?QQ?abc?=d"},
      // Without its "?=" a word leaves the rest undecoded.
      {"=?ISO-8859-1?Q?unclosed", "=?ISO-8859-1?Q?unclosed"},
      {"a =?utf-8?q?x?= =?iso-8859-1?q?y z", "a x =?iso-8859-1?q?y z"},
      {"=?", "=?"},
  };
  for (const WordsCase& c : cases) {
    EXPECT_EQ(DecodeEncodedWords(c.value, c.target), c.expected) << c.value;
  }
}

TEST(UnfoldHeader, JoinsContinuationLinesAndAdvances) {
  const std::vector<std::string> lines = {"A: 1\t2 ", " \t 3\t4 ", "\t5", "B: x", ""};
  std::size_t i = 0;
  // Only the end of the joined field is trimmed, not the end of its first line.
  EXPECT_EQ(UnfoldHeader(lines, i), "A: 1\t2  3 4 5");
  EXPECT_EQ(i, 3u);
  EXPECT_EQ(UnfoldHeader(lines, i), "B: x");
  EXPECT_EQ(i, 4u);
  EXPECT_EQ(UnfoldHeader(lines, i), "");
  EXPECT_EQ(i, 5u);
}

struct HeaderCase {
  const char* name;
  std::vector<std::string> lines;
  std::string from;
  std::string subject;
  TMimeCharset target = C::CP1252;
};

TEST(TMessHeader, ParsesHeaderBlocks) {
  const HeaderCase cases[] = {
      {"empty list", {}, "", ""},
      {"empty first line", {"", "Subject: a"}, "", ""},
      {"q word", {"Subject: =?ISO-8859-1?Q?Gr=FC=DFe?="}, "", "Gr\xFC\xDF\x65"},
      {"target 1250",
       {"From: =?iso-8859-2?q?=A9imon?= <s@example.cz>"},
       "\x8Aimon <s@example.cz>",
       "",
       C::CP1250},
      {"words split by a fold", {"Subject: =?ISO-8859-1?Q?a?=", " =?ISO-8859-1?Q?b?="}, "", "ab"},
      {"tab continuation, then a new field",
       {"Subject: Hello", "\tworld", "From: x@example.org"},
       "x@example.org",
       "Hello world"},
      {"inner tabs of a continuation", {"Subject: a", "\t  b\tc  "}, "", "a b c"},
      {"last line is a continuation", {"From: a", "  b"}, "a b", ""},
      {"lower-case name", {"from: a@example.org"}, "a@example.org", ""},
      {"blank before the colon", {"From : a@example.org", "SUBJECT:s"}, "", "s"},
      {"the last one wins", {"From: a", "Subject: s1", "FROM: b", "subject: s2"}, "b", "s2"},
      {"stop at the empty line", {"Subject: a", "", "Subject: b", "From: c"}, "", "a"},
      {"other fields ignored", {"X-Subject: no", "Subjects: no", "Subject:yes"}, "", "yes"},
      {"value trimmed", {"Subject: \t  a b \t"}, "", "a b"},
      {"empty value", {"Subject:", "From: x"}, "x", ""},
  };
  for (const HeaderCase& c : cases) {
    SCOPED_TRACE(c.name);
    TMessHeader header;
    header.From = "stale";
    header.Subject = "stale";
    header.ParseHeaderLines(c.lines, c.target);
    EXPECT_EQ(header.From, c.from);
    EXPECT_EQ(header.Subject, c.subject);
  }
}

}  // namespace
