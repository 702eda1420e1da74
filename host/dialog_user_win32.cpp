#include <windows.h>
// windows.h first.
#include <commctrl.h>

#include "dialog_user.h"

namespace {

// The control ids of the system's open-file dialog: the file name box (a
// combo box in the Explorer style, an edit box in the old style) and the
// filter list.
constexpr int FILE_NAME_COMBO = 0x47C;
constexpr int FILE_NAME_EDIT = 0x480;
constexpr int FILTER_COMBO = 0x470;

HHOOK hook = nullptr;
open_file_answerer answer;

std::string window_text(HWND window) {
  char buffer[4096];
  const int n = GetWindowTextA(window, buffer, sizeof buffer);
  return std::string(buffer, n > 0 ? static_cast<size_t>(n) : 0);
}

std::string class_of(HWND window) {
  char name[64] = "";
  GetClassNameA(window, name, sizeof name);
  return name;
}

HWND enabled_control(platform::window_handle dialog, int id, const char* window_class) {
  HWND control = GetDlgItem(static_cast<HWND>(dialog), id);
  if (control == nullptr || !IsWindowEnabled(control) || class_of(control) != window_class) {
    return nullptr;
  }
  return control;
}

std::string kind_of(HWND control) {
  const std::string name = class_of(control);
  const LONG style = GetWindowLongA(control, GWL_STYLE);
  if (name == "Edit") return (style & ES_PASSWORD) != 0 ? "password" : "edit";
  if (name == "ComboBox") return "combo";
  if (name == "SysListView32") return "list";
  if (name != "Button") return "static";
  switch (style & BS_TYPEMASK) {
    case BS_AUTOCHECKBOX:
      return "checkbox";
    case BS_AUTORADIOBUTTON:
      return "radio";
    case BS_GROUPBOX:
      return "groupbox";
    case BS_DEFPUSHBUTTON:
      return "default-button";
    default:
      return "button";
  }
}

std::string list_text(HWND list, int row, int column) {
  char buffer[1024] = "";
  LVITEMA cell{};
  cell.iSubItem = column;
  cell.pszText = buffer;
  cell.cchTextMax = sizeof buffer;
  SendMessageA(list, LVM_GETITEMTEXTA, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&cell));
  return buffer;
}

void read_list(HWND list, platform::control_state* c) {
  for (int i = 0;; ++i) {
    char buffer[256] = "";
    LVCOLUMNA column{};
    column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT;
    column.pszText = buffer;
    column.cchTextMax = sizeof buffer;
    if (!SendMessageA(list, LVM_GETCOLUMNA, static_cast<WPARAM>(i),
                      reinterpret_cast<LPARAM>(&column))) {
      break;
    }
    c->columns.push_back({buffer, column.cx,
                          (column.fmt & LVCFMT_JUSTIFYMASK) == LVCFMT_CENTER
                              ? platform::column_align::center
                              : platform::column_align::left});
  }
  const int rows = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
  for (int r = 0; r < rows; ++r) {
    std::vector<std::string> row;
    for (size_t k = 0; k < std::max<size_t>(c->columns.size(), 1); ++k) {
      row.push_back(list_text(list, r, static_cast<int>(k)));
    }
    c->rows.push_back(row);
    if (SendMessageA(list, LVM_GETITEMSTATE, static_cast<WPARAM>(r), LVIS_SELECTED) != 0) {
      c->selected_rows.push_back(r);
    }
  }
  c->selection_mark = static_cast<int>(SendMessageA(list, LVM_GETSELECTIONMARK, 0, 0));
}

struct reading {
  HWND dialog;
  platform::window_state* out;
};

BOOL CALLBACK read_control(HWND control, LPARAM context) {
  auto* r = reinterpret_cast<reading*>(context);
  // Only the dialog's own controls, not the list view's header.
  if (GetParent(control) != r->dialog) return TRUE;
  platform::control_state c;
  c.id = GetDlgCtrlID(control);
  if (c.id == 0xFFFF) c.id = -1;
  c.window_class = class_of(control);
  c.kind = kind_of(control);
  c.text = window_text(control);
  c.enabled = IsWindowEnabled(control) != FALSE;
  c.visible = IsWindowVisible(control) != FALSE;
  if (c.kind == "checkbox" || c.kind == "radio") {
    c.checked = SendMessageA(control, BM_GETCHECK, 0, 0) == BST_CHECKED;
  } else if (c.kind == "combo") {
    const int count = static_cast<int>(SendMessageA(control, CB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
      char buffer[256] = "";
      SendMessageA(control, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(buffer));
      c.items.push_back(buffer);
    }
    c.selected_item = static_cast<int>(SendMessageA(control, CB_GETCURSEL, 0, 0));
  } else if (c.kind == "list") {
    read_list(control, &c);
  }
  r->out->controls.push_back(c);
  return TRUE;
}

// Answers the open-file dialog once it has set itself up: its file name box
// gets the path and OK is pressed, or Cancel is.
LRESULT CALLBACK on_message_done(int code, WPARAM wparam, LPARAM lparam) {
  const auto* call = reinterpret_cast<const CWPRETSTRUCT*>(lparam);
  if (code == HC_ACTION && answer && call->message == WM_INITDIALOG) {
    HWND box = call->hwnd;
    HWND name = GetDlgItem(box, FILE_NAME_COMBO);
    if (name == nullptr) name = GetDlgItem(box, FILE_NAME_EDIT);
    HWND filter = GetDlgItem(box, FILTER_COMBO);
    if (class_of(box) == "#32770" && name != nullptr && filter != nullptr) {
      std::string path;
      char shown[256] = "";
      const LRESULT at = SendMessageA(filter, CB_GETCURSEL, 0, 0);
      if (at != CB_ERR) {
        SendMessageA(filter, CB_GETLBTEXT, static_cast<WPARAM>(at),
                     reinterpret_cast<LPARAM>(shown));
      }
      const bool picked = answer(window_text(box), shown, &path);
      if (picked) SetWindowTextA(name, path.c_str());
      PostMessageA(box, WM_COMMAND, MAKEWPARAM(picked ? IDOK : IDCANCEL, BN_CLICKED), 0);
    }
  }
  return CallNextHookEx(hook, code, wparam, lparam);
}

}  // namespace

