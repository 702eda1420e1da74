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
  MSG_NOTIFY = 0x004E,
  MSG_INITDIALOG = 0x0110,
  MSG_COMMAND = 0x0111,
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

}  // namespace platform
