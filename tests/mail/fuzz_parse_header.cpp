// libFuzzer target: a header block, one line per "\n"; the first byte picks
// the target charset, so every target (single-byte or not) is exercised.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "mimemess.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const auto target = static_cast<TMimeCharset>(data[0] % kCharsetCount);
  std::vector<std::string> lines(1);
  for (std::size_t i = 1; i < size; ++i) {
    if (data[i] == '\n') {
      lines.emplace_back();
    } else {
      lines.back().push_back(static_cast<char>(data[i]));
    }
  }
  TMessHeader header;
  header.ParseHeaderLines(lines, target);
  // Each decoded byte stands for at least one byte of input.
  if (header.From.size() > size || header.Subject.size() > size) __builtin_trap();
  return 0;
}
