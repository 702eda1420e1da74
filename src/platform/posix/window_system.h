// The POSIX stand-in for the window system, seen from whoever plays the user
// (the substitute host, a test). The plug-in never includes this header; it
// uses platform/platform.h. All functions are safe to call from any thread;
// dialog procedures are called without any lock held.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/dialog_state.h"
#include "platform/platform.h"

namespace platform::posix {

// Answers message boxes. The default handler gives the first button's answer
// (OK, or Yes for a Yes/No box) so that nothing is lost unasked.
using message_box_handler = std::function<int32_t(window_handle owner, const std::string& text,
                                                  const std::string& caption, uint32_t style)>;
PLATFORM_API void set_message_box_handler(message_box_handler handler);

// The windows that exist now, oldest first.
PLATFORM_API std::vector<window_state> list_windows();
// False when `window` does not exist.
PLATFORM_API bool get_window(window_handle window, window_state* out);

// Playing the user on a dialog's controls. Each acts as the user's input
// would and tells the dialog procedure as the control would, on the thread
// that owns the window (like send_message). False, with nothing done, when
// the window or the control does not exist, the control is disabled or is
// not of a kind the action applies to.
//
// Replaces an edit control's text.
PLATFORM_API bool user_type(window_handle dialog, int id, const std::string& text);
// Clicks a button: a check box toggles, a radio button is checked and the
// others of its group (from a WS_GROUP control to the next) cleared; then
// the procedure gets MSG_COMMAND with NOTIFY_CLICKED.
PLATFORM_API bool user_click(window_handle dialog, int id);
// Picks the combo box item with the text `item`; MSG_COMMAND with
// NOTIFY_SELECTION_CHANGED follows.
PLATFORM_API bool user_choose(window_handle dialog, int id, const std::string& item);
// Selects `rows` of a list view (as clicks with Ctrl held, in this order):
// the selection mark becomes the last of them.
PLATFORM_API bool user_select_rows(window_handle dialog, int id, const std::vector<int>& rows);
// Double-clicks row `row` of a list view (-1: below the last row, which
// selects nothing and keeps the mark); MSG_NOTIFY with NOTIFY_DOUBLE_CLICK.
PLATFORM_API bool user_double_click(window_handle dialog, int id, int row);
// The window's close box: MSG_CLOSE.
PLATFORM_API bool user_close(window_handle dialog);

// Answers the open-file dialog: true, with the chosen file's full path in
// `path`, or false for Cancel. The default handler cancels.
using open_file_handler = std::function<bool(window_handle owner, const std::string& title,
                                             const std::string& description,
                                             const std::string& pattern, std::string* path)>;
PLATFORM_API void set_open_file_handler(open_file_handler handler);

// A bitmap as the plug-in loaded it: `rgb` holds the pixels row by row from
// the top, three bytes (red, green, blue) per pixel.
struct bitmap_pixels {
  int resource_id = 0;
  int width = 0, height = 0;
  int bits_per_pixel = 0;
  std::vector<uint8_t> rgb;
};
// False when `bitmap` is not a bitmap that exists now.
PLATFORM_API bool read_bitmap(bitmap_handle bitmap, bitmap_pixels* out);
// The number of bitmaps loaded and not yet deleted.
PLATFORM_API size_t live_bitmap_count();

// "arrow" or "wait": the cursor that is current now.
PLATFORM_API std::string current_cursor_name();

// Sounds (platform.h play_sound_file / play_sound_resource) go to
// `program` (looked up in PATH like a launch) instead of the system's sound
// output; it gets the words aplay gets: "-q" and the file, or
// "-q -" and the WAVE data on its standard input. Empty restores the system's.
PLATFORM_API void set_sound_player(const std::string& program);

// Splits `text` into words as a POSIX shell does, without expanding anything:
// blanks separate words; single quotes keep everything literally; double
// quotes keep everything but \\, \", \$ and \` escapes; a backslash outside
// quotes keeps the next character. False on an unterminated quote or a
// trailing backslash.
PLATFORM_API bool split_words(const std::string& text, std::vector<std::string>* words);

}  // namespace platform::posix
