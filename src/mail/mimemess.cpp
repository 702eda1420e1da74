// Header field decoding: unfolding (RFC 5322), encoded words (RFC 2047) with
// Base64 and Q text (RFC 2045), and conversion of UTF-8, UTF-7 (RFC 2152),
// UCS-2, UCS-4 and the single-byte charsets into a single-byte code page.
//
// The decoders are deliberately lenient: a header comes from anyone, and the
// user is better served by a partly garbled subject than by none.
#include "mimemess.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

#include "platform/code_page.h"
#include "text.h"

namespace {

constexpr std::uint32_t kReplacementChar = 0xFFFD;

bool StartsWithNoCase(std::string_view s, std::string_view upperPrefix) {
  if (s.size() < upperPrefix.size()) return false;
  for (std::size_t i = 0; i < upperPrefix.size(); ++i) {
    if (UpperAscii(s[i]) != upperPrefix[i]) return false;
  }
  return true;
}

// Value of a Base64 digit (RFC 2045 alphabet, which UTF-7 shares), or -1.
constexpr std::array<std::int8_t, 256> kBase64Values = [] {
  std::array<std::int8_t, 256> v{};
  for (auto& x : v) x = -1;
  const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  for (int i = 0; i < 64; ++i)
    v[static_cast<unsigned char>(alphabet[i])] = static_cast<std::int8_t>(i);
  return v;
}();

int Base64Value(char c) { return kBase64Values[static_cast<unsigned char>(c)]; }

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Every decoder below writes at most one byte per byte it reads, so callers
// size their output buffer to the input and write through a pointer.

char* DecodeBase64To(std::string_view text, char* out) {
  const std::size_t n = text.size();
  // Groups of four; a last group of two or three is completed with missing
  // values, a single character left over is ignored.
  for (std::size_t i = 0; i + 2 <= n; i += 4) {
    const int v0 = Base64Value(text[i]);
    const int v1 = Base64Value(text[i + 1]);
    const int v2 = i + 2 < n ? Base64Value(text[i + 2]) : -1;
    const int v3 = i + 3 < n ? Base64Value(text[i + 3]) : -1;
    const int b0 = std::max(v0, 0), b1 = std::max(v1, 0), b2 = std::max(v2, 0);
    *out++ = static_cast<char>((b0 << 2) | (b1 >> 4));
    if (v2 >= 0) *out++ = static_cast<char>(((b1 & 0x0F) << 4) | (b2 >> 2));
    if (v3 >= 0) *out++ = static_cast<char>(((b2 & 0x03) << 6) | v3);
  }
  return out;
}

// Q text (RFC 2047) is quoted-printable with "_" standing for a blank.
char* DecodeQuotedPrintableTo(std::string_view text, bool underscoreIsBlank, char* out) {
  const std::size_t n = text.size();
  std::size_t i = 0;
  while (i < n) {
    const char c = text[i];
    if (c != '=') {
      *out++ = underscoreIsBlank && c == '_' ? ' ' : c;
      ++i;
      continue;
    }
    if (n - i < 3) break;
    const int hi = HexValue(text[i + 1]);
    const int lo = HexValue(text[i + 2]);
    *out++ = hi >= 0 && lo >= 0 ? static_cast<char>(hi * 16 + lo) : ' ';
    i += 3;
  }
  return out;
}

// Code point to byte for one single-byte target, in two levels (high byte,
// then low byte) so a lookup costs two loads. 0 marks "not representable";
// every real answer is 0x80 or above.
class TReverseMap {
 public:
  explicit TReverseMap(const std::uint16_t* table) : pages_(1) {
    if (table == nullptr) return;
    for (int i = 0; i < 128; ++i) {
      const std::uint16_t cp = table[i];
      // An undefined position represents nothing, not U+FFFD.
      if (cp < 0x80 || cp == kReplacementChar) continue;
      std::uint8_t& page = index_[cp >> 8];
      if (page == 0) {
        page = static_cast<std::uint8_t>(pages_.size());
        pages_.emplace_back();
      }
      std::uint8_t& slot = pages_[page][cp & 0xFF];
      if (slot == 0) slot = static_cast<std::uint8_t>(0x80 + i);  // the first entry wins
    }
  }

