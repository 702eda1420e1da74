#include "imap_windows.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "imap_def.h"
#include "imap_start.h"
#include "imap_state.h"
#include "imap_thread.h"
#include "imap_util.h"
#include "text.h"

platform::window_handle options_dialog_window = nullptr;
std::string remembered_program_path;

namespace {

const char kPageName[] = "E-Mail";
const char kPageDescription[] = "E-Mail Checker for IMAP and POP3 accounts.";
// Texts are read up to this many characters.
constexpr size_t MAX_TEXT = 255;

const char* const kTypeNames[] = {"IMAP", "POP3"};  // by accttype
// Ports by accttype, without and with TLS.
const char* const kPorts[][2] = {{"143", "993"}, {"110", "995"}};

// The account the open dialog edits, by key: its index may change while the
// dialog is open (an earlier account removed), and the account may be
// removed altogether.
account_ref edited_account = 0;

// The texts of an account as the dialog shows them, and the messages of the
// ones that must not be empty, in the order they are tested.
struct text_field {
  int id;
  std::string imap_info::*member;
  const char* missing;  // null: may be empty
};
const text_field kTextFields[] = {
    {ID_ADDRESS, &imap_info::address, "Please enter the e-mail address for this account.\r\n"},
    {ID_DISPLAY, &imap_info::display, "Please enter a description for this account.\r\n"},
    {ID_USERNAME, &imap_info::username, "Please enter the server username for this account.\r\n"},
    {ID_PASSWORD, &imap_info::password, "Please enter the server password for this account.\r\n"},
    {ID_HOSTNAME, &imap_info::hostname, "Please enter the server hostname for this account.\r\n"},
    {ID_CLIENT, &imap_info::client, nullptr},
    {ID_ARGUMENTS, &imap_info::arguments, nullptr},
};
const char kNoType[] = "Please select an account type.\r\n";
const char kNoMailbox[] = "Please enter the IMAP folder for this account.\r\n";
const char kNoPort[] = "Please enter the server port for this account.\r\n";
const char kNoInterval[] = "Please enter the time between email checks for this account.\r\n";

// The option check boxes of "Other Global Options", in the order OK reads
// them.
struct option_box {
  int id;
  std::atomic<uint8_t>* option;
};
const option_box kOtherOptions[] = {
    {ID_USE_DISABLE, &use_disable},
    {ID_USE_ICON, &use_icon},
    {ID_USE_SOUND, &use_sound},
    {ID_USE_HEADER, &use_header},
};

// The modal message window of the page and the account dialog: OK only, no
// icon, centred on the screen.
void show_message(const std::string& text) {
  platform::message_box(nullptr, text, application_title(platform::program_path()),
                        platform::MB_OK_BUTTON | platform::MB_TASK_MODAL);
}

// A field's text. A line break pasted into a single-line field ends the
// text there, as in the system's own edit control, so it can never reach
// mail.ini as a line of its own.
std::string read_text(platform::window_handle dialog, int id) {
  std::string text = platform::control_text(dialog, id, MAX_TEXT);
  const size_t line_end = text.find_first_of("\r\n");
  if (line_end != std::string::npos) text.erase(line_end);
  return text;
}

// A port or interval. Anything but decimal digits, and any value that does
// not fit the account's signed 32-bit field, reads as 0, which the
// validation reports.
int32_t read_number(platform::window_handle dialog, int id) {
  const std::string text = read_text(dialog, id);
  if (text.empty()) return 0;
  int64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return 0;
    value = value * 10 + (c - '0');
    if (value > INT32_MAX) return 0;
  }
  return static_cast<int32_t>(value);
}

void send_refresh_to_page() {
  if (platform::window_handle page = prefs_page_window.load()) {
    platform::send_message(page, REFRESH_ACCOUNTS, 0, 0);
  }
}

void close_account_dialog() {
  platform::window_handle dialog = account_dialog_window;
  account_dialog_window = nullptr;
  if (dialog != nullptr) close_host_dialog(dialog);
}

void close_options_dialog() {
  platform::window_handle dialog = options_dialog_window;
  options_dialog_window = nullptr;
  if (dialog != nullptr) close_host_dialog(dialog);
}

void enable_imap_controls(platform::window_handle dialog, bool enabled) {
  for (int id : {ID_MAILBOX, ID_UNSEEN, ID_RECENT}) platform::enable_control(dialog, id, enabled);
}

// -1 when the type box shows no type.
int32_t selected_type(platform::window_handle dialog) {
  const std::string type = read_text(dialog, ID_TYPE);
  for (int32_t t = 0; t < 2; ++t) {
    if (type == kTypeNames[t]) return t;
  }
  return -1;
}

