#include "platform/posix/window_system.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/posix/rc_script.h"
#include "platform/posix/thread_queue.h"
#include "platform/resources.h"

namespace platform {
namespace posix {
namespace {

struct window {
  window_state state;
  std::vector<bool> starts_group;  // per control: WS_GROUP in the template
  dialog_proc proc = nullptr;
  uint32_t owner = 0;  // the thread that created it
};

struct registry {
  std::mutex lock;
  message_box_handler answer;                         // guarded by lock
  open_file_handler open_file;                        // guarded by lock
  std::map<uintptr_t, std::unique_ptr<window>> open;  // guarded by lock
  uintptr_t next_handle = 0x1000;                     // guarded by lock
};

registry& reg() {
  static registry* r = new registry;
  return *r;
}

int32_t first_button(window_handle, const std::string&, const std::string&, uint32_t style) {
  return (style & 0x0F) == MB_YES_NO ? ANSWER_YES : ANSWER_OK;
}

// The procedure of `handle`, or null when the window is gone.
dialog_proc procedure_of(window_handle handle, uint32_t* owner) {
  std::lock_guard<std::mutex> hold(reg().lock);
  auto it = reg().open.find(reinterpret_cast<uintptr_t>(handle));
  if (it == reg().open.end()) return nullptr;
  if (owner != nullptr) *owner = it->second->owner;
  return it->second->proc;
}

std::string kind_of(const control_template& c) {
  if (c.window_class == "Edit") return c.has_style("ES_PASSWORD") ? "password" : "edit";
  if (c.window_class == "ComboBox") return "combo";
  if (c.window_class == "SysListView32") return "list";
  if (c.window_class != "Button") return "static";
  if (c.has_style("BS_AUTOCHECKBOX")) return "checkbox";
  if (c.has_style("BS_AUTORADIOBUTTON")) return "radio";
  if (c.has_style("BS_GROUPBOX")) return "groupbox";
  return c.has_style("BS_DEFPUSHBUTTON") ? "default-button" : "button";
}

window* find_window(window_handle handle) {
  auto it = reg().open.find(reinterpret_cast<uintptr_t>(handle));
  return it == reg().open.end() ? nullptr : it->second.get();
}

size_t find_control(const window& w, int id) {
  for (size_t i = 0; i < w.state.controls.size(); ++i) {
    if (w.state.controls[i].id == id) return i;
  }
  return w.state.controls.size();
}

// Runs fn(window&, control index) under the registry's lock when the
// control exists; returns whether it did.
template <class Fn>
bool with_control(window_handle dialog, int id, Fn&& fn) {
  std::lock_guard<std::mutex> hold(reg().lock);
  window* w = find_window(dialog);
  if (w == nullptr) return false;
  const size_t i = find_control(*w, id);
  if (i == w->state.controls.size()) return false;
  fn(*w, i);
  return true;
}

// Like with_control, for the user's input: only on an enabled control of
// one of `kinds`; fn returns whether the input applies.
template <class Fn>
bool user_input(window_handle dialog, int id, std::initializer_list<const char*> kinds, Fn&& fn) {
  bool applied = false;
  with_control(dialog, id, [&](window& w, size_t i) {
    control_state& c = w.state.controls[i];
    if (!c.enabled ||
        std::none_of(kinds.begin(), kinds.end(), [&c](const char* k) { return c.kind == k; })) {
      return;
    }
    applied = fn(w, i);
  });
  return applied;
}

}  // namespace

void set_message_box_handler(message_box_handler handler) {
  std::lock_guard<std::mutex> hold(reg().lock);
  reg().answer = std::move(handler);
}

std::vector<window_state> list_windows() {
  std::lock_guard<std::mutex> hold(reg().lock);
  std::vector<window_state> out;
  for (const auto& [handle, w] : reg().open) out.push_back(w->state);
  return out;
}

bool get_window(window_handle handle, window_state* out) {
  std::lock_guard<std::mutex> hold(reg().lock);
  auto it = reg().open.find(reinterpret_cast<uintptr_t>(handle));
  if (it == reg().open.end()) return false;
  *out = it->second->state;
  return true;
}

}  // namespace posix

window_handle create_dialog(module_handle module, int template_id, window_handle parent,
                            dialog_proc proc) {
  const auto* bundle = static_cast<const resource_bundle*>(module);
  posix::dialog_template t;
  if (bundle == nullptr || !posix::find_dialog_template(bundle->script, template_id, &t)) {
    return nullptr;
  }
  auto w = std::make_unique<posix::window>();
  w->proc = proc;
  // Messages sent from other threads wait in the creator's queue.
  posix::ensure_own_queue();
  w->owner = current_thread_id();
  w->state.template_id = template_id;
  w->state.parent = parent;
  w->state.caption = t.caption;
  w->state.width = t.width;
  w->state.height = t.height;
  for (const auto& c : t.controls) {
    control_state s;
    s.id = c.id;
    s.window_class = c.window_class;
    s.text = c.text;
    s.kind = posix::kind_of(c);
    s.enabled = !c.has_style("WS_DISABLED");
    w->state.controls.push_back(s);
    w->starts_group.push_back(c.has_style("WS_GROUP"));
  }
  window_handle handle;
  {
    std::lock_guard<std::mutex> hold(posix::reg().lock);
    handle = reinterpret_cast<window_handle>(posix::reg().next_handle++);
    w->state.handle = handle;
    posix::reg().open[reinterpret_cast<uintptr_t>(handle)] = std::move(w);
  }
  if (proc != nullptr) proc(handle, MSG_INITDIALOG, 0, 0);
  return handle;
}

namespace posix {

bool user_type(window_handle dialog, int id, const std::string& text) {
  return user_input(dialog, id, {"edit", "password"}, [&](window& w, size_t i) {
    w.state.controls[i].text = text;
    return true;
  });
}

bool user_click(window_handle dialog, int id) {
  const bool clicked = user_input(dialog, id, {"button", "default-button", "checkbox", "radio"},
                                  [](window& w, size_t i) {
                                    std::vector<control_state>& controls = w.state.controls;
                                    if (controls[i].kind == "checkbox")
                                      controls[i].checked = !controls[i].checked;
                                    if (controls[i].kind != "radio") return true;
                                    size_t first = i;
                                    while (first > 0 && !w.starts_group[first]) --first;
                                    size_t end = i + 1;
                                    while (end < controls.size() && !w.starts_group[end]) ++end;
                                    for (size_t k = first; k < end; ++k) {
                                      if (controls[k].kind == "radio") controls[k].checked = k == i;
                                    }
                                    return true;
                                  });
  if (clicked) send_message(dialog, MSG_COMMAND, static_cast<uintptr_t>(id), 0);
  return clicked;
}

bool user_choose(window_handle dialog, int id, const std::string& item) {
  const bool chosen = user_input(dialog, id, {"combo"}, [&](window& w, size_t i) {
    control_state& c = w.state.controls[i];
    auto it = std::find(c.items.begin(), c.items.end(), item);
    if (it == c.items.end()) return false;
    c.selected_item = static_cast<int>(it - c.items.begin());
    c.text = item;
    return true;
  });
  if (chosen) {
    send_message(dialog, MSG_COMMAND,
                 static_cast<uintptr_t>(id) | uintptr_t{NOTIFY_SELECTION_CHANGED} << 16, 0);
  }
  return chosen;
}

bool user_select_rows(window_handle dialog, int id, const std::vector<int>& rows) {
  return user_input(dialog, id, {"list"}, [&](window& w, size_t i) {
    control_state& c = w.state.controls[i];
    const int count = static_cast<int>(c.rows.size());
    if (std::any_of(rows.begin(), rows.end(), [count](int r) { return r < 0 || r >= count; })) {
      return false;
    }
    c.selected_rows = rows;
    std::sort(c.selected_rows.begin(), c.selected_rows.end());
    c.selected_rows.erase(std::unique(c.selected_rows.begin(), c.selected_rows.end()),
                          c.selected_rows.end());
    if (!rows.empty()) c.selection_mark = rows.back();
    return true;
  });
}

bool user_double_click(window_handle dialog, int id, int row) {
  const bool clicked = user_input(dialog, id, {"list"}, [&](window& w, size_t i) {
    control_state& c = w.state.controls[i];
    if (row < -1 || row >= static_cast<int>(c.rows.size())) return false;
    if (row >= 0) {
      c.selected_rows = {row};
      c.selection_mark = row;
    } else {
      c.selected_rows.clear();
    }
    return true;
  });
  if (clicked) {
    notify_header header{nullptr, static_cast<uintptr_t>(id), NOTIFY_DOUBLE_CLICK};
    send_message(dialog, MSG_NOTIFY, static_cast<uintptr_t>(id),
                 reinterpret_cast<intptr_t>(&header));
  }
  return clicked;
}

bool user_close(window_handle dialog) {
  if (procedure_of(dialog, nullptr) == nullptr) return false;
  send_message(dialog, MSG_CLOSE, 0, 0);
  return true;
}

void set_open_file_handler(open_file_handler handler) {
  std::lock_guard<std::mutex> hold(reg().lock);
  reg().open_file = std::move(handler);
}

}  // namespace posix

void destroy_window(window_handle handle) {
  dialog_proc proc = nullptr;
  {
    std::lock_guard<std::mutex> hold(posix::reg().lock);
    auto it = posix::reg().open.find(reinterpret_cast<uintptr_t>(handle));
    if (it == posix::reg().open.end()) return;
    proc = it->second->proc;
  }
  if (proc != nullptr) proc(handle, MSG_DESTROY, 0, 0);
  std::lock_guard<std::mutex> hold(posix::reg().lock);
  posix::reg().open.erase(reinterpret_cast<uintptr_t>(handle));
}

intptr_t send_message(window_handle window, uint32_t message, uintptr_t wparam, intptr_t lparam) {
  uint32_t owner = 0;
  if (posix::procedure_of(window, &owner) == nullptr) return 0;
  intptr_t result = 0;
  // Looked up again on the owner's thread: the window may be destroyed
  // while the message waits.
  posix::call_on_thread(
      owner,
      [=]() -> intptr_t {
        dialog_proc proc = posix::procedure_of(window, nullptr);
        return proc != nullptr ? proc(window, message, wparam, lparam) : 0;
      },
      &result);
  return result;
}

int32_t message_box(window_handle owner, const std::string& text, const std::string& caption,
                    uint32_t style) {
  posix::message_box_handler answer;
  {
    std::lock_guard<std::mutex> hold(posix::reg().lock);
    answer = posix::reg().answer;
  }
  return answer ? answer(owner, text, caption, style)
                : posix::first_button(owner, text, caption, style);
}

bool send_message_timeout(window_handle window, uint32_t message, uintptr_t wparam, intptr_t lparam,
                          uint32_t timeout_ms, intptr_t* result) {
  uint32_t owner = 0;
  if (posix::procedure_of(window, &owner) == nullptr) return false;
  return posix::call_on_thread(
      owner,
      [=]() -> intptr_t {
        dialog_proc proc = posix::procedure_of(window, nullptr);
        return proc != nullptr ? proc(window, message, wparam, lparam) : 0;
      },
      result, timeout_ms);
}

void move_window(window_handle handle, int x, int y) {
  std::lock_guard<std::mutex> hold(posix::reg().lock);
  if (posix::window* w = posix::find_window(handle)) {
    w->state.x = x;
    w->state.y = y;
  }
}

void show_window(window_handle handle, bool show) {
  std::lock_guard<std::mutex> hold(posix::reg().lock);
  if (posix::window* w = posix::find_window(handle)) w->state.visible = show;
}

void bring_to_front(window_handle handle) {
  std::lock_guard<std::mutex> hold(posix::reg().lock);
  // Without a screen there is no front; the window is at least visible.
  if (posix::window* w = posix::find_window(handle)) w->state.visible = true;
}

void set_control_text(window_handle dialog, int id, const std::string& text) {
  posix::with_control(dialog, id,
                      [&](posix::window& w, size_t i) { w.state.controls[i].text = text; });
}

std::string control_text(window_handle dialog, int id, size_t max_length) {
  std::string text;
  posix::with_control(dialog, id, [&](posix::window& w, size_t i) {
    text = w.state.controls[i].text.substr(0, max_length);
  });
  return text;
}

void set_checked(window_handle dialog, int id, bool checked) {
  posix::with_control(dialog, id,
                      [&](posix::window& w, size_t i) { w.state.controls[i].checked = checked; });
}

bool is_checked(window_handle dialog, int id) {
  bool checked = false;
  posix::with_control(dialog, id,
                      [&](posix::window& w, size_t i) { checked = w.state.controls[i].checked; });
  return checked;
}

void enable_control(window_handle dialog, int id, bool enabled) {
  posix::with_control(dialog, id,
                      [&](posix::window& w, size_t i) { w.state.controls[i].enabled = enabled; });
}

void add_combo_item(window_handle dialog, int id, const std::string& text) {
  posix::with_control(
      dialog, id, [&](posix::window& w, size_t i) { w.state.controls[i].items.push_back(text); });
}

void select_combo_item(window_handle dialog, int id, int index) {
  posix::with_control(dialog, id, [&](posix::window& w, size_t i) {
    control_state& c = w.state.controls[i];
    const bool valid = index >= 0 && static_cast<size_t>(index) < c.items.size();
    c.selected_item = valid ? index : -1;
    c.text = valid ? c.items[static_cast<size_t>(index)] : std::string();
  });
}

void add_list_column(window_handle dialog, int id, int index, const std::string& text, int width,
                     column_align align) {
  posix::with_control(dialog, id, [&](posix::window& w, size_t i) {
    auto& columns = w.state.controls[i].columns;
    const size_t at = std::min(static_cast<size_t>(std::max(index, 0)), columns.size());
    columns.insert(columns.begin() + static_cast<ptrdiff_t>(at), list_column{text, width, align});
  });
}

void clear_list(window_handle dialog, int id) {
  posix::with_control(dialog, id, [](posix::window& w, size_t i) {
    control_state& c = w.state.controls[i];
    c.rows.clear();
    c.selected_rows.clear();
    c.selection_mark = -1;
  });
}

void add_list_row(window_handle dialog, int id, int index, const std::vector<std::string>& cells) {
  posix::with_control(dialog, id, [&](posix::window& w, size_t i) {
    control_state& c = w.state.controls[i];
    const size_t at = std::min(static_cast<size_t>(std::max(index, 0)), c.rows.size());
    std::vector<std::string> row = cells;
    row.resize(std::max(c.columns.size(), size_t{1}));
    c.rows.insert(c.rows.begin() + static_cast<ptrdiff_t>(at), std::move(row));
  });
}

int list_selection_mark(window_handle dialog, int id) {
  int mark = -1;
  posix::with_control(
      dialog, id, [&](posix::window& w, size_t i) { mark = w.state.controls[i].selection_mark; });
  return mark;
}

bool choose_open_file(window_handle owner, const std::string& title, const std::string& description,
                      const std::string& pattern, std::string* path) {
  posix::open_file_handler answer;
  {
    std::lock_guard<std::mutex> hold(posix::reg().lock);
    answer = posix::reg().open_file;
  }
  return answer && answer(owner, title, description, pattern, path);
}

}  // namespace platform
