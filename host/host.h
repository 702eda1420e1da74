// The substitute host: a small stand-in for the messenger. It loads a plug-in
// library, sends it the host's events, offers the host functions with a
// readable log line for every call, keeps the contact-list groups and
// entries and the tray alerts the plug-in hands over, and answers message
// boxes as it is told.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include "plugin.h"
#include "plugin_library.h"

class substitute_host {
 public:
  explicit substitute_host(std::ostream& log);
  ~substitute_host();
  substitute_host(const substitute_host&) = delete;
  substitute_host& operator=(const substitute_host&) = delete;

  // The directory reported on "load"; a separator is appended when missing.
  void set_plugin_dir(const std::string& dir);
  // How message boxes are answered (platform::ANSWER_* values).
  void set_answer(int32_t answer) { answer_ = answer; }

  bool open_library(const std::string& path);

  // Runs one command line (see help()). Returns false on "quit".
  bool run_command(const std::string& line);
  static const char* help();

  // The host call the plug-in receives; thread-safe.
  int32_t host_function(const char* plugin_id, const char* function, void* record);

 private:
  struct entry {
    int32_t group = -1;
    std::string text, tooltip, name;
    bitmap_handle icon = nullptr;
    list_entry_record* record = nullptr;
  };
  struct group {
    std::string text, tooltip;
  };

  int32_t send_event(const std::string& event, void* record);
  int32_t answer_message_box(const std::string& text, const std::string& caption, uint32_t style);
  void log_line(const std::string& line);
  std::string describe(const list_entry_record* r) const;

  std::ostream& log_;
  std::mutex log_lock_;
  plugin_library library_;
  std::string plugin_dir_;
  int32_t answer_;
  plugin_info_record info_{};
  bool loaded_ = false;

  std::mutex model_lock_;
  int32_t next_group_id_ = 1;         // guarded by model_lock_
  int32_t next_entry_id_ = 1;         // guarded by model_lock_
  std::map<int32_t, group> groups_;   // guarded by model_lock_
  std::map<int32_t, entry> entries_;  // guarded by model_lock_
};
