#include "plugin_library.h"

#include "platform/net/dynlib.h"

plugin_library::~plugin_library() { close(); }

bool plugin_library::open(const std::string& path, std::string* error) {
  close();
  handle_ = platform::dynlib::OpenPath(path, error);
  if (handle_ == nullptr) return false;
  version =
      reinterpret_cast<plugin_version_fn>(platform::dynlib::Symbol(handle_, "plugin_version"));
  main = reinterpret_cast<plugin_main_fn>(platform::dynlib::Symbol(handle_, "plugin_main"));
  if (version == nullptr || main == nullptr) {
    *error = "the library does not export plugin_version and plugin_main";
    close();
    return false;
  }
  return true;
}

void plugin_library::close() {
  if (handle_ != nullptr) platform::dynlib::Close(handle_);
  handle_ = nullptr;
  version = nullptr;
  main = nullptr;
}
