#include "bitmaps.h"

const char* picture_name(int resource_id) {
  switch (resource_id) {
    case 104:
      return "page";
    case 108:
      return "no-mail";
    case 109:
      return "new-mail";
    case 110:
      return "checking";
    case 111:
      return "failed";
    default:
      return "bitmap";
  }
}
