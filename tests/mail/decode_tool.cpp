// Reads "<code page> <TAB> <header value>" lines from standard input and
// writes the decoded value of each as one line of hexadecimal bytes, for
// comparison with another decoder (differential_test.py).
#include <cstdio>
#include <iostream>
#include <string>

#include "mimemess.h"

int main() {
  std::string line;
  while (std::getline(std::cin, line)) {
    const std::size_t tab = line.find('\t');
    const unsigned codePage = static_cast<unsigned>(std::stoul(line.substr(0, tab)));
    const std::string decoded =
        DecodeEncodedWords(line.substr(tab + 1), CharsetFromCodePage(codePage));
    std::string hex;
    for (const char c : decoded) {
      char byte[3];
      std::snprintf(byte, sizeof byte, "%02x", static_cast<unsigned char>(c));
      hex += byte;
    }
    std::cout << hex << '\n';
  }
  return 0;
}
