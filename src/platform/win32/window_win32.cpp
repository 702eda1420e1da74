#include <windows.h>
// windows.h first.
#include <commctrl.h>

#include <mutex>

#include "platform/platform.h"

namespace platform {
namespace {

// The dialog procedure is handed over as the creation parameter and kept in
// the dialog's own user slot, so one thunk serves every dialog.
INT_PTR CALLBACK dialog_thunk(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_INITDIALOG) {
    SetWindowLongPtrA(window, DWLP_USER, lparam);
    lparam = 0;
  }
  auto proc = reinterpret_cast<dialog_proc>(GetWindowLongPtrA(window, DWLP_USER));
  if (proc == nullptr) return FALSE;
  return proc(window, message, wparam, lparam);
}

}  // namespace

window_handle create_dialog(module_handle module, int template_id, window_handle parent,
                            dialog_proc proc) {
  // The page's list view is a common control, registered only on request.
  static std::once_flag common_controls;
  std::call_once(common_controls, [] {
    INITCOMMONCONTROLSEX init{sizeof(INITCOMMONCONTROLSEX), ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&init);
  });
  return CreateDialogParamA(static_cast<HINSTANCE>(const_cast<void*>(module)),
                            MAKEINTRESOURCEA(template_id), static_cast<HWND>(parent), dialog_thunk,
                            reinterpret_cast<LPARAM>(proc));
}

void destroy_window(window_handle window) { DestroyWindow(static_cast<HWND>(window)); }

int32_t message_box(window_handle owner, const std::string& text, const std::string& caption,
                    uint32_t style) {
  return MessageBoxA(static_cast<HWND>(owner), text.c_str(), caption.c_str(), style);
}

}  // namespace platform
