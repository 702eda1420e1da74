#include "dialog_user.h"
#include "platform/posix/window_system.h"

namespace posix = platform::posix;

platform::window_handle make_preferences_window() { return nullptr; }

void serve_windows(const std::vector<platform::window_handle>&) {
  // Peeking runs the sent messages; posted ones are not the host's.
  platform::thread_message ignored;
  while (platform::peek_thread_message(&ignored)) {
  }
}

bool read_dialog(platform::window_handle dialog, platform::window_state* out) {
  return posix::get_window(dialog, out);
}

bool type_text(platform::window_handle dialog, int id, const std::string& text) {
  return posix::user_type(dialog, id, text);
}

bool click(platform::window_handle dialog, int id) { return posix::user_click(dialog, id); }

bool choose(platform::window_handle dialog, int id, const std::string& item) {
  return posix::user_choose(dialog, id, item);
}

bool select_rows(platform::window_handle dialog, int id, const std::vector<int>& rows) {
  return posix::user_select_rows(dialog, id, rows);
}

bool double_click(platform::window_handle dialog, int id, int row) {
  return posix::user_double_click(dialog, id, row);
}

bool close_dialog(platform::window_handle dialog) { return posix::user_close(dialog); }

void install_open_file_answerer(open_file_answerer answerer) {
  posix::set_open_file_handler(
      [answerer](platform::window_handle, const std::string& title, const std::string& description,
                 const std::string&,
                 std::string* path) { return answerer(title, description, path); });
}

void remove_open_file_answerer() { posix::set_open_file_handler(nullptr); }
