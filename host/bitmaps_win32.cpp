#include <windows.h>

#include "bitmaps.h"

namespace {

bool read_pixels(HBITMAP bitmap, host_bitmap* out) {
  BITMAP info{};
  if (GetObjectA(bitmap, sizeof info, &info) == 0) return false;
  BITMAPINFO request{};
  request.bmiHeader.biSize = sizeof request.bmiHeader;
  request.bmiHeader.biWidth = info.bmWidth;
  request.bmiHeader.biHeight = -info.bmHeight;  // top-down rows
  request.bmiHeader.biPlanes = 1;
  request.bmiHeader.biBitCount = 32;
  request.bmiHeader.biCompression = BI_RGB;
  std::vector<uint8_t> bgra(static_cast<size_t>(info.bmWidth) * info.bmHeight * 4);
  HDC dc = CreateCompatibleDC(nullptr);
  const int rows = GetDIBits(dc, bitmap, 0, info.bmHeight, bgra.data(), &request, DIB_RGB_COLORS);
  DeleteDC(dc);
  if (rows != info.bmHeight) return false;
  out->width = info.bmWidth;
  out->height = info.bmHeight;
  out->rgb.clear();
  for (size_t i = 0; i < bgra.size(); i += 4) {
    out->rgb.insert(out->rgb.end(), {bgra[i + 2], bgra[i + 1], bgra[i]});
  }
  return true;
}

}  // namespace

// A handle tells nothing of where the bitmap came from, so its pixels are
// compared with the plug-in module's own pictures.
bool inspect_bitmap(void* bitmap, const void* module, host_bitmap* out) {
  if (!read_pixels(static_cast<HBITMAP>(bitmap), out)) return false;
  if (module == nullptr) module = GetModuleHandleA(nullptr);
  out->name = picture_name(0);
  for (int id : {104, 108, 109, 110, 111}) {
    HBITMAP own =
        LoadBitmapA(static_cast<HINSTANCE>(const_cast<void*>(module)), MAKEINTRESOURCEA(id));
    host_bitmap picture;
    const bool same = own != nullptr && read_pixels(own, &picture) && picture.width == out->width &&
                      picture.height == out->height && picture.rgb == out->rgb;
    if (own != nullptr) DeleteObject(own);
    if (same) {
      out->name = picture_name(id);
      break;
    }
  }
  return true;
}
