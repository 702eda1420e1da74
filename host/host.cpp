#include "host.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <thread>

#include "message_boxes.h"

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

const char* answer_name(int32_t answer) {
  switch (answer) {
    case 1:
      return "ok";
    case 2:
      return "cancel";
    case 6:
      return "yes";
    case 7:
      return "no";
    default:
      return "?";
  }
}

bool parse_answer(const std::string& word, int32_t* answer) {
  static const struct {
    const char* name;
    int32_t value;
  } answers[] = {{"ok", 1}, {"cancel", 2}, {"yes", 6}, {"no", 7}};
  for (const auto& a : answers) {
    if (word == a.name) {
      *answer = a.value;
      return true;
    }
  }
  return false;
}

}  // namespace

substitute_host::substitute_host(std::ostream& log) : log_(log), answer_(6) {
  current = this;
  install_message_box_answerer(
      [this](const std::string& text, const std::string& caption, uint32_t style) {
        return answer_message_box(text, caption, style);
      });
}

substitute_host::~substitute_host() {
  remove_message_box_answerer();
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

void substitute_host::log_line(const std::string& line) {
  std::lock_guard<std::mutex> hold(log_lock_);
  log_ << line << std::endl;
}

int32_t substitute_host::answer_message_box(const std::string& text, const std::string& caption,
                                            uint32_t style) {
  log_line("messagebox caption=" + quoted(caption) + " style=" + std::to_string(style) +
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

std::string substitute_host::describe(const list_entry_record* r) const {
  std::ostringstream s;
  s << "size=" << r->size << " is_entry=" << r->is_entry << " group_id=" << r->group_id
    << " f88=" << r->field88 << " f92=" << r->field92 << " entry_id=" << r->entry_id
    << " f100=" << r->field100 << " f104=" << r->field104 << " f108=" << r->field108
    << " f112=" << r->field112 << " f116=" << r->field116 << " f120=" << r->field120
    << " text=" << quoted(r->text) << " tooltip=" << quoted(r->tooltip)
    << " name=" << quoted(r->name) << " group_name=" << quoted(r->group_name)
    << " user_data=" << r->user_data;
  if (r->icon != nullptr) {
    s << " icon=" << address(r->icon->bitmap != nullptr ? *r->icon->bitmap : nullptr);
  }
  if (r->menu != nullptr) {
    s << " menu=[";
    for (const menu_item_record* m = r->menu; m != nullptr; m = m->next) {
      s << quoted(m->label) << (m->next != nullptr ? ", " : "");
    }
    s << "]";
  }
  return s.str();
}

int32_t substitute_host::host_function(const char* plugin_id, const char* function, void* record) {
  const std::string name = function != nullptr ? function : "";
  std::string line = "host " + name;
  if (plugin_id == nullptr || std::strcmp(plugin_id, info_.id) != 0) {
    line += " plugin_id=" + quoted(plugin_id);
  }
  int32_t result = 0;
  if (record == nullptr) {
    line += " record=null";
  } else if (name == "prefsInitialize") {
    const auto* r = static_cast<const prefs_page_record*>(record);
    line += " size=" + std::to_string(r->size) + " f4=" + std::to_string(r->one) +
            " page=" + quoted(r->page_name) + " f12=" + std::to_string(r->zero);
  } else if (name == "dialogAdd" || name == "dialogRemove") {
    const auto* r = static_cast<const dialog_record*>(record);
    line += " size=" + std::to_string(r->size) + " window=" + address(r->window);
  } else if (name.rfind("list", 0) == 0) {
    auto* r = static_cast<list_entry_record*>(record);
    line += " " + describe(r);
    std::lock_guard<std::mutex> hold(model_lock_);
    if (name == "listAddEntry" && r->is_entry == 0) {
      const int32_t id = next_group_id_++;
      groups_[id] = group{r->text != nullptr ? r->text : "", r->tooltip ? r->tooltip : ""};
      r->group_id = id;
      line += " -> group " + std::to_string(id);
    } else if (name == "listAddEntry") {
      result = next_entry_id_++;
      entry e;
      e.group = r->group_id;
      e.text = r->text != nullptr ? r->text : "";
      e.tooltip = r->tooltip != nullptr ? r->tooltip : "";
      e.name = r->name != nullptr ? r->name : "";
      e.icon = r->icon != nullptr && r->icon->bitmap != nullptr ? *r->icon->bitmap : nullptr;
      e.record = r;
      entries_[result] = e;
    } else if (name == "listGetSectionCount") {
      for (const auto& [id, e] : entries_) result += e.group == r->group_id ? 1 : 0;
    } else if (name == "listRemoveEntry") {
      if (r->entry_id != -1) {
        entries_.erase(r->entry_id);
      } else {
        groups_.erase(r->group_id);
      }
    } else if (auto it = entries_.find(r->entry_id); it != entries_.end()) {
      if (name == "listUpdateText") {
        it->second.text = r->text != nullptr ? r->text : "";
        it->second.name = r->name != nullptr ? r->name : "";
      } else if (name == "listUpdateTooltip") {
        it->second.tooltip = r->tooltip != nullptr ? r->tooltip : "";
      } else if (name == "listUpdateIcon" && r->icon != nullptr) {
        it->second.icon = r->icon->bitmap != nullptr ? *r->icon->bitmap : nullptr;
      }
    }
  } else if (name == "systraySetAlert") {
    const auto* r = static_cast<const alert_record*>(record);
    line += " size=" + std::to_string(r->size) + " text=" + quoted(r->text) +
            " icon=" + quoted(r->icon_name) + " f20=" + std::to_string(r->field20) +
            " user_data=" + std::to_string(r->user_data);
  }
  log_line(line + " -> " + std::to_string(result));
  return result;
}

const char* substitute_host::help() {
  return "Commands (one per line; # starts a comment):\n"
         "  load                 send \"load\" with the host's record and show the identity\n"
         "  initialLoad | start | stop | unload | finalUnload\n"
         "                       send that event without a record\n"
         "  prefsShow SHOW X Y   send \"prefsShow\" (SHOW 1 shows, 0 hides)\n"
         "  prefsAction N        send \"prefsAction\" with action N (0, 1 or 2)\n"
         "  send NAME            send any event name as it stands, without a record\n"
         "  identity             show what the plug-in reported on \"load\"\n"
         "  answer yes|no|ok|cancel\n"
         "                       how the next message boxes are answered\n"
         "  sleep MS             wait MS milliseconds\n"
         "  echo TEXT            print TEXT\n"
         "  help                 this text\n"
         "  quit                 end\n";
}

bool substitute_host::run_command(const std::string& line) {
  std::istringstream words(line);
  std::string command;
  if (!(words >> command) || command[0] == '#') return true;

  if (command == "quit" || command == "exit") return false;
  if (command == "help") {
    log_line(help());
  } else if (command == "load") {
    std::memset(&info_, 0, sizeof info_);
    info_.plugin_dir = plugin_dir_.c_str();
    info_.host_call = host_call_entry;
    send_event("load", &info_);
    loaded_ = true;
    run_command("identity");
  } else if (command == "identity") {
    log_line("identity id=" + quoted(info_.id) + " name=" + quoted(info_.name) +
             " publisher=" + quoted(info_.publisher) + " version=" + quoted(info_.version) +
             " description=" + quoted(info_.description));
  } else if (command == "initialLoad" || command == "start" || command == "stop" ||
             command == "unload" || command == "finalUnload") {
    send_event(command, nullptr);
  } else if (command == "prefsShow") {
    prefs_show_record r{};
    std::string page = "E-Mail";
    words >> r.show >> r.x >> r.y;
    r.page_name = page.c_str();
    send_event(command, &r);
    log_line("prefsShow name=" + quoted(r.name) + " description=" + quoted(r.description) +
             " bitmap=" + address(r.bitmap));
  } else if (command == "prefsAction") {
    prefs_action_record r{};
    words >> r.action;
    send_event(command, &r);
  } else if (command == "send") {
    std::string event;
    words >> event;
    send_event(event, nullptr);
  } else if (command == "answer") {
    std::string word;
    words >> word;
    int32_t answer = 0;
    if (parse_answer(word, &answer)) {
      answer_ = answer;
    } else {
      log_line("error: answer yes, no, ok or cancel");
    }
  } else if (command == "sleep") {
    int ms = 0;
    words >> ms;
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  } else if (command == "echo") {
    std::string rest;
    std::getline(words, rest);
    log_line(rest.empty() ? rest : rest.substr(1));
  } else {
    log_line("error: unknown command " + quoted(command) + " (try help)");
  }
  return true;
}
