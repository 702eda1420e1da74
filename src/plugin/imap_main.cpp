#include "imap_main.h"

#include <algorithm>
#include <cstring>

#include "imap_start.h"
#include "imap_util.h"
#include "imap_windows.h"
#include "platform/env.h"
#include "text.h"

namespace {

// Writes the text and its NUL and nothing after them: the description
// buffer is only as wide as the host made it, which may be no more than the
// text needs.
template <size_t N>
void copy_text(char (&buffer)[N], const char* text) {
  const size_t length = std::min(std::strlen(text), N - 1);
  std::memcpy(buffer, text, length);
  buffer[length] = '\0';
}

void on_load(plugin_info_record* info) {
  if (info == nullptr) return;
  copy_text(info->id, PLUGIN_ID);
  copy_text(info->name, PLUGIN_NAME);
  copy_text(info->publisher, PLUGIN_PUBLISHER);
  copy_text(info->version, PLUGIN_VERSION);
  copy_text(info->description, PLUGIN_DESCRIPTION);

  // Without a directory the plug-in has no file of its own: a mail.ini in
  // whatever the current directory is belongs to someone else.
  set_plugin_dir(info->plugin_dir);

  host_call.store(info->host_call);
  remembered_program_path.clear();
}

void on_unload() {
  free_plugin_dir();
  if (prefs_page_window != nullptr) {
    close_host_dialog(prefs_page_window);
    prefs_page_window = nullptr;
  }
  host_call.store(nullptr);
  keep_module_while_checker_runs();
}

void on_final_unload() {
  const int32_t answer = platform::message_box(
      prefs_page_window,
      "Would you like to keep your configuration?\r\n"
      "If you chose \"No\" you will have to re-enter the account details if you reload this "
      "plugin.",
      "Confirm", platform::MB_YES_NO | platform::MB_ICON_QUESTION);
  if (answer == platform::ANSWER_NO && !config_path().empty()) {
    platform::env()->delete_file(config_path());
  }
}

}  // namespace

int32_t EMAIL_CALL plugin_version(void) { return 1; }

int32_t EMAIL_CALL plugin_main(const char* event, void* record) {
  if (event == nullptr) return 0;
  const std::string_view name = event;
  if (SameTextAscii(name, "load")) {
    on_load(static_cast<plugin_info_record*>(record));
  } else if (SameTextAscii(name, "initialLoad")) {
    on_initial_load();
  } else if (SameTextAscii(name, "start")) {
    on_start();
  } else if (SameTextAscii(name, "stop")) {
    on_stop();
  } else if (SameTextAscii(name, "unload")) {
    on_unload();
  } else if (SameTextAscii(name, "finalUnload")) {
    on_final_unload();
  } else if (SameTextAscii(name, "prefsShow")) {
    on_prefs_show(static_cast<prefs_show_record*>(record));
  } else if (SameTextAscii(name, "prefsAction")) {
    on_prefs_action(static_cast<prefs_action_record*>(record));
  }
  return 0;
}

// The kept path is a C++ object with its own static destructor; the heap
// copy of the directory and the alerts no host destroyed need releasing here.
void release_module_globals() {
  free_plugin_dir();
  free_live_alerts();
}
