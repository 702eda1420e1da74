// Reads the bitmaps the plug-in hands to the contact list, so that the
// substitute host can name an entry's icon and show its picture.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct host_bitmap {
  // The plug-in's name for the picture ("no-mail", "new-mail", "checking",
  // "failed", "page"), or "bitmap" when it is none of them.
  std::string name;
  int width = 0, height = 0;
  std::vector<uint8_t> rgb;  // rows from the top, red, green, blue per pixel
};

// `module` is the plug-in module whose bitmaps are compared (Windows only;
// null for this program).
// False when `bitmap` cannot be read.
bool inspect_bitmap(void* bitmap, const void* module, host_bitmap* out);

// The resource ids of the plug-in's pictures and their names.
const char* picture_name(int resource_id);