void on_type_changed(platform::window_handle dialog) {
  const int32_t type = selected_type(dialog);
  if (type < 0) return;
  platform::set_control_text(dialog, ID_PORT, kPorts[type][platform::is_checked(dialog, ID_SSL)]);
  enable_imap_controls(dialog, type == ACCOUNT_IMAP);
  if (type == ACCOUNT_IMAP) {
    platform::set_checked(dialog, ID_UNSEEN, true);
    platform::set_checked(dialog, ID_RECENT, false);
  }
}

void on_ssl_clicked(platform::window_handle dialog) {
  const int32_t type = selected_type(dialog);
  platform::set_control_text(dialog, ID_PORT,
                             type < 0 ? "" : kPorts[type][platform::is_checked(dialog, ID_SSL)]);
}

void on_browse(platform::window_handle dialog) {
  std::string path;
  if (!platform::choose_open_file(dialog, "Open", "Program Files (*.exe)", "*.exe", &path)) {
    return;
  }
  remembered_program_path = path;
  platform::set_control_text(dialog, ID_CLIENT, path);
}

// Reads every field into account_edit.info; returns the messages of the
// fields that are missing, empty when there is none.
std::string read_account_fields(platform::window_handle dialog) {
  imap_info& info = account_edit.info;
  std::string problems;
  const int32_t type = selected_type(dialog);
  if (type < 0) {
    problems += kNoType;
  } else {
    info.accttype = type;
  }
  for (const text_field& field : kTextFields) {
    info.*field.member = read_text(dialog, field.id);
    if (field.missing != nullptr && (info.*field.member).empty()) problems += field.missing;
  }
  info.mailbox = read_text(dialog, ID_MAILBOX);
  if (info.mailbox.empty() && type == ACCOUNT_IMAP) problems += kNoMailbox;
  info.port = read_number(dialog, ID_PORT);
  if (info.port == 0) problems += kNoPort;
  info.attempt = read_number(dialog, ID_INTERVAL);
  if (info.attempt == 0) problems += kNoInterval;
  info.ssl = platform::is_checked(dialog, ID_SSL) ? 1 : 0;
  info.unseen = platform::is_checked(dialog, ID_UNSEEN) ? 1 : 0;
  return problems;
}

// Stores account_edit as a new account, or over the edited one, gives it
// its entry and has it checked at once.
void store_account() {
  // An edited account that was removed meanwhile comes back as a new one
  // rather than overwriting whichever account took its place.
  int32_t index = edited_account != 0 ? account_table.index_of(edited_account) : -1;
  account_ref key = edited_account;
  if (index < 0) {
    index = append_account(account_edit.info);
    key = account_table.key_at(static_cast<size_t>(index));
    if (use_section.load() == 1 && mail_group_id == -1) add_mail_group();
    if (mail_group_id != -1) add_account_entry(key);
  } else {
    remove_account_entry(key);
    replace_account(account_edit.info, index);
    if (use_section.load() == 1 && mail_group_id != -1) add_account_entry(key);
  }
  account_edit.index = index;
  post_to_checker(CHECK_ACCOUNT, key);
  send_refresh_to_page();
}

void on_account_ok(platform::window_handle dialog) {
  const std::string problems = read_account_fields(dialog);
  if (!problems.empty()) {
    show_message(problems);
    return;
  }
  store_account();
  close_account_dialog();
}

void init_account_dialog(platform::window_handle dialog) {
  const imap_info& info = account_edit.info;
  for (const char* name : kTypeNames) platform::add_combo_item(dialog, ID_TYPE, name);
  if (info.accttype == ACCOUNT_POP3 || info.accttype == ACCOUNT_IMAP) {
    platform::select_combo_item(dialog, ID_TYPE, info.accttype);
    enable_imap_controls(dialog, info.accttype == ACCOUNT_IMAP);
  }
  for (const text_field& field : kTextFields) {
    platform::set_control_text(dialog, field.id, info.*field.member);
  }
  platform::set_control_text(dialog, ID_MAILBOX, info.mailbox);
  platform::set_control_text(dialog, ID_PORT, std::to_string(info.port));
  platform::set_control_text(dialog, ID_INTERVAL, std::to_string(info.attempt));
  platform::set_checked(dialog, ID_SSL, info.ssl != 0);
  platform::set_checked(dialog, ID_UNSEEN, info.unseen != 0);
  platform::set_checked(dialog, ID_RECENT, info.unseen == 0);
  if (!remembered_program_path.empty()) {
    platform::set_control_text(dialog, ID_CLIENT, remembered_program_path);
  }
}

