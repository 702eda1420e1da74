#include "imap_util.h"

#include <chrono>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <vector>

#include "imap_main.h"
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
struct entry_block {
  list_entry_record* record = nullptr;
  std::string text, name, tooltip;
  // Host calls under way that use the records; the last one to finish
  // after the entry was removed frees them.
  int in_flight = 0;
  bool removed = false;
};

std::mutex entry_lock;
std::map<account_ref, entry_block*> entries;  // guarded by entry_lock

std::mutex alert_lock;
std::set<alert_context*> live_alerts;  // guarded by alert_lock

platform::cursor_handle cursor_before_busy = nullptr;

// Frees an entry's records in the order they were handed out backwards:
// the icon, then each menu item's data and the item from the last item to
// the first, then the list-entry record.
void free_entry(entry_block* block) {
  list_entry_record* record = block->record;
  delete record->icon;
  std::vector<menu_item_record*> items;
  for (menu_item_record* m = record->menu; m != nullptr; m = m->next) items.push_back(m);
  for (auto it = items.rbegin(); it != items.rend(); ++it) {
    delete reinterpret_cast<menu_data*>((*it)->user_data);
    delete *it;
  }
  delete record;
  delete block;
}

void free_alert(alert_context* context) {
  delete[] context->alert->text;
  delete context->alert;
  delete context;
}

// Ends a host call with the block's records; true when the caller must free
// them now. Requires entry_lock.
bool finish_call(entry_block* block) { return --block->in_flight == 0 && block->removed; }

// Writes into the account's entry records with `fill` under the lock, then
// calls the host `function` with a copy of them. Does nothing unless the
// entry exists with an id above 0.
template <class Fill>
void update_entry(account_ref account, const char* function, Fill fill) {
  list_entry_record copy;
  list_icon_record icon_copy;
  std::string text, name, tooltip;
  entry_block* block;
  {
    std::lock_guard<std::mutex> hold(entry_lock);
    auto it = entries.find(account);
    if (it == entries.end() || it->second->record->entry_id <= 0) return;
    block = it->second;
    fill(block);
    // The copy's texts and icon are the caller's own, so that an update on
    // another thread cannot change them while the host reads them.
    copy = *block->record;
    text = block->text;
    name = block->name;
    tooltip = block->tooltip;
    if (copy.text != nullptr) copy.text = text.c_str();
    if (copy.name != nullptr) copy.name = name.c_str();
    if (copy.tooltip != nullptr) copy.tooltip = tooltip.c_str();
    if (copy.icon != nullptr) {
      icon_copy = *copy.icon;
      copy.icon = &icon_copy;
    }
    ++block->in_flight;
  }
  call_host(function, &copy);
  bool free_now;
  {
    std::lock_guard<std::mutex> hold(entry_lock);
    free_now = finish_call(block);
  }
  if (free_now) free_entry(block);
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

void add_account_entries() {
  for (account_ref key : account_table.keys()) add_account_entry(key);
}

void remove_account_entries() {
  for (account_ref key : account_table.keys()) remove_account_entry(key);
  // Entries whose account left the table without them go as well.
  std::vector<account_ref> rest;
  {
    std::lock_guard<std::mutex> hold(entry_lock);
    for (const auto& e : entries) rest.push_back(e.first);
  }
  for (account_ref key : rest) remove_account_entry(key);
}

void add_account_entry(account_ref account) {
  imap_info info;
  if (!account_table.copy(account, &info)) return;
  // A second entry would leave the first one's records and host entry
  // behind for good.
  if (has_entry(account)) remove_account_entry(account);

  auto* block = new entry_block;
  block->text = entry_text(info);
  block->name = info.display;
  auto* record = new list_entry_record;
  init_record(record);
  block->record = record;

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

  auto* icon = new list_icon_record;
  init_record(icon);
  record->icon = icon;
  icon->one = 1;
  if (info.new_count > 0) {
    icon->bitmap = &state_bitmaps[ICON_NEW_MAIL];
  } else if (info.new_count == 0) {
    icon->bitmap = &state_bitmaps[ICON_NO_MAIL];
  }
  icon->rect = &state_rects[0];
  icon->field28 = 0;

  menu_item_record* previous = nullptr;
  for (const menu_item_spec& spec : kMenu) {
    auto* item = new menu_item_record;
    init_record(item);
    item->field4 = -1;
    item->field12 = 0;
    item->label = spec.label;
    item->callback = on_menu_event;
    auto* data = new menu_data{};
    data->command = spec.command;
    data->account = spec.command == MENU_CHECK_ALL ? 0 : account;
    item->user_data = reinterpret_cast<uintptr_t>(data);
    if (previous == nullptr) {
      record->menu = item;
    } else {
      previous->next = item;
    }
    previous = item;
  }

  // Nobody else sees the records before they are published below.
  const int32_t id = call_host("listAddEntry", record);
  record->entry_id = id;
  if (id == -1) {
    // Refused: there is nothing to remove later, and removing an entry -1
    // of group -1 would name the group instead.
    free_entry(block);
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
  {
    std::lock_guard<std::mutex> hold(entry_lock);
    auto it = entries.find(account);
    if (it == entries.end()) return;
    block = it->second;
    // From here on no update finds the entry; the removal itself counts as
    // a call under way, so the records outlive it.
    entries.erase(it);
    block->removed = true;
    ++block->in_flight;
    block->record->group_id = -1;
  }
  account_table.update(account, [](imap_info& a) {
    a.entry_id = -1;
    a.entry_record = nullptr;
  });
  call_host("listRemoveEntry", block->record);
  bool free_now;
  {
    std::lock_guard<std::mutex> hold(entry_lock);
    free_now = finish_call(block);
  }
  if (free_now) free_entry(block);
}

void update_entry_icon(account_ref account, int icon) {
  if (icon < 0 || icon >= STATE_BITMAP_COUNT) return;
  update_entry(account, "listUpdateIcon", [icon](entry_block* block) {
    block->record->icon->bitmap = &state_bitmaps[icon];
    block->record->icon->rect = &state_rects[icon];
  });
}

void update_entry_tooltip(account_ref account, const std::string& text) {
  update_entry(account, "listUpdateTooltip", [&text](entry_block* block) {
    block->tooltip = text;
    block->record->tooltip = block->tooltip.c_str();
  });
}

void update_entry_text(account_ref account, const std::string& text) {
  std::string display;
  if (!account_table.read(account, [&display](const imap_info& a) { display = a.display; })) {
    return;
  }
  update_entry(account, "listUpdateText", [&](entry_block* block) {
    block->name = display;
    block->text = text;
    block->record->name = block->name.c_str();
    block->record->text = block->text.c_str();
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
  platform::launch_program(client, arguments);
}

bool post_to_checker(uint32_t message, uintptr_t wparam) {
  const uint32_t thread = checker_thread_id;
  if (thread == 0) return false;
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(1);
  while (!platform::post_thread_message(thread, message, wparam, 0)) {
    if (std::chrono::steady_clock::now() > give_up) return false;
  }
  return true;
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
