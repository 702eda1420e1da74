#include "imap_start.h"

#include <memory>
#include <string>

#include "imap_config.h"
#include "imap_def.h"
#include "imap_state.h"
#include "imap_thread.h"
#include "imap_util.h"
#include "platform/env.h"
#include "platform/platform.h"

namespace {

const char kPageName[] = "E-Mail";
// How long "stop" waits for the checker before it gives up on it.
constexpr uint32_t STOP_WAIT_MS = 5000;

// The running checker's control; set from "start" to "stop". User-interface
// thread only.
std::shared_ptr<checker_control> running_checker;
// mail.ini could not be read on "start": "stop" must not overwrite it with
// the empty table.
bool config_unreadable = false;

void report_config_problem(const std::string& error) {
  platform::message_box(nullptr, error, PLUGIN_NAME, platform::MB_ICON_EXCLAMATION);
}

void register_page() {
  prefs_page_record page;
  init_record(&page);
  page.one = 1;
  page.page_name = kPageName;
  page.zero = 0;
  call_host("prefsInitialize", &page);
}

// Stops the checker: asks it to stop (which aborts a server wait), posts
// STOP_CHECKER, and waits for it while handling what it sends us. A checker
// that does not end in time is terminated where that is possible; elsewhere
// it is left to end by itself, with this module kept loaded under it, and it
// touches neither the host nor the account table any more.
void stop_checker() {
  running_checker->request_stop();
  if (checker_thread_handle != nullptr) {
    post_to_checker(STOP_CHECKER, 0);
    if (!platform::wait_for_thread(checker_thread_handle, STOP_WAIT_MS) &&
        !platform::terminate_thread(checker_thread_handle, 0)) {
      platform::keep_module_loaded(&running_checker);
    }
    platform::close_thread(checker_thread_handle);
    checker_thread_handle = nullptr;
  }
  checker_thread_id = 0;
  running_checker.reset();
}

}  // namespace

// A first run (no mail.ini yet) starts with every option on; the flags reach
// the file with the next save.
void on_initial_load() {
  if (platform::env()->file_exists(config_path())) return;
  use_alert = 1;
  use_section = 1;
  use_icon = 1;
  use_sound = 1;
  use_disable = 1;
  use_header = 1;
}

void on_start() {
  // A second "start" without "stop" would leave the first checker running
  // with no one to stop it.
  if (running_checker != nullptr) return;
  std::string error;
  config_unreadable = !load_config(&error);
  if (config_unreadable) report_config_problem(error);
  if (config_path().empty()) {
    report_config_problem(
        "The messenger gave this plug-in no folder of its own, so it has no mail.ini: no "
        "accounts are read, and nothing you set is kept.");
  }
  load_state_bitmaps();
  register_page();

  running_checker = std::make_shared<checker_control>();
  auto* handed_over = new std::shared_ptr<checker_control>(running_checker);
  checker_thread_handle = platform::start_thread(checker_thread, handed_over, &checker_thread_id);
  if (checker_thread_handle == nullptr) delete handed_over;

  if (use_section.load() == 1 && !account_table.empty()) add_mail_group();
  if (mail_group_id != -1) add_account_entries();
  post_to_checker(CHECK_ALL, 0);
}

void write_config() {
  std::string error;
  if (!config_unreadable && !save_config(&error)) report_config_problem(error);
}

void keep_module_while_checker_runs() {
  if (running_checker != nullptr) platform::keep_module_loaded(&running_checker);
}

void on_stop() {
  // Nothing was started (or the host is gone): in particular mail.ini is
  // not written from a table that was never loaded.
  if (host_call.load() == nullptr || running_checker == nullptr) return;
  begin_busy_cursor();
  stop_checker();
  write_config();
  remove_account_entries();
  if (mail_group_id != -1) remove_mail_group();
  if (account_dialog_window != nullptr) {
    close_host_dialog(account_dialog_window);
    account_dialog_window = nullptr;
  }
  free_state_bitmaps();
  end_busy_cursor();
}
