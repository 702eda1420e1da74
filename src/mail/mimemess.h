// Sender and subject of a mail header, decoded from MIME encoded words
// (RFC 2047) into an 8-bit code page for the host's texts.
//
// Nothing here fails or throws on malformed input: what cannot be decoded is
// copied as written, and characters the target lacks become "_". The cost of
// every operation is linear in its input. All functions are reentrant; the
// charset tables they use are constant.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "charsets.h"

class TMessHeader {
 public:
  // The decoded value of the last From and Subject header lines, or empty.
  std::string From;
  std::string Subject;

  // Clears From and Subject, then fills them from the header lines (one
  // physical line per entry, the blank line and the body may follow; parsing
  // stops at the first empty line). The values are converted to
  // SystemCharset(), or to `target`.
  void ParseHeaderLines(const std::vector<std::string>& lines);
  void ParseHeaderLines(const std::vector<std::string>& lines, TMimeCharset target);
};

// Returns lines[i] joined with its continuation lines (those that begin with
// a blank or TAB), one blank at each join, trailing blanks removed; advances
// i past the lines used. Requires i < lines.size().
std::string UnfoldHeader(const std::vector<std::string>& lines, std::size_t& i);

// Replaces the encoded words of a header value by their text in `target`.
// Blanks between two encoded words are dropped, and the bytes of adjacent
// words in the same charset and encoding are converted together (a
// character split between two words survives); malformed words and words
// with an unknown encoding letter stay as written; an encoded word without
// its closing "?=" leaves the rest of the value as written.
std::string DecodeEncodedWords(std::string_view value, TMimeCharset target);

// The lenient decoders of encoded-word text. Base64: characters outside the
// alphabet count as missing values; a last group of two or three characters
// is completed, a single one ignored. Quoted-printable: "=XX" with non-hex
// digits gives a blank, a "=" with fewer than two characters after it ends the
// text. Neither treats "_" specially.
std::string DecodeBase64(std::string_view text);
std::string DecodeQuotedPrintable(std::string_view text);

// Maps a MIME charset name to the charset used to decode it; names it does
// not know give ISO-8859-1.
TMimeCharset CharsetFromName(std::string_view name);

// Converts bytes in charset `from` to the single-byte charset `to`. Characters
// above U+FFFF, and those `to` cannot represent, become "_"; a target that is
// not single-byte represents ASCII only. Malformed UTF-8, UTF-7, UCS-2 and
// UCS-4 input never fails (see mimemess.cpp for the exact rules).
std::string ConvertCharset(std::string_view bytes, TMimeCharset from, TMimeCharset to);

// Windows code pages 1250..1258 map to their charsets, every other code page
// to Windows-1252.
TMimeCharset CharsetFromCodePage(unsigned codePage);

// The charset of the system's active 8-bit code page
// (platform::active_code_page).
TMimeCharset SystemCharset();
