// Flat tables of input and expected bytes for the text decoders, the charset
// conversion and the charset names, malformed input included.
#include <gtest/gtest.h>

#include <string>

#include "mimemess.h"

namespace {

using std::string_literals::operator""s;

struct TextCase {
  std::string input;
  std::string expected;
};

TEST(Base64, DecodesLeniently) {
  const TextCase cases[] = {
      {"", ""},
      {"QUJD", "ABC"},
      {"QUI=", "AB"},
      {"QQ==", "A"},
      {"QUI", "AB"},     // a last group of three is completed
      {"QQ", "A"},       // ... and one of two
      {"QUJDR", "ABC"},  // a single character left over is ignored
      {"4pyT", "\xE2\x9C\x93"},
      {"QU JD", "A\x09"},  // a blank is a missing value and shifts the groups
      {"Q=JD",
       "@\x02"
       "C"},            // the third byte needs only the fourth character
      {"!!!!", "\0"s},  // the first byte of a group is always written
  };
  for (const TextCase& c : cases) EXPECT_EQ(DecodeBase64(c.input), c.expected) << c.input;
}

TEST(QuotedPrintable, DecodesLeniently) {
  const TextCase cases[] = {
      {"Gr=FC=DFe",
       "Gr\xFC\xDF"
       "e"},
      {"=fc=Df", "\xFC\xDF"},
      {"a=ZZb", "a b"},  // not hexadecimal: a blank
      {"a=G1b", "a b"},
      {"a=4", "a"},  // too short: the rest is dropped
      {"a=", "a"},
      {"a_b", "a_b"},  // only Q text gives "_" a meaning
      {"=3D=", "="},
      {"=00", "\0"s},
  };
  for (const TextCase& c : cases) EXPECT_EQ(DecodeQuotedPrintable(c.input), c.expected) << c.input;
}

struct ConvertCase {
  TMimeCharset from;
  TMimeCharset to;
  std::string input;
  std::string expected;
};

TEST(ConvertCharset, SingleByteCharsets) {
  const ConvertCase cases[] = {
      {TMimeCharset::ISO_8859_1, TMimeCharset::CP1252,
       "Gr\xFC\xDF"
       "e",
       "Gr\xFC\xDF"
       "e"},
      {TMimeCharset::ISO_8859_1, TMimeCharset::CP1252, "\x80\x9F", "__"},  // C1 controls
      {TMimeCharset::CP1252, TMimeCharset::CP1251, "\x80", "\x88"},        // the euro sign
      {TMimeCharset::KOI8_R, TMimeCharset::CP1251, "\xF4\xC5\xD3\xD4", "\xD2\xE5\xF1\xF2"},
      {TMimeCharset::KOI8_R, TMimeCharset::CP1252, "\xF4\xC5\xD3\xD4", "____"},
      {TMimeCharset::ISO_8859_2, TMimeCharset::CP1250, "\xB1\xA9", "\xB9\x8A"},
      {TMimeCharset::CP895, TMimeCharset::CP1250, "\x80\x87", "\xC8\xE8"},
      {TMimeCharset::CP852, TMimeCharset::ISO_8859_2, "\xA5", "\xB1"},
      {TMimeCharset::ISO_8859_7, TMimeCharset::CP1253, "\xC1\xA4", "\xC1_"},
      // Undefined bytes decode to U+FFFD, which no undefined target byte stands for.
      {TMimeCharset::CP1252, TMimeCharset::CP1252, "a\x81\x8D", "a__"},
      // A target that is not single-byte keeps ASCII only.
      {TMimeCharset::ISO_8859_1, TMimeCharset::UTF_8, "a\xFC", "a_"},
  };
  for (const ConvertCase& c : cases) {
    EXPECT_EQ(ConvertCharset(c.input, c.from, c.to), c.expected) << c.input;
  }
}

TEST(ConvertCharset, MultiByteCharsets) {
  const TMimeCharset utf8 = TMimeCharset::UTF_8, utf7 = TMimeCharset::UTF_7;
  const TMimeCharset ucs2 = TMimeCharset::UCS_2, ucs4 = TMimeCharset::UCS_4;
  const ConvertCase cases[] = {
      {utf8, TMimeCharset::CP1252,
       "Gr\xC3\xBC\xC3\x9F"
       "e",
       "Gr\xFC\xDF"
       "e"},
      {utf8, TMimeCharset::CP1252, "\xE2\x82\xAC", "\x80"},
      {utf8, TMimeCharset::CP1252, "\xE4\xB8\xAD", "_"},        // not in the target
      {utf8, TMimeCharset::CP1252, "\xF0\x9F\x98\x80!", "_!"},  // beyond U+FFFF
      {utf8, TMimeCharset::CP1252,
       "\x80"
       "a\xBF\xFE\xFF"
       "b",
       "ab"},  // stray bytes
      {utf8, TMimeCharset::CP1252,
       "\xC3"
       "a",
       "\x03"
       "a"},                                          // no length check
      {utf8, TMimeCharset::CP1252, "\xC1\x81", "A"},  // overlong, accepted
      {utf8, TMimeCharset::CP1252, "\xC3\xBC\x80\x80\x80\x80\x80\x80\x80\x80", "_"},  // no wrap
      {ucs2, TMimeCharset::CP1252, "A\0\xFC\0\xAC\x20"s, "A\xFC\x80"},
      {ucs2, TMimeCharset::CP1252,
       "A\0\x3D\xD8"
       "B"s,
       "A_"},  // surrogate; odd byte ignored
      {ucs4, TMimeCharset::CP1252, "A\0\0\0\x00\xF6\x01\x00"s, "A_"},
      {ucs4, TMimeCharset::CP1252,
       "\xAC\x20\0\0\xFF\xFF\xFF\xFF"
       "abc"s,
       "\x80_"},
      {utf7, TMimeCharset::CP1252, "Hi Mom -+Jjo--!", "Hi Mom -_-!"},
      {utf7, TMimeCharset::CP1252, "+AOk-t+AOk-", "\xE9t\xE9"},
      {utf7, TMimeCharset::CP1253, "A+ImIDkQ.", "A_\xC1."},
      {utf7, TMimeCharset::CP1252, "1+-1", "1+1"},
      {utf7, TMimeCharset::CP1252, "+AOk", "\xE9"},   // the end of input ends the shift
      {utf7, TMimeCharset::CP1252, "+2D3eAA-", "_"},  // one character beyond U+FFFF
      {utf7, TMimeCharset::CP1252, "+2//cAA-", "_"},  // the same with the last high half
      {utf7, TMimeCharset::CP1252, "+2D0-x", "_x"},   // unpaired surrogate
      // Malformed: a lone "+" stands for itself, unclean leftover bits and
      // 8-bit bytes give "_".
      {utf7, TMimeCharset::CP1252, "a+!b+", "a+!b+"},
      {utf7, TMimeCharset::CP1252, "+AOm-", "\xE9_"},
      {utf7, TMimeCharset::CP1252, "+A-", "_"},
      {utf7, TMimeCharset::CP1252, "\xE9", "_"},
  };
  for (const ConvertCase& c : cases) {
    EXPECT_EQ(ConvertCharset(c.input, c.from, c.to), c.expected) << c.input;
  }
}

TEST(CharsetFromName, FollowsRuleOrder) {
  const std::pair<const char*, TMimeCharset> cases[] = {
      {"iso-8859-1", TMimeCharset::ISO_8859_1},
      {"ISO-8859-10", TMimeCharset::ISO_8859_10},
      {"iso-8859-13", TMimeCharset::ISO_8859_13},
      {"iso-8859-15", TMimeCharset::ISO_8859_15},
      {"ISO-8859-2", TMimeCharset::ISO_8859_2},
      {"iso-8859-9", TMimeCharset::ISO_8859_9},
      {"ISO-8859-16", TMimeCharset::ISO_8859_1},
      {"ISO-8859-11", TMimeCharset::ISO_8859_1},
      {"ISO_8859-2", TMimeCharset::ISO_8859_1},
      {"windows-1250", TMimeCharset::CP1250},
      {"Windows-1258", TMimeCharset::CP1258},
      {"x-cp1251", TMimeCharset::CP1251},
      {"windows-1259", TMimeCharset::ISO_8859_1},
      {"koi8-r", TMimeCharset::KOI8_R},
      {"koi8-u", TMimeCharset::ISO_8859_1},
      {"x-Kamenicky", TMimeCharset::CP895},
      {"cp895", TMimeCharset::CP895},
      {"ibm852", TMimeCharset::CP852},
      {"latin-2", TMimeCharset::CP852},
      {"utf-7", TMimeCharset::UTF_7},
      {"x-utf-7", TMimeCharset::ISO_8859_1},
      {"utf-8", TMimeCharset::UTF_8},
      {"x-utf-8*en", TMimeCharset::UTF_8},
      {"ucs-4", TMimeCharset::UCS_4},
      {"iso-10646-ucs-2", TMimeCharset::UCS_2},
      {"unicode-1-1", TMimeCharset::UCS_2},
      {"us-ascii", TMimeCharset::ISO_8859_1},
      {"", TMimeCharset::ISO_8859_1},
      // Earlier rules win.
      {"iso-8859-2-852", TMimeCharset::ISO_8859_2},
      {"utf-8-895", TMimeCharset::CP895},
      {"utf-7-852", TMimeCharset::CP852},
      {"ucs-2-utf-8", TMimeCharset::UTF_8},
  };
  for (const auto& [name, charset] : cases) EXPECT_EQ(CharsetFromName(name), charset) << name;
}

TEST(SystemCharset, CodePagesMapToWindowsCharsets) {
  const std::pair<unsigned, TMimeCharset> cases[] = {
      {1250, TMimeCharset::CP1250},  {1251, TMimeCharset::CP1251}, {1258, TMimeCharset::CP1258},
      {1249, TMimeCharset::CP1252},  {1259, TMimeCharset::CP1252}, {437, TMimeCharset::CP1252},
      {65001, TMimeCharset::CP1252}, {0, TMimeCharset::CP1252},
  };
  for (const auto& [cp, charset] : cases) EXPECT_EQ(CharsetFromCodePage(cp), charset) << cp;
#ifndef _WIN32
  // Without an ANSI code page the target is Windows-1252, header parsing included.
  EXPECT_EQ(SystemCharset(), TMimeCharset::CP1252);
  TMessHeader header;
  header.ParseHeaderLines({"Subject: =?UTF-8?Q?Gr=C3=BC=C3=9Fe_=E2=82=AC?="});
  EXPECT_EQ(header.Subject,
            "Gr\xFC\xDF"
            "e \x80");
#endif
}

}  // namespace
