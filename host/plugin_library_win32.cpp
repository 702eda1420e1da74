#include <windows.h>

#include "plugin_library.h"

plugin_library::~plugin_library() { close(); }

bool plugin_library::open(const std::string& path, std::string* error) {
  close();
  HMODULE module = LoadLibraryA(path.c_str());
  if (module == nullptr) {
    *error = "LoadLibrary failed with error " + std::to_string(GetLastError());
    return false;
  }
  handle_ = module;
  version = reinterpret_cast<plugin_version_fn>(
      reinterpret_cast<void*>(GetProcAddress(module, "plugin_version")));
  main = reinterpret_cast<plugin_main_fn>(
      reinterpret_cast<void*>(GetProcAddress(module, "plugin_main")));
  if (version == nullptr || main == nullptr) {
    *error = "the library does not export plugin_version and plugin_main";
    close();
    return false;
  }
  return true;
}

void plugin_library::close() {
  if (handle_ != nullptr) FreeLibrary(static_cast<HMODULE>(handle_));
  handle_ = nullptr;
  version = nullptr;
  main = nullptr;
}
