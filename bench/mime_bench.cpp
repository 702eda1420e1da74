// Header decoding throughput: DecodeEncodedWords against GMime's
// g_mime_utils_header_decode_text and Python's email.header, on the same
// corpus of 100,000 values written by mime_bench.py.
//
// Usage: mime_bench [CORPUS_FILE]   (default: mime_corpus.txt in the current directory)
#include <gmime/gmime.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "mimemess.h"

namespace {

// Runs the decoder over the whole corpus until at least a second has passed
// and prints values per second and input MB per second.
void Measure(const char* name, const std::vector<std::string>& values,
             const std::function<std::size_t(const std::string&)>& decode) {
  std::size_t bytes = 0;
  for (const std::string& v : values) bytes += v.size();
  using Clock = std::chrono::steady_clock;
  const Clock::time_point start = Clock::now();
  std::size_t rounds = 0, sink = 0;
  double seconds = 0;
  do {
    for (const std::string& v : values) sink += decode(v);
    ++rounds;
    seconds = std::chrono::duration<double>(Clock::now() - start).count();
  } while (seconds < 1.0);
  std::printf("%-24s%14.0f%10.1f   (%zu output bytes)\n", name,
              static_cast<double>(values.size() * rounds) / seconds,
              static_cast<double>(bytes * rounds) / seconds / 1e6, sink / rounds);
}

}  // namespace

int main(int argc, char** argv) {
  const std::string corpus = argc > 1 ? argv[1] : "mime_corpus.txt";
  std::printf("%-24s%14s%10s\n", "decoder", "values/s", "MB/s");
  std::fflush(stdout);
  const std::string python = "python3 " MIME_BENCH_SCRIPT " " + corpus;
  if (std::system(python.c_str()) != 0) {
    std::fprintf(stderr, "%s failed\n", python.c_str());
    return 1;
  }
  std::vector<std::string> values;
  std::ifstream in(corpus);
  for (std::string line; std::getline(in, line);) values.push_back(line);

  g_mime_init();
  Measure("gmime", values, [](const std::string& v) {
    char* text = g_mime_utils_header_decode_text(nullptr, v.c_str());
    const std::size_t n = std::char_traits<char>::length(text);
    g_free(text);
    return n;
  });
  g_mime_shutdown();
  Measure("DecodeEncodedWords", values,
          [](const std::string& v) { return DecodeEncodedWords(v, TMimeCharset::CP1252).size(); });
  return 0;
}
