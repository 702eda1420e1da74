// Bitmaps and cursors of the POSIX window system. A bitmap handle is the
// address of a decoded copy of the module's BMP resource, so whoever plays
// the user can read the pixels the plug-in hands to the host.
#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <set>

#include "platform/posix/window_system.h"
#include "platform/resources.h"

namespace platform {
namespace {

struct bitmap_store {
  std::mutex lock;
  std::set<posix::bitmap_pixels*> live;  // guarded by lock
};

bitmap_store& store() {
  static bitmap_store* s = new bitmap_store;
  return *s;
}

uint32_t read_u32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

uint16_t read_u16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

// Decodes an uncompressed 24-bit BMP file, the only kind the module carries.
bool decode_bmp(const unsigned char* data, size_t size, posix::bitmap_pixels* out) {
  if (size < 54 || data[0] != 'B' || data[1] != 'M') return false;
  const uint32_t offset = read_u32(data + 10);
  const int32_t width = static_cast<int32_t>(read_u32(data + 18));
  const int32_t raw_height = static_cast<int32_t>(read_u32(data + 22));
  const uint16_t bits = read_u16(data + 28);
  const uint32_t compression = read_u32(data + 30);
  if (bits != 24 || compression != 0 || width <= 0 || raw_height == 0 || width > 4096 ||
      raw_height > 4096 || raw_height < -4096) {
    return false;
  }
  const int32_t height = raw_height < 0 ? -raw_height : raw_height;
  const size_t stride = (static_cast<size_t>(width) * 3 + 3) & ~static_cast<size_t>(3);
  if (offset > size || stride * static_cast<size_t>(height) > size - offset) return false;
  out->width = width;
  out->height = height;
  out->bits_per_pixel = bits;
  out->rgb.resize(static_cast<size_t>(width) * static_cast<size_t>(height) * 3);
  for (int32_t y = 0; y < height; ++y) {
    // Rows are stored from the bottom unless the height is negative.
    const int32_t stored = raw_height > 0 ? height - 1 - y : y;
    const unsigned char* row = data + offset + stride * static_cast<size_t>(stored);
    for (int32_t x = 0; x < width; ++x) {
      unsigned char* px = &out->rgb[(static_cast<size_t>(y) * width + x) * 3];
      px[0] = row[x * 3 + 2];
      px[1] = row[x * 3 + 1];
      px[2] = row[x * 3];
    }
  }
  return true;
}

const char kArrow[] = "arrow";
const char kWait[] = "wait";
std::atomic<const void*> cursor{kArrow};

}  // namespace

bitmap_handle load_bitmap(module_handle module, int id) {
  const auto* bundle = static_cast<const resource_bundle*>(module);
  if (bundle == nullptr) return nullptr;
  for (size_t i = 0; i < bundle->count; ++i) {
    const resource_item& item = bundle->items[i];
    if (item.id != id || std::strcmp(item.type, "BITMAP") != 0) continue;
    auto bitmap = std::make_unique<posix::bitmap_pixels>();
    bitmap->resource_id = id;
    if (!decode_bmp(item.data, item.size, bitmap.get())) return nullptr;
    std::lock_guard<std::mutex> hold(store().lock);
    return *store().live.insert(bitmap.release()).first;
  }
  return nullptr;
}

void delete_bitmap(bitmap_handle bitmap) {
  auto* b = static_cast<posix::bitmap_pixels*>(bitmap);
  {
    std::lock_guard<std::mutex> hold(store().lock);
    if (store().live.erase(b) == 0) return;
  }
  delete b;
}

cursor_handle load_wait_cursor() { return kWait; }

cursor_handle set_cursor(cursor_handle c) { return cursor.exchange(c); }

namespace posix {

bool read_bitmap(bitmap_handle bitmap, bitmap_pixels* out) {
  std::lock_guard<std::mutex> hold(store().lock);
  auto it = store().live.find(static_cast<bitmap_pixels*>(bitmap));
  if (it == store().live.end()) return false;
  *out = **it;
  return true;
}

size_t live_bitmap_count() {
  std::lock_guard<std::mutex> hold(store().lock);
  return store().live.size();
}

std::string current_cursor_name() { return cursor.load() == kWait ? kWait : kArrow; }

}  // namespace posix
}  // namespace platform
