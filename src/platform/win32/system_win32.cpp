// Bitmaps, cursors, program launches and thread messages on Windows.
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include "platform/platform.h"

namespace platform {

bitmap_handle load_bitmap(module_handle module, int id) {
  return LoadBitmapA(static_cast<HINSTANCE>(const_cast<void*>(module)), MAKEINTRESOURCEA(id));
}

void delete_bitmap(bitmap_handle bitmap) {
  if (bitmap != nullptr) DeleteObject(static_cast<HBITMAP>(bitmap));
}

cursor_handle load_wait_cursor() { return LoadCursorA(nullptr, IDC_WAIT); }

cursor_handle set_cursor(cursor_handle cursor) {
  return SetCursor(static_cast<HCURSOR>(const_cast<void*>(cursor)));
}

void launch_program(const std::string& file, const std::string& arguments) {
  ShellExecuteA(nullptr, "open", file.c_str(), arguments.c_str(), nullptr, SW_SHOW);
}

uint32_t current_thread_id() { return GetCurrentThreadId(); }

bool post_thread_message(uint32_t thread_id, uint32_t message, uintptr_t wparam, intptr_t lparam) {
  return PostThreadMessageA(thread_id, message, wparam, lparam) != 0;
}

bool peek_thread_message(thread_message* out) {
  MSG msg;
  // A window of -1 asks for thread messages only.
  if (!PeekMessageA(&msg, reinterpret_cast<HWND>(-1), 0, 0, PM_REMOVE)) return false;
  out->message = msg.message;
  out->wparam = msg.wParam;
  out->lparam = msg.lParam;
  return true;
}

}  // namespace platform
