// Updates from a checker-like thread race against the user-interface thread
// adding, renaming, updating and removing the same entries, while the host
// reads the entries' own records. Run under ThreadSanitizer (the tsan
// preset) this shows that no thread changes a record the host is reading or
// touches records that are being removed or freed; elsewhere it still checks
// that nothing is lost or freed twice.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "contacts_fixture.h"

namespace {

using contacts_test::add_account;

std::atomic<int32_t> next_id{1};
std::atomic<int> update_calls{0};

// Reads everything a host may read during a call.
int32_t EMAIL_CALL reading_host(const char*, const char* function, void* record) {
  if (std::strcmp(function, "systraySetAlert") == 0) return 0;
  const auto* r = static_cast<const list_entry_record*>(record);
  size_t sum = static_cast<size_t>(r->entry_id) + static_cast<size_t>(r->group_id);
  for (const char* text : {r->text, r->tooltip, r->name}) {
    if (text != nullptr) sum += std::strlen(text);
  }
  if (r->icon != nullptr) {
    sum += static_cast<size_t>(r->icon->size);
    if (r->icon->rect != nullptr) sum += static_cast<size_t>(r->icon->rect->right);
  }
  for (const menu_item_record* m = r->menu; m != nullptr; m = m->next) {
    sum += std::strlen(m->label) + static_cast<size_t>(m->size);
    sum += static_cast<size_t>(reinterpret_cast<const menu_data*>(m->user_data)->command);
  }
  EXPECT_GT(sum, 0u);
  if (std::strncmp(function, "listUpdate", 10) == 0) ++update_calls;
  return std::strcmp(function, "listAddEntry") == 0 ? next_id++ : 0;
}

class EntryRace : public contacts_test::ContactsTest {};

TEST_F(EntryRace, UpdatesRaceAgainstRemoval) {
  host_call.store(reading_host);
  std::vector<account_ref> keys;
  for (const char* name : {"A", "B", "C"}) {
    keys.push_back(add_account({name, ACCOUNT_IMAP, 1, 2, "", ""}));
  }
  add_account_entries();

  std::atomic<bool> done{false};
  std::thread checker([&] {
    for (int round = 0; !done.load(); ++round) {
      for (account_ref key : keys) {
        update_entry_icon(key, round % STATE_BITMAP_COUNT);
        update_entry_tooltip(key, "round " + std::to_string(round));
        update_entry_text(key, "text " + std::to_string(round));
      }
    }
  });
  // Enough rounds for both threads to have been at it together for a while.
  for (int round = 0; round < 300 || update_calls.load() < 3000; ++round) {
    const account_ref key = keys[static_cast<size_t>(round) % keys.size()];
    remove_account_entry(key);
    const std::string name = "Name" + std::to_string(round);
    on_entry_event(0, 0, "list_changeName", reinterpret_cast<uintptr_t>(name.c_str()), key);
    add_account_entry(key);
    // Renamed again while the checker updates the same entry.
    on_entry_event(0, 0, "list_changeName", reinterpret_cast<uintptr_t>(name.c_str()), key);
    update_entry_tooltip(key, name);
    if (round % 50 == 0) {
      remove_account_entries();
      add_account_entries();
    }
  }
  done = true;
  checker.join();
  for (account_ref key : keys) {
    imap_info a;
    ASSERT_TRUE(account_table.copy(key, &a));
    EXPECT_GT(a.entry_id, 0);
    ASSERT_NE(a.entry_record, nullptr);
  }
}

}  // namespace
