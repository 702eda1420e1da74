// Bitmaps, cursors, program launches, threads and their messages, sounds
// and time formatting on Windows.
#include <windows.h>
// After windows.h, which they need.
#include <mmsystem.h>
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

bool get_thread_message(thread_message* out) {
  MSG msg;
  // GetMessage handles sent messages while it waits. -1 (an invalid
  // argument) cannot happen with no window; it reads as a quit.
  const BOOL got = GetMessageA(&msg, nullptr, 0, 0);
  out->message = got > 0 ? msg.message : MSG_QUIT;
  out->wparam = msg.wParam;
  out->lparam = msg.lParam;
  return got > 0;
}

uintptr_t set_thread_timer(uint32_t period_ms) { return SetTimer(nullptr, 0, period_ms, nullptr); }

void kill_thread_timer(uintptr_t id) { KillTimer(nullptr, id); }

intptr_t send_message(window_handle window, uint32_t message, uintptr_t wparam, intptr_t lparam) {
  return SendMessageA(static_cast<HWND>(window), message, wparam, lparam);
}

namespace {

struct thread_start {
  thread_proc proc;
  void* argument;
};

DWORD WINAPI thread_entry(LPVOID data) {
  const thread_start start = *static_cast<thread_start*>(data);
  delete static_cast<thread_start*>(data);
  return start.proc(start.argument);
}

}  // namespace

thread_handle start_thread(thread_proc proc, void* argument, uint32_t* thread_id) {
  auto* start = new thread_start{proc, argument};
  DWORD id = 0;
  HANDLE thread = CreateThread(nullptr, 0, thread_entry, start, 0, &id);
  if (thread == nullptr) {
    delete start;
    return nullptr;
  }
  *thread_id = id;
  return thread;
}

bool wait_for_thread(thread_handle thread, uint32_t timeout_ms) {
  const ULONGLONG deadline = GetTickCount64() + timeout_ms;
  for (;;) {
    const ULONGLONG now = GetTickCount64();
    const DWORD left = now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
    const DWORD woke = MsgWaitForMultipleObjects(1, reinterpret_cast<HANDLE*>(&thread), FALSE, left,
                                                 QS_SENDMESSAGE);
    if (woke == WAIT_OBJECT_0) return true;
    if (woke != WAIT_OBJECT_0 + 1) return false;
    // Peeking for nothing but sent messages runs them and takes nothing off
    // the queue.
    MSG msg;
    PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
  }
}

bool terminate_thread(thread_handle thread, uint32_t exit_code) {
  return TerminateThread(static_cast<HANDLE>(thread), exit_code) != 0;
}

void close_thread(thread_handle thread) { CloseHandle(static_cast<HANDLE>(thread)); }

void keep_module_loaded(const void* address) {
  HMODULE module = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                     static_cast<LPCSTR>(address), &module);
}

sound_result play_sound_file(const std::string& path) {
  sound_result played;
  played.to_output = PlaySoundA(path.c_str(), nullptr, SND_FILENAME | SND_ASYNC) != FALSE;
  return played;
}

sound_result play_sound_resource(module_handle module, int id) {
  sound_result played;
  played.to_output =
      PlaySoundA(MAKEINTRESOURCEA(id), static_cast<HMODULE>(const_cast<void*>(module)),
                 SND_RESOURCE | SND_ASYNC) != FALSE;
  return played;
}

std::string format_local_time(int64_t local_seconds) {
  // Local seconds are wall-clock time already: no time-zone conversion.
  ULARGE_INTEGER ticks;
  ticks.QuadPart = static_cast<ULONGLONG>(local_seconds + 11644473600LL) * 10000000ULL;
  FILETIME file_time{ticks.LowPart, ticks.HighPart};
  SYSTEMTIME fields{};
  if (!FileTimeToSystemTime(&file_time, &fields)) return std::string();
  char date[64] = "";
  char time[32] = "";
  GetDateFormatA(LOCALE_USER_DEFAULT, 0, &fields, "ddd MMM dd", date, sizeof date);
  GetTimeFormatA(LOCALE_USER_DEFAULT, 0, &fields, "HH:mm:ss", time, sizeof time);
  return std::string(date) + " " + time + " " + std::to_string(fields.wYear);
}

}  // namespace platform
