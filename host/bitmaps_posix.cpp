#include "bitmaps.h"
#include "platform/posix/window_system.h"

bool inspect_bitmap(void* bitmap, const void*, host_bitmap* out) {
  platform::posix::bitmap_pixels pixels;
  if (!platform::posix::read_bitmap(bitmap, &pixels)) return false;
  out->name = picture_name(pixels.resource_id);
  out->width = pixels.width;
  out->height = pixels.height;
  out->rgb = std::move(pixels.rgb);
  return true;
}
