#include "imap_util.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <mutex>
#include <set>
#include <unordered_map>
#include <utility>
#include <vector>

#include "imap_state.h"
#include "imap_thread.h"
#include "platform/env.h"
#include "platform/platform.h"

int32_t mail_group_id = -1;
std::array<bitmap_handle, STATE_BITMAP_COUNT> state_bitmaps{};
std::array<state_rect, STATE_BITMAP_COUNT> state_rects{};

namespace {

const char kMailIcon[] = "mail";
const char kGroupText[] = "My Mail Accounts";
const char kGroupTooltip[] = "This group holds all of your mail accounts.";

struct menu_item_spec {
  int32_t command;
  const char* label;
};
const menu_item_spec kMenu[] = {
    {MENU_CHECK_NOW, "Check for mail now!"},
    {MENU_LAUNCH_CLIENT, "Launch E-mail client"},
    {MENU_CHECK_ALL, "Check all for mail now!"},
};

// One account's entry. The record's text fields point into the strings here,
// so they stay valid as long as the record does.
//
// The host gets the entry's own records, which stay where they are until
// "listRemoveEntry", and one host call at a time uses them: the thread that
// makes it (the deliverer) is the only one that writes into the records or
// frees them while it runs, so the host never reads a record that another
// thread is changing. A change asked for while another thread delivers is
// left here for that thread to send after its own call. Nobody waits for a
// host call, so a host that calls back into the plug-in, or that waits for
// the other thread, cannot deadlock against an update.
//
// The records live in the block, so an entry is one allocation: tens of
// thousands of accounts then cost tens of thousands of blocks, not nine
// pieces each for the allocator to sort out when they are freed.
struct entry_block {
  list_entry_record record{};
  list_icon_record icon{};
  menu_item_record items[std::size(kMenu)]{};
  menu_data data[std::size(kMenu)]{};
  std::string text, name, tooltip;
  bool delivering = false;  // a thread is handing the records to the host
  bool removed = false;     // out of `entries`; the deliverer removes and frees it
  // Changes not handed to the host yet; the newest of each kind wins.
  int next_icon = -1;
  bool text_changed = false;
  bool tooltip_changed = false;
  std::string next_text, next_name, next_tooltip;
};

std::mutex entry_lock;
std::unordered_map<account_ref, entry_block*> entries;  // guarded by entry_lock

std::mutex alert_lock;
// Never destroyed: the module's detach frees the alerts left in it, and in a
// program that links the plug-in in, static objects are gone by then.
std::set<alert_context*>& live_alerts = *new std::set<alert_context*>;  // guarded by alert_lock

platform::cursor_handle cursor_before_busy = nullptr;

void free_alert(alert_context* context) {
  delete[] context->alert->text;
  delete context->alert;
  delete context;
}

// Hands the block's changes to the host one call at a time until none is
// left, or removes the entry from the host and frees it once it was removed.
// The caller holds entry_lock in `hold` and made itself the deliverer; the
// lock is held again on return, and a removed block is gone by then.
void deliver(entry_block* block, std::unique_lock<std::mutex>& hold) {
  list_entry_record* record = &block->record;
  for (;;) {
    const char* function;
    if (block->removed) {
      record->group_id = -1;
      hold.unlock();
      call_host("listRemoveEntry", record);
      delete block;
      hold.lock();
      return;
    }
    if (block->next_icon >= 0) {
      record->icon->bitmap = &state_bitmaps[block->next_icon];
      record->icon->rect = &state_rects[block->next_icon];
      block->next_icon = -1;
      function = "listUpdateIcon";
    } else if (block->text_changed) {
      block->name.swap(block->next_name);
      block->text.swap(block->next_text);
      record->name = block->name.c_str();
      record->text = block->text.c_str();
      block->text_changed = false;
      function = "listUpdateText";
    } else if (block->tooltip_changed) {
      block->tooltip.swap(block->next_tooltip);
      record->tooltip = block->tooltip.c_str();
      block->tooltip_changed = false;
      function = "listUpdateTooltip";
    } else {
      block->delivering = false;
      return;
    }
    hold.unlock();
    call_host(function, record);
    hold.lock();
  }
}

// Notes a change of the account's entry with `change` under the lock and
// hands it to the host, unless another thread is delivering the entry's
// changes already (it sends this one too). Does nothing unless the entry
// exists with an id above 0.
template <class Change>
void update_entry(account_ref account, Change change) {
  std::unique_lock<std::mutex> hold(entry_lock);
  auto it = entries.find(account);
  if (it == entries.end() || it->second->record.entry_id <= 0) return;
  entry_block* block = it->second;
  change(block);
  if (block->delivering) return;
  block->delivering = true;
  deliver(block, hold);
}

bool has_entry(account_ref account) {
  std::lock_guard<std::mutex> hold(entry_lock);
  return entries.count(account) != 0;
}

}  // namespace

void load_state_bitmaps() {
  free_state_bitmaps();
  for (int i = 0; i < STATE_BITMAP_COUNT; ++i) {
    state_bitmaps[i] = platform::load_bitmap(this_module(), FIRST_STATE_BITMAP + i);
    state_rects[i] = state_rect{0, 0, 16, 16};
  }
}

