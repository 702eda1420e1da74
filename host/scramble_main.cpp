// email-scramble: prints each password argument the way mail.ini stores it,
// with the plug-in's own code, so that scripts writing mail.ini by hand need
// no copy of the scheme.
#include <cstdio>

#include "imap_config.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fputs("usage: email-scramble PASSWORD...\n", stderr);
    return 2;
  }
  for (int i = 1; i < argc; ++i) std::puts(scramble_password(argv[i]).c_str());
  return 0;
}
