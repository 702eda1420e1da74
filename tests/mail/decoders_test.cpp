// Flat tables of input and expected bytes for the text decoders, the charset
// conversion and the charset names, malformed input included.
#include <gtest/gtest.h>

#include <string>

#include "mimemess.h"

namespace {

using std::string_literals::operator""s;
using C = TMimeCharset;

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
      {"QU JD", "A\x09"},     // a blank is a missing value and shifts the groups
      {"Q=JD", "@\x02\x43"},  // the third byte needs only the fourth character
      {"!!!!", "\0"s},        // the first byte of a group is always written
  };
  for (const TextCase& c : cases) EXPECT_EQ(DecodeBase64(c.input), c.expected) << c.input;
}

TEST(QuotedPrintable, DecodesLeniently) {
  const TextCase cases[] = {
      {"Gr=FC=DFe", "Gr\xFC\xDF\x65"},
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
      {C::ISO_8859_1, C::CP1252, "Gr\xFC\xDF\x65", "Gr\xFC\xDF\x65"},
      {C::ISO_8859_1, C::CP1252, "\x80\x9F", "__"},  // C1 controls
      {C::CP1252, C::CP1251, "\x80", "\x88"},        // the euro sign
      {C::KOI8_R, C::CP1251, "\xF4\xC5\xD3\xD4", "\xD2\xE5\xF1\xF2"},
      {C::KOI8_R, C::CP1252, "\xF4\xC5\xD3\xD4", "____"},
      {C::ISO_8859_2, C::CP1250, "\xB1\xA9", "\xB9\x8A"},
      {C::CP895, C::CP1250, "\x80\x87", "\xC8\xE8"},
      {C::CP852, C::ISO_8859_2, "\xA5", "\xB1"},
      {C::ISO_8859_7, C::CP1253, "\xC1\xA4", "\xC1_"},
      // Undefined bytes decode to U+FFFD, which no undefined target byte stands for.
      {C::CP1252, C::CP1252, "a\x81\x8D", "a__"},
      // A target that is not single-byte keeps ASCII only.
      {C::ISO_8859_1, C::UTF_8, "a\xFC", "a_"},
  };
  for (const ConvertCase& c : cases) {
    EXPECT_EQ(ConvertCharset(c.input, c.from, c.to), c.expected) << c.input;
  }
}

TEST(ConvertCharset, MultiByteCharsets) {
  const C utf8 = C::UTF_8, utf7 = C::UTF_7, ucs2 = C::UCS_2, ucs4 = C::UCS_4;
  const ConvertCase cases[] = {
      {utf8, C::CP1252, "Gr\xC3\xBC\xC3\x9F\x65", "Gr\xFC\xDF\x65"},
      {utf8, C::CP1252, "\xE2\x82\xAC", "\x80"},
      {utf8, C::CP1252, "\xE4\xB8\xAD", "_"},                              // not in the target
      {utf8, C::CP1252, "\xF0\x9F\x98\x80!", "_!"},                        // beyond U+FFFF
      {utf8, C::CP1252, "\x80\x61\xBF\xFE\xFF\x62", "ab"},                 // stray bytes
      {utf8, C::CP1252, "\xC3\x61", "\x03\x61"},                           // no length check
      {utf8, C::CP1252, "\xC1\x81", "A"},                                  // overlong, accepted
      {utf8, C::CP1252, "\xC3\xBC\x80\x80\x80\x80\x80\x80\x80\x80", "_"},  // no wrap
      {ucs2, C::CP1252, "A\0\xFC\0\xAC\x20"s, "A\xFC\x80"},
      {ucs2, C::CP1252, "A\0\x3D\xD8\x42"s, "A_"},  // surrogate; odd byte ignored
      {ucs4, C::CP1252, "A\0\0\0\x00\xF6\x01\x00\xE9\x00\x01\x00"s, "A__"},  // U+100E9 is no é
      {ucs4, C::CP1252, "\xAC\x20\0\0\xFF\xFF\xFF\xFF\x61\x62\x63"s, "\x80_"},
      {utf7, C::CP1252, "Hi Mom -+Jjo--!", "Hi Mom -_-!"},
      {utf7, C::CP1252, "+AOk-t+AOk-", "\xE9t\xE9"},
      {utf7, C::CP1253, "A+ImIDkQ.", "A_\xC1."},
      {utf7, C::CP1252, "1+-1", "1+1"},
      {utf7, C::CP1252, "+AOk", "\xE9"},   // the end of input ends the shift
      {utf7, C::CP1252, "+2EDcQQ-", "_"},  // U+20041, not the "A" its low half holds
      {utf7, C::CP1252, "+2//cAA-", "_"},  // the same with the last high half
      {utf7, C::CP1252, "+2D0-x", "_x"},   // unpaired surrogate
      // Malformed: a lone "+" stands for itself, unclean leftover bits and
      // 8-bit bytes give "_".
      {utf7, C::CP1252, "a+!b+", "a+!b+"},
      {utf7, C::CP1252, "+AOm-", "\xE9_"},
      {utf7, C::CP1252, "+A-", "_"},
      {utf7, C::CP1252, "\xE9", "_"},
  };
  for (const ConvertCase& c : cases) {
    EXPECT_EQ(ConvertCharset(c.input, c.from, c.to), c.expected) << c.input;
  }
}