void free_state_bitmaps() {
  for (bitmap_handle& slot : state_bitmaps) {
    platform::delete_bitmap(slot);
    slot = nullptr;
  }
}

std::string entry_text(const imap_info& account) {
  switch (account.accttype) {
    case ACCOUNT_IMAP:
      return account.display + " (" + std::to_string(account.new_count) + "/" +
             std::to_string(account.total_count) + ")";
    case ACCOUNT_POP3:
      return account.display + " (" + std::to_string(account.new_count) + ")";
    default:
      return std::string();
  }
}

void add_mail_group() {
  list_entry_record record;
  init_record(&record);
  record.field92 = -2;
  record.field104 = 1;
  record.field108 = 1;
  record.field120 = 1;
  record.tooltip = kGroupTooltip;
  record.text = kGroupText;
  record.group_name = kMailIcon;
  call_host("listAddEntry", &record);
  // The host answers with the group id in the record, not in the result.
  mail_group_id = record.group_id;
}

void remove_mail_group() {
  list_entry_record record;
  init_record(&record);
  record.group_id = mail_group_id;
  if (call_host("listGetSectionCount", &record) != 0) return;
  record.field92 = -1;
  record.group_id = mail_group_id;
  record.field88 = -1;
  record.entry_id = -1;
  call_host("listRemoveEntry", &record);
  mail_group_id = -1;
}

// Both walk the table by index rather than through a copy of its keys: with
// tens of thousands of accounts, freeing a copy that large makes the
// allocator merge every small block the walk freed before the event ends.
void add_account_entries() {
  for (size_t i = 0, n = account_table.size(); i < n; ++i) {
    add_account_entry(account_table.key_at(i));
  }
}

void remove_account_entries() {
  for (size_t i = 0, n = account_table.size(); i < n; ++i) {
    remove_account_entry(account_table.key_at(i));
  }
  // Entries whose account left the table without them go as well.
  std::vector<account_ref> rest;
  {
    std::lock_guard<std::mutex> hold(entry_lock);
    for (const auto& e : entries) rest.push_back(e.first);
  }
  // In the order the accounts were made, whatever the map's order.
  std::sort(rest.begin(), rest.end());
  for (account_ref key : rest) remove_account_entry(key);
}

void add_account_entry(account_ref account) {
  // Only what the entry shows is read, not a copy of the whole account.
  std::string text, name;
  int32_t new_count = 0;
  if (!account_table.read(account, [&](const imap_info& a) {
        text = entry_text(a);
        name = a.display;
        new_count = a.new_count;
      })) {
    return;
  }
  // A second entry would leave the first one's records and host entry
  // behind for good.
  if (has_entry(account)) remove_account_entry(account);

  auto* block = new entry_block;
  block->text = std::move(text);
  block->name = std::move(name);
  list_entry_record* record = &block->record;
  init_record(record);

  record->group_id = mail_group_id;
  record->field88 = -1;
  record->field92 = -1;
  record->entry_id = -1;
  record->field100 = 0;
  record->field104 = 0;
  record->field108 = 1;
  record->field112 = 1;
  record->field120 = 0;
  record->text = block->text.c_str();
  record->name = block->name.c_str();
  record->callback = on_entry_event;
  record->user_data = account;
  record->is_entry = 1;

  list_icon_record* icon = &block->icon;
  init_record(icon);
  record->icon = icon;
  icon->one = 1;
  if (new_count > 0) {
    icon->bitmap = &state_bitmaps[ICON_NEW_MAIL];
  } else if (new_count == 0) {
    icon->bitmap = &state_bitmaps[ICON_NO_MAIL];
  }
  icon->rect = &state_rects[0];
  icon->field28 = 0;

  for (size_t i = 0; i < std::size(kMenu); ++i) {
    menu_item_record* item = &block->items[i];
    init_record(item);
    item->field4 = -1;
    item->field12 = 0;
    item->label = kMenu[i].label;
    item->callback = on_menu_event;
    menu_data* data = &block->data[i];
    data->command = kMenu[i].command;
    data->account = kMenu[i].command == MENU_CHECK_ALL ? 0 : account;
    item->user_data = reinterpret_cast<uintptr_t>(data);
    item->next = i + 1 < std::size(kMenu) ? &block->items[i + 1] : nullptr;
  }
  record->menu = &block->items[0];

  // Nobody else sees the records before they are published below.
  const int32_t id = call_host("listAddEntry", record);
  record->entry_id = id;
  if (id == -1) {
    // Refused: there is nothing to remove later, and removing an entry -1
    // of group -1 would name the group instead.
    delete block;
    return;
  }
  {
    std::lock_guard<std::mutex> hold(entry_lock);
    entries[account] = block;
  }
  account_table.update(account, [&](imap_info& a) {
    a.entry_record = record;
    a.entry_id = id;
  });
}