  std::uint8_t Find(std::uint32_t cp) const { return pages_[index_[cp >> 8]][cp & 0xFF]; }

 private:
  std::array<std::uint8_t, 256> index_{};
  std::vector<std::array<std::uint8_t, 256>> pages_;
};

const TReverseMap& ReverseMapOf(TMimeCharset target) {
  static const std::vector<TReverseMap> maps = [] {
    std::vector<TReverseMap> m;
    m.reserve(kCharsetCount);
    for (int c = 0; c < kCharsetCount; ++c) {
      m.emplace_back(c < kSingleByteCharsetCount ? kCharsetTables[c] : nullptr);
    }
    return m;
  }();
  return maps[static_cast<int>(target)];
}

// Writes code points into the target code page, one byte each.
class TSink {
 public:
  TSink(char* out, TMimeCharset target) : out_(out), map_(ReverseMapOf(target)) {}

  void Put(std::uint32_t cp) {
    if (cp < 0x80) {
      *out_++ = static_cast<char>(cp);
    } else if (cp > 0xFFFF) {
      *out_++ = '_';
    } else {
      const std::uint8_t b = map_.Find(cp);
      *out_++ = b != 0 ? static_cast<char>(b) : '_';
    }
  }

  // For ASCII bytes, which pass unchanged.
  void PutByte(char c) { *out_++ = c; }

  char* End() const { return out_; }

 private:
  char* out_;
  const TReverseMap& map_;
};

void FromSingleByte(std::string_view bytes, const std::uint16_t* table, TSink& sink) {
  for (const char c : bytes) {
    const unsigned char b = static_cast<unsigned char>(c);
    if (b < 0x80) {
      sink.PutByte(c);
    } else {
      sink.Put(table[b - 0x80]);
    }
  }
}

// Lenient UTF-8: a lead byte and all continuation bytes that follow it make one
// code point, whatever their number; stray continuation bytes and 0xFE/0xFF
// give nothing.
void FromUtf8(std::string_view bytes, TSink& sink) {
  const std::size_t n = bytes.size();
  std::size_t i = 0;
  while (i < n) {
    const unsigned char b = static_cast<unsigned char>(bytes[i++]);
    if (b < 0x80) {
      sink.PutByte(static_cast<char>(b));
      continue;
    }
    std::uint32_t cp;
    if ((b & 0xE0) == 0xC0) {
      cp = b & 0x1F;
    } else if ((b & 0xF0) == 0xE0) {
      cp = b & 0x0F;
    } else if ((b & 0xF8) == 0xF0) {
      cp = b & 0x07;
    } else if ((b & 0xFC) == 0xF8) {
      cp = b & 0x03;
    } else if ((b & 0xFE) == 0xFC) {
      cp = b & 0x01;
    } else {
      continue;
    }
    while (i < n && (static_cast<unsigned char>(bytes[i]) & 0xC0) == 0x80) {
      // Saturate: a long run must stay beyond U+FFFF, not wrap into range.
      cp = (std::min<std::uint32_t>(cp, 0x10000) << 6) | (bytes[i] & 0x3F);
      ++i;
    }
    sink.Put(cp);
  }
}

// Little-endian units; an incomplete unit at the end is ignored.
void FromUcs2(std::string_view bytes, TSink& sink) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  for (std::size_t i = 0; i + 2 <= bytes.size(); i += 2) {
    sink.Put(static_cast<std::uint32_t>(p[i]) | static_cast<std::uint32_t>(p[i + 1]) << 8);
  }
}

void FromUcs4(std::string_view bytes, TSink& sink) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  for (std::size_t i = 0; i + 4 <= bytes.size(); i += 4) {
    sink.Put(static_cast<std::uint32_t>(p[i]) | static_cast<std::uint32_t>(p[i + 1]) << 8 |
             static_cast<std::uint32_t>(p[i + 2]) << 16 |
             static_cast<std::uint32_t>(p[i + 3]) << 24);
  }
}

