// What whoever plays the user sees of a dialog: each control's kind, text,
// check and enabled state, and the items, columns, rows and selection of
// combo boxes and list views. The POSIX window system keeps it; on Windows
// it is read from the real windows.
#pragma once

#include <string>
#include <vector>

#include "platform/platform.h"

namespace platform {

struct list_column {
  std::string text;
  int width = 0;
  column_align align = column_align::left;
};

struct control_state {
  int id = 0;
  std::string window_class;
  // "button", "default-button", "checkbox", "radio", "groupbox", "edit",
  // "password", "combo", "list" or "static".
  std::string kind;
  std::string text;  // of a combo box: the selected item's
  bool checked = false;
  bool enabled = true;
  bool visible = true;
  // Combo boxes.
  std::vector<std::string> items;
  int selected_item = -1;
  // List views: the columns, the rows (one text per column), the selected
  // rows in ascending order and the selection mark.
  std::vector<list_column> columns;
  std::vector<std::vector<std::string>> rows;
  std::vector<int> selected_rows;
  int selection_mark = -1;
};

struct window_state {
  window_handle handle = nullptr;
  int template_id = 0;
  window_handle parent = nullptr;
  std::string caption;
  bool visible = false;
  int x = 0, y = 0, width = 0, height = 0;
  std::vector<control_state> controls;
};

}  // namespace platform
