#include <dlfcn.h>

#include "plugin_library.h"

plugin_library::~plugin_library() { close(); }

bool plugin_library::open(const std::string& path, std::string* error) {
  close();
  handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle_ == nullptr) {
    *error = dlerror();
    return false;
  }
  version = reinterpret_cast<plugin_version_fn>(dlsym(handle_, "plugin_version"));
  main = reinterpret_cast<plugin_main_fn>(dlsym(handle_, "plugin_main"));
  if (version == nullptr || main == nullptr) {
    *error = "the library does not export plugin_version and plugin_main";
    close();
    return false;
  }
  return true;
}

void plugin_library::close() {
  if (handle_ != nullptr) dlclose(handle_);
  handle_ = nullptr;
  version = nullptr;
  main = nullptr;
}
