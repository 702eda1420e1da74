#include "imap_def.h"

#include <algorithm>
#include <map>

#include "platform/env.h"

const char PASSWORD_KEY[6] = "KoPa#";
const char DEFAULT_MAILBOX[] = "INBOX";

account_table_t account_table;
imapedit account_edit;

std::atomic<uint8_t> use_alert{0};
std::atomic<uint8_t> use_section{0};
std::atomic<uint8_t> use_icon{0};
std::atomic<uint8_t> use_sound{0};
std::atomic<uint8_t> use_disable{0};
std::atomic<uint8_t> use_header{0};

namespace {

void port_by_type(imap_info& a) {
  a.port = a.accttype == ACCOUNT_POP3 ? POP3_DEFAULT_PORT : IMAP_DEFAULT_PORT;
}
void interval_by_type(imap_info& a) {
  a.attempt = a.accttype == ACCOUNT_POP3 ? POP3_DEFAULT_INTERVAL : IMAP_DEFAULT_INTERVAL;
}
void default_mailbox(imap_info& a) { a.mailbox = DEFAULT_MAILBOX; }
void address_of_user(imap_info& a) { a.address = a.username + "@" + a.hostname; }
void display_address(imap_info& a) { a.display = a.address; }

constexpr bool REQUIRED = true;

constexpr account_setting setting(std::string_view key, account_setting::kind_t kind,
                                  account_setting::fallback_fn fallback, bool required) {
  account_setting result{};
  result.key = key;
  result.kind = kind;
  result.text_default = "";
  result.fallback = fallback;
  result.required = required;
  return result;
}
constexpr account_setting number(std::string_view key, int32_t imap_info::*member,
                                 int32_t default_value,
                                 account_setting::fallback_fn fallback = nullptr) {
  account_setting result = setting(key, account_setting::NUMBER, fallback, false);
  result.number = member;
  result.number_default = default_value;
  return result;
}
constexpr account_setting flag(std::string_view key, uint8_t imap_info::*member,
                               int32_t default_value) {
  account_setting result = setting(key, account_setting::FLAG, nullptr, false);
  result.flag = member;
  result.number_default = default_value;
  return result;
}
constexpr account_setting text(std::string_view key, std::string imap_info::*member,
                               const char* default_value = "",
                               account_setting::fallback_fn fallback = nullptr,
                               bool required = false) {
  account_setting result = setting(key, account_setting::TEXT, fallback, required);
  result.text = member;
  result.text_default = default_value;
  return result;
}
constexpr account_setting password(std::string_view key, std::string imap_info::*member) {
  account_setting result = setting(key, account_setting::PASSWORD, nullptr, REQUIRED);
  result.text = member;
  return result;
}

void copy_settings(const imap_info& from, imap_info& to) {
  for (const account_setting& setting : ACCOUNT_SETTINGS) setting.copy(from, to);
}

void move_settings(imap_info& from, imap_info& to) {
  for (const account_setting& setting : ACCOUNT_SETTINGS) {
    if (setting.kind == account_setting::TEXT || setting.kind == account_setting::PASSWORD) {
      to.*setting.text = std::move(from.*setting.text);
    } else {
      setting.copy(from, to);
    }
  }
}

// What loading, appending and replacing have in common: the account is due
// one interval from now and has no contact-list entry yet.
void schedule_fresh(imap_info& record, int64_t now) {
  record.last_checked = 0;
  record.next_check = next_check_time(now, record.attempt);
  record.entry_id = -1;
}

int64_t now() { return platform::env()->local_seconds(); }

// What makes two records the same account across a reload: type, address,
// server and user.
std::string identity(const imap_info& account) {
  std::string text = std::to_string(account.accttype);
  for (const std::string* part : {&account.address, &account.hostname, &account.username}) {
    text += '\n';
    text += std::to_string(part->size());
    text += ':';
    text += *part;
  }
  return text;
}

}  // namespace

