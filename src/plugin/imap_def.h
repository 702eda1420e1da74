// The account model shared by the whole plug-in: the account record, the
// guarded account table, the edit record of the account dialogs, the six
// global option flags and the defaults.
//
// Threads and locking
// -------------------
// Two threads share the table: the user-interface thread (events, host
// callbacks, dialogs, configuration file) and the checker thread. The table
// keeps one mutex; every member of `account_table_t` takes it for the length
// of the call and releases it before returning. Rules for callers:
//
//  - Only the user-interface thread changes the table (append, replace,
//    delete, reload). Because of that, an index read on the user-interface
//    thread stays valid until that thread changes the table itself.
//  - Every other thread names accounts by their key (`account_ref`), never by
//    index or address: records move when the table changes. A key is handed
//    out once per account, stays with the account (also through
//    replace_account) and is never reused while the plug-in is loaded. 0 is
//    never a key. Looking up a key that is gone finds nothing; the caller
//    then does nothing.
//  - A check takes a copy of the account (`copy`), works on the copy without
//    any lock, and writes its results back with `update`, which does nothing
//    when the account no longer exists. `settings_version` tells the writer
//    whether the settings were replaced meanwhile.
//  - The callbacks of `read` and `update` run with the lock held. They must
//    be short: no host call, no blocking send to a window, no network wait,
//    no sleep, and no call back into `account_table` (the lock is not
//    recursive). Take what you need out of the record and act after.
//  - `entry_record` in a copy is only a snapshot of the pointer; the records
//    it points to belong to the contact list, which guards them itself.
//
// The option flags are atomic bytes: any thread may read or write them.
// `account_edit` belongs to the user-interface thread alone.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "plugin.h"

// Key of the password scrambling in mail.ini (5 characters).
extern const char PASSWORD_KEY[6];
// Slots of state_bitmaps and state_rects.
constexpr int STATE_BITMAP_COUNT = 4;
constexpr int32_t IMAP_DEFAULT_PORT = 143;
extern const char DEFAULT_MAILBOX[];          // "INBOX"
constexpr int32_t IMAP_DEFAULT_INTERVAL = 5;  // minutes
// A POP3 account loaded without a port gets this one.
constexpr int32_t POP3_DEFAULT_PORT = 110;
constexpr int32_t POP3_DEFAULT_INTERVAL = 5;  // minutes
// mail.ini has always numbered accounts 0 to MAX_ACCOUNTS - 1; load_config
// reads any larger index as well, so that every saved account comes back.
constexpr int32_t MAX_ACCOUNTS = 20;

constexpr int32_t ACCOUNT_IMAP = 0;
constexpr int32_t ACCOUNT_POP3 = 1;

// One mail account. The thirteen settings are what mail.ini stores (see
// ACCOUNT_SETTINGS); the run-time fields are never stored. Times are local seconds (seconds since
// 1970-01-01 00:00:00 of the local wall clock, no time-zone adjustment).
struct imap_info {
  // Settings.
  int32_t accttype = 0;  // ACCOUNT_IMAP or ACCOUNT_POP3
  std::string address;
  std::string username;
  std::string password;  // plain in memory, scrambled in mail.ini
  std::string mailbox;
  uint8_t unseen = 0;  // 1 counts UNSEEN, 0 counts RECENT
  std::string hostname;
  int32_t attempt = 0;  // minutes between checks
  int32_t port = 0;
  std::string client;
  std::string arguments;
  uint8_t ssl = 0;  // 1: TLS from the first byte
  std::string display;

  // Run time.
  list_entry_record* entry_record = nullptr;  // owned by the contact list
  int32_t entry_id = 0;                       // -1: no entry
  int32_t new_count = 0;
  int32_t total_count = 0;
  int32_t recent_count = 0;
  int32_t exists_count = 0;
  int64_t last_checked = 0;  // 0: never
  int64_t next_check = 0;    // > 0: enabled and due then; 0: disabled

  // Identity in account_table; 0 outside it.
  account_ref key = 0;
  // Changes whenever the settings of the table record are replaced.
  uint32_t settings_version = 0;
};

// One setting of an account. ACCOUNT_SETTINGS describes each setting once;
// copying, new-account defaults, loading, saving and the tests read it.
struct account_setting {
  enum kind_t : uint8_t {
    NUMBER,    // int32_t, written in decimal
    FLAG,      // uint8_t, written as 0 or 1
    TEXT,      // std::string, written as it is
    PASSWORD,  // std::string, plain in memory and scrambled in mail.ini
  };
  // Gives a loaded account a value for the setting when it has none (0 or
  // empty); may read the settings before it in the table.
  using fallback_fn = void (*)(imap_info& account);

  std::string_view key;  // mail.ini writes "port(3)" for account 3
  kind_t kind;
  int32_t imap_info::*number;    // NUMBER
  uint8_t imap_info::*flag;      // FLAG
  std::string imap_info::*text;  // TEXT and PASSWORD
  int32_t number_default;        // of a new account (NUMBER and FLAG)
  const char* text_default;      // of a new account (TEXT and PASSWORD)
  fallback_fn fallback;          // null: 0 or empty stays
  bool required;                 // a loaded account without it is dropped

