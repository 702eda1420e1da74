// Opening shared libraries at run time (LoadLibrary on Windows, dlopen
// elsewhere), so an optional dependency such as the TLS library may be absent.
#pragma once

#include <string>

namespace platform::dynlib {

// True on Windows, where library names follow the DLL conventions.
#ifdef _WIN32
inline constexpr bool kWindowsNames = true;
#else
inline constexpr bool kWindowsNames = false;
#endif

// An opened library; null when it could not be opened.
using Library = void*;

// On Windows a bare name is looked up in the application's folder and the
// system folders only, never in the current directory.
Library Open(const std::string& name);
// Opens the library at `path`, a file the caller chose (a host loading a
// plug-in); on failure returns null and fills *error with the system's reason.
Library OpenPath(const std::string& path, std::string* error);
// The address of an exported symbol, null when the library has none.
void* Symbol(Library library, const char* name);
void Close(Library library);

}  // namespace platform::dynlib
