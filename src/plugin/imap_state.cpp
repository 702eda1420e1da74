#include "imap_state.h"

#include <cstdlib>
#include <cstring>

const char PLUGIN_ID[] = "5D1C7A42-93E0-4B8F-A6D2-71C0E94F3B58";
const char PLUGIN_NAME[] = "E-Mail Plugin";
const char PLUGIN_PUBLISHER[] = "The E-Mail Plugin Team";
const char PLUGIN_VERSION[] = "1.5";
const char PLUGIN_DESCRIPTION[] = "This plugin implements IMAP and POP3 mail checking.";
const char CONFIG_FILE_NAME[] = "mail.ini";

std::atomic<host_call_fn> host_call{nullptr};
char* plugin_dir = nullptr;
uint32_t checker_thread_id = 0;
platform::thread_handle checker_thread_handle = nullptr;
std::atomic<platform::window_handle> prefs_page_window{nullptr};
platform::window_handle account_dialog_window = nullptr;

namespace {

std::string kept_config_path;

}  // namespace

int32_t call_host(const char* function, void* record) {
  host_call_fn call = host_call.load();
  return call != nullptr ? call(PLUGIN_ID, function, record) : 0;
}

void set_plugin_dir(const char* dir) {
  free_plugin_dir();
  kept_config_path.clear();
  if (dir == nullptr) return;
  const size_t length = std::strlen(dir);
  plugin_dir = static_cast<char*>(std::malloc(length + 1));
  if (plugin_dir != nullptr) std::memcpy(plugin_dir, dir, length + 1);
  kept_config_path = std::string(dir) + CONFIG_FILE_NAME;
}

void free_plugin_dir() {
  std::free(plugin_dir);
  plugin_dir = nullptr;
}

const std::string& config_path() { return kept_config_path; }

platform::window_handle open_host_dialog(int template_id, platform::window_handle parent,
                                         platform::dialog_proc proc) {
  platform::window_handle window =
      platform::create_dialog(this_module(), template_id, parent, proc);
  dialog_record record;
  init_record(&record);
  record.window = window;
  call_host("dialogAdd", &record);
  return window;
}

void close_host_dialog(platform::window_handle window) {
  dialog_record record;
  init_record(&record);
  record.window = window;
  call_host("dialogRemove", &record);
  platform::destroy_window(window);
}
