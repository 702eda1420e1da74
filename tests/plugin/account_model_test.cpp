// The account record, the table operations with their schedule arithmetic,
// and the stable keys.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "plugin_fixture.h"

namespace {

using plugin_test::account;
using AccountModel = plugin_test::PluginTest;

// A new account named `name` (alias and user) in the table; its record.
imap_info added(const std::string& name) {
  plugin_test::account_spec spec;
  spec.display = spec.username = name;
  return account(plugin_test::add_account(spec));
}

// The user, then the run-time state: counts, next and last check, entry.
std::string state(const imap_info& a) {
  return a.username + " new=" + std::to_string(a.new_count) +
         " total=" + std::to_string(a.total_count) + " next=" + std::to_string(a.next_check) +
         " last=" + std::to_string(a.last_checked) + " entry=" + std::to_string(a.entry_id);
}

TEST(NextCheckTime, SixtyFourBitsThroughout) {
  const struct {
    int64_t now;
    int32_t attempt;
    int64_t expected;
  } cases[] = {
      {1000, 5, 1300},
      {1000, -1, 940},
      {5000000000LL, 1, 5000000060LL},  // the sum goes past 32 bits
      {0, 35791394, 2147483640LL},      // largest product that fits in 32 bits
      {0, 35791395, 2147483700LL},      // and the next one, which must not wrap
      {0, 2147483647, 128849018820LL},
      {0, -2147483647 - 1, -128849018880LL},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(next_check_time(c.now, c.attempt), c.expected) << c.now << " " << c.attempt;
  }
}

// The settings' defaults and copies are seen through the account dialog and
// the table; what is left is the run-time state they must not carry over.
TEST_F(AccountModel, DefaultsAndCopiesCarryNoRunTimeState) {
  imap_info s = added("old");
  s.next_check = 99;
  s.entry_id = 7;
  set_new_account_defaults(s);
  EXPECT_EQ(state(s), " new=0 total=0 next=0 last=0 entry=0");

  imap_info source = added("a");
  source.new_count = 4;
  source.next_check = 123;
  imap_info destination = added("b");
  destination.total_count = 8;
  destination.entry_id = 9;
  copy_account_settings(source, destination);
  EXPECT_EQ(state(destination), "a new=0 total=0 next=0 last=0 entry=0");
  // Onto itself: the settings stay.
  copy_account_settings(source, source);
  EXPECT_EQ(state(source), "a new=0 total=0 next=0 last=0 entry=0");
}

TEST_F(AccountModel, ReplaceEnablesAgainAndKeepsCountsAndKey) {
  imap_info z = added("a");
  account_table.update(z.key, [](imap_info& a) {
    a.next_check = 0;
    a.last_checked = 55;
    a.new_count = 3;
    a.total_count = 10;
    a.entry_id = 12;
  });
  env_.now_ms += 1000 * 1000;
  z.username = "z";
  z.attempt = 7;
  replace_account(z, 0);
  EXPECT_EQ(state(account(z.key)),
            "z new=3 total=10 next=" + std::to_string(now() + 420) + " last=0 entry=-1");
  EXPECT_EQ(account_table.key_at(0), z.key);
}

TEST_F(AccountModel, InvalidIndicesChangeNothing) {
  imap_info x = added("a");
  x.username = "x";
  replace_account(x, 1);
  replace_account(x, -1);
  delete_account(1);
  delete_account(-1);
  ASSERT_EQ(account_table.size(), 1u);
  EXPECT_EQ(account(account_table.key_at(0)).username, "a");
  EXPECT_FALSE(account_table.copy_at(1, &x));
  EXPECT_EQ(x.username, "x");
}

TEST_F(AccountModel, KeysAreNeverReusedAndGoneKeysFindNothing) {
  std::set<account_ref> seen;
  for (int round = 0; round < 50; ++round) {
    seen.insert(added("a").key);
    seen.insert(added("b").key);
    delete_account(0);
  }
  EXPECT_EQ(seen.size(), 100u);
  EXPECT_EQ(seen.count(0), 0u);

  const account_ref gone = account_table.key_at(0);
  delete_account(0);
  imap_info copy;
  EXPECT_FALSE(account_table.copy(gone, &copy));
  EXPECT_FALSE(account_table.update(gone, [](imap_info&) { ADD_FAILURE(); }));
  EXPECT_FALSE(account_table.read(0, [](const imap_info&) { ADD_FAILURE(); }));
  EXPECT_EQ(account_table.key_at(account_table.size()), 0u);
}

TEST_F(AccountModel, ReloadKeepsKeysOfTheSameAccountsOnly) {
  const imap_info a = added("a");
  imap_info b = added("b");
  account_table.update(b.key, [](imap_info& r) { r.new_count = 2; });
  const uint32_t version = account(b.key).settings_version;

  // b moves to the front with a new password, alias and interval: still b.
  b.password = "new";
  b.display = "Bee";
  b.attempt = 7;
  imap_info other_host = a;
  other_host.hostname = "other.example.com";
  imap_info other_type = a;
  other_type.accttype = ACCOUNT_POP3;
  imap_info other_user = a;
  other_user.username = "c";
  account_table.reload({b, other_host, other_type, other_user}, 500);
  ASSERT_EQ(account_table.size(), 4u);
  EXPECT_EQ(account_table.key_at(0), b.key);
  const imap_info bee = account(b.key);
  EXPECT_EQ(bee.display + " " + state(bee), "Bee b new=2 total=0 next=920 last=0 entry=-1");
  EXPECT_NE(bee.settings_version, version);
  EXPECT_EQ(account_table.index_of(a.key), -1);  // a is gone; its key names nothing
  std::set<account_ref> fresh;
  for (size_t i = 1; i < 4; ++i) {
    const imap_info r = account(account_table.key_at(i));
    EXPECT_GT(r.key, b.key);
    EXPECT_EQ(r.new_count, 0);
    EXPECT_EQ(r.entry_id, -1);
    fresh.insert(r.key);
  }
  EXPECT_EQ(fresh.size(), 3u);

  // Kept accounts in another order: each key still finds its account.
  std::vector<imap_info> swapped;
  for (size_t i : {1, 0, 2, 3}) swapped.push_back(account(account_table.key_at(i)));
  account_table.reload(swapped, 0);
  EXPECT_EQ(account_table.index_of(swapped[0].key), 0);
  EXPECT_EQ(account_table.index_of(b.key), 1);

  // Two records of one identity each keep one key; a third gets a new one.
  const imap_info c = account(account_table.key_at(3));
  account_table.reload({c, c}, 0);
  EXPECT_EQ(account_table.key_at(0), c.key);
  EXPECT_GT(account_table.key_at(1), c.key);
  EXPECT_EQ(account_table.index_of(b.key), -1);
}

}  // namespace