// Opens "Account Details" for the account at `index`, or for a new account
// when it is -1. While the dialog is open it owns account_edit, so a second
// request brings it forward instead of opening another.
void open_account_dialog(platform::window_handle page, int32_t index) {
  if (account_dialog_window != nullptr) {
    platform::bring_to_front(account_dialog_window);
    return;
  }
  if (index < 0) {
    edited_account = 0;
    set_new_account_defaults(account_edit.info);
  } else {
    imap_info account;
    if (!account_table.copy_at(static_cast<size_t>(index), &account)) return;
    edited_account = account.key;
    copy_account_settings(account, account_edit.info);
  }
  account_edit.index = index;
  account_dialog_window = open_host_dialog(ACCOUNT_TEMPLATE, page, account_dialog_proc);
  if (account_dialog_window == nullptr) return;
  if (index >= 0) platform::enable_control(account_dialog_window, ID_ADDRESS, false);
  platform::show_window(account_dialog_window, true);
}

void open_options_dialog(platform::window_handle page) {
  if (options_dialog_window != nullptr) {
    platform::bring_to_front(options_dialog_window);
    return;
  }
  options_dialog_window = open_host_dialog(OPTIONS_TEMPLATE, page, other_options_proc);
  if (options_dialog_window != nullptr) platform::show_window(options_dialog_window, true);
}

void remove_selected_account(platform::window_handle page, int32_t mark) {
  imap_info account;
  if (!account_table.copy_at(static_cast<size_t>(mark), &account)) return;
  const int32_t answer = platform::message_box(
      page, "Are you sure you want to remove the " + account.address + " account?", "Information",
      platform::MB_YES_NO | platform::MB_ICON_QUESTION | platform::MB_DEFAULT_BUTTON_2);
  if (answer != platform::ANSWER_YES) return;
  // Looked up again by key: the table may have changed while the question
  // was open.
  const int32_t index = account_table.index_of(account.key);
  if (index < 0) return;
  remove_account_entry(account.key);
  delete_account(index);
  send_refresh_to_page();
}

void on_page_button(platform::window_handle page, int id) {
  const int32_t mark = platform::list_selection_mark(page, ID_ACCOUNT_LIST);
  switch (id) {
    case ID_ADD:
      open_account_dialog(page, -1);
      break;
    case ID_EDIT:
      if (mark < 0) {
        show_message("Please select an account before clicking the \"Edit\" button.");
      } else {
        open_account_dialog(page, mark);
      }
      break;
    case ID_REMOVE:
      if (mark < 0) {
        show_message("Please select an account before clicking the \"Remove\" button.");
      } else {
        remove_selected_account(page, mark);
      }
      break;
    case ID_OTHER:
      open_options_dialog(page);
      break;
    default:
      break;
  }
}

void close_page() {
  platform::window_handle page = prefs_page_window.exchange(nullptr);
  if (page != nullptr) close_host_dialog(page);
}

// After "prefsAction" 2: one group with one entry per account when the
// accounts belong in the contact list, neither group nor entries otherwise.
void refresh_contact_list() {
  remove_account_entries();
  if (use_section.load() == 1) {
    if (mail_group_id == -1) add_mail_group();
    add_account_entries();
  } else if (mail_group_id != -1) {
    remove_mail_group();
  }
}

}  // namespace

std::string application_title(const std::string& program_path) {
  const size_t slash = program_path.find_last_of("/\\");
  std::string title = slash == std::string::npos ? program_path : program_path.substr(slash + 1);
  const size_t dot = title.find('.');
  if (dot != std::string::npos) title.erase(dot);
  for (size_t i = 1; i < title.size(); ++i) title[i] = LowerAscii(title[i]);
  return title;
}

void fill_account_list(platform::window_handle page) {
  platform::clear_list(page, ID_ACCOUNT_LIST);
  const std::vector<imap_info> accounts = account_table.snapshot();
  for (size_t i = 0; i < accounts.size(); ++i) {
    const imap_info& a = accounts[i];
    const std::string checked = a.next_check == 0     ? "Disabled!"
                                : a.last_checked == 0 ? "Never"
                                                      : platform::format_local_time(a.last_checked);
    const bool known_type = a.accttype == ACCOUNT_IMAP || a.accttype == ACCOUNT_POP3;
    platform::add_list_row(page, ID_ACCOUNT_LIST, static_cast<int>(i),
                           {a.address, checked, known_type ? kTypeNames[a.accttype] : ""});
  }
}