// UTF-16 units from a UTF-7 shift sequence; a surrogate pair is one character
// (beyond U+FFFF), an unpaired surrogate passes as it is.
class TUtf16Units {
 public:
  explicit TUtf16Units(TSink& sink) : sink_(sink) {}

  void Put(std::uint32_t unit) {
    const bool low = unit >= 0xDC00 && unit <= 0xDFFF;
    if (high_ != 0 && low) {
      sink_.Put(0x10000 + ((high_ - 0xD800) << 10) + (unit - 0xDC00));
      high_ = 0;
      return;
    }
    Flush();
    if (unit >= 0xD800 && unit <= 0xDBFF) {
      high_ = unit;
    } else {
      sink_.Put(unit);
    }
  }

  void Flush() {
    if (high_ != 0) sink_.Put(high_);
    high_ = 0;
  }

 private:
  TSink& sink_;
  std::uint32_t high_ = 0;
};

// UTF-7. Malformed input is decoded as far as it makes sense: a "+" not
// followed by a Base64 digit or "-" stands for itself, leftover bits of a
// shift sequence that do not form a clean end (six or more, or not zero) give
// U+FFFD, and bytes of 0x80 or above give U+FFFD.
void FromUtf7(std::string_view bytes, TSink& sink) {
  const std::size_t n = bytes.size();
  std::size_t i = 0;
  while (i < n) {
    const char c = bytes[i++];
    if (c != '+') {
      if (static_cast<unsigned char>(c) < 0x80) {
        sink.PutByte(c);
      } else {
        sink.Put(kReplacementChar);
      }
      continue;
    }
    if (i < n && bytes[i] == '-') {
      sink.PutByte('+');
      ++i;
      continue;
    }
    if (i == n || Base64Value(bytes[i]) < 0) {
      sink.PutByte('+');
      continue;
    }
    TUtf16Units units(sink);
    std::uint32_t bits = 0;
    int bitCount = 0;
    for (; i < n && Base64Value(bytes[i]) >= 0; ++i) {
      bits = ((bits << 6) | static_cast<std::uint32_t>(Base64Value(bytes[i]))) & 0x3FFFFF;
      bitCount += 6;
      if (bitCount >= 16) {
        bitCount -= 16;
        units.Put((bits >> bitCount) & 0xFFFF);
      }
    }
    units.Flush();
    if (bitCount >= 6 || (bits & ((1u << bitCount) - 1)) != 0) sink.Put(kReplacementChar);
    if (i < n && bytes[i] == '-') ++i;  // the explicit end of the sequence is absorbed
  }
}

char* ConvertTo(std::string_view bytes, TMimeCharset from, TMimeCharset to, char* out) {
  TSink sink(out, to);
  switch (from) {
    case TMimeCharset::UCS_2:
      FromUcs2(bytes, sink);
      break;
    case TMimeCharset::UCS_4:
      FromUcs4(bytes, sink);
      break;
    case TMimeCharset::UTF_8:
      FromUtf8(bytes, sink);
      break;
    case TMimeCharset::UTF_7:
      FromUtf7(bytes, sink);
      break;
    default:
      FromSingleByte(bytes, kCharsetTables[static_cast<int>(from)], sink);
      break;
  }
  return sink.End();
}

// Position of the "?" of the "?=" that ends an encoded word whose "=?" ends
// just before `from`: the first "?" followed by "=" that is at least the third
// "?" after the "=?". npos if there is none.
std::size_t FindWordEnd(std::string_view v, std::size_t from) {
  int count = 0;
  for (std::size_t i = from; i < v.size(); ++i) {
    const void* q = std::memchr(v.data() + i, '?', v.size() - i);
    if (q == nullptr) break;
    i = static_cast<std::size_t>(static_cast<const char*>(q) - v.data());
    if (++count >= 3 && i + 1 < v.size() && v[i + 1] == '=') return i;
  }
  return std::string_view::npos;
}

bool AllBlanks(std::string_view s) { return std::all_of(s.begin(), s.end(), IsBlankOrControl); }

char* Copy(std::string_view s, char* out) {
  if (!s.empty()) std::memcpy(out, s.data(), s.size());
  return out + s.size();
}

