// Samples of every generated table against values taken from glibc's charmaps
// (/usr/share/i18n/charmaps), an independent source, plus the two tables that
// differ from the published ones on purpose.
#include <gtest/gtest.h>

#include <cstdint>

#include "charsets.h"

namespace {

struct TableSample {
  TMimeCharset charset;
  unsigned byte;
  std::uint16_t value;
};

constexpr TableSample kSamples[] = {
    {TMimeCharset::ISO_8859_1, 0xBC, 0x00BC},
    {TMimeCharset::ISO_8859_1, 0xDC, 0x00DC},
    {TMimeCharset::ISO_8859_1, 0x80, 0x0080},
    {TMimeCharset::ISO_8859_2, 0xA6, 0x015A},
    {TMimeCharset::ISO_8859_2, 0xB1, 0x0105},
    {TMimeCharset::ISO_8859_2, 0xD5, 0x0150},
    {TMimeCharset::ISO_8859_3, 0xD8, 0x011C},
    {TMimeCharset::ISO_8859_3, 0xDE, 0x015C},
    {TMimeCharset::ISO_8859_3, 0xA5, 0xFFFD},
    {TMimeCharset::ISO_8859_4, 0xBC, 0x0167},
    {TMimeCharset::ISO_8859_4, 0xC5, 0x00C5},
    {TMimeCharset::ISO_8859_5, 0xAB, 0x040B},
    {TMimeCharset::ISO_8859_5, 0xD5, 0x0435},
    {TMimeCharset::ISO_8859_5, 0xFD, 0x00A7},
    {TMimeCharset::ISO_8859_6, 0xE2, 0x0642},
    {TMimeCharset::ISO_8859_6, 0xE3, 0x0643},
    {TMimeCharset::ISO_8859_6, 0xDD, 0xFFFD},
    {TMimeCharset::ISO_8859_7, 0xD4, 0x03A4},
    {TMimeCharset::ISO_8859_7, 0xE0, 0x03B0},
    {TMimeCharset::ISO_8859_7, 0xFF, 0xFFFD},
    {TMimeCharset::ISO_8859_8, 0xBA, 0x00F7},
    {TMimeCharset::ISO_8859_8, 0xBE, 0x00BE},
    {TMimeCharset::ISO_8859_8, 0xFB, 0xFFFD},
    {TMimeCharset::ISO_8859_9, 0xD3, 0x00D3},
    {TMimeCharset::ISO_8859_9, 0xDB, 0x00DB},
    {TMimeCharset::ISO_8859_10, 0xAD, 0x00AD},
    {TMimeCharset::ISO_8859_10, 0xD1, 0x0145},
    {TMimeCharset::ISO_8859_13, 0xE2, 0x0101},
    {TMimeCharset::ISO_8859_13, 0xEF, 0x013C},
    {TMimeCharset::ISO_8859_14, 0xB0, 0x1E1E},
    {TMimeCharset::ISO_8859_14, 0xE3, 0x00E3},
    {TMimeCharset::ISO_8859_15, 0xA4, 0x20AC},
    {TMimeCharset::ISO_8859_15, 0xE1, 0x00E1},
    {TMimeCharset::CP1250, 0xA3, 0x0141},
    {TMimeCharset::CP1250, 0xD1, 0x0143},
    {TMimeCharset::CP1250, 0x83, 0xFFFD},
    {TMimeCharset::CP1251, 0xD1, 0x0421},
    {TMimeCharset::CP1251, 0xE7, 0x0437},
    {TMimeCharset::CP1251, 0x98, 0xFFFD},
    {TMimeCharset::CP1252, 0x80, 0x20AC},
    {TMimeCharset::CP1252, 0xF9, 0x00F9},
    {TMimeCharset::CP1252, 0x8F, 0xFFFD},
    {TMimeCharset::CP1253, 0xC5, 0x0395},
    {TMimeCharset::CP1253, 0xF3, 0x03C3},
    {TMimeCharset::CP1253, 0x8E, 0xFFFD},
    {TMimeCharset::CP1254, 0xC4, 0x00C4},
    {TMimeCharset::CP1254, 0xF3, 0x00F3},
    {TMimeCharset::CP1254, 0x8E, 0xFFFD},
    {TMimeCharset::CP1255, 0xB8, 0x00B8},
    {TMimeCharset::CP1255, 0xCC, 0x05BC},
    {TMimeCharset::CP1255, 0xDE, 0xFFFD},
    {TMimeCharset::CP1256, 0xC3, 0x0623},
    {TMimeCharset::CP1256, 0xE4, 0x0646},
    {TMimeCharset::CP1257, 0xC2, 0x0100},
    {TMimeCharset::CP1257, 0xDA, 0x015A},
    {TMimeCharset::CP1257, 0x98, 0xFFFD},
    {TMimeCharset::CP1258, 0xDF, 0x00DF},
    {TMimeCharset::CP1258, 0xF4, 0x00F4},
    {TMimeCharset::CP1258, 0x8A, 0xFFFD},
    {TMimeCharset::KOI8_R, 0xAC, 0x255B},
    {TMimeCharset::KOI8_R, 0xCB, 0x043A},
    {TMimeCharset::KOI8_R, 0xE9, 0x0418},
    {TMimeCharset::CP852, 0xB0, 0x2591},
    {TMimeCharset::CP852, 0xC9, 0x2554},
    {TMimeCharset::CP852, 0xD0, 0x0111},
    // ISO-8859-7 of 1987: the later euro, drachma and ypogegrammeni are absent.
    {TMimeCharset::ISO_8859_7, 0xA4, 0xFFFD},
    {TMimeCharset::ISO_8859_7, 0xA5, 0xFFFD},
    {TMimeCharset::ISO_8859_7, 0xAA, 0xFFFD},
    {TMimeCharset::ISO_8859_7, 0xA3, 0x00A3},
    // Kamenicky: code page 437 (glibc IBM437) where it keeps it, letters where it does not.
    {TMimeCharset::CP895, 0x81, 0x00FC},
    {TMimeCharset::CP895, 0xB1, 0x2592},
    {TMimeCharset::CP895, 0xE2, 0x0393},
    {TMimeCharset::CP895, 0x80, 0x010C},
    {TMimeCharset::CP895, 0xA4, 0x0148},
    {TMimeCharset::CP895, 0xAD, 0x00A7},
    {TMimeCharset::CP895, 0xE1, 0x03B2},
    {TMimeCharset::CP895, 0xFA, 0x2219},
};

TEST(CharsetTables, SamplesMatchIndependentValues) {
  for (const TableSample& s : kSamples) {
    SCOPED_TRACE(testing::Message()
                 << "charset " << static_cast<int>(s.charset) << " byte 0x" << std::hex << s.byte);
    EXPECT_EQ(kCharsetTables[static_cast<int>(s.charset)][s.byte - 0x80], s.value);
  }
}

TEST(CharsetTables, EveryTableIsSampled) {
  bool seen[kSingleByteCharsetCount] = {};
  for (const TableSample& s : kSamples) seen[static_cast<int>(s.charset)] = true;
  for (int c = 0; c < kSingleByteCharsetCount; ++c) EXPECT_TRUE(seen[c]) << "charset " << c;
}

}  // namespace
