// Byte-wise text helpers shared by the mail clients and the plug-in. They
// treat text as bytes in any 8-bit charset: only the ASCII letters A to Z
// fold, and every byte up to the space counts as a blank, as protocol lines,
// header fields and mail.ini keys want.
#pragma once

#include <string>
#include <string_view>

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

// Where `capitals` (no lower-case letters) first occurs in `s`, the letters
// of `s` read as capitals; npos when nowhere. Finds without copying `s`.
inline size_t FindUpperAscii(std::string_view s, std::string_view capitals) {
  for (size_t i = 0; i + capitals.size() <= s.size(); ++i) {
    size_t k = 0;
    while (k < capitals.size() && UpperAscii(s[i + k]) == capitals[k]) ++k;
    if (k == capitals.size()) return i;
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
