// The thin platform layer: everything the plug-in needs from the operating
// system and its window system, with one back end for Win32 and one for POSIX.
// The plug-in's units include only this header; <windows.h> stays inside the
// Win32 back end. The layer translates, it does not decide.
#pragma once

#include <cstdint>
#include <string>

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
  MB_YES_NO = 0x04,
  MB_ICON_QUESTION = 0x20,
  MB_ICON_EXCLAMATION = 0x30,
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
// without running a shell, and the program is detached from this process;
// whoever plays the user may record launches instead (posix/window_system.h).
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

// Plays a sound asynchronously: the WAVE file at `path`, or the WAVE
// resource `id` of `module` (PlaySound with SND_ASYNC). On POSIX the sound
// goes to the system's sound output when there is one (ALSA's aplay), and
// whoever plays the user is told of every sound (posix/window_system.h).
PLATFORM_API void play_sound_file(const std::string& path);
PLATFORM_API void play_sound_resource(module_handle module, int id);

// Local seconds (see Env::local_seconds) as "ddd mmm dd HH:mm:ss yyyy": the
// abbreviated day and month names of the user's locale, two-digit day,
// 24-hour time, four-digit year.
PLATFORM_API std::string format_local_time(int64_t local_seconds);

}  // namespace platform
