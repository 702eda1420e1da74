#include <windows.h>

#include "platform/net/dynlib.h"

namespace platform::dynlib {

Library Open(const std::string& name) {
  // No "cannot find the DLL" message box for an optional library.
  UINT old = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  HMODULE module = LoadLibraryA(name.c_str());
  SetErrorMode(old);
  return reinterpret_cast<Library>(module);
}

void* Symbol(Library library, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void Close(Library library) { FreeLibrary(static_cast<HMODULE>(library)); }

}  // namespace platform::dynlib
