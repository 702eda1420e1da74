// The two exports and the dispatch of the host's events; the top of the
// plug-in. The state the events drive lives in imap_state.h, included here
// for the callers of the exports (the tests) that look at it.
#pragma once

#include <cstdint>

#include "imap_state.h"
#include "plugin.h"

#if defined(_WIN32)
#define EMAIL_EXPORT __declspec(dllexport)
#else
#define EMAIL_EXPORT __attribute__((visibility("default")))
#endif

extern "C" {
EMAIL_EXPORT int32_t EMAIL_CALL plugin_version(void);
EMAIL_EXPORT int32_t EMAIL_CALL plugin_main(const char* event, void* record);
}

// Releases the module's globals when the library is detached.
void release_module_globals();