// The parts of one "=?charset?X?text?=" word; false for a malformed word or
// an encoding letter other than B and Q, which stay as written.
bool ParseWord(std::string_view word, std::string_view* charset, char* letter,
               std::string_view* text) {
  const std::string_view inner = word.substr(2, word.size() - 4);
  const std::size_t p = inner.find('?');
  if (p == std::string_view::npos || p + 2 >= inner.size() || inner[p + 2] != '?') return false;
  *letter = UpperAscii(inner[p + 1]);
  if (*letter != 'B' && *letter != 'Q') return false;
  *charset = inner.substr(0, p);
  *text = inner.substr(p + 3);
  return true;
}

// Runs a decoder that writes at most `limit` bytes and returns what it wrote.
template <typename Decoder>
std::string Decoded(std::size_t limit, Decoder decode) {
  std::string out(limit, '\0');
  out.resize(static_cast<std::size_t>(decode(out.data()) - out.data()));
  return out;
}

}  // namespace

void TMessHeader::ParseHeaderLines(const std::vector<std::string>& lines) {
  ParseHeaderLines(lines, SystemCharset());
}

void TMessHeader::ParseHeaderLines(const std::vector<std::string>& lines, TMimeCharset target) {
  From.clear();
  Subject.clear();
  std::size_t i = 0;
  while (i < lines.size()) {
    const std::string s = UnfoldHeader(lines, i);
    if (s.empty()) break;
    std::string* field = nullptr;
    if (StartsWithNoCase(s, "FROM:")) {
      field = &From;
    } else if (StartsWithNoCase(s, "SUBJECT:")) {
      field = &Subject;
    } else {
      continue;
    }
    const std::string_view value = std::string_view(s).substr(s.find(':') + 1);
    *field = DecodeEncodedWords(TrimBlanks(value), target);
  }
}

std::string UnfoldHeader(const std::vector<std::string>& lines, std::size_t& i) {
  std::string s = lines[i++];
  if (!s.empty()) {
    while (i < lines.size()) {
      const std::string& t = lines[i];
      // TAB is a blank too, so a line starting with one continues the field.
      if (t.empty() || !IsBlankOrControl(t.front())) break;
      const std::size_t start = s.size() + 1;
      s += ' ';
      s += TrimBlanks(t);
      std::replace(s.begin() + static_cast<std::ptrdiff_t>(start), s.end(), '\t', ' ');
      ++i;
    }
  }
  while (!s.empty() && IsBlankOrControl(s.back())) s.pop_back();
  return s;
}

std::string DecodeEncodedWords(std::string_view value, TMimeCharset target) {
  return Decoded(value.size(), [value, target](char* out) {
    // The bytes of adjacent words in one charset and encoding are converted
    // together: mailers split a character between two words although
    // RFC 2047 forbids it. The words are short, and all their bytes together
    // no longer than the value, so this rarely needs the heap.
    char small[256];
    std::string large;
    char* bytes = small;
    if (value.size() > sizeof small) {
      large.resize(value.size());
      bytes = large.data();
    }
    std::size_t used = 0;
    TMimeCharset run_charset = TMimeCharset::ISO_8859_1;
    char run_letter = 0;  // 0: no run
    const auto flush = [&] {
      if (run_letter != 0) out = ConvertTo(std::string_view(bytes, used), run_charset, target, out);
      used = 0;
      run_letter = 0;
    };
    std::string_view v = value;
    for (;;) {
      const std::size_t x = v.find("=?");
      if (x == std::string_view::npos) break;
      const std::size_t y = FindWordEnd(v, x + 2);
      if (y == std::string_view::npos) break;
      // Blanks between encoded words are folding, not text.
      const std::string_view before = v.substr(0, x);
      const bool adjacent = AllBlanks(before);
      const std::string_view word = v.substr(x, y + 2 - x);
      v.remove_prefix(y + 2);
      std::string_view name, text;
      char letter = 0;
      const bool decodable = ParseWord(word, &name, &letter, &text);
      const TMimeCharset charset = decodable ? CharsetFromName(name) : run_charset;
      if (!decodable || !adjacent || letter != run_letter || charset != run_charset) {
        flush();
        if (!adjacent) out = Copy(before, out);
      }
      if (!decodable) {
        out = Copy(word, out);
        continue;
      }
      char* end = letter == 'B' ? DecodeBase64To(text, bytes + used)
                                : DecodeQuotedPrintableTo(text, true, bytes + used);
      used = static_cast<std::size_t>(end - bytes);
      run_charset = charset;
      run_letter = letter;
    }
    flush();
    return Copy(v, out);
  });
}