constexpr std::array<account_setting, 13> ACCOUNT_SETTINGS = {
    number("accttype", &imap_info::accttype, ACCOUNT_IMAP),
    text("address", &imap_info::address, "", address_of_user),
    text("username", &imap_info::username, "", nullptr, REQUIRED),
    password("password", &imap_info::password),
    text("mailbox", &imap_info::mailbox, DEFAULT_MAILBOX, default_mailbox),
    flag("unseen", &imap_info::unseen, 1),
    text("hostname", &imap_info::hostname, "", nullptr, REQUIRED),
    text("client", &imap_info::client),
    text("arguments", &imap_info::arguments),
    text("display", &imap_info::display, "", display_address),
    number("port", &imap_info::port, IMAP_DEFAULT_PORT, port_by_type),
    number("attempt", &imap_info::attempt, IMAP_DEFAULT_INTERVAL, interval_by_type),
    flag("ssl", &imap_info::ssl, 0),
};

bool account_setting::is_empty(const imap_info& account) const {
  switch (kind) {
    case NUMBER:
      return account.*number == 0;
    case FLAG:
      return account.*flag == 0;
    case TEXT:
    case PASSWORD:
      break;
  }
  return (account.*text).empty();
}

std::string account_setting::text_of(const imap_info& account) const {
  switch (kind) {
    case NUMBER:
      return std::to_string(account.*number);
    case FLAG:
      return account.*flag != 0 ? "1" : "0";
    case TEXT:
    case PASSWORD:
      break;
  }
  return account.*text;
}

void account_setting::set_number(imap_info& account, int32_t value) const {
  if (kind == NUMBER) account.*number = value;
  if (kind == FLAG) account.*flag = value != 0 ? 1 : 0;
}

void account_setting::set_text(imap_info& account, std::string value) const {
  if (kind == TEXT || kind == PASSWORD) account.*text = std::move(value);
}

void account_setting::set_default(imap_info& account) const {
  set_number(account, number_default);
  set_text(account, text_default);
}

void account_setting::copy(const imap_info& from, imap_info& to) const {
  switch (kind) {
    case NUMBER:
      to.*number = from.*number;
      break;
    case FLAG:
      to.*flag = from.*flag;
      break;
    case TEXT:
    case PASSWORD:
      to.*text = from.*text;
      break;
  }
}

int64_t next_check_time(int64_t now, int32_t attempt) {
  return now + static_cast<int64_t>(attempt) * 60;
}

size_t account_table_t::size() const {
  std::lock_guard<std::mutex> hold(mutex_);
  return records_.size();
}

bool account_table_t::empty() const { return size() == 0; }

account_ref account_table_t::key_at(size_t index) const {
  std::lock_guard<std::mutex> hold(mutex_);
  return index < records_.size() ? records_[index].key : 0;
}

int32_t account_table_t::index_of(account_ref key) const {
  std::lock_guard<std::mutex> hold(mutex_);
  const imap_info* found = find(key);
  return found != nullptr ? static_cast<int32_t>(found - records_.data()) : -1;
}

std::vector<account_ref> account_table_t::keys() const {
  std::lock_guard<std::mutex> hold(mutex_);
  std::vector<account_ref> result;
  result.reserve(records_.size());
  for (const imap_info& record : records_) result.push_back(record.key);
  return result;
}

bool account_table_t::copy(account_ref key, imap_info* out) const {
  std::lock_guard<std::mutex> hold(mutex_);
  const imap_info* found = find(key);
  if (found == nullptr) return false;
  *out = *found;
  return true;
}

bool account_table_t::copy_at(size_t index, imap_info* out) const {
  std::lock_guard<std::mutex> hold(mutex_);
  if (index >= records_.size()) return false;
  *out = records_[index];
  return true;
}

std::vector<imap_info> account_table_t::snapshot() const {
  std::lock_guard<std::mutex> hold(mutex_);
  return records_;
}