platform::window_handle make_preferences_window() {
  // The part of the preferences window that holds a plug-in's page: a plain
  // surface at the screen's top left corner, so that a page placed at (x, y)
  // in it is at (x, y) on the screen.
  return CreateWindowExA(0, "STATIC", "Preferences", WS_POPUP | WS_VISIBLE, 0, 0, 560, 520, nullptr,
                         nullptr, GetModuleHandleA(nullptr), nullptr);
}

void serve_windows(const std::vector<platform::window_handle>& dialogs) {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    bool handled = false;
    for (platform::window_handle dialog : dialogs) {
      if (IsDialogMessageA(static_cast<HWND>(dialog), &msg)) {
        handled = true;
        break;
      }
    }
    if (!handled) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
  }
}

bool read_dialog(platform::window_handle dialog, platform::window_state* out) {
  HWND window = static_cast<HWND>(dialog);
  if (!IsWindow(window)) return false;
  *out = platform::window_state{};
  out->handle = dialog;
  out->parent = GetParent(window);
  out->caption = window_text(window);
  out->visible = IsWindowVisible(window) != FALSE;
  RECT frame{};
  GetWindowRect(window, &frame);
  // A child's place is relative to its parent's client area.
  if ((GetWindowLongA(window, GWL_STYLE) & WS_CHILD) != 0 && out->parent != nullptr) {
    MapWindowPoints(nullptr, static_cast<HWND>(out->parent), reinterpret_cast<POINT*>(&frame), 2);
  }
  out->x = frame.left;
  out->y = frame.top;
  out->width = frame.right - frame.left;
  out->height = frame.bottom - frame.top;
  reading r{window, out};
  EnumChildWindows(window, read_control, reinterpret_cast<LPARAM>(&r));
  return true;
}

bool type_text(platform::window_handle dialog, int id, const std::string& text) {
  HWND edit = enabled_control(dialog, id, "Edit");
  return edit != nullptr && SetWindowTextA(edit, text.c_str());
}

bool click(platform::window_handle dialog, int id) {
  HWND button = enabled_control(dialog, id, "Button");
  if (button == nullptr) return false;
  // What a mouse click does: an auto check box toggles, an auto radio
  // button takes its group's check, and the dialog hears BN_CLICKED.
  SendMessageA(button, BM_CLICK, 0, 0);
  return true;
}

bool choose(platform::window_handle dialog, int id, const std::string& item) {
  HWND combo = enabled_control(dialog, id, "ComboBox");
  if (combo == nullptr) return false;
  const LRESULT index = SendMessageA(combo, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                     reinterpret_cast<LPARAM>(item.c_str()));
  if (index == CB_ERR) return false;
  SendMessageA(combo, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
  SendMessageA(static_cast<HWND>(dialog), WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE),
               reinterpret_cast<LPARAM>(combo));
  return true;
}

bool select_rows(platform::window_handle dialog, int id, const std::vector<int>& rows) {
  HWND list = enabled_control(dialog, id, WC_LISTVIEWA);
  if (list == nullptr) return false;
  const int count = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
  for (int r : rows) {
    if (r < 0 || r >= count) return false;
  }
  LVITEMA clear{};
  clear.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
  SendMessageA(list, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&clear));
  for (int r : rows) {
    LVITEMA on{};
    on.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    on.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageA(list, LVM_SETITEMSTATE, static_cast<WPARAM>(r), reinterpret_cast<LPARAM>(&on));
    // A click sets the mark; setting the state alone does not.
    SendMessageA(list, LVM_SETSELECTIONMARK, 0, r);
  }
  return true;
}

bool double_click(platform::window_handle dialog, int id, int row) {
  HWND list = enabled_control(dialog, id, WC_LISTVIEWA);
  if (list == nullptr) return false;
  const int count = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
  if (row < -1 || row >= count) return false;
  if (row >= 0) {
    if (!select_rows(dialog, id, {row})) return false;
  } else {
    LVITEMA clear{};
    clear.stateMask = LVIS_SELECTED;
    SendMessageA(list, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&clear));
  }
  NMITEMACTIVATE activate{};
  activate.hdr.hwndFrom = list;
  activate.hdr.idFrom = static_cast<UINT_PTR>(id);
  activate.hdr.code = NM_DBLCLK;
  activate.iItem = row;
  SendMessageA(static_cast<HWND>(dialog), WM_NOTIFY, static_cast<WPARAM>(id),
               reinterpret_cast<LPARAM>(&activate));
  return true;
}

bool close_dialog(platform::window_handle dialog) {
  if (!IsWindow(static_cast<HWND>(dialog))) return false;
  SendMessageA(static_cast<HWND>(dialog), WM_CLOSE, 0, 0);
  return true;
}

void install_open_file_answerer(open_file_answerer answerer) {
  remove_open_file_answerer();
  answer = std::move(answerer);
  hook = SetWindowsHookExA(WH_CALLWNDPROCRET, on_message_done, nullptr, GetCurrentThreadId());
}

void remove_open_file_answerer() {
  if (hook != nullptr) UnhookWindowsHookEx(hook);
  hook = nullptr;
  answer = nullptr;
}
