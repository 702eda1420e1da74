// The boundary to the host messenger: the host call, the callbacks, and the
// binary records exchanged across it, with their initialisers. The
// substitute host includes this header too.
//
// On 32-bit targets every record has the host's exact layout (checked below).
// On 64-bit targets the same structs widen pointer-sized fields to 8 bytes
// with natural alignment, and the size field holds that build's sizeof.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32) && !defined(_WIN64)
#define EMAIL_CALL __cdecl
#else
#define EMAIL_CALL
#endif

extern "C" {

// (plug-in id, host function name, record) -> result.
typedef int32_t(EMAIL_CALL* host_call_fn)(const char* plugin_id, const char* function,
                                          void* record);

// (unused, unused, event name, event data, user data) -> 0.
typedef int32_t(EMAIL_CALL* host_callback_fn)(uintptr_t, uintptr_t, const char* event,
                                              uintptr_t data, uintptr_t user_data);

// The account reference handed to the host and the checker: a stable key.
typedef uint32_t account_ref;

typedef void* bitmap_handle;

struct state_rect {
  int32_t left, top, right, bottom;
};

// "load": filled by the host, identity written back by the plug-in.
struct plugin_info_record {
  int32_t unused0;
  const char* plugin_dir;  // ends with a path separator
  uint8_t unused8[8];
  host_call_fn host_call;
  char id[128];
  char name[256];
  char publisher[256];
  char version[64];
  char description[256];  // host-defined width; the plug-in writes 52 bytes
};

// "prefsShow".
struct prefs_show_record {
  int32_t unused0;
  int32_t show;  // 1 show, 0 hide
  const char* page_name;
  int32_t unused12;
  void* parent_window;
  int32_t x;
  int32_t y;
  int32_t unused28;
  char name[128];
  char description[1024];
  bitmap_handle bitmap;
};

// "prefsAction".
struct prefs_action_record {
  int32_t unused0;
  int32_t action;  // 0, 1 or 2
};

// "prefsInitialize".
struct prefs_page_record {
  int32_t size;
  int32_t one;
  const char* page_name;
  int32_t zero;
};

// "dialogAdd", "dialogRemove".
struct dialog_record {
  int32_t size;
  void* window;
};

struct list_entry_sub_record {
  int32_t size;
  int32_t one;
  uint8_t zero8[32];
  int32_t minus_one[6];
};

struct list_icon_record {
  int32_t size;
  int32_t one;
  bitmap_handle* bitmap;  // a slot of state_bitmaps, or null for none
  state_rect* rect;       // a slot of state_rects
  uint8_t unused16[12];
  int32_t field28;
  uint8_t unused32[16];
};

struct menu_item_record {
  int32_t size;
  int32_t field4;  // -1
  uint8_t unused8[4];
  int32_t field12;  // 0
  uint8_t unused16[16];
  const char* label;
  uint8_t unused36[4];
  uintptr_t user_data;  // address of the item's menu_data
  uint8_t unused44[8];
  menu_item_record* next;
  host_callback_fn callback;
};

// The plug-in's own user data of a menu item.
struct menu_data {
  int32_t command;
  account_ref account;  // 0 for "Check all for mail now!"
};

// For the group and for each account entry.
struct list_entry_record {
  int32_t size;
  int32_t is_entry;
  list_icon_record* icon;
  uint8_t unused12[8];
  list_entry_sub_record sub;
  int32_t group_id;
  int32_t field88;
  int32_t field92;
  int32_t entry_id;
  int32_t field100;
  int32_t field104;
  int32_t field108;
  int32_t field112;
  int32_t field116;
  int32_t field120;
  uint8_t unused124[32];
  const char* tooltip;
  const char* text;
  const char* name;
  const char* group_name;
  uintptr_t user_data;  // the account reference
  menu_item_record* menu;
  host_callback_fn callback;
};

// "systraySetAlert".
struct alert_record {
  int32_t size;
  const char* text;
  const char* icon_name;
  uint8_t zero12[8];
  int32_t field20;
  host_callback_fn callback;
  uintptr_t user_data;  // address of the alert_context
};

// The plug-in's own user data of an alert.
struct alert_context {
  alert_context* self;
  alert_record* alert;
  account_ref account;
};

}  // extern "C"

// Initialisers: zero-fill and write the size; the list-entry one also fills
// the embedded sub-record and the fixed -1 and 1 fields.
void init_record(prefs_page_record* r);
void init_record(dialog_record* r);
void init_record(list_icon_record* r);
void init_record(menu_item_record* r);
void init_record(list_entry_sub_record* r);
void init_record(list_entry_record* r);

