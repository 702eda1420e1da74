// The plug-in's lifecycle state: who it is to the host, the host call, its
// directory and mail.ini, its windows and the checker thread, and the
// registration of dialogs with the host. It sits beneath the other units,
// which include it; imap_main, which dispatches the host's events, sits on
// top of them all.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "platform/platform.h"
#include "plugin.h"

// Identity reported to the host.
extern const char PLUGIN_ID[];
extern const char PLUGIN_NAME[];
extern const char PLUGIN_PUBLISHER[];
extern const char PLUGIN_VERSION[];
extern const char PLUGIN_DESCRIPTION[];
extern const char CONFIG_FILE_NAME[];  // "mail.ini"

// Lifecycle globals. The host call and the preferences page are read by the
// checker thread as well, so they are atomic; the others belong to the
// user-interface thread.
extern std::atomic<host_call_fn> host_call;
extern char* plugin_dir;
extern uint32_t checker_thread_id;
extern platform::thread_handle checker_thread_handle;
extern std::atomic<platform::window_handle> prefs_page_window;
extern platform::window_handle account_dialog_window;

// Calls the host function `function` with `record`; returns 0 without a call
// while no host call is set.
int32_t call_host(const char* function, void* record);

// Makes plugin_dir a heap copy of `dir` and config_path() the mail.ini in
// it; a null `dir` leaves both empty. The previous copy is released, so a
// second "load" leaks nothing.
void set_plugin_dir(const char* dir);
// Releases plugin_dir; config_path() stays.
void free_plugin_dir();

// The full path of mail.ini. Known from "load" on and kept after "unload",
// which releases plugin_dir, so that "finalUnload" finds the file whichever
// of the two the host sends first. Empty when the host gave no directory:
// then there is no file to read, write or delete.
const std::string& config_path();

// The plug-in module, whose resources hold the dialog templates.
platform::module_handle this_module();

// Creates a modeless dialog from the module's template and registers it with
// the host ("dialogAdd"); returns the window (0 when it could not be made).
platform::window_handle open_host_dialog(int template_id, platform::window_handle parent,
                                         platform::dialog_proc proc);
// Unregisters the dialog ("dialogRemove") and destroys it.
void close_host_dialog(platform::window_handle window);
