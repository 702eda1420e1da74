#include <windows.h>
// windows.h first.
#include <commctrl.h>
#include <commdlg.h>

#include <cstddef>
#include <mutex>
#include <vector>

#include "platform/platform.h"

namespace platform {

static_assert(sizeof(notify_header) == sizeof(NMHDR) &&
                  offsetof(notify_header, id) == offsetof(NMHDR, idFrom) &&
                  offsetof(notify_header, code) == offsetof(NMHDR, code),
              "notify_header is read from the system's NMHDR");
static_assert(NOTIFY_DOUBLE_CLICK == static_cast<uint32_t>(NM_DBLCLK) &&
                  NOTIFY_SELECTION_CHANGED == CBN_SELCHANGE && NOTIFY_CLICKED == BN_CLICKED,
              "notification codes are the system's");

namespace {

HWND item(window_handle dialog, int id) { return GetDlgItem(static_cast<HWND>(dialog), id); }

LRESULT send_item(window_handle dialog, int id, UINT message, WPARAM wparam, LPARAM lparam) {
  return SendDlgItemMessageA(static_cast<HWND>(dialog), id, message, wparam, lparam);
}

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

bool send_message_timeout(window_handle window, uint32_t message, uintptr_t wparam, intptr_t lparam,
                          uint32_t timeout_ms, intptr_t* result) {
  DWORD_PTR answer = 0;
  const LRESULT sent = SendMessageTimeoutA(static_cast<HWND>(window), message, wparam, lparam,
                                           SMTO_ABORTIFHUNG, timeout_ms, &answer);
  *result = static_cast<intptr_t>(answer);
  return sent != 0;
}

void move_window(window_handle window, int x, int y) {
  SetWindowPos(static_cast<HWND>(window), nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}

void show_window(window_handle window, bool show) {
  ShowWindow(static_cast<HWND>(window), show ? SW_SHOW : SW_HIDE);
}

void bring_to_front(window_handle window) {
  ShowWindow(static_cast<HWND>(window), SW_SHOW);
  SetForegroundWindow(static_cast<HWND>(window));
}

void set_control_text(window_handle dialog, int id, const std::string& text) {
  SetDlgItemTextA(static_cast<HWND>(dialog), id, text.c_str());
}

std::string control_text(window_handle dialog, int id, size_t max_length) {
  std::vector<char> buffer(max_length + 1);
  const UINT length = GetDlgItemTextA(static_cast<HWND>(dialog), id, buffer.data(),
                                      static_cast<int>(buffer.size()));
  return std::string(buffer.data(), length);
}

void set_checked(window_handle dialog, int id, bool checked) {
  CheckDlgButton(static_cast<HWND>(dialog), id, checked ? BST_CHECKED : BST_UNCHECKED);
}

bool is_checked(window_handle dialog, int id) {
  return IsDlgButtonChecked(static_cast<HWND>(dialog), id) == BST_CHECKED;
}

void enable_control(window_handle dialog, int id, bool enabled) {
  if (HWND control = item(dialog, id)) EnableWindow(control, enabled);
}

void add_combo_item(window_handle dialog, int id, const std::string& text) {
  send_item(dialog, id, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

void select_combo_item(window_handle dialog, int id, int index) {
  send_item(dialog, id, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

void add_list_column(window_handle dialog, int id, int index, const std::string& text, int width,
                     column_align align) {
  std::string label = text;
  LVCOLUMNA column{};
  column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM | LVCF_ORDER;
  column.fmt = align == column_align::center ? LVCFMT_CENTER : LVCFMT_LEFT;
  column.cx = width;
  column.pszText = label.data();
  column.iSubItem = index;
  column.iOrder = index;
  send_item(dialog, id, LVM_INSERTCOLUMNA, static_cast<WPARAM>(index),
            reinterpret_cast<LPARAM>(&column));
}

void clear_list(window_handle dialog, int id) { send_item(dialog, id, LVM_DELETEALLITEMS, 0, 0); }

void add_list_row(window_handle dialog, int id, int index, const std::vector<std::string>& cells) {
  if (cells.empty()) return;
  std::vector<std::string> texts = cells;
  LVITEMA row{};
  row.mask = LVIF_TEXT;
  row.iItem = index;
  row.pszText = texts[0].data();
  const LRESULT at = send_item(dialog, id, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&row));
  if (at < 0) return;
  for (size_t i = 1; i < texts.size(); ++i) {
    LVITEMA cell{};
    cell.iSubItem = static_cast<int>(i);
    cell.pszText = texts[i].data();
    send_item(dialog, id, LVM_SETITEMTEXTA, static_cast<WPARAM>(at),
              reinterpret_cast<LPARAM>(&cell));
  }
}

int list_selection_mark(window_handle dialog, int id) {
  if (item(dialog, id) == nullptr) return -1;
  return static_cast<int>(send_item(dialog, id, LVM_GETSELECTIONMARK, 0, 0));
}

bool choose_open_file(window_handle owner, const std::string& title, const std::string& description,
                      const std::string& pattern, std::string* path) {
  // The filter is pairs of NUL-terminated texts, ended by an empty one.
  const std::string filter = description + '\0' + pattern + '\0' + '\0';
  char file[MAX_PATH] = "";
  OPENFILENAMEA dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = static_cast<HWND>(owner);
  dialog.lpstrFilter = filter.c_str();
  dialog.lpstrFile = file;
  dialog.nMaxFile = sizeof file;
  dialog.lpstrTitle = title.c_str();
  dialog.Flags = OFN_HIDEREADONLY;
  if (!GetOpenFileNameA(&dialog)) return false;
  *path = file;
  return true;
}

std::string program_path() {
  char path[MAX_PATH] = "";
  const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
  return std::string(path, length < sizeof path ? length : 0);
}

}  // namespace platform
