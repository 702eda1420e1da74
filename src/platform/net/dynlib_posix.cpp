#include <dlfcn.h>

#include "platform/net/dynlib.h"

namespace platform::dynlib {

Library Open(const std::string& name) { return dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL); }

Library OpenPath(const std::string& path, std::string* error) {
  Library library = Open(path);
  if (library == nullptr) *error = dlerror();
  return library;
}

void* Symbol(Library library, const char* name) { return dlsym(library, name); }

void Close(Library library) { dlclose(library); }

}  // namespace platform::dynlib
