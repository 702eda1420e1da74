// The POSIX stand-in for the window system, seen from whoever plays the user
// (the substitute host, a test). The plug-in never includes this header; it
// uses platform/platform.h. All functions are safe to call from any thread;
// dialog procedures are called without any lock held.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace platform::posix {

// Answers message boxes. The default handler gives the first button's answer
// (OK, or Yes for a Yes/No box) so that nothing is lost unasked.
using message_box_handler = std::function<int32_t(window_handle owner, const std::string& text,
                                                  const std::string& caption, uint32_t style)>;
PLATFORM_API void set_message_box_handler(message_box_handler handler);

struct control_state {
  int id = 0;
  std::string window_class;
  std::string text;
  bool checked = false;
  bool enabled = true;
};

struct window_state {
  window_handle handle = nullptr;
  int template_id = 0;
  window_handle parent = nullptr;
  std::string caption;
  bool visible = false;
  int x = 0, y = 0, width = 0, height = 0;
  std::vector<control_state> controls;
};

// The windows that exist now, oldest first.
PLATFORM_API std::vector<window_state> list_windows();
// False when `window` does not exist.
PLATFORM_API bool get_window(window_handle window, window_state* out);

}  // namespace platform::posix
