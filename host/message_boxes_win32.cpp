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

// A message box is a dialog with its text in the static control 0xFFFF; its
// buttons tell the style.
LRESULT CALLBACK on_cbt(int code, WPARAM wparam, LPARAM lparam) {
  if (code == HCBT_ACTIVATE && answer) {
    HWND box = reinterpret_cast<HWND>(wparam);
    char class_name[16] = {};
    GetClassNameA(box, class_name, sizeof class_name);
    HWND text = GetDlgItem(box, 0xFFFF);
    if (std::string(class_name) == "#32770" && text != nullptr) {
      const uint32_t style = GetDlgItem(box, IDYES) != nullptr ? MB_YESNO : MB_OK;
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
  hook = SetWindowsHookExA(WH_CBT, on_cbt, nullptr, GetCurrentThreadId());
}

void remove_message_box_answerer() {
  if (hook != nullptr) UnhookWindowsHookEx(hook);
  hook = nullptr;
  answer = nullptr;
}