#define EMAIL_CHECK_LAYOUT(type, field, off32) \
  static_assert(sizeof(void*) != 4 || offsetof(type, field) == (off32), #type "." #field)
#define EMAIL_CHECK_SIZE(type, size32) \
  static_assert(sizeof(void*) != 4 || sizeof(type) == (size32), #type " size")

EMAIL_CHECK_LAYOUT(plugin_info_record, plugin_dir, 4);
EMAIL_CHECK_LAYOUT(plugin_info_record, host_call, 16);
EMAIL_CHECK_LAYOUT(plugin_info_record, id, 20);
EMAIL_CHECK_LAYOUT(plugin_info_record, name, 148);
EMAIL_CHECK_LAYOUT(plugin_info_record, publisher, 404);
EMAIL_CHECK_LAYOUT(plugin_info_record, version, 660);
EMAIL_CHECK_LAYOUT(plugin_info_record, description, 724);

EMAIL_CHECK_LAYOUT(prefs_show_record, show, 4);
EMAIL_CHECK_LAYOUT(prefs_show_record, page_name, 8);
EMAIL_CHECK_LAYOUT(prefs_show_record, parent_window, 16);
EMAIL_CHECK_LAYOUT(prefs_show_record, x, 20);
EMAIL_CHECK_LAYOUT(prefs_show_record, y, 24);
EMAIL_CHECK_LAYOUT(prefs_show_record, name, 32);
EMAIL_CHECK_LAYOUT(prefs_show_record, description, 160);
EMAIL_CHECK_LAYOUT(prefs_show_record, bitmap, 1184);
EMAIL_CHECK_SIZE(prefs_show_record, 1188);

EMAIL_CHECK_LAYOUT(prefs_action_record, action, 4);
EMAIL_CHECK_SIZE(prefs_page_record, 16);
EMAIL_CHECK_LAYOUT(prefs_page_record, page_name, 8);
EMAIL_CHECK_SIZE(dialog_record, 8);

EMAIL_CHECK_SIZE(list_entry_sub_record, 64);
EMAIL_CHECK_LAYOUT(list_entry_sub_record, minus_one, 40);

EMAIL_CHECK_SIZE(list_icon_record, 48);
EMAIL_CHECK_LAYOUT(list_icon_record, bitmap, 8);
EMAIL_CHECK_LAYOUT(list_icon_record, rect, 12);
EMAIL_CHECK_LAYOUT(list_icon_record, field28, 28);

EMAIL_CHECK_SIZE(menu_item_record, 60);
EMAIL_CHECK_LAYOUT(menu_item_record, field12, 12);
EMAIL_CHECK_LAYOUT(menu_item_record, label, 32);
EMAIL_CHECK_LAYOUT(menu_item_record, user_data, 40);
EMAIL_CHECK_LAYOUT(menu_item_record, next, 52);
EMAIL_CHECK_LAYOUT(menu_item_record, callback, 56);
EMAIL_CHECK_SIZE(menu_data, 8);

EMAIL_CHECK_SIZE(list_entry_record, 184);
EMAIL_CHECK_LAYOUT(list_entry_record, icon, 8);
EMAIL_CHECK_LAYOUT(list_entry_record, sub, 20);
EMAIL_CHECK_LAYOUT(list_entry_record, group_id, 84);
EMAIL_CHECK_LAYOUT(list_entry_record, entry_id, 96);
EMAIL_CHECK_LAYOUT(list_entry_record, field120, 120);
EMAIL_CHECK_LAYOUT(list_entry_record, tooltip, 156);
EMAIL_CHECK_LAYOUT(list_entry_record, text, 160);
EMAIL_CHECK_LAYOUT(list_entry_record, name, 164);
EMAIL_CHECK_LAYOUT(list_entry_record, group_name, 168);
EMAIL_CHECK_LAYOUT(list_entry_record, user_data, 172);
EMAIL_CHECK_LAYOUT(list_entry_record, menu, 176);
EMAIL_CHECK_LAYOUT(list_entry_record, callback, 180);

EMAIL_CHECK_SIZE(alert_record, 32);
EMAIL_CHECK_LAYOUT(alert_record, text, 4);
EMAIL_CHECK_LAYOUT(alert_record, icon_name, 8);
EMAIL_CHECK_LAYOUT(alert_record, field20, 20);
EMAIL_CHECK_LAYOUT(alert_record, callback, 24);
EMAIL_CHECK_LAYOUT(alert_record, user_data, 28);
EMAIL_CHECK_SIZE(alert_context, 12);

#undef EMAIL_CHECK_LAYOUT
#undef EMAIL_CHECK_SIZE
