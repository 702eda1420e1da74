#include <windows.h>

#include "message_boxes.h"

namespace {

HHOOK hook = nullptr;
message_box_answerer answer;

std::string window_text(HWND window) {
  char buffer[4096];
  const int n = GetWindowTextA(window, buffer, sizeof buffer);
  return std::string(buffer, n > 0 ? static_cast<size_t>(n) : 0);
}

// A message box is a dialog with its text in the static control 0xFFFF and
// buttons with the standard ids (the plug-in's own dialogs have labels with
// the id 0xFFFF too, but none of those buttons); its buttons tell the style.
// It is answered once it has its text, whether or not it ever becomes the
// active window.
LRESULT CALLBACK on_message_done(int code, WPARAM wparam, LPARAM lparam) {
  const auto* call = reinterpret_cast<const CWPRETSTRUCT*>(lparam);
  if (code == HC_ACTION && answer && call->message == WM_INITDIALOG) {
    HWND box = call->hwnd;
    char class_name[16] = {};
    GetClassNameA(box, class_name, sizeof class_name);
    HWND text = GetDlgItem(box, 0xFFFF);
    const bool yes_no = GetDlgItem(box, IDYES) != nullptr;
    if (std::string(class_name) == "#32770" && text != nullptr &&
        (yes_no || GetDlgItem(box, IDOK) != nullptr)) {
      const uint32_t style = yes_no ? MB_YESNO : MB_OK;
      const int32_t choice = answer(window_text(text), window_text(box), style);
      PostMessageA(box, WM_COMMAND, MAKEWPARAM(choice, BN_CLICKED),
                   reinterpret_cast<LPARAM>(GetDlgItem(box, choice)));
    }
  }
  return CallNextHookEx(hook, code, wparam, lparam);
}

}  // namespace

void install_message_box_answerer(message_box_answerer answerer) {
  remove_message_box_answerer();
  answer = std::move(answerer);
  hook = SetWindowsHookExA(WH_CALLWNDPROCRET, on_message_done, nullptr, GetCurrentThreadId());
}

void remove_message_box_answerer() {
  if (hook != nullptr) UnhookWindowsHookEx(hook);
  hook = nullptr;
  answer = nullptr;
}
