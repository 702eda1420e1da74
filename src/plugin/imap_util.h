// The plug-in's presence in the host's contact list: the "My Mail Accounts"
// group, one entry per account with its state icon, text, tooltip and menu,
// the tray alerts, and the callbacks through which the host reports what the
// user did with them. Also the state bitmaps the entries show.
//
// Threads and ownership
// ---------------------
// Group and entries are added and removed, and the callbacks run, on the
// host's user-interface thread; icon, text and tooltip updates and alerts
// also come from the checker thread. Accounts are always named by their key
// (account_ref): the host gets the key as user data, menu data and alert
// contexts carry it, and it is looked up on use, so a key whose account is
// gone does nothing.
//
// An entry's records (list entry, icon, menu items and their menu data)
// belong to this unit from add_account_entry until remove_account_entry and
// are guarded by its own lock, which is never held across a host call. The
// host is handed the entry's own records, which stay at their address until
// "listRemoveEntry". One host call at a time uses an entry's records: an
// update asked for while another thread is in a host call with them is
// handed over by that thread after its call, and an entry removed meanwhile
// is removed from the host and freed by that thread too. So no thread
// changes what the host is reading, frees what it is using, or waits for a
// host call.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "imap_def.h"
#include "plugin.h"

// State icons: index into state_bitmaps and state_rects.
constexpr int ICON_NO_MAIL = 0;
constexpr int ICON_NEW_MAIL = 1;
constexpr int ICON_CHECKING = 2;
constexpr int ICON_FAILED = 3;
// Bitmap resource of the state icon `i` is FIRST_STATE_BITMAP + i.
constexpr int FIRST_STATE_BITMAP = 108;

// Commands of an entry's menu, in menu_data.
constexpr int32_t MENU_CHECK_NOW = 4000;
constexpr int32_t MENU_CHECK_ALL = 4001;
constexpr int32_t MENU_LAUNCH_CLIENT = 4002;

// The host's id of the mail group; -1 while there is none. User-interface
// thread only.
extern int32_t mail_group_id;

// The bitmaps and source rectangles of the four state icons. Entries point
// into these tables, so they never move; the bitmaps exist between
// load_state_bitmaps and free_state_bitmaps, and no thread updates icons
// outside that span.
extern std::array<bitmap_handle, STATE_BITMAP_COUNT> state_bitmaps;
extern std::array<state_rect, STATE_BITMAP_COUNT> state_rects;
// Loads slot i from bitmap resource FIRST_STATE_BITMAP + i of the module
// and sets every rectangle to (0, 0, 16, 16).
void load_state_bitmaps();
// Deletes the bitmaps from slot 0 upwards and leaves the slots empty.
void free_state_bitmaps();

// The entry text: "Work (2/31)" for IMAP, "Home (1)" for POP3, empty for any
// other account type.
std::string entry_text(const imap_info& account);

void add_mail_group();
// Removes the group only when the host reports it empty.
void remove_mail_group();

// One entry per account of account_table, in table order.
void add_account_entries();
// Removes every entry that exists, in table order.
void remove_account_entries();
// Adds the entry of the account `account`; an entry it already has is
// removed first. Nothing happens when there is no such account.
void add_account_entry(account_ref account);
void remove_account_entry(account_ref account);

// Each does nothing unless the account's entry exists with an id above 0.
// `icon` is a state icon index; others are ignored.
void update_entry_icon(account_ref account, int icon);
void update_entry_tooltip(account_ref account, const std::string& text);
void update_entry_text(account_ref account, const std::string& text);

// Shows a tray alert with `text` for the account; its records live until
// the host reports "alert_destroy", or until free_live_alerts.
void raise_mail_alert(account_ref account, const std::string& text);
// Frees every alert the host has not destroyed. Only for when the module is
// detached: no host can report on them any more (alerts raised after
// "unload", by a checker still running, never reach one).
void free_live_alerts();

// Starts the account's e-mail program with its arguments, if it has one.
void launch_client(account_ref account);

// The wait cursor while the user-interface thread is busy.
void begin_busy_cursor();
void end_busy_cursor();

extern "C" {
// Callbacks handed to the host; each returns 0.
int32_t EMAIL_CALL on_entry_event(uintptr_t, uintptr_t, const char* event, uintptr_t data,
                                  uintptr_t account);
int32_t EMAIL_CALL on_menu_event(uintptr_t, uintptr_t, const char* event, uintptr_t data,
                                 uintptr_t item_data);
int32_t EMAIL_CALL on_alert_event(uintptr_t, uintptr_t, const char* event, uintptr_t data,
                                  uintptr_t context);
}