intptr_t preferences_page_proc(platform::window_handle window, uint32_t message, uintptr_t wparam,
                               intptr_t lparam) {
  switch (message) {
    case platform::MSG_INITDIALOG:
      platform::set_checked(window, ID_USE_ALERT, use_alert.load() != 0);
      platform::set_checked(window, ID_USE_SECTION, use_section.load() != 0);
      platform::add_list_column(window, ID_ACCOUNT_LIST, 0, "E-mail Address", 150,
                                platform::column_align::left);
      platform::add_list_column(window, ID_ACCOUNT_LIST, 1, "Last Checked", 155,
                                platform::column_align::center);
      platform::add_list_column(window, ID_ACCOUNT_LIST, 2, "Type", 53,
                                platform::column_align::center);
      fill_account_list(window);
      break;
    case platform::MSG_COMMAND:
      if (platform::command_code(wparam) == platform::NOTIFY_CLICKED) {
        on_page_button(window, platform::command_id(wparam));
      }
      break;
    case platform::MSG_NOTIFY: {
      const auto* header = reinterpret_cast<const platform::notify_header*>(lparam);
      if (header != nullptr && header->id == ID_ACCOUNT_LIST &&
          header->code == platform::NOTIFY_DOUBLE_CLICK) {
        const int32_t mark = platform::list_selection_mark(window, ID_ACCOUNT_LIST);
        if (mark >= 0) open_account_dialog(window, mark);
      }
      break;
    }
    case REFRESH_ACCOUNTS:
      fill_account_list(window);
      break;
    case platform::MSG_CLOSE:
      close_account_dialog();
      break;
    case platform::MSG_DESTROY:
      use_alert = platform::is_checked(window, ID_USE_ALERT) ? 1 : 0;
      use_section = platform::is_checked(window, ID_USE_SECTION) ? 1 : 0;
      // The dialogs opened from the page go with it: left open, they would
      // act on a page that no longer exists.
      close_account_dialog();
      close_options_dialog();
      break;
    default:
      break;
  }
  return 0;
}

intptr_t account_dialog_proc(platform::window_handle window, uint32_t message, uintptr_t wparam,
                             intptr_t) {
  switch (message) {
    case platform::MSG_INITDIALOG:
      init_account_dialog(window);
      break;
    case platform::MSG_COMMAND: {
      const int id = platform::command_id(wparam);
      const uint32_t code = platform::command_code(wparam);
      if (id == ID_TYPE && code == platform::NOTIFY_SELECTION_CHANGED) {
        on_type_changed(window);
      } else if (code != platform::NOTIFY_CLICKED) {
        break;
      } else if (id == ID_SSL) {
        on_ssl_clicked(window);
      } else if (id == ID_BROWSE) {
        on_browse(window);
      } else if (id == ID_ACCOUNT_OK) {
        on_account_ok(window);
      } else if (id == ID_ACCOUNT_CANCEL) {
        close_account_dialog();
      }
      break;
    }
    case platform::MSG_CLOSE:
      close_account_dialog();
      break;
    default:
      break;
  }
  return 0;
}

intptr_t other_options_proc(platform::window_handle window, uint32_t message, uintptr_t wparam,
                            intptr_t) {
  switch (message) {
    case platform::MSG_INITDIALOG:
      for (const option_box& box : kOtherOptions) {
        platform::set_checked(window, box.id, box.option->load() != 0);
      }
      break;
    case platform::MSG_COMMAND:
      if (platform::command_code(wparam) != platform::NOTIFY_CLICKED) break;
      if (platform::command_id(wparam) == ID_OPTIONS_OK) {
        for (const option_box& box : kOtherOptions) {
          *box.option = platform::is_checked(window, box.id) ? 1 : 0;
        }
        close_options_dialog();
      } else if (platform::command_id(wparam) == ID_OPTIONS_CANCEL) {
        close_options_dialog();
      }
      break;
    case platform::MSG_CLOSE:
      close_options_dialog();
      break;
    default:
      break;
  }
  return 0;
}

void on_prefs_show(prefs_show_record* record) {
  if (record == nullptr || record->page_name == nullptr ||
      std::strcmp(record->page_name, kPageName) != 0) {
    return;
  }
  std::snprintf(record->name, sizeof record->name, "%s", kPageName);
  std::snprintf(record->description, sizeof record->description, "%s", kPageDescription);
  record->bitmap = platform::load_bitmap(this_module(), PAGE_BITMAP);
  if (record->show == 1) {
    if (prefs_page_window.load() == nullptr) {
      platform::window_handle page =
          open_host_dialog(PAGE_TEMPLATE, record->parent_window, preferences_page_proc);
      prefs_page_window = page;
      platform::move_window(page, record->x, record->y);
    }
    platform::show_window(prefs_page_window.load(), true);
  } else if (record->show == 0 && prefs_page_window.load() != nullptr) {
    platform::show_window(prefs_page_window.load(), false);
  }
}

void on_prefs_action(prefs_action_record* record) {
  if (record == nullptr) return;
  switch (record->action) {
    case 0:
      close_page();
      break;
    case 2:
      close_page();
      write_config();
      refresh_contact_list();
      break;
    default:
      break;
  }
}