void remove_account_entry(account_ref account) {
  entry_block* block;
  bool deliver_here;
  {
    std::lock_guard<std::mutex> hold(entry_lock);
    auto it = entries.find(account);
    if (it == entries.end()) return;
    block = it->second;
    // From here on no update finds the entry. A thread that is delivering
    // its changes removes it after its call; otherwise this one does.
    entries.erase(it);
    block->removed = true;
    deliver_here = !block->delivering;
    block->delivering = true;
  }
  account_table.update(account, [](imap_info& a) {
    a.entry_id = -1;
    a.entry_record = nullptr;
  });
  if (deliver_here) {
    std::unique_lock<std::mutex> hold(entry_lock);
    deliver(block, hold);
  }
}

void update_entry_icon(account_ref account, int icon) {
  if (icon < 0 || icon >= STATE_BITMAP_COUNT) return;
  update_entry(account, [icon](entry_block* block) { block->next_icon = icon; });
}

void update_entry_tooltip(account_ref account, const std::string& text) {
  update_entry(account, [&text](entry_block* block) {
    block->next_tooltip = text;
    block->tooltip_changed = true;
  });
}

void update_entry_text(account_ref account, const std::string& text) {
  std::string display;
  if (!account_table.read(account, [&display](const imap_info& a) { display = a.display; })) {
    return;
  }
  update_entry(account, [&](entry_block* block) {
    block->next_name = display;
    block->next_text = text;
    block->text_changed = true;
  });
}

void raise_mail_alert(account_ref account, const std::string& text) {
  auto* context = new alert_context{};
  auto* alert = new alert_record{};
  alert->size = static_cast<int32_t>(sizeof(alert_record));
  char* own_text = new char[text.size() + 1];
  std::memcpy(own_text, text.c_str(), text.size() + 1);

  context->self = context;
  context->alert = alert;
  context->account = account;

  alert->text = own_text;
  alert->icon_name = kMailIcon;
  alert->field20 = 1;
  alert->callback = on_alert_event;
  alert->user_data = reinterpret_cast<uintptr_t>(context);
  {
    std::lock_guard<std::mutex> hold(alert_lock);
    live_alerts.insert(context);
  }
  call_host("systraySetAlert", alert);
}

void free_live_alerts() {
  std::set<alert_context*> alerts;
  {
    std::lock_guard<std::mutex> hold(alert_lock);
    alerts.swap(live_alerts);
  }
  for (alert_context* context : alerts) free_alert(context);
}

void launch_client(account_ref account) {
  std::string client, arguments;
  account_table.read(account, [&](const imap_info& a) {
    client = a.client;
    arguments = a.arguments;
  });
  if (client.empty()) return;
  platform::env()->launch_program(client, arguments);
}

void begin_busy_cursor() {
  cursor_before_busy = platform::set_cursor(platform::load_wait_cursor());
}

void end_busy_cursor() { platform::set_cursor(cursor_before_busy); }

int32_t EMAIL_CALL on_entry_event(uintptr_t, uintptr_t, const char* event, uintptr_t data,
                                  uintptr_t account) {
  if (event == nullptr) return 0;
  const auto key = static_cast<account_ref>(account);
  if (std::strcmp(event, "list_leftDoubleClick") == 0) {
    launch_client(key);
  } else if (std::strcmp(event, "list_changeName") == 0) {
    const auto* name = reinterpret_cast<const char*>(data);
    if (name == nullptr) return 0;
    // The alias and the text built from it change together.
    std::string text;
    if (account_table.update(key, [&](imap_info& a) {
          a.display = name;
          text = entry_text(a);
        })) {
      update_entry_text(key, text);
    }
  }
  return 0;
}

int32_t EMAIL_CALL on_menu_event(uintptr_t, uintptr_t, const char* event, uintptr_t,
                                 uintptr_t item_data) {
  const auto* item = reinterpret_cast<const menu_data*>(item_data);
  if (event == nullptr || item == nullptr || std::strcmp(event, "menu-select") != 0) return 0;
  switch (item->command) {
    case MENU_CHECK_NOW:
      if (account_table.index_of(item->account) >= 0) {
        post_to_checker(CHECK_ACCOUNT, item->account);
      }
      break;
    case MENU_CHECK_ALL:
      post_to_checker(CHECK_ALL, 0);
      break;
    case MENU_LAUNCH_CLIENT:
      launch_client(item->account);
      break;
    default:
      break;
  }
  return 0;
}

int32_t EMAIL_CALL on_alert_event(uintptr_t, uintptr_t, const char* event, uintptr_t,
                                  uintptr_t context_data) {
  auto* context = reinterpret_cast<alert_context*>(context_data);
  if (event == nullptr) return 0;
  const bool click = std::strcmp(event, "alert_linkClick") == 0;
  const bool destroy = std::strcmp(event, "alert_destroy") == 0;
  if (!click && !destroy) return 0;
  account_ref account;
  {
    // Only alerts that exist are acted on: a second "alert_destroy" must not
    // free the records again.
    std::lock_guard<std::mutex> hold(alert_lock);
    auto it = live_alerts.find(context);
    if (it == live_alerts.end()) return 0;
    account = context->account;
    if (destroy) live_alerts.erase(it);
  }
  if (click) {
    launch_client(account);
  } else {
    free_alert(context);
  }
  return 0;
}