// The last four rows: earlier rules win.
TEST(CharsetFromName, FollowsRuleOrder) {
  const std::pair<const char*, TMimeCharset> cases[] = {
      {"iso-8859-1", C::ISO_8859_1},
      {"ISO-8859-10", C::ISO_8859_10},
      {"iso-8859-13", C::ISO_8859_13},
      {"iso-8859-15", C::ISO_8859_15},
      {"ISO-8859-2", C::ISO_8859_2},
      {"iso-8859-9", C::ISO_8859_9},
      {"ISO-8859-16", C::ISO_8859_1},
      {"ISO-8859-11", C::ISO_8859_1},
      {"ISO_8859-2", C::ISO_8859_1},
      {"windows-1250", C::CP1250},
      {"Windows-1258", C::CP1258},
      {"x-cp1251", C::CP1251},
      {"windows-1259", C::ISO_8859_1},
      {"koi8-r", C::KOI8_R},
      {"koi8-u", C::ISO_8859_1},
      {"x-Kamenicky", C::CP895},
      {"cp895", C::CP895},
      {"ibm852", C::CP852},
      {"latin-2", C::CP852},
      {"utf-7", C::UTF_7},
      {"x-utf-7", C::ISO_8859_1},
      {"utf-8", C::UTF_8},
      {"x-utf-8*en", C::UTF_8},
      {"ucs-4", C::UCS_4},
      {"iso-10646-ucs-2", C::UCS_2},
      {"unicode-1-1", C::UCS_2},
      {"us-ascii", C::ISO_8859_1},
      {"", C::ISO_8859_1},
      {"iso-8859-2-852", C::ISO_8859_2},
      {"utf-8-895", C::CP895},
      {"utf-7-852", C::CP852},
      {"ucs-2-utf-8", C::UTF_8},
  };
  for (const auto& [name, charset] : cases) EXPECT_EQ(CharsetFromName(name), charset) << name;
}

TEST(SystemCharset, CodePagesMapToWindowsCharsets) {
  const std::pair<unsigned, TMimeCharset> cases[] = {
      {1250, C::CP1250}, {1251, C::CP1251}, {1258, C::CP1258},  {1249, C::CP1252},
      {1259, C::CP1252}, {437, C::CP1252},  {65001, C::CP1252}, {0, C::CP1252},
  };
  for (const auto& [cp, charset] : cases) EXPECT_EQ(CharsetFromCodePage(cp), charset) << cp;
#ifndef _WIN32
  // Without an ANSI code page the target is Windows-1252, header parsing included.
  EXPECT_EQ(SystemCharset(), C::CP1252);
  TMessHeader header;
  header.ParseHeaderLines({"Subject: =?UTF-8?Q?Gr=C3=BC=C3=9Fe_=E2=82=AC?="});
  EXPECT_EQ(header.Subject, "Gr\xFC\xDF\x65 \x80");
#endif
}

}  // namespace
