// The thin platform layer: everything the plug-in needs from the operating
// system and its window system, with one back end for Win32 and one for POSIX.
// The plug-in's units include only this header; <windows.h> stays inside the
// Win32 back end. The layer translates, it does not decide.
//
// One seam per facility. The clock, sleeps, the thread timer, sounds,
// program launches and files are called through platform::env()
// (platform/env.h) and faked there, with an EnvWrapper installed by
// set_env; the timer, sound and launch functions below are what the default
// Env calls, and nothing else calls them. The window system (dialogs,
// controls, message boxes, the open-file dialog, thread messages) is called
// here directly and, on POSIX, played by whoever plays the user through
// posix/window_system.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/export.h"

namespace platform {

// Opaque handles of the window system. On Windows they are HWND and HBITMAP.
using window_handle = void*;
using bitmap_handle = void*;

// Message numbers shared by both back ends; they are the Win32 values so that
// dialog procedures read the same on both.
enum : uint32_t {
  MSG_DESTROY = 0x0002,
  MSG_CLOSE = 0x0010,
  MSG_QUIT = 0x0012,
  MSG_NOTIFY = 0x004E,
  MSG_INITDIALOG = 0x0110,
  MSG_COMMAND = 0x0111,
  MSG_TIMER = 0x0113,
  MSG_USER = 0x0400,
};

// Message box styles and answers (the Win32 values).
enum : uint32_t {
  MB_OK_BUTTON = 0x00,
  MB_YES_NO = 0x04,
  MB_ICON_QUESTION = 0x20,
  MB_ICON_EXCLAMATION = 0x30,
  MB_DEFAULT_BUTTON_2 = 0x100,
  MB_TASK_MODAL = 0x2000,
};
enum : int32_t {
  ANSWER_OK = 1,
  ANSWER_CANCEL = 2,
  ANSWER_YES = 6,
  ANSWER_NO = 7,
};

// A dialog procedure, written once against this layer. Returns 0 for every
// message the plug-in handles, as the plug-in's procedures do.
using dialog_proc = intptr_t (*)(window_handle window, uint32_t message, uintptr_t wparam,
                                 intptr_t lparam);

// The module whose resources are meant: its HINSTANCE on Windows, its
// embedded resource_bundle (platform/resources.h) on POSIX.
using module_handle = const void*;

// Creates a modeless dialog from `module`'s dialog template `template_id`
// with `parent` as parent (0 for none); `proc` receives MSG_INITDIALOG with
// lparam 0 before this returns. Returns 0 when the template is unknown or the
// window cannot be created.
PLATFORM_API window_handle create_dialog(module_handle module, int template_id,
                                         window_handle parent, dialog_proc proc);
PLATFORM_API void destroy_window(window_handle window);

// Sends `message` like send_message, but gives up after `timeout_ms` or at
// once when the window's thread is hung (SendMessageTimeout with
// SMTO_ABORTIFHUNG); a message given up before it was handled is never
// handled. False when the window does not exist or the time ran out.
PLATFORM_API bool send_message_timeout(window_handle window, uint32_t message, uintptr_t wparam,
                                       intptr_t lparam, uint32_t timeout_ms, intptr_t* result);

// Moves `window` to (x, y) in its parent without changing its size or its
// place in the z-order (SetWindowPos with SWP_NOSIZE | SWP_NOZORDER).
PLATFORM_API void move_window(window_handle window, int x, int y);
PLATFORM_API void show_window(window_handle window, bool show);
// Brings a top-level window to the front and gives it the focus.
PLATFORM_API void bring_to_front(window_handle window);

// Notification codes of the controls (the Win32 values): in the high word
// of MSG_COMMAND's wparam for buttons and combo boxes, in the code of a
// MSG_NOTIFY header for list views.
enum : uint32_t {
  NOTIFY_CLICKED = 0,                // BN_CLICKED
  NOTIFY_SELECTION_CHANGED = 1,      // CBN_SELCHANGE
  NOTIFY_DOUBLE_CLICK = 0xFFFFFFFD,  // NM_DBLCLK
};
// MSG_NOTIFY's lparam points to this header (the layout of NMHDR).
struct notify_header {
  window_handle from;
  uintptr_t id;
  uint32_t code;
};
inline int command_id(uintptr_t wparam) { return static_cast<int>(wparam & 0xFFFF); }
inline uint32_t command_code(uintptr_t wparam) {
  return static_cast<uint32_t>(wparam >> 16 & 0xFFFF);
}

// The control facade: the controls of a dialog, named by the id their
// template gives them. A control that does not exist is ignored (its text
// reads empty, its check state clear, its selection mark -1).
PLATFORM_API void set_control_text(window_handle dialog, int id, const std::string& text);
// The control's text, at most `max_length` characters of it; for a
// drop-down list, the text of the selected item.
PLATFORM_API std::string control_text(window_handle dialog, int id, size_t max_length);
PLATFORM_API void set_checked(window_handle dialog, int id, bool checked);
PLATFORM_API bool is_checked(window_handle dialog, int id);
PLATFORM_API void enable_control(window_handle dialog, int id, bool enabled);
PLATFORM_API void add_combo_item(window_handle dialog, int id, const std::string& text);
PLATFORM_API void select_combo_item(window_handle dialog, int id, int index);
// List views in report view.
enum class column_align { left, center };
PLATFORM_API void add_list_column(window_handle dialog, int id, int index, const std::string& text,
                                  int width, column_align align);
PLATFORM_API void clear_list(window_handle dialog, int id);
// Inserts row `index` with its first column's text and sets the others.
PLATFORM_API void add_list_row(window_handle dialog, int id, int index,
                               const std::vector<std::string>& cells);
// The list view's selection mark (LVM_GETSELECTIONMARK): the row the user
// selected last, -1 when none (also right after the rows were cleared).
PLATFORM_API int list_selection_mark(window_handle dialog, int id);

// The system's open-file dialog owned by `owner`, with `title` and the one
// filter `description` / `pattern`. True, with the full path in `path`,
// when the user picked a file. On POSIX whoever plays the user answers it
// (posix/window_system.h).
PLATFORM_API bool choose_open_file(window_handle owner, const std::string& title,
                                   const std::string& description, const std::string& pattern,
                                   std::string* path);

// The full path of the running program's executable.
PLATFORM_API std::string program_path();

// Shows a message box owned by `owner` (0 for none) and returns the answer.
// On POSIX whoever plays the user answers it (see posix/window_system.h).
PLATFORM_API int32_t message_box(window_handle owner, const std::string& text,
                                 const std::string& caption, uint32_t style);

// Bitmap `id` of `module`'s resources (LoadBitmap on Windows); 0 when the
// module has no such bitmap. The caller frees it with delete_bitmap.
PLATFORM_API bitmap_handle load_bitmap(module_handle module, int id);
// Frees a bitmap from load_bitmap; 0 is ignored.
PLATFORM_API void delete_bitmap(bitmap_handle bitmap);

// Cursors of the window system; the system's standard wait cursor is shown
// while the user-interface thread is busy.
using cursor_handle = const void*;
PLATFORM_API cursor_handle load_wait_cursor();
// Makes `cursor` current and returns the cursor that was current before.
PLATFORM_API cursor_handle set_cursor(cursor_handle cursor);

// Opens the program `file` with the command-line `arguments` (may be empty)
// and returns at once; the program runs on its own and nothing reports
// whether it could be started. On Windows this is ShellExecute "open". On
// POSIX the arguments are split into words as a shell would split them,
// without running a shell (posix::split_words; nothing starts when they do
// not split), and the program is detached from this process.
PLATFORM_API void launch_program(const std::string& file, const std::string& arguments);

// Thread messages. Every thread has an id; it gets a message queue the first
// time it looks at it. A post to a thread without a queue, or to no thread,
// is refused (returns false), as on Windows; repeating a refused post is the
// caller's decision.
struct thread_message {
  uint32_t message = 0;
  uintptr_t wparam = 0;
  intptr_t lparam = 0;
};
PLATFORM_API uint32_t current_thread_id();
PLATFORM_API bool post_thread_message(uint32_t thread_id, uint32_t message, uintptr_t wparam,
                                      intptr_t lparam);
// Takes the oldest thread message from the calling thread's queue without
// waiting, creating the queue when there is none. False when it is empty.
PLATFORM_API bool peek_thread_message(thread_message* out);
// Waits for the next thread message of the calling thread and takes it
// (GetMessage). Messages that other threads send to the calling thread's
// windows are handled while it waits. Posted messages come first; a due
// timer's MSG_TIMER comes only when no posted message is waiting. Returns
// false when the message is MSG_QUIT (it is still stored in `out`).
PLATFORM_API bool get_thread_message(thread_message* out);
// A periodic timer of the calling thread: every `period_ms` a MSG_TIMER
// with the timer's id in wparam becomes due in the thread's queue; ticks
// that pile up while nobody looks come out as one. Returns the id (never 0;
// 0 on failure). Killed by the same thread.
PLATFORM_API uintptr_t set_thread_timer(uint32_t period_ms);
PLATFORM_API void kill_thread_timer(uintptr_t id);

// Sends `message` to `window`'s procedure and returns its result once it was
// handled (SendMessage). From a thread other than the one that created the
// window, the creating thread handles it the next time it waits for or
// looks at its messages, and the sender blocks until then. 0 when the
// window does not exist.
PLATFORM_API intptr_t send_message(window_handle window, uint32_t message, uintptr_t wparam,
                                   intptr_t lparam);

// Threads of the operating system (default stack, no creation flags).
using thread_handle = void*;
using thread_proc = uint32_t (*)(void* argument);
// Starts `proc(argument)` on a new thread and stores its id in `thread_id`;
// null when no thread could be made.
PLATFORM_API thread_handle start_thread(thread_proc proc, void* argument, uint32_t* thread_id);
// Waits at most `timeout_ms` for the thread to end, handling the messages
// other threads send to the calling thread's windows meanwhile, so that a
// thread that sends to us while we wait for it cannot deadlock. True when
// the thread has ended.
PLATFORM_API bool wait_for_thread(thread_handle thread, uint32_t timeout_ms);
// Ends a thread from outside (TerminateThread). A POSIX thread cannot be
// ended safely from outside: there this returns false and the thread runs
// on until it ends by itself.
PLATFORM_API bool terminate_thread(thread_handle thread, uint32_t exit_code);
// Releases the handle; a thread still running runs on, detached.
PLATFORM_API void close_thread(thread_handle thread);
// Keeps the module whose code contains `address` loaded until the process
// ends, so that a thread left running in it never runs into unmapped code.
PLATFORM_API void keep_module_loaded(const void* address);

// What became of a sound: the size of its WAVE data in bytes (0 when it
// could not be read, and on Windows, where the system reads it) and whether
// it went to a sound output.
struct sound_result {
  size_t bytes = 0;
  bool to_output = false;
};
// Plays a sound asynchronously: the WAVE file at `path`, or the WAVE
// resource `id` of `module` (PlaySound with SND_ASYNC). On POSIX the sound
// goes to the system's sound output when there is one (ALSA's aplay, or the
// player set with posix::set_sound_player).
PLATFORM_API sound_result play_sound_file(const std::string& path);
PLATFORM_API sound_result play_sound_resource(module_handle module, int id);

// Local seconds (see Env::local_seconds) as "ddd mmm dd HH:mm:ss yyyy": the
// abbreviated day and month names of the user's locale, two-digit day,
// 24-hour time, four-digit year.
PLATFORM_API std::string format_local_time(int64_t local_seconds);

}  // namespace platform
