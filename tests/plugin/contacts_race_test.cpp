// Updates from a checker-like thread race against the user-interface thread
// adding, renaming, updating and removing the same entries, while the host
// reads the entries' own records. Run under ThreadSanitizer (the tsan
// preset) this shows that no thread changes a record the host is reading or
// touches records that are being removed or freed; elsewhere it still checks
// that nothing is lost or freed twice.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "plugin_fixture.h"

namespace {

using EntryRace = plugin_test::PluginTest;

TEST_F(EntryRace, UpdatesRaceAgainstRemoval) {
  std::vector<account_ref> keys;
  for (const char* name : {"A", "B", "C"}) {
    plugin_test::account_spec spec;
    spec.display = name;
    spec.new_count = 1;
    spec.total_count = 2;
    keys.push_back(add(spec));
  }

  std::atomic<bool> done{false};
  std::atomic<int> checker_rounds{0};
  std::thread checker([&] {
    for (int round = 0; !done.load(); ++round) {
      for (account_ref key : keys) {
        update_entry_icon(key, round % STATE_BITMAP_COUNT);
        update_entry_tooltip(key, "round " + std::to_string(round));
        update_entry_text(key, "text " + std::to_string(round));
      }
      ++checker_rounds;
    }
  });
  // Enough rounds for both threads to have been at it together for a while.
  for (int round = 0; round < 300 || checker_rounds.load() < 1000; ++round) {
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
  EXPECT_EQ(host_.entries().size(), keys.size());
  for (account_ref key : keys) {
    const imap_info a = plugin_test::account(key);
    EXPECT_GT(a.entry_id, 0);
    EXPECT_NE(a.entry_record, nullptr);
  }
}

}  // namespace