std::string DecodeBase64(std::string_view text) {
  return Decoded(text.size(), [text](char* out) { return DecodeBase64To(text, out); });
}

std::string DecodeQuotedPrintable(std::string_view text) {
  return Decoded(text.size(),
                 [text](char* out) { return DecodeQuotedPrintableTo(text, false, out); });
}

TMimeCharset CharsetFromName(std::string_view name) {
  const auto startsWith = [name](std::string_view prefix) {
    return StartsWithNoCase(name, prefix);
  };
  const auto contains = [name](std::string_view part) {
    for (std::size_t i = 0; i + part.size() <= name.size(); ++i) {
      if (StartsWithNoCase(name.substr(i), part)) return true;
    }
    return false;
  };

  static constexpr std::pair<std::string_view, TMimeCharset> kIsoParts[] = {
      {"ISO-8859-10", TMimeCharset::ISO_8859_10}, {"ISO-8859-13", TMimeCharset::ISO_8859_13},
      {"ISO-8859-14", TMimeCharset::ISO_8859_14}, {"ISO-8859-15", TMimeCharset::ISO_8859_15},
      {"ISO-8859-2", TMimeCharset::ISO_8859_2},   {"ISO-8859-3", TMimeCharset::ISO_8859_3},
      {"ISO-8859-4", TMimeCharset::ISO_8859_4},   {"ISO-8859-5", TMimeCharset::ISO_8859_5},
      {"ISO-8859-6", TMimeCharset::ISO_8859_6},   {"ISO-8859-7", TMimeCharset::ISO_8859_7},
      {"ISO-8859-8", TMimeCharset::ISO_8859_8},   {"ISO-8859-9", TMimeCharset::ISO_8859_9},
  };
  if (startsWith("ISO-8859-")) {
    for (const auto& [prefix, charset] : kIsoParts) {
      if (startsWith(prefix)) return charset;
    }
  }
  // WINDOWS-1250 .. WINDOWS-1258 and X-CP1250 .. X-CP1258.
  for (const std::string_view prefix :
       {std::string_view("WINDOWS-125"), std::string_view("X-CP125")}) {
    if (startsWith(prefix) && name.size() > prefix.size()) {
      const char digit = name[prefix.size()];
      if (digit >= '0' && digit <= '8') {
        return static_cast<TMimeCharset>(static_cast<int>(TMimeCharset::CP1250) + digit - '0');
      }
    }
  }
  if (startsWith("KOI8-R")) return TMimeCharset::KOI8_R;
  if (contains("KAMENICKY") || contains("895")) return TMimeCharset::CP895;
  if (contains("LATIN-2") || contains("852")) return TMimeCharset::CP852;
  if (startsWith("UTF-7")) return TMimeCharset::UTF_7;
  if (contains("UTF-8")) return TMimeCharset::UTF_8;
  if (contains("UCS-4")) return TMimeCharset::UCS_4;
  if (contains("UCS-2") || startsWith("UNICODE")) return TMimeCharset::UCS_2;
  return TMimeCharset::ISO_8859_1;
}

std::string ConvertCharset(std::string_view bytes, TMimeCharset from, TMimeCharset to) {
  return Decoded(bytes.size(), [=](char* out) { return ConvertTo(bytes, from, to, out); });
}

TMimeCharset CharsetFromCodePage(unsigned codePage) {
  if (codePage >= 1250 && codePage <= 1258) {
    return static_cast<TMimeCharset>(static_cast<unsigned>(TMimeCharset::CP1250) + codePage - 1250);
  }
  return TMimeCharset::CP1252;
}

TMimeCharset SystemCharset() { return CharsetFromCodePage(platform::active_code_page()); }
