// Byte-wise text helpers shared by the mail clients and the plug-in. They
// treat text as bytes in any 8-bit charset: only the ASCII letters A to Z
// fold, and every byte up to the space counts as a blank, as protocol lines,
// header fields and mail.ini keys want.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

// A space, a tab or any other control character.
inline bool IsBlankOrControl(char c) { return static_cast<unsigned char>(c) <= ' '; }

// `s` without blanks and control characters at either end.
inline std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && IsBlankOrControl(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlankOrControl(s.back())) s.remove_suffix(1);
  return s;
}

inline char UpperAscii(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}
inline char LowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

inline std::string UpperAscii(std::string_view s) {
  std::string u(s);
  for (char& c : u) c = UpperAscii(c);
  return u;
}

// The first byte in [p, end) that is `a` or `b`, or null: sixteen bytes at a
// time where the processor allows, since replies are searched byte by byte
// for line ends and words.
inline const char* FindEitherByte(const char* p, const char* end, char a, char b) {
#if defined(__SSE2__)
  const __m128i va = _mm_set1_epi8(a);
  const __m128i vb = _mm_set1_epi8(b);
  if (end - p >= 16) {
    // The last start from which sixteen bytes remain, set once.
    for (const char* const last = end - 16; p <= last; p += 16) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
      const int hits =
          _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, va), _mm_cmpeq_epi8(v, vb)));
      if (hits != 0) return p + __builtin_ctz(static_cast<unsigned>(hits));
    }
  }
#endif
  for (; p < end; ++p) {
    if (*p == a || *p == b) return p;
  }
  return nullptr;
}

// Where the 64 bytes from p are `a` and where `b` (bit i of a mask set when
// p[i] is that byte): a block's line ends at once, so that finding them
// does not wait on each other.
struct ByteMasks64 {
  uint64_t a = 0, b = 0;
};
inline ByteMasks64 FindTwoBytes64(const char* p, char a, char b) {
  ByteMasks64 masks;
#if defined(__SSE2__)
  const __m128i va = _mm_set1_epi8(a);
  const __m128i vb = _mm_set1_epi8(b);
  for (int i = 0; i < 64; i += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
    masks.a |=
        static_cast<uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, va)))) << i;
    masks.b |=
        static_cast<uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, vb)))) << i;
  }
#else
  for (int i = 0; i < 64; ++i) {
    masks.a |= static_cast<uint64_t>(p[i] == a) << i;
    masks.b |= static_cast<uint64_t>(p[i] == b) << i;
  }
#endif
  return masks;
}

#if defined(__x86_64__) || defined(__i386__)
// FindTwoBytes64 in two steps of 32 bytes, for processors that have them
// (see HasAvx2).
__attribute__((target("avx2"))) inline ByteMasks64 FindTwoBytes64Avx2(const char* p, char a,
                                                                      char b) {
  const __m256i va = _mm256_set1_epi8(a);
  const __m256i vb = _mm256_set1_epi8(b);
  ByteMasks64 masks;
  for (int i = 0; i < 64; i += 32) {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + i));
    masks.a |=
        static_cast<uint64_t>(static_cast<unsigned>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(v, va))))
        << i;
    masks.b |=
        static_cast<uint64_t>(static_cast<unsigned>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(v, vb))))
        << i;
  }
  return masks;
}

// FindTwoBytes64 in one step of 64 bytes, straight into masks, for
// processors that have it (see HasAvx512Bw).
__attribute__((target("avx512bw"))) inline ByteMasks64 FindTwoBytes64Avx512(const char* p, char a,
                                                                            char b) {
  const __m512i v = _mm512_loadu_si512(p);
  ByteMasks64 masks;
  masks.a = _mm512_cmpeq_epi8_mask(v, _mm512_set1_epi8(a));
  masks.b = _mm512_cmpeq_epi8_mask(v, _mm512_set1_epi8(b));
  return masks;
}

// Whether this processor and the system let FindTwoBytes64Avx2 run.
inline bool HasAvx2() {
  static const bool has = (__builtin_cpu_init(), __builtin_cpu_supports("avx2") != 0);
  return has;
}

// Whether this processor and the system let FindTwoBytes64Avx512 run.
inline bool HasAvx512Bw() {
  static const bool has = (__builtin_cpu_init(), __builtin_cpu_supports("avx512bw") != 0);
  return has;
}
#endif

// Where `capitals` (no lower-case letters) first occurs in `s`, the letters
// of `s` read as capitals; npos when nowhere. Finds without copying `s`,
// trying only where the first character matches.
inline size_t FindUpperAscii(std::string_view s, std::string_view capitals) {
  if (capitals.empty()) return 0;
  if (capitals.size() > s.size()) return s.npos;
  const char* const begin = s.data();
  const char* const last_start = begin + (s.size() - capitals.size()) + 1;
  const char first = capitals[0];
  for (const char* p = begin;
       (p = FindEitherByte(p, last_start, first, LowerAscii(first))) != nullptr; ++p) {
    size_t k = 1;
    while (k < capitals.size() && UpperAscii(p[k]) == capitals[k]) ++k;
    if (k == capitals.size()) return static_cast<size_t>(p - begin);
  }
  return s.npos;
}

// Equal but for the letter case of A to Z.
inline bool SameTextAscii(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

// Whether a command holds a CR, LF or NUL, any of which would end it early
// on the wire and let the rest pass as a command of its own.
inline bool HasLineBreak(std::string_view s) {
  for (const char c : s) {
    if (c == '\r' || c == '\n' || c == '\0') return true;
  }
  return false;
}
