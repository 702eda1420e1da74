#include "host.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <thread>
#include <utility>

#include "bitmaps.h"
#include "dialog_user.h"
#include "launches.h"
#include "message_boxes.h"
#include "platform/platform.h"
#include "sounds.h"

namespace {

substitute_host* current = nullptr;

int32_t EMAIL_CALL host_call_entry(const char* plugin_id, const char* function, void* record) {
  return current != nullptr ? current->host_function(plugin_id, function, record) : 0;
}

#if defined(_WIN32)
const char kSeparator = '\\';
#else
const char kSeparator = '/';
#endif

// Texts are shown quoted with C escapes so that CR, LF and quotes are visible.
std::string quoted(const char* text) {
  if (text == nullptr) return "null";
  std::string out = "\"";
  for (const char* p = text; *p != '\0'; ++p) {
    const unsigned char c = static_cast<unsigned char>(*p);
    if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

std::string quoted(const std::string& text) { return quoted(text.c_str()); }

std::string address(const void* p) {
  if (p == nullptr) return "0";
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%p", p);
  return buffer;
}

// How message boxes can be answered, by the names scripts use.
const struct {
  const char* name;
  int32_t value;
} kAnswers[] = {{"ok", platform::ANSWER_OK},
                {"cancel", platform::ANSWER_CANCEL},
                {"yes", platform::ANSWER_YES},
                {"no", platform::ANSWER_NO}};

const char* answer_name(int32_t answer) {
  for (const auto& a : kAnswers) {
    if (a.value == answer) return a.name;
  }
  return "?";
}

bool parse_answer(const std::string& word, int32_t* answer) {
  for (const auto& a : kAnswers) {
    if (word == a.name) {
      *answer = a.value;
      return true;
    }
  }
  return false;
}

}  // namespace

// Lines kept for "wait"; older ones are only in the log.
constexpr size_t kRecentLines = 4096;

substitute_host::substitute_host(std::ostream& log)
    : log_(log), logging_(log.rdbuf() != nullptr), answer_(platform::ANSWER_YES) {
  current = this;
  observe_sounds([this](const std::string& what) { log_line("sound " + what); });
  install_message_box_answerer(
      [this](const std::string& text, const std::string& caption, uint32_t style) {
        return answer_message_box(text, caption, style);
      });
  install_open_file_answerer(
      [this](const std::string& title, const std::string& filter, std::string* path) {
        log_line("openfile title=" + quoted(title) + " filter=" + quoted(filter) + " -> " +
                 (open_file_answer_.empty() ? "cancel" : quoted(open_file_answer_)));
        *path = open_file_answer_;
        return !open_file_answer_.empty();
      });
}

substitute_host::~substitute_host() {
  remove_open_file_answerer();
  remove_message_box_answerer();
  observe_sounds(nullptr);
  library_.close();
  current = nullptr;
}

void substitute_host::set_plugin_dir(const std::string& dir) {
  plugin_dir_ = dir;
  if (plugin_dir_.empty() || (plugin_dir_.back() != '/' && plugin_dir_.back() != kSeparator)) {
    plugin_dir_ += kSeparator;
  }
}

bool substitute_host::open_library(const std::string& path) {
  std::string error;
  if (!library_.open(path, &error)) {
    log_line("error: cannot load " + quoted(path) + ": " + error);
    return false;
  }
  log_line("library " + quoted(path) + " plugin_version() -> " +
           std::to_string(library_.version()));
  return true;
}

void substitute_host::attach(plugin_version_fn version, plugin_main_fn main) {
  library_.attach(version, main);
  log_line("attached plugin_version() -> " + std::to_string(version()));
}

void substitute_host::record_launches(bool record) {
  if (!record) {
    intercept_launches(nullptr);
  } else if (!intercept_launches([this](const std::string& file, const std::string& arguments,
                                        const std::vector<std::string>& words) {
               std::string list;
               for (const std::string& w : words) list += (list.empty() ? "" : ", ") + quoted(w);
               log_line("launch file=" + quoted(file) + " arguments=" + quoted(arguments) +
                        " words=[" + list + "]");
             })) {
    log_line("error: launches cannot be recorded on this system");
  }
}

void substitute_host::log_line(const std::string& line, const std::string& brief) {
  if (!logging_) return;
  {
    std::lock_guard<std::mutex> hold(log_lock_);
    if (!brief_) {
      log_ << line << std::endl;
    } else if (!brief.empty()) {
      log_ << brief << std::endl;
    }
    ++lines_logged_;
    recent_lines_.push_back(line);
    if (recent_lines_.size() > kRecentLines) recent_lines_.pop_front();
  }
  logged_.notify_all();
}

void substitute_host::serve_windows() {
  std::vector<platform::window_handle> dialogs;
  {
    std::lock_guard<std::mutex> hold(model_lock_);
    dialogs = dialogs_;
  }
  ::serve_windows(dialogs);
}

bool substitute_host::wait_for_line(const std::string& text, int ms) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  std::unique_lock<std::mutex> hold(log_lock_);
  uint64_t from = wait_mark_;
  for (;;) {
    const uint64_t first_kept = lines_logged_ - recent_lines_.size();
    for (uint64_t i = std::max(from, first_kept); i < lines_logged_; ++i) {
      if (recent_lines_[i - first_kept].find(text) != std::string::npos) {
        wait_mark_ = i + 1;
        return true;
      }
    }
    from = lines_logged_;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    // Short waits, so that messages sent to this thread are handled too.
    logged_.wait_for(hold, std::chrono::milliseconds(20));
    hold.unlock();
    serve_windows();
    hold.lock();
  }
}

int32_t substitute_host::answer_message_box(const std::string& text, const std::string& caption,
                                            uint32_t style) {
  // Only the buttons can be told from a real Windows message box, so that is
  // what the log shows on every system.
  const char* buttons = (style & 0x0F) == platform::MB_YES_NO ? "yes/no" : "ok";
  log_line("messagebox caption=" + quoted(caption) + " buttons=" + buttons +
           " text=" + quoted(text) + " -> " + answer_name(answer_));
  return answer_;
}

int32_t substitute_host::send_event(const std::string& event, void* record) {
  if (!library_.is_open()) {
    log_line("error: no plug-in library is loaded");
    return 0;
  }
  const int32_t result = library_.main(event.c_str(), record);
  log_line("plugin_main(" + quoted(event) + ") -> " + std::to_string(result));
  return result;
}

std::string substitute_host::icon_name(bitmap_handle bitmap) const {
  if (bitmap == nullptr) return "none";
  host_bitmap picture;
  return inspect_bitmap(bitmap, library_.module(), &picture) ? picture.name : "invalid";
}

std::string substitute_host::describe(const list_entry_record* r) const {
  std::ostringstream s;
  s << "size=" << r->size << " is_entry=" << r->is_entry << " group_id=" << r->group_id
    << " f88=" << r->field88 << " f92=" << r->field92 << " entry_id=" << r->entry_id
    << " f100=" << r->field100 << " f104=" << r->field104 << " f108=" << r->field108
    << " f112=" << r->field112 << " f116=" << r->field116 << " f120=" << r->field120
    << " text=" << quoted(r->text) << " tooltip=" << quoted(r->tooltip)
    << " name=" << quoted(r->name) << " group_name=" << quoted(r->group_name)
    << " user_data=" << r->user_data << " callback=" << (r->callback != nullptr ? "set" : "0");
  if (r->icon != nullptr) {
    const list_icon_record* icon = r->icon;
    s << " icon={size=" << icon->size << " f4=" << icon->one
      << " bitmap=" << (icon->bitmap == nullptr ? "0" : icon_name(*icon->bitmap)) << " rect=";
    if (icon->rect == nullptr) {
      s << "0";
    } else {
      s << "(" << icon->rect->left << "," << icon->rect->top << "," << icon->rect->right << ","
        << icon->rect->bottom << ")";
    }
    s << " f28=" << icon->field28 << "}";
  }
  if (r->menu != nullptr) {
    s << " menu=[";
    for (const menu_item_record* m = r->menu; m != nullptr; m = m->next) {
      const auto* data = reinterpret_cast<const menu_data*>(m->user_data);
      s << "{size=" << m->size << " f4=" << m->field4 << " f12=" << m->field12
        << " label=" << quoted(m->label) << " callback=" << (m->callback != nullptr ? "set" : "0");
      if (data != nullptr) s << " command=" << data->command << " account=" << data->account;
      s << "}" << (m->next != nullptr ? ", " : "");
    }
    s << "]";
  }
  return s.str();
}

int32_t substitute_host::host_function(const char* plugin_id, const char* function, void* record) {
  const std::string name = function != nullptr ? function : "";
  // With the log off no text is made: the cost is then the contact list's.
  std::string line = logging_ ? "host " + name : std::string();
  if (plugin_id == nullptr || std::strcmp(plugin_id, info_.id) != 0) {
    line += " plugin_id=" + quoted(plugin_id);
  }
  auto text_of = [](const char* text) { return std::string(text != nullptr ? text : ""); };
  int32_t result = 0;
  // What a person follows: the contact list and the alerts; the page's and
  // the dialogs' registration only in the complete record.
  std::string brief;
  bool unusual = true;
  if (record == nullptr) {
    line += " record=null";
  } else if (name == "prefsInitialize") {
    unusual = false;
    const auto* r = static_cast<const prefs_page_record*>(record);
    line += " size=" + std::to_string(r->size) + " f4=" + std::to_string(r->one) +
            " page=" + quoted(r->page_name) + " f12=" + std::to_string(r->zero);
  } else if (name == "dialogAdd" || name == "dialogRemove") {
    const auto* r = static_cast<const dialog_record*>(record);
    line += " size=" + std::to_string(r->size) + " window=" + address(r->window);
    unusual = false;
    std::lock_guard<std::mutex> hold(model_lock_);
    dialogs_.erase(std::remove(dialogs_.begin(), dialogs_.end(), r->window), dialogs_.end());
    if (name == "dialogAdd") dialogs_.push_back(r->window);
  } else if (name.rfind("list", 0) == 0) {
    auto* r = static_cast<list_entry_record*>(record);
    if (logging_) line += " " + describe(r);
    const bitmap_handle bitmap =
        r->icon != nullptr && r->icon->bitmap != nullptr ? *r->icon->bitmap : nullptr;
    const auto entry_name = [r] { return "entry " + std::to_string(r->entry_id); };
    unusual = false;
    std::lock_guard<std::mutex> hold(model_lock_);
    if (name == "listAddEntry" && r->is_entry == 0) {
      const int32_t id = next_group_id_++;
      groups_[id] = group{id, text_of(r->text), text_of(r->tooltip)};
      r->group_id = id;
      if (logging_) {
        line += " -> group " + std::to_string(id);
        brief = "group " + std::to_string(id) + " added " + quoted(r->text);
      }
    } else if (name == "listAddEntry") {
      result = next_entry_id_++;
      entry e;
      e.id = result;
      e.group = r->group_id;
      e.text = text_of(r->text);
      e.tooltip = text_of(r->tooltip);
      e.name = text_of(r->name);
      e.icon = bitmap;
      e.icon_name = icon_name(bitmap);
      e.callback = r->callback;
      e.user_data = r->user_data;
      size_t items = 0;
      for (const menu_item_record* m = r->menu; m != nullptr; m = m->next) ++items;
      e.menu.reserve(items);
      for (const menu_item_record* m = r->menu; m != nullptr; m = m->next) {
        const std::string_view label = m->label != nullptr ? m->label : "";
        auto known = labels_.find(label);
        if (known == labels_.end()) known = labels_.emplace(label).first;
        e.menu.push_back(menu_item{&*known, m->callback, m->user_data});
      }
      if (logging_) {
        brief = "entry " + std::to_string(result) + " added " + quoted(e.text) +
                " icon=" + e.icon_name + " in group " + std::to_string(e.group);
      }
      entries_.emplace(result, std::move(e));
    } else if (name == "listGetSectionCount") {
      for (const auto& [id, e] : entries_) result += e.group == r->group_id ? 1 : 0;
    } else if (name == "listRemoveEntry") {
      if (r->entry_id != -1) {
        entries_.erase(r->entry_id);
        if (logging_) brief = entry_name() + " removed";
      } else {
        groups_.erase(r->group_id);
        if (logging_) brief = "group " + std::to_string(r->group_id) + " removed";
      }
    } else if (auto it = entries_.find(r->entry_id); it != entries_.end()) {
      if (name == "listUpdateText") {
        it->second.text = text_of(r->text);
        it->second.name = text_of(r->name);
        if (logging_) brief = entry_name() + " text " + quoted(r->text);
      } else if (name == "listUpdateTooltip") {
        it->second.tooltip = text_of(r->tooltip);
        if (logging_) brief = entry_name() + " tooltip " + quoted(r->tooltip);
      } else if (name == "listUpdateIcon") {
        it->second.icon = bitmap;
        it->second.icon_name = icon_name(bitmap);
        if (logging_) brief = entry_name() + " icon " + it->second.icon_name;
      } else {
        unusual = true;
      }
    } else {
      line += " (no such entry)";
      unusual = true;
    }
  } else if (name == "systraySetAlert") {
    const auto* r = static_cast<const alert_record*>(record);
    std::ostringstream s;
    const bool zero12 =
        std::all_of(std::begin(r->zero12), std::end(r->zero12), [](uint8_t b) { return b == 0; });
    s << " size=" << r->size << " text=" << quoted(r->text) << " icon=" << quoted(r->icon_name)
      << " bytes12to19=" << (zero12 ? "0" : "nonzero") << " f20=" << r->field20
      << " callback=" << (r->callback != nullptr ? "set" : "0");
    const auto* context = reinterpret_cast<const alert_context*>(r->user_data);
    if (context != nullptr) {
      s << " context={self=" << (context->self == context ? "itself" : address(context->self))
        << " alert=" << (context->alert == r ? "this" : address(context->alert))
        << " account=" << context->account << "}";
    }
    std::lock_guard<std::mutex> hold(model_lock_);
    const int32_t id = next_alert_id_++;
    alerts_[id] = alert{id, text_of(r->text), text_of(r->icon_name), r->callback, r->user_data};
    line += s.str() + " -> alert " + std::to_string(id);
    brief = "alert " + std::to_string(id) + " " + quoted(r->text);
    unusual = false;
  }
  if (logging_) {
    line += " -> " + std::to_string(result);
    log_line(line, unusual ? line : brief);
  }
  return result;
}

std::vector<substitute_host::group> substitute_host::groups() const {
  std::lock_guard<std::mutex> hold(model_lock_);
  std::vector<group> out;
  for (const auto& g : groups_) out.push_back(g.second);
  return out;
}

std::vector<substitute_host::entry> substitute_host::entries() const {
  std::lock_guard<std::mutex> hold(model_lock_);
  std::vector<entry> out;
  for (const auto& e : entries_) out.push_back(e.second);
  // In the order they were added, whatever the map's order.
  std::sort(out.begin(), out.end(), [](const entry& a, const entry& b) { return a.id < b.id; });
  return out;
}

std::vector<substitute_host::alert> substitute_host::alerts() const {
  std::lock_guard<std::mutex> hold(model_lock_);
  std::vector<alert> out;
  for (const auto& a : alerts_) out.push_back(a.second);
  return out;
}

void substitute_host::list_contacts() {
  const auto all_groups = groups();
  const auto all_entries = entries();
  log_line("contacts: " + std::to_string(all_groups.size()) + " group(s), " +
           std::to_string(all_entries.size()) + " entry(ies)");
  for (const group& g : all_groups) {
    log_line("  group " + std::to_string(g.id) + " " + quoted(g.text) +
             " tooltip=" + quoted(g.tooltip));
    for (const entry& e : all_entries) {
      if (e.group != g.id) continue;
      std::string menu;
      for (size_t i = 0; i < e.menu.size(); ++i) {
        menu += (i > 0 ? ", " : "") + std::to_string(i + 1) + "=" + quoted(*e.menu[i].label);
      }
      log_line("    entry " + std::to_string(e.id) + " " + quoted(e.text) +
               " name=" + quoted(e.name) + " icon=" + e.icon_name +
               " tooltip=" + quoted(e.tooltip) + " menu=[" + menu + "]");
    }
  }
  for (const entry& e : all_entries) {
    if (std::none_of(all_groups.begin(), all_groups.end(),
                     [&e](const group& g) { return g.id == e.group; })) {
      log_line("  entry " + std::to_string(e.id) + " outside any group (group " +
               std::to_string(e.group) + ") " + quoted(e.text));
    }
  }
  const auto all_alerts = alerts();
  log_line("alerts: " + std::to_string(all_alerts.size()));
  for (const alert& a : all_alerts) {
    log_line("  alert " + std::to_string(a.id) + " " + quoted(a.text) +
             " icon=" + quoted(a.icon_name));
  }
}

void substitute_host::show_icon(int32_t entry_id) {
  bitmap_handle bitmap = nullptr;
  {
    std::lock_guard<std::mutex> hold(model_lock_);
    auto it = entries_.find(entry_id);
    if (it == entries_.end()) {
      log_line("error: no entry " + std::to_string(entry_id));
      return;
    }
    bitmap = it->second.icon;
  }
  host_bitmap picture;
  if (bitmap == nullptr || !inspect_bitmap(bitmap, library_.module(), &picture)) {
    log_line("icon of entry " + std::to_string(entry_id) + ": none");
    return;
  }
  log_line("icon of entry " + std::to_string(entry_id) + ": " + picture.name + " " +
           std::to_string(picture.width) + "x" + std::to_string(picture.height) +
           " (. is the magenta background)");
  for (int y = 0; y < picture.height; ++y) {
    std::string row = "  ";
    for (int x = 0; x < picture.width; ++x) {
      const uint8_t* p = &picture.rgb[(static_cast<size_t>(y) * picture.width + x) * 3];
      row += p[0] == 255 && p[1] == 0 && p[2] == 255 ? '.' : '#';
    }
    log_line(row);
  }
}

void substitute_host::entry_event(int32_t entry_id, const std::string& event,
                                  const std::string* data) {
  host_callback_fn callback = nullptr;
  uintptr_t user_data = 0;
  {
    std::lock_guard<std::mutex> hold(model_lock_);
    auto it = entries_.find(entry_id);
    if (it == entries_.end()) {
      log_line("error: no entry " + std::to_string(entry_id));
      return;
    }
    callback = it->second.callback;
    user_data = it->second.user_data;
    // The host shows the new name itself and tells the plug-in.
    if (data != nullptr) it->second.name = *data;
  }
  log_line("entry " + std::to_string(entry_id) + " event " + quoted(event) +
           (data != nullptr ? " data=" + quoted(*data) : ""));
  if (callback != nullptr) {
    callback(0, 0, event.c_str(), data != nullptr ? reinterpret_cast<uintptr_t>(data->c_str()) : 0,
             user_data);
  }
}

void substitute_host::menu_event(int32_t entry_id, size_t item, const std::string& event) {
  menu_item picked;
  {
    std::lock_guard<std::mutex> hold(model_lock_);
    auto it = entries_.find(entry_id);
    if (it == entries_.end() || item < 1 || item > it->second.menu.size()) {
      log_line("error: no menu item " + std::to_string(item) + " on entry " +
               std::to_string(entry_id));
      return;
    }
    picked = it->second.menu[item - 1];
  }
  log_line("entry " + std::to_string(entry_id) + " menu " + quoted(*picked.label) + " event " +
           quoted(event));
  if (picked.callback != nullptr) picked.callback(0, 0, event.c_str(), 0, picked.user_data);
}

void substitute_host::alert_event(int32_t alert_id, const std::string& event) {
  alert a;
  {
    std::lock_guard<std::mutex> hold(model_lock_);
    auto it = alerts_.find(alert_id);
    if (it == alerts_.end()) {
      log_line("error: no alert " + std::to_string(alert_id));
      return;
    }
    a = it->second;
    // A dismissed alert is gone before the plug-in hears of it.
    if (event == "alert_destroy") alerts_.erase(it);
  }
  log_line("alert " + std::to_string(alert_id) + " event " + quoted(event));
  if (a.callback != nullptr) a.callback(0, 0, event.c_str(), 0, a.user_data);
}

namespace {

// Reads the rest of the line after one separating blank.
std::string rest_of(std::istringstream& words) {
  std::string rest;
  std::getline(words, rest);
  if (!rest.empty()) rest.erase(0, 1);
  return rest;
}

}  // namespace

// The script language, in the order help shows it.
const substitute_host::command substitute_host::commands_[] = {
    {"load", "load", "send \"load\" with the host's record and show the identity",
     [](substitute_host& host, const std::string&, std::istringstream&) {
       std::memset(&host.info_, 0, sizeof host.info_);
       host.info_.plugin_dir = host.plugin_dir_.c_str();
       host.info_.host_call = host_call_entry;
       host.send_event("load", &host.info_);
       host.run_command("identity");
     }},
    {"initialLoad", "initialLoad", "send \"initialLoad\" without a record", send_bare_event},
    {"start", "start", "send \"start\" without a record", send_bare_event},
    {"stop", "stop", "send \"stop\" without a record", send_bare_event},
    {"unload", "unload", "send \"unload\" without a record", send_bare_event},
    {"finalUnload", "finalUnload", "send \"finalUnload\" without a record", send_bare_event},
    {"prefsShow", "prefsShow SHOW X Y", "send \"prefsShow\" (SHOW 1 shows, 0 hides)",
     [](substitute_host& host, const std::string& name, std::istringstream& words) {
       prefs_show_record r{};
       std::string page = "E-Mail";
       words >> r.show >> r.x >> r.y;
       r.page_name = page.c_str();
       if (!host.prefs_parent_made_) {
         host.prefs_parent_ = make_preferences_window();
         host.prefs_parent_made_ = true;
       }
       r.parent_window = host.prefs_parent_;
       host.send_event(name, &r);
       host.log_line("prefsShow name=" + quoted(r.name) + " description=" + quoted(r.description) +
                     " bitmap=" + address(r.bitmap));
     }},
    {"prefsAction", "prefsAction N",
     "send \"prefsAction\" with action N (0 Cancel, 1 Apply,\n2 OK)",
     [](substitute_host& host, const std::string& name, std::istringstream& words) {
       prefs_action_record r{};
       words >> r.action;
       host.send_event(name, &r);
     }},
    {"dialogs", "dialogs", "list the dialogs the plug-in registered",
     [](substitute_host& host, const std::string&, std::istringstream&) {
       std::vector<platform::window_handle> dialogs;
       {
         std::lock_guard<std::mutex> hold(host.model_lock_);
         dialogs = host.dialogs_;
       }
       for (platform::window_handle d : dialogs) {
         platform::window_state state;
         if (read_dialog(d, &state)) {
           host.log_line("dialog " + address(d) + " " + quoted(state.caption) +
                         " visible=" + std::to_string(state.visible));
         }
       }
     }},
    {"show", "show DIALOG",
     "print the dialog's whole state: each control's id,\nkind, text, checked, enabled and "
     "visible state, combo\nitems, list columns, rows and selection. DIALOG is\npage, account, "
     "options or a window as logged",
     [](substitute_host& host, const std::string&, std::istringstream& words) {
       std::string name;
       words >> name;
       host.show_dialog(name);
     }},
    {"type", "type DIALOG ID TEXT", "type TEXT (the rest of the line) into edit control ID",
     dialog_command},
    {"press", "press DIALOG ID", "click button, check box or radio button ID", dialog_command},
    {"choose", "choose DIALOG ID ITEM", "pick ITEM of combo box ID", dialog_command},
    {"select", "select DIALOG ID ROW...",
     "select these rows (from 0) of list view ID; the last\none becomes the selection mark",
     dialog_command},
    {"dblclick", "dblclick DIALOG ID ROW",
     "double-click row ROW of list view ID (-1: below the\nrows)", dialog_command},
    {"close", "close DIALOG", "click the dialog's close box", dialog_command},
    {"openfile", "openfile PATH|cancel", "how the next open-file dialogs are answered",
     [](substitute_host& host, const std::string&, std::istringstream& words) {
       const std::string path = rest_of(words);
       host.open_file_answer_ = path == "cancel" ? std::string() : path;
     }},
    {"send", "send NAME", "send any event name as it stands, without a record",
     [](substitute_host& host, const std::string&, std::istringstream& words) {
       std::string event;
       words >> event;
       host.send_event(event, nullptr);
     }},
    {"identity", "identity", "show what the plug-in reported on \"load\"",
     [](substitute_host& host, const std::string&, std::istringstream&) {
       const plugin_info_record& i = host.info_;
       host.log_line("identity id=" + quoted(i.id) + " name=" + quoted(i.name) +
                     " publisher=" + quoted(i.publisher) + " version=" + quoted(i.version) +
                     " description=" + quoted(i.description));
     }},
    {"list", "list",
     "show the contact list (groups, entries with text, icon\nname, tooltip and menu) and the "
     "alerts not yet dismissed",
     [](substitute_host& host, const std::string&, std::istringstream&) { host.list_contacts(); }},
    {"icon", "icon ENTRY", "draw the icon of entry ENTRY (an entry id)",
     [](substitute_host& host, const std::string&, std::istringstream& words) {
       int32_t id = 0;
       words >> id;
       host.show_icon(id);
     }},
    {"click", "click ENTRY [EVENT]", "double-click the entry (EVENT: list_leftDoubleClick)",
     [](substitute_host& host, const std::string&, std::istringstream& words) {
       int32_t id = 0;
       std::string event = "list_leftDoubleClick";
       words >> id >> event;
       host.entry_event(id, event, nullptr);
     }},
    {"rename", "rename ENTRY NAME", "rename the entry to NAME (the rest of the line)",
     [](substitute_host& host, const std::string&, std::istringstream& words) {
       int32_t id = 0;
       words >> id;
       const std::string name = rest_of(words);
       host.entry_event(id, "list_changeName", &name);
     }},
    {"menu", "menu ENTRY N [EVENT]",
     "pick item N (from 1) of the entry's menu (EVENT:\nmenu-select)",
     [](substitute_host& host, const std::string&, std::istringstream& words) {
       int32_t id = 0;
       size_t item = 0;
       std::string event = "menu-select";
       words >> id >> item >> event;
       host.menu_event(id, item, event);
     }},
    {"alert-click", "alert-click N [EVENT]", "click the link of alert N (EVENT: alert_linkClick)",
     [](substitute_host& host, const std::string&, std::istringstream& words) {
       int32_t id = 0;
       std::string event = "alert_linkClick";
       words >> id >> event;
       host.alert_event(id, event);
     }},
    {"alert-dismiss", "alert-dismiss N", "dismiss alert N (the plug-in hears alert_destroy)",
     [](substitute_host& host, const std::string&, std::istringstream& words) {
       int32_t id = 0;
       words >> id;
       host.alert_event(id, "alert_destroy");
     }},
    {"launches", "launches record|perform",
     "log program launches instead of performing them (not\non Windows, where the plug-in's "
     "shell opens them)",
     [](substitute_host& host, const std::string&, std::istringstream& words) {
       std::string mode;
       words >> mode;
       if (mode == "record" || mode == "perform") {
         host.record_launches(mode == "record");
       } else {
         host.log_line("error: launches record or launches perform");
       }
     }},
    {"answer", "answer yes|no|ok|cancel", "how the next message boxes are answered",
     [](substitute_host& host, const std::string&, std::istringstream& words) {
       std::string word;
       words >> word;
       if (!parse_answer(word, &host.answer_)) {
         host.log_line("error: answer yes, no, ok or cancel");
       }
     }},
    {"sleep", "sleep MS", "wait MS milliseconds",
     [](substitute_host& host, const std::string&, std::istringstream& words) {
       int ms = 0;
       words >> ms;
       const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
       while (std::chrono::steady_clock::now() < until) {
         host.serve_windows();
         std::this_thread::sleep_for(std::chrono::milliseconds(10));
       }
     }},
    {"wait", "wait MS TEXT",
     "wait at most MS milliseconds for a log line that\ncontains TEXT (the rest of the line), "
     "looking from\nthe line after the previous wait's match (the\ncomplete lines, also with "
     "--brief)",
     [](substitute_host& host, const std::string&, std::istringstream& words) {
       int ms = 0;
       words >> ms;
       const std::string text = rest_of(words);
       if (!host.wait_for_line(text, ms)) {
         host.log_line("wait: nothing with " + quoted(text) + " within " + std::to_string(ms) +
                       " ms");
       }
     }},
    {"echo", "echo TEXT", "print TEXT",
     [](substitute_host& host, const std::string&, std::istringstream& words) {
       host.log_line(rest_of(words));
     }},
    {"help", "help", "this text",
     [](substitute_host& host, const std::string&, std::istringstream&) { host.log_line(help()); }},
    {"quit", "quit", "end", nullptr},
    {"exit", "exit", "end", nullptr},
};

void substitute_host::send_bare_event(substitute_host& host, const std::string& name,
                                      std::istringstream&) {
  host.send_event(name, nullptr);
}

std::string substitute_host::help() {
  // Usage in a column of its own; a longer one takes a line to itself.
  constexpr size_t kUsageWidth = 20;
  const std::string indent(2 + kUsageWidth + 1, ' ');
  std::string out = "Commands (one per line; # starts a comment):\n";
  for (const command& c : commands_) {
    std::string usage = c.usage;
    out += "  " + usage;
    out += usage.size() <= kUsageWidth ? std::string(kUsageWidth + 1 - usage.size(), ' ')
                                       : "\n" + indent;
    for (const char* d = c.description; *d != '\0'; ++d) {
      out += *d;
      if (*d == '\n') out += indent;
    }
    out += '\n';
  }
  return out;
}

bool substitute_host::run_command(const std::string& line) {
  std::istringstream words(line);
  std::string name;
  if (!(words >> name) || name[0] == '#') return true;
  for (const command& c : commands_) {
    if (name != c.name) continue;
    if (c.run == nullptr) return false;
    c.run(*this, name, words);
    return true;
  }
  log_line("error: unknown command " + quoted(name) + " (try help)");
  return true;
}

platform::window_handle substitute_host::find_dialog(const std::string& name) const {
  static const struct {
    const char* name;
    const char* caption;
  } known[] = {{"page", ""}, {"account", "Account Details"}, {"options", "Other Global Options"}};
  std::vector<platform::window_handle> dialogs;
  {
    std::lock_guard<std::mutex> hold(model_lock_);
    dialogs = dialogs_;
  }
  for (platform::window_handle d : dialogs) {
    if (address(d) == name) return d;
    platform::window_state state;
    if (!read_dialog(d, &state)) continue;
    for (const auto& k : known) {
      if (name == k.name && state.caption == k.caption) return d;
    }
  }
  return nullptr;
}

void substitute_host::show_dialog(const std::string& name) {
  platform::window_state s;
  const platform::window_handle dialog = find_dialog(name);
  if (dialog == nullptr || !read_dialog(dialog, &s)) {
    log_line("error: no dialog " + quoted(name));
    return;
  }
  const auto list = [](const std::vector<std::string>& texts) {
    std::string out;
    for (const std::string& t : texts) out += (out.empty() ? "" : ", ") + quoted(t);
    return "[" + out + "]";
  };
  log_line("dialog " + name + " " + address(dialog) + " caption=" + quoted(s.caption) +
           " visible=" + std::to_string(s.visible) + " x=" + std::to_string(s.x) +
           " y=" + std::to_string(s.y) + " width=" + std::to_string(s.width) +
           " height=" + std::to_string(s.height));
  for (const platform::control_state& c : s.controls) {
    if (c.kind == "static" || c.kind == "groupbox") continue;
    std::string line = "  " + std::to_string(c.id) + " " + c.kind + " " + quoted(c.text);
    if (c.kind == "checkbox" || c.kind == "radio") line += " checked=" + std::to_string(c.checked);
    line += " enabled=" + std::to_string(c.enabled) + " visible=" + std::to_string(c.visible);
    if (c.kind == "combo") line += " items=" + list(c.items);
    if (c.kind == "list") {
      std::string columns;
      for (const platform::list_column& col : c.columns) {
        columns += (columns.empty() ? "" : ", ") + quoted(col.text) + " " +
                   std::to_string(col.width) +
                   (col.align == platform::column_align::center ? " center" : " left");
      }
      line += " columns=[" + columns + "] mark=" + std::to_string(c.selection_mark);
    }
    log_line(line);
    for (size_t r = 0; r < c.rows.size(); ++r) {
      const bool selected = std::find(c.selected_rows.begin(), c.selected_rows.end(),
                                      static_cast<int>(r)) != c.selected_rows.end();
      log_line("    row " + std::to_string(r) + " " + list(c.rows[r]) +
               (selected ? " selected" : ""));
    }
  }
}

void substitute_host::dialog_command(substitute_host& host, const std::string& command,
                                     std::istringstream& words) {
  std::string name;
  int id = 0;
  words >> name;
  if (command != "close") words >> id;
  const platform::window_handle dialog = host.find_dialog(name);
  if (dialog == nullptr) {
    host.log_line("error: no dialog " + quoted(name));
    return;
  }
  const std::string rest = rest_of(words);
  host.log_line("user " + command + " " + name +
                (command == "close" ? "" : " " + std::to_string(id)) +
                (rest.empty() ? "" : " " + quoted(rest)));
  bool done = false;
  if (command == "type") {
    done = type_text(dialog, id, rest);
  } else if (command == "press") {
    done = click(dialog, id);
  } else if (command == "choose") {
    done = choose(dialog, id, rest);
  } else if (command == "select" || command == "dblclick") {
    std::istringstream numbers(rest);
    std::vector<int> rows;
    for (int row = 0; numbers >> row;) rows.push_back(row);
    if (command == "select") {
      done = select_rows(dialog, id, rows);
    } else {
      done = rows.size() == 1 && double_click(dialog, id, rows[0]);
    }
  } else {
    done = close_dialog(dialog);
  }
  if (!done)
    host.log_line("error: " + command + " does not apply to control " + std::to_string(id));
}
