// The preferences page, its two dialogs ("Account Details" and "Other Global
// Options") and the preferences events. Everything here runs on the host's
// user-interface thread; the checker thread only sends the page
// REFRESH_ACCOUNTS.
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"
#include "plugin.h"

// Dialog templates of the module's resources.
constexpr int PAGE_TEMPLATE = 101;
constexpr int ACCOUNT_TEMPLATE = 102;
constexpr int OPTIONS_TEMPLATE = 103;
// The page's picture.
constexpr int PAGE_BITMAP = 104;

// Controls of the page.
constexpr int ID_ACCOUNT_LIST = 1000;
constexpr int ID_ADD = 1001;
constexpr int ID_EDIT = 1002;
constexpr int ID_REMOVE = 1003;
constexpr int ID_USE_ALERT = 1004;
constexpr int ID_USE_SECTION = 1005;
constexpr int ID_OTHER = 1036;
// Controls of "Account Details".
constexpr int ID_ADDRESS = 1006;
constexpr int ID_DISPLAY = 1007;
constexpr int ID_USERNAME = 1008;
constexpr int ID_PASSWORD = 1009;
constexpr int ID_HOSTNAME = 1010;
constexpr int ID_PORT = 1011;
constexpr int ID_TYPE = 1012;
constexpr int ID_CLIENT = 1013;
constexpr int ID_BROWSE = 1014;
constexpr int ID_MAILBOX = 1015;
constexpr int ID_INTERVAL = 1016;
constexpr int ID_SSL = 1017;
constexpr int ID_ACCOUNT_OK = 1018;
constexpr int ID_ACCOUNT_CANCEL = 1019;
constexpr int ID_ARGUMENTS = 1021;
constexpr int ID_UNSEEN = 1022;
constexpr int ID_RECENT = 1023;
// Controls of "Other Global Options".
constexpr int ID_USE_DISABLE = 1037;
constexpr int ID_USE_ICON = 1038;
constexpr int ID_USE_SOUND = 1039;
constexpr int ID_OPTIONS_OK = 1040;
constexpr int ID_OPTIONS_CANCEL = 1041;
constexpr int ID_USE_HEADER = 1042;

// How long the checker waits for the page to take a refresh before it skips
// it; the next check's refresh refills the list.
constexpr uint32_t REFRESH_TIMEOUT_MS = 5000;

// The "Other Global Options" dialog; 0 while it is closed.
extern platform::window_handle options_dialog_window;
// The program last picked with "Browse..."; every account dialog opened
// afterwards offers it. Emptied on "load".
extern std::string remembered_program_path;

// The application title that captions the plug-in's message windows: the
// host program's file name without its folder and without everything from
// its first full stop on, every letter after the first in lower case.
std::string application_title(const std::string& program_path);

intptr_t preferences_page_proc(platform::window_handle window, uint32_t message, uintptr_t wparam,
                               intptr_t lparam);
intptr_t account_dialog_proc(platform::window_handle window, uint32_t message, uintptr_t wparam,
                             intptr_t lparam);
intptr_t other_options_proc(platform::window_handle window, uint32_t message, uintptr_t wparam,
                            intptr_t lparam);
// Refills the page's account list from the account table, in table order.
void fill_account_list(platform::window_handle page);

void on_prefs_show(prefs_show_record* record);
void on_prefs_action(prefs_action_record* record);
