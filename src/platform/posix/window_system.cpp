#include "platform/posix/window_system.h"

#include <cstring>
#include <map>
#include <memory>
#include <mutex>

#include "platform/posix/rc_script.h"
#include "platform/posix/thread_queue.h"
#include "platform/resources.h"

namespace platform {
namespace posix {
namespace {

struct window {
  window_state state;
  dialog_proc proc = nullptr;
  uint32_t owner = 0;  // the thread that created it
};

struct registry {
  std::mutex lock;
  message_box_handler answer;                         // guarded by lock
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
    posix::control_state s;
    s.id = c.id;
    s.window_class = c.window_class;
    s.text = c.text;
    s.enabled = !c.has_style("WS_DISABLED");
    w->state.controls.push_back(s);
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

}  // namespace platform
