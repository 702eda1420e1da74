// Module start-up and shutdown on Windows.
#include <windows.h>

#include "imap_main.h"

platform::module_handle this_module() {
  // Asked of the address of this function so that it names whatever module
  // the code was linked into (email.dll, or a test program).
  HMODULE module = nullptr;
  GetModuleHandleExA(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCSTR>(&this_module), &module);
  return module;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    DisableThreadLibraryCalls(instance);
  } else if (reason == DLL_PROCESS_DETACH) {
    release_module_globals();
  }
  return TRUE;
}
