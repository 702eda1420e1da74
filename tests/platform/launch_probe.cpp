// A stand-in e-mail program: writes the arguments it received, one per line,
// into the file named by LAUNCH_PROBE_OUT (written under another name first
// and then renamed, so that a reader never sees half of it).
#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
  const char* out = std::getenv("LAUNCH_PROBE_OUT");
  if (out == nullptr) return 1;
  const std::string partial = std::string(out) + ".part";
  FILE* f = std::fopen(partial.c_str(), "wb");
  if (f == nullptr) return 1;
  for (int i = 1; i < argc; ++i) std::fprintf(f, "%s\n", argv[i]);
  std::fclose(f);
  return std::rename(partial.c_str(), out) == 0 ? 0 : 1;
}
