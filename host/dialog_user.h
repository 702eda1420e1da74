// Playing the user on the plug-in's dialogs: reading what they show, typing,
// clicking, choosing and answering the open-file dialog. On POSIX through
// the window system of the platform library; on Windows with the messages
// the real controls get from a user's input.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/dialog_state.h"

// The window the host's preferences window lends the plug-in's page as its
// parent: a real top-level window on Windows, none (0) on POSIX.
platform::window_handle make_preferences_window();

// Handles what is waiting for the calling thread's windows: messages other
// threads sent to them and, on Windows, the input and painting of the
// dialogs the plug-in registered (`dialogs`), as a host's message loop does.
void serve_windows(const std::vector<platform::window_handle>& dialogs);

// The whole state of `dialog`; false when it does not exist.
bool read_dialog(platform::window_handle dialog, platform::window_state* out);

// Each returns false, with nothing done, when the dialog or the control
// does not exist, the control is disabled or the action does not apply.
bool type_text(platform::window_handle dialog, int id, const std::string& text);
bool click(platform::window_handle dialog, int id);
bool choose(platform::window_handle dialog, int id, const std::string& item);
bool select_rows(platform::window_handle dialog, int id, const std::vector<int>& rows);
// Double-clicks row `row` of a list view; -1 clicks below the last row.
bool double_click(platform::window_handle dialog, int id, int row);
// The dialog's close box.
bool close_dialog(platform::window_handle dialog);

// Answers the open-file dialogs shown on the calling thread: true with the
// file's full path in `path`, or false for Cancel. It is told the dialog's
// title and the description of the filter it shows.
using open_file_answerer =
    std::function<bool(const std::string& title, const std::string& filter, std::string* path)>;
void install_open_file_answerer(open_file_answerer answerer);
void remove_open_file_answerer();
