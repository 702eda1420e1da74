// Shared by the contact-list tests: accounts in the real account table and a
// clean contact-list state around every test.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "imap_def.h"
#include "imap_main.h"
#include "imap_util.h"

namespace contacts_test {

struct account_spec {
  const char* display;
  int32_t accttype;
  int32_t new_count;
  int32_t total_count;
  const char* client;
  const char* arguments;
};

// Appends an account with these settings and counts; returns its key.
inline account_ref add_account(const account_spec& spec) {
  imap_info settings;
  set_new_account_defaults(settings);
  settings.display = spec.display;
  settings.accttype = spec.accttype;
  settings.client = spec.client;
  settings.arguments = spec.arguments;
  const account_ref key = account_table.key_at(static_cast<size_t>(append_account(settings)));
  account_table.update(key, [&](imap_info& a) {
    a.new_count = spec.new_count;
    a.total_count = spec.total_count;
  });
  return key;
}

inline imap_info account(account_ref key) {
  imap_info out;
  EXPECT_TRUE(account_table.copy(key, &out)) << "account " << key;
  return out;
}

// Empties the account table and the contact list.
inline void clear_contacts() {
  remove_account_entries();
  account_table.reload({}, 0);
  mail_group_id = -1;
  checker_thread_id = 0;
  free_state_bitmaps();
  host_call.store(nullptr);
}

// Clears the contact-list state after each test.
class ContactsTest : public ::testing::Test {
 protected:
  void TearDown() override { clear_contacts(); }
};

}  // namespace contacts_test
