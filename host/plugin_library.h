// Loads a plug-in library by path and finds its two exports.
#pragma once

#include <cstdint>
#include <string>

#include "plugin.h"

typedef int32_t(EMAIL_CALL* plugin_version_fn)(void);
typedef int32_t(EMAIL_CALL* plugin_main_fn)(const char* event, void* record);

class plugin_library {
 public:
  plugin_library() = default;
  plugin_library(const plugin_library&) = delete;
  plugin_library& operator=(const plugin_library&) = delete;
  ~plugin_library();

  // Returns false and fills *error when the library or an export is missing.
  bool open(const std::string& path, std::string* error);
  void close();
  // Uses the exports of a plug-in linked into this program.
  void attach(plugin_version_fn v, plugin_main_fn m) {
    close();
    version = v;
    main = m;
  }
  bool is_open() const { return main != nullptr; }
  // The loaded module; null for an attached plug-in.
  const void* module() const { return handle_; }

  plugin_version_fn version = nullptr;
  plugin_main_fn main = nullptr;

 private:
  void* handle_ = nullptr;
};