  // 0 or empty.
  bool is_empty(const imap_info& account) const;
  // The value as text, a flag as "0" or "1", the password in plain.
  std::string text_of(const imap_info& account) const;
  // NUMBER and FLAG; a flag becomes 1 for any value but 0.
  void set_number(imap_info& account, int32_t value) const;
  // TEXT and PASSWORD.
  void set_text(imap_info& account, std::string value) const;
  void set_default(imap_info& account) const;
  void copy(const imap_info& from, imap_info& to) const;
};

// In the order mail.ini has always written them.
extern const std::array<account_setting, 13> ACCOUNT_SETTINGS;

// The edit record of the account dialogs: `index` is the table index of the
// account being edited, -1 while a new account is entered.
struct imapedit {
  int32_t index = -1;
  imap_info info;
};

// now + attempt × 60, in 64 bits: a huge interval puts the check that far
// ahead instead of at a wrapped time in the past or at or below 0 (which
// would mean "disabled").
int64_t next_check_time(int64_t now, int32_t attempt);

class account_table_t {
 public:
  size_t size() const;
  bool empty() const;

  // The key of the account at `index`, or 0 past the end.
  account_ref key_at(size_t index) const;
  // The index of the account with `key`, or -1.
  int32_t index_of(account_ref key) const;
  std::vector<account_ref> keys() const;

  // Copies the whole account (settings and run time) into `out`; false,
  // leaving `out` alone, when there is no such account.
  bool copy(account_ref key, imap_info* out) const;
  bool copy_at(size_t index, imap_info* out) const;
  std::vector<imap_info> snapshot() const;
  // Runs fn(index, const imap_info&) on the accounts from index *next on,
  // in table order under the lock and without copying them, until fn
  // returns false; fn must not use the table. Leaves *next at the account
  // after the last one fn got, and returns whether there are more.
  template <class Fn>
  bool for_each_from(size_t* next, Fn&& fn) const {
    std::lock_guard<std::mutex> hold(mutex_);
    while (*next < records_.size()) {
      const size_t i = (*next)++;
      if (!fn(i, records_[i])) break;
    }
    return *next < records_.size();
  }

  // Runs fn(const imap_info&) or fn(imap_info&) on the account with `key`
  // under the lock; false without calling fn when the account is gone. See
  // the rules at the top of this file. `update` cannot change `key` or
  // `settings_version`: they are put back afterwards.
  template <class Fn>
  bool read(account_ref key, Fn&& fn) const {
    std::lock_guard<std::mutex> hold(mutex_);
    const imap_info* found = find(key);
    if (found == nullptr) return false;
    fn(*found);
    return true;
  }
  template <class Fn>
  bool update(account_ref key, Fn&& fn) {
    std::lock_guard<std::mutex> hold(mutex_);
    imap_info* found = find(key);
    if (found == nullptr) return false;
    const uint32_t version = found->settings_version;
    fn(*found);
    found->key = key;
    found->settings_version = version;
    return true;
  }

  // Changes; user-interface thread only (see append_account and partners).
  int32_t append(const imap_info& settings, int64_t now);
  bool replace(const imap_info& settings, int32_t index, int64_t now);
  bool erase(int32_t index);
  // Makes the table hold `accounts` (settings only) in that order. An
  // account that was in the table before (same type, address, host name and
  // user name) keeps its key and its counts; every other one gets a new key,
  // so an old key never comes to name a different account. Every record
  // gets last_checked 0, entry_id -1 and a next_check one interval from
  // `now`.
  void reload(std::vector<imap_info> accounts, int64_t now);

 private:
  const imap_info* find(account_ref key) const;
  imap_info* find(account_ref key);
  account_ref new_key();  // requires mutex_
  void index_keys();      // rebuilds positions_ from records_; requires mutex_

  mutable std::mutex mutex_;
  std::vector<imap_info> records_;  // guarded by mutex_
  // Every key with its index in records_, in key order, so that a lookup by
  // key is a binary search over one compact array rather than a walk of the
  // table. Guarded by mutex_.
  struct key_position {
    account_ref key;
    uint32_t index;
  };
  std::vector<key_position> positions_;
  account_ref last_key_ = 0;   // guarded by mutex_
  uint32_t last_version_ = 0;  // guarded by mutex_
};

extern account_table_t account_table;
extern imapedit account_edit;

extern std::atomic<uint8_t> use_alert;
extern std::atomic<uint8_t> use_section;
extern std::atomic<uint8_t> use_icon;
extern std::atomic<uint8_t> use_sound;
extern std::atomic<uint8_t> use_disable;
extern std::atomic<uint8_t> use_header;

// Clears every field of `settings` and gives it the defaults of a new
// account: IMAP, port 143, mailbox "INBOX", interval 5, UNSEEN counting.
void set_new_account_defaults(imap_info& settings);
// Clears every field of `destination`, then copies the thirteen settings.
void copy_account_settings(const imap_info& source, imap_info& destination);
// Adds an account with the settings of `settings` at the end of the table,
// due one interval from now; returns its index.
int32_t append_account(const imap_info& settings);
// Gives the account at `index` the settings of `settings`, enables it again
// (due one interval from now) and marks it as having no entry; the counts
// stay. An index outside the table changes nothing.
void replace_account(const imap_info& settings, int32_t index);
// Removes the account at `index`; the later ones move one place forward. An
// index outside the table changes nothing.
void delete_account(int32_t index);
