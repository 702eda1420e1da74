// Symbol visibility of the platform layer. On POSIX the layer is a shared
// library of its own (the stand-in for the window system that the plug-in and
// the substitute host share); on Windows it is linked into each module.
#pragma once

#if defined(_WIN32)
#define PLATFORM_API
#elif defined(EMAIL_PLATFORM_BUILD)
#define PLATFORM_API __attribute__((visibility("default")))
#else
#define PLATFORM_API
#endif
