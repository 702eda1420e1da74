#include <windows.h>

#include "platform/net/dynlib.h"

namespace platform::dynlib {

Library Open(const std::string& name) {
  // No "cannot find the DLL" message box for an optional library.
  UINT old = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  // Only the application's folder and the system folders: a bare name would
  // also search the current directory, where anyone could plant a DLL that
  // then runs inside the host.
  HMODULE module = LoadLibraryExA(name.c_str(), nullptr, LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
  SetErrorMode(old);
  return reinterpret_cast<Library>(module);
}

Library OpenPath(const std::string& path, std::string* error) {
  HMODULE module = LoadLibraryA(path.c_str());
  if (module == nullptr) *error = "LoadLibrary failed with error " + std::to_string(GetLastError());
  return reinterpret_cast<Library>(module);
}

void* Symbol(Library library, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void Close(Library library) { FreeLibrary(static_cast<HMODULE>(library)); }

}  // namespace platform::dynlib
