// The system's active 8-bit code page, for the protocol clients that turn
// mail text into the text the messenger shows.
#pragma once

namespace platform {

// The ANSI code page on Windows (GetACP); 1252 elsewhere: POSIX has no ANSI
// code page, a UTF-8 locale is no 8-bit one, and the texts go to a host
// that expects Windows text, so the code page Windows itself falls back to.
unsigned active_code_page();

}  // namespace platform
