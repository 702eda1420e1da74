// Resources embedded into a POSIX module: the resource script itself (the
// dialog templates are read from it) and every file it names. Generated at
// build time from res/email.rc by cmake/embed_resources.cmake.
#pragma once

#include <cstddef>

namespace platform {

struct resource_item {
  const char* type;  // "BITMAP", "WAVE"
  int id;
  const unsigned char* data;
  std::size_t size;
};

struct resource_bundle {
  const char* script;  // the resource script's text, NUL-terminated
  const resource_item* items;
  std::size_t count;
};

}  // namespace platform
