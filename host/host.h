// The substitute host: a small stand-in for the messenger. It loads a plug-in
// library, sends it the host's events, offers the host functions with a
// readable log line for every call, keeps the contact list (groups and
// entries with copies of their texts, icons and menus) and the tray alerts
// the plug-in hands over until they are dismissed, plays the user on them
// (double-click, rename, menu, alert click and dismissal), and answers
// message boxes as it is told.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <ostream>
#include <set>
#include <sstream>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/platform.h"
#include "plugin.h"
#include "plugin_library.h"

class substitute_host {
 public:
  // A log stream without a buffer turns the log off: no line is formatted
  // or kept ("wait" then finds nothing), so that a benchmark times the
  // plug-in and the contact list, not the log.
  explicit substitute_host(std::ostream& log);
  ~substitute_host();
  substitute_host(const substitute_host&) = delete;
  substitute_host& operator=(const substitute_host&) = delete;

  // The directory reported on "load"; a separator is appended when missing.
  void set_plugin_dir(const std::string& dir);
  // How message boxes are answered (platform::ANSWER_* values).
  void set_answer(int32_t answer) { answer_ = answer; }
  // The log's form: complete records of every call (the default, which the
  // tests read), or brief lines a person can follow: events, contact-list
  // changes, alerts, sounds, launches, message boxes and what commands show.
  void set_brief(bool brief) {
    std::lock_guard<std::mutex> hold(log_lock_);
    brief_ = brief;
  }

  bool open_library(const std::string& path);
  // Plays the host for a plug-in linked into this program (the tests).
  void attach(plugin_version_fn version, plugin_main_fn main);

  // Runs one command line (see help()). Returns false on "quit".
  bool run_command(const std::string& line);
  // Handles what waits for this thread's windows: messages other threads
  // sent (a checker's refresh of the page) and the dialogs' own messages.
  // The host's thread calls it while it waits for a command.
  void serve_windows();
  // The commands and their usage, from the same table run_command reads.
  static std::string help();

  // The host call the plug-in receives; thread-safe.
  int32_t host_function(const char* plugin_id, const char* function, void* record);

  struct menu_item {
    // Every entry has the same few labels: each is kept once (labels_).
    const std::string* label = nullptr;
    host_callback_fn callback = nullptr;
    uintptr_t user_data = 0;
  };
  struct entry {
    int32_t id = 0;
    int32_t group = -1;
    std::string text, tooltip, name;
    bitmap_handle icon = nullptr;
    std::string icon_name;  // "none" without a bitmap
    host_callback_fn callback = nullptr;
    uintptr_t user_data = 0;
    std::vector<menu_item> menu;
  };
  struct group {
    int32_t id = 0;
    std::string text, tooltip;
  };
  struct alert {
    int32_t id = 0;
    std::string text, icon_name;
    host_callback_fn callback = nullptr;
    uintptr_t user_data = 0;
  };
  // What the contact list and the tray hold now, in id order; thread-safe.
  std::vector<group> groups() const;
  std::vector<entry> entries() const;
  std::vector<alert> alerts() const;

 private:
  int32_t send_event(const std::string& event, void* record);
  int32_t answer_message_box(const std::string& text, const std::string& caption, uint32_t style);
  // Logs the complete record `line`, or `brief` in the brief form (nothing
  // when it is empty). "wait" always looks at the complete records.
  void log_line(const std::string& line, const std::string& brief);
  void log_line(const std::string& line) { log_line(line, line); }
  std::string describe(const list_entry_record* r) const;
  std::string icon_name(bitmap_handle bitmap) const;
  void list_contacts();
  void show_icon(int32_t entry_id);
  // Calls an entry's, menu item's or alert's callback without any lock held:
  // the plug-in calls the host back from inside.
  void entry_event(int32_t entry_id, const std::string& event, const std::string* data);
  void menu_event(int32_t entry_id, size_t item, const std::string& event);
  void alert_event(int32_t alert_id, const std::string& event);
  void record_launches(bool record);
  // Waits up to `ms` for a log line that contains `text`, looking from the
  // line after the previous match; meanwhile handles what other threads send
  // to this thread. True when it came.
  bool wait_for_line(const std::string& text, int ms);
  // The dialog the plug-in registered that `name` means: "page",
  // "account", "options" or a window handle as logged; 0 when none.
  platform::window_handle find_dialog(const std::string& name) const;
  void show_dialog(const std::string& name);

  // One command of the script language: its name, its usage and description
  // as help shows them (description lines joined by '\n'), and what it does
  // with the rest of the line; no handler means the script ends.
  struct command {
    const char* name;
    const char* usage;
    const char* description;
    void (*run)(substitute_host& host, const std::string& name, std::istringstream& words);
  };
  static const command commands_[];
  // Sends the event the command names, without a record.
  static void send_bare_event(substitute_host& host, const std::string& name,
                              std::istringstream& words);
  // Runs a user action on a dialog's control: "type", "press", "choose",
  // "select", "dblclick" or "close".
  static void dialog_command(substitute_host& host, const std::string& command,
                             std::istringstream& words);

  std::ostream& log_;
  const bool logging_;
  std::mutex log_lock_;
  std::condition_variable logged_;
  uint64_t lines_logged_ = 0;             // guarded by log_lock_
  uint64_t wait_mark_ = 0;                // guarded by log_lock_
  std::deque<std::string> recent_lines_;  // the last ones; guarded by log_lock_
  bool brief_ = false;                    // guarded by log_lock_
  plugin_library library_;
  std::string plugin_dir_;
  int32_t answer_;
  plugin_info_record info_{};

  mutable std::mutex model_lock_;
  int32_t next_group_id_ = 1;                   // guarded by model_lock_
  int32_t next_entry_id_ = 1;                   // guarded by model_lock_
  int32_t next_alert_id_ = 1;                   // guarded by model_lock_
  std::map<int32_t, group> groups_;             // guarded by model_lock_
  std::unordered_map<int32_t, entry> entries_;  // guarded by model_lock_
  std::set<std::string, std::less<>> labels_;   // guarded by model_lock_
  std::map<int32_t, alert> alerts_;             // guarded by model_lock_
  // Registered with "dialogAdd", oldest first.
  std::vector<platform::window_handle> dialogs_;  // guarded by model_lock_

  // The preferences window's part that holds the page; made on the first
  // "prefsShow".
  platform::window_handle prefs_parent_ = nullptr;
  bool prefs_parent_made_ = false;
  // How the open-file dialog is answered: a path, or Cancel when empty.
  std::string open_file_answer_;
};
