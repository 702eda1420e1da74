// The account record, the table operations with their schedule arithmetic,
// and the stable keys.
#include <gtest/gtest.h>

#include <set>

#include "imap_def.h"
#include "plugin_fixture.h"

namespace {

imap_info settings(const std::string& name, int32_t attempt = 5) {
  imap_info s;
  set_new_account_defaults(s);
  s.address = name + "@example.com";
  s.username = name;
  s.password = "secret";
  s.hostname = "mail.example.com";
  s.display = name;
  s.attempt = attempt;
  return s;
}

class AccountModelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::set_env(&clock_);
    account_table.reload({}, 0);
  }
  void TearDown() override {
    account_table.reload({}, 0);
    platform::set_env(nullptr);
  }

  imap_info at(int32_t index) {
    imap_info copy;
    EXPECT_TRUE(account_table.copy_at(static_cast<size_t>(index), &copy));
    return copy;
  }

  plugin_test::fake_env clock_;
};

// The settings' defaults and copies are seen through the account dialog and
// the table; what is left is the run-time state they must not carry over.
TEST_F(AccountModelTest, DefaultsAndCopiesCarryNoRunTimeState) {
  imap_info s = settings("old");
  s.next_check = 99;
  s.entry_id = 7;
  set_new_account_defaults(s);
  EXPECT_EQ(s.next_check, 0);
  EXPECT_EQ(s.entry_id, 0);

  imap_info source = settings("a");
  source.new_count = 4;
  source.next_check = 123;
  imap_info destination = settings("b");
  destination.total_count = 8;
  destination.entry_id = 9;
  copy_account_settings(source, destination);
  EXPECT_EQ(destination.username, "a");
  EXPECT_EQ(destination.new_count, 0);
  EXPECT_EQ(destination.total_count, 0);
  EXPECT_EQ(destination.next_check, 0);
  EXPECT_EQ(destination.entry_id, 0);
  // Onto itself: the settings stay.
  copy_account_settings(source, source);
  EXPECT_EQ(source.username, "a");
  EXPECT_EQ(source.new_count, 0);
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

TEST_F(AccountModelTest, ReplaceEnablesAgainAndKeepsCountsAndKey) {
  append_account(settings("a"));
  const account_ref key = account_table.key_at(0);
  account_table.update(key, [](imap_info& a) {
    a.next_check = 0;
    a.last_checked = 55;
    a.new_count = 3;
    a.total_count = 10;
    a.entry_id = 12;
  });
  clock_.now_ms += 1000 * 1000;
  replace_account(settings("z", 7), 0);
  const imap_info a = at(0);
  EXPECT_EQ(a.username, "z");
  EXPECT_EQ(a.next_check, clock_.local_seconds() + 420);
  EXPECT_EQ(a.last_checked, 0);
  EXPECT_EQ(a.entry_id, -1);
  EXPECT_EQ(a.new_count, 3);
  EXPECT_EQ(a.total_count, 10);
  EXPECT_EQ(a.key, key);
}

TEST_F(AccountModelTest, InvalidIndicesChangeNothing) {
  append_account(settings("a"));
  replace_account(settings("x"), 1);
  replace_account(settings("x"), -1);
  delete_account(1);
  delete_account(-1);
  ASSERT_EQ(account_table.size(), 1u);
  EXPECT_EQ(at(0).username, "a");
  imap_info untouched = settings("u");
  EXPECT_FALSE(account_table.copy_at(1, &untouched));
  EXPECT_EQ(untouched.username, "u");
}

TEST_F(AccountModelTest, KeysAreNeverReusedAndGoneKeysFindNothing) {
  std::set<account_ref> seen;
  for (int round = 0; round < 50; ++round) {
    append_account(settings("a"));
    append_account(settings("b"));
    for (size_t i = 0; i < account_table.size(); ++i) seen.insert(account_table.key_at(i));
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

TEST_F(AccountModelTest, ReloadKeepsKeysOfTheSameAccountsOnly) {
  append_account(settings("a"));
  append_account(settings("b"));
  const account_ref key_a = account_table.key_at(0);
  const account_ref key_b = account_table.key_at(1);
  account_table.update(key_b, [](imap_info& a) { a.new_count = 2; });
  const uint32_t version = at(1).settings_version;

  // b moves to the front with a new password and alias: still b.
  imap_info b = settings("b", 7);
  b.password = "new";
  b.display = "Bee";
  imap_info other_host = settings("a");
  other_host.hostname = "other.example.com";
  imap_info other_type = settings("a");
  other_type.accttype = ACCOUNT_POP3;
  account_table.reload({b, other_host, other_type, settings("c")}, 500);
  ASSERT_EQ(account_table.size(), 4u);
  EXPECT_EQ(account_table.key_at(0), key_b);
  EXPECT_EQ(at(0).display, "Bee");
  EXPECT_EQ(at(0).new_count, 2);
  EXPECT_EQ(at(0).next_check, 920);
  EXPECT_NE(at(0).settings_version, version);
  EXPECT_EQ(account_table.index_of(key_a), -1);  // a is gone; its key names nothing
  std::set<account_ref> fresh;
  for (size_t i = 1; i < 4; ++i) {
    EXPECT_GT(account_table.key_at(i), key_b);
    EXPECT_EQ(at(static_cast<int32_t>(i)).new_count, 0);
    EXPECT_EQ(at(static_cast<int32_t>(i)).entry_id, -1);
    fresh.insert(account_table.key_at(i));
  }
  EXPECT_EQ(fresh.size(), 3u);

  // Two records of one identity each keep one key; a third gets a new one.
  const account_ref key_c = account_table.key_at(3);
  account_table.reload({settings("c"), settings("c")}, 0);
  EXPECT_EQ(account_table.key_at(0), key_c);
  EXPECT_GT(account_table.key_at(1), key_c);
  EXPECT_EQ(account_table.index_of(key_b), -1);
}

}  // namespace
