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

// A program launch: the program, the argument text as given, and the words
// the program receives (argv without the program itself).
struct launch_request {
  std::string file;
  std::string arguments;
  std::vector<std::string> words;
};
// While a recorder is set, launches are handed to it instead of performed;
// null performs them again.
using launch_recorder = std::function<void(const launch_request&)>;
PLATFORM_API void set_launch_recorder(launch_recorder recorder);

// A sound the plug-in played: the WAVE file `file`, or the module's WAVE
// resource `resource_id` (then `file` is empty), with the size of its data
// in bytes (0 when it could not be read) and whether it went to the
// system's sound output.
struct sound_played {
  std::string file;
  int resource_id = 0;
  size_t bytes = 0;
  bool to_output = false;
};
// Told of every sound, on the thread that plays it; null stops telling.
using sound_observer = std::function<void(const sound_played&)>;
PLATFORM_API void set_sound_observer(sound_observer observer);
// Sounds go to `program` (looked up in PATH like a launch) instead of the
// system's sound output; it gets the words aplay gets: "-q" and the file, or
// "-q -" and the WAVE data on its standard input. Empty restores the system's.
PLATFORM_API void set_sound_player(const std::string& program);

// Splits `text` into words as a POSIX shell does, without expanding anything:
// blanks separate words; single quotes keep everything literally; double
// quotes keep everything but \\, \", \$ and \` escapes; a backslash outside
// quotes keeps the next character. False on an unterminated quote or a
// trailing backslash.
PLATFORM_API bool split_words(const std::string& text, std::vector<std::string>* words);

}  // namespace platform::posix
