// Table changes on one thread race keyed copies and write-backs on another:
// under ThreadSanitizer this proves the table free of data races; on every
// build, that no copy is torn and results land only on their own account.
#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <set>
#include <string>
#include <thread>

#include "imap_def.h"

namespace {

imap_info settings(int serial) {
  imap_info s;
  set_new_account_defaults(s);
  s.username = "user" + std::to_string(serial);
  s.display = s.username;  // the checker tests that both belong together
  s.password = "pw";
  s.hostname = "host";
  s.port = serial;
  return s;
}

TEST(AccountStress, TableChangesRaceWithKeyedLookupsAndWriteBacks) {
  account_table.reload({}, 0);
  const int kOperations = 20000;
  std::atomic<bool> done{false};
  std::atomic<int> torn{0};
  std::atomic<int> misplaced{0};
  std::atomic<int> written{0};

  std::thread checker([&] {
    std::mt19937 random(2);
    while (!done.load()) {
      const size_t size = account_table.size();
      const account_ref key = account_table.key_at(size == 0 ? 0 : random() % size);
      imap_info copy;
      if (!account_table.copy(key, &copy)) continue;
      if (copy.display != copy.username || copy.key != key) ++torn;
      // The "check", without any lock held.
      const int32_t found = copy.port;
      use_icon.load();
      const bool applied = account_table.update(key, [&](imap_info& a) {
        if (a.settings_version != copy.settings_version) return;
        a.new_count = found;
        a.last_checked = 1;
      });
      if (applied) ++written;
      account_table.read(key, [&](const imap_info& a) {
        // A result is only ever the port of the settings it was found with.
        if (a.last_checked == 1 && a.new_count != a.port &&
            a.settings_version == copy.settings_version)
          ++misplaced;
      });
    }
  });

  std::mt19937 random(1);
  int serial = 0;
  // Goes on past kOperations until the checker has had its share of turns.
  for (int i = 0; i < kOperations || written.load() < 1000; ++i) {
    const size_t size = account_table.size();
    const unsigned choice = random() % 3;
    if (size < 3 || choice == 0) {
      append_account(settings(++serial));
    } else if (choice == 1) {
      replace_account(settings(++serial), static_cast<int32_t>(random() % size));
    } else {
      delete_account(static_cast<int32_t>(random() % size));
    }
    use_icon.store(static_cast<uint8_t>(i & 1));
    if (size > 40) {
      while (account_table.size() > 5) delete_account(0);
    }
  }
  done.store(true);
  checker.join();

  EXPECT_EQ(torn.load(), 0);
  EXPECT_EQ(misplaced.load(), 0);
  EXPECT_GT(written.load(), 0);
  std::set<account_ref> keys;
  for (account_ref key : account_table.keys()) keys.insert(key);
  EXPECT_EQ(keys.size(), account_table.size());
  account_table.reload({}, 0);
}

}  // namespace