int32_t account_table_t::append(const imap_info& settings, int64_t now) {
  imap_info record;
  copy_settings(settings, record);
  schedule_fresh(record, now);
  std::lock_guard<std::mutex> hold(mutex_);
  record.key = new_key();
  record.settings_version = ++last_version_;
  // The newest key is the largest: the positions stay in key order.
  positions_.push_back({record.key, static_cast<uint32_t>(records_.size())});
  records_.push_back(std::move(record));
  return static_cast<int32_t>(records_.size() - 1);
}

bool account_table_t::replace(const imap_info& settings, int32_t index, int64_t now) {
  std::lock_guard<std::mutex> hold(mutex_);
  if (index < 0 || static_cast<size_t>(index) >= records_.size()) return false;
  imap_info& record = records_[static_cast<size_t>(index)];
  copy_settings(settings, record);
  schedule_fresh(record, now);
  record.settings_version = ++last_version_;
  return true;
}

bool account_table_t::erase(int32_t index) {
  std::lock_guard<std::mutex> hold(mutex_);
  if (index < 0 || static_cast<size_t>(index) >= records_.size()) return false;
  records_.erase(records_.begin() + index);
  index_keys();
  return true;
}

void account_table_t::reload(std::vector<imap_info> accounts, int64_t now) {
  std::lock_guard<std::mutex> hold(mutex_);
  // A key must never come to name another account: an old key outlives the
  // table in alerts, so only an account that is still the same one keeps it.
  std::multimap<std::string, size_t> previous;
  for (size_t i = 0; i < records_.size(); ++i) previous.emplace(identity(records_[i]), i);
  for (imap_info& account : accounts) {
    // Only the settings are taken; the rest is the record's this account
    // was, or fresh.
    imap_info record;
    const auto same = previous.empty() ? previous.end() : previous.find(identity(account));
    if (same != previous.end()) {
      record = std::move(records_[same->second]);
      previous.erase(same);
    } else {
      record.key = new_key();
    }
    move_settings(account, record);
    schedule_fresh(record, now);
    record.settings_version = ++last_version_;
    account = std::move(record);
  }
  records_ = std::move(accounts);
  index_keys();
}

void account_table_t::index_keys() {
  positions_.clear();
  positions_.reserve(records_.size());
  for (size_t i = 0; i < records_.size(); ++i) {
    positions_.push_back({records_[i].key, static_cast<uint32_t>(i)});
  }
  // Keys are handed out in increasing order, so the table is usually in key
  // order already.
  const auto by_key = [](const key_position& a, const key_position& b) { return a.key < b.key; };
  if (!std::is_sorted(positions_.begin(), positions_.end(), by_key)) {
    std::sort(positions_.begin(), positions_.end(), by_key);
  }
}

const imap_info* account_table_t::find(account_ref key) const {
  const auto found =
      std::lower_bound(positions_.begin(), positions_.end(), key,
                       [](const key_position& p, account_ref wanted) { return p.key < wanted; });
  return found != positions_.end() && found->key == key ? &records_[found->index] : nullptr;
}

imap_info* account_table_t::find(account_ref key) {
  return const_cast<imap_info*>(static_cast<const account_table_t*>(this)->find(key));
}

account_ref account_table_t::new_key() {
  // 2^32 - 1 accounts would have to be created in one session before a key
  // came round again.
  if (++last_key_ == 0) ++last_key_;
  return last_key_;
}

void set_new_account_defaults(imap_info& settings) {
  settings = imap_info();
  for (const account_setting& setting : ACCOUNT_SETTINGS) setting.set_default(settings);
}

void copy_account_settings(const imap_info& source, imap_info& destination) {
  // Built aside first, so that copying a record onto itself keeps its settings.
  imap_info settings_only;
  copy_settings(source, settings_only);
  destination = std::move(settings_only);
}

int32_t append_account(const imap_info& settings) { return account_table.append(settings, now()); }

void replace_account(const imap_info& settings, int32_t index) {
  account_table.replace(settings, index, now());
}

void delete_account(int32_t index) { account_table.erase(index); }
