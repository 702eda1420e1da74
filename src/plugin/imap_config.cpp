#include "imap_config.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "imap_def.h"
#include "imap_state.h"
#include "ini_file.h"
#include "platform/env.h"

namespace {

const char SECTION[] = "Mail";
const size_t KEY_LENGTH = sizeof PASSWORD_KEY - 1;

struct option_key {
  const char* name;
  std::atomic<uint8_t>* flag;
};

// In the order they are written.
const option_key OPTION_KEYS[] = {
    {"use_alert", &use_alert}, {"use_section", &use_section}, {"use_icon", &use_icon},
    {"use_sound", &use_sound}, {"use_disable", &use_disable}, {"use_header", &use_header},
};
// The last four become 1 when the section has option lines but not theirs.
const size_t FIRST_DEFAULT_ON = 2;
const size_t OPTION_COUNT = sizeof OPTION_KEYS / sizeof OPTION_KEYS[0];

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// An optional sign and at least one digit, nothing else, within 32 bits.
bool read_int32(std::string_view text, int32_t* value) {
  size_t i = 0;
  const bool negative = !text.empty() && text[0] == '-';
  if (!text.empty() && (text[0] == '-' || text[0] == '+')) i = 1;
  if (i == text.size()) return false;
  int64_t magnitude = 0;
  for (; i < text.size(); ++i) {
    if (!is_digit(text[i])) return false;
    magnitude = magnitude * 10 + (text[i] - '0');
    if (magnitude > 2147483648LL) return false;
  }
  const int64_t result = negative ? -magnitude : magnitude;
  if (result > 2147483647LL) return false;
  *value = static_cast<int32_t>(result);
  return true;
}

// An integer value read as the private-profile reader that mail.ini was
// made for reads it: an optional sign and the digits that follow, 0 when
// there are none ("no" is 0, "25x" is 25); beyond 32 bits the nearest
// 32-bit value.
int32_t profile_int(std::string_view text) {
  size_t i = 0;
  const bool negative = !text.empty() && text[0] == '-';
  if (!text.empty() && (text[0] == '-' || text[0] == '+')) i = 1;
  int64_t magnitude = 0;
  for (; i < text.size() && is_digit(text[i]) && magnitude <= 2147483648LL; ++i) {
    magnitude = magnitude * 10 + (text[i] - '0');
  }
  const int64_t result = negative ? -magnitude : magnitude;
  if (result > 2147483647LL) return 2147483647;
  if (result < -2147483648LL) return -2147483647 - 1;
  return static_cast<int32_t>(result);
}

// The option key `name` stands for, ignoring letter case; OPTION_COUNT if none.
size_t option_index(const std::string& name) {
  for (size_t k = 0; k < OPTION_COUNT; ++k) {
    if (ini_file::same_name(name, OPTION_KEYS[k].name)) return k;
  }
  return OPTION_COUNT;
}

struct option_line {
  std::string name;
  int32_t value;
};

void load_options(const std::vector<option_line>& lines) {
  if (lines.empty()) return;
  bool present[OPTION_COUNT] = {};
  for (const option_line& line : lines) {
    const size_t k = option_index(line.name);
    if (k < OPTION_COUNT) present[k] = true;
  }
  for (size_t k = FIRST_DEFAULT_ON; k < OPTION_COUNT; ++k) {
    if (!present[k]) OPTION_KEYS[k].flag->store(1);
  }
  for (const option_line& line : lines) {
    for (const option_key& key : OPTION_KEYS) {
      if (line.name == key.name) key.flag->store(line.value != 0 ? 1 : 0);
    }
  }
}

// Stores one account value into `slot`; the number of its setting in
// ACCOUNT_SETTINGS, or -1 for an unknown base name (nothing is stored).
int store_account_value(std::string_view base, std::string_view value, imap_info* slot) {
  for (size_t k = 0; k < ACCOUNT_SETTINGS.size(); ++k) {
    const account_setting& setting = ACCOUNT_SETTINGS[k];
    if (base != setting.key) continue;
    switch (setting.kind) {
      case account_setting::NUMBER:
      case account_setting::FLAG:
        setting.set_number(*slot, profile_int(value));
        break;
      case account_setting::TEXT:
        setting.set_text(*slot, std::string(value));
        break;
      case account_setting::PASSWORD:
        setting.set_text(*slot, unscramble_password(value));
        break;
    }
    return static_cast<int>(k);
  }
  return -1;
}

// An account line "base(index)=value"; false when the index is not a
// non-negative decimal number.
bool account_key(std::string_view name, std::string_view* base, int32_t* index) {
  const size_t open = name.find('(');
  const size_t close = name.find(')');
  if (close == std::string_view::npos || close < open) return false;
  const std::string_view digits = name.substr(open + 1, close - open - 1);
  if (digits.empty() || !is_digit(digits[0]) || !read_int32(digits, index)) return false;
  *base = name.substr(0, open);
  return true;
}

bool complete(const imap_info& slot) {
  for (const account_setting& setting : ACCOUNT_SETTINGS) {
    if (setting.required && setting.is_empty(slot)) return false;
  }
  return true;
}

// The settings a complete slot gives the table.
void settle(imap_info& account) {
  for (const account_setting& setting : ACCOUNT_SETTINGS) {
    if (setting.fallback != nullptr && setting.is_empty(account)) setting.fallback(account);
  }
}

// Where the lines of one account that stand together in the file went.
static_assert(ACCOUNT_SETTINGS.size() <= 32, "one bit per setting in account_run::given");
struct account_run {
  int32_t index;
  uint32_t given;  // bit k: ACCOUNT_SETTINGS[k] was among the lines
};

// Leaves one slot per account in index order. The lines of an account
// usually stand together and the accounts follow in order; lines of one
// account that stand apart are merged, later lines winning as they do
// within one run.
void merge_by_index(std::vector<account_run>& runs, std::vector<imap_info>& slots) {
  const auto by_index = [](const account_run& a, const account_run& b) {
    return a.index < b.index;
  };
  if (!std::is_sorted(runs.begin(), runs.end(), by_index)) {
    std::vector<size_t> order(runs.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return by_index(runs[a], runs[b]); });
    std::vector<account_run> sorted_runs;
    std::vector<imap_info> sorted_slots;
    sorted_runs.reserve(runs.size());
    sorted_slots.reserve(slots.size());
    for (size_t i : order) {
      sorted_runs.push_back(runs[i]);
      sorted_slots.push_back(std::move(slots[i]));
    }
    runs.swap(sorted_runs);
    slots.swap(sorted_slots);
  }
  size_t kept = 0;
  for (size_t i = 0; i < runs.size(); ++i) {
    if (kept > 0 && runs[kept - 1].index == runs[i].index) {
      for (size_t k = 0; k < ACCOUNT_SETTINGS.size(); ++k) {
        if ((runs[i].given >> k & 1) != 0) ACCOUNT_SETTINGS[k].copy(slots[i], slots[kept - 1]);
      }
      runs[kept - 1].given |= runs[i].given;
      continue;
    }
    if (kept != i) {
      runs[kept] = runs[i];
      slots[kept] = std::move(slots[i]);
    }
    ++kept;
  }
  runs.resize(kept);
  slots.erase(slots.begin() + static_cast<std::ptrdiff_t>(kept), slots.end());
}

}  // namespace

bool load_config(std::string* error) {
  std::vector<option_line> options;
  std::vector<account_run> runs;
  std::vector<imap_info> slots;  // one per run
  const auto take = [&](std::string_view name, std::string_view value) {
    if (name.find('(') == std::string_view::npos) {
      options.push_back({std::string(name), profile_int(value)});
      return;
    }
    std::string_view base;
    int32_t index = 0;
    if (!account_key(name, &base, &index)) return;
    if (runs.empty() || runs.back().index != index) {
      runs.push_back({index, 0});
      slots.emplace_back();
    }
    const int setting = store_account_value(base, value, &slots.back());
    if (setting >= 0) runs.back().given |= 1u << setting;
  };
  std::string reason;
  if (!config_path().empty() && !ini_file::read_section(config_path(), SECTION, take, &reason)) {
    if (error != nullptr) *error = reason;
    return false;
  }
  load_options(options);
  merge_by_index(runs, slots);

  slots.erase(std::remove_if(slots.begin(), slots.end(),
                             [](const imap_info& slot) { return !complete(slot); }),
              slots.end());
  for (imap_info& slot : slots) settle(slot);
  account_table.reload(std::move(slots), platform::env()->local_seconds());
  return true;
}

bool save_config(std::string* error) {
  const std::string& path = config_path();
  if (path.empty()) return true;
  const auto write_keys = [](ini_file::key_writer& keys) {
    for (const option_key& key : OPTION_KEYS) keys.add(key.name, key.flag->load() != 0 ? "1" : "0");
    std::string name;
    const auto write_account = [&](size_t i, const imap_info& account) {
      const std::string index = "(" + std::to_string(i) + ")";
      for (const account_setting& setting : ACCOUNT_SETTINGS) {
        name.assign(setting.key);
        name += index;
        if (setting.kind == account_setting::PASSWORD) {
          keys.add(name, scramble_password(account.*setting.text));
        } else {
          keys.add(name, setting.text_of(account));
        }
      }
      return !keys.piece_full();
    };
    // A piece at a time, so that the file is written outside the table's
    // lock.
    size_t next = 0;
    while (account_table.for_each_from(&next, write_account)) keys.flush();
  };
  std::string reason;
  const bool saved = ini_file::write_section(path, SECTION, write_keys, &reason);
  if (!saved && error != nullptr) *error = reason;
  return saved;
}

std::string scramble_password(const std::string& password) {
  std::string digits;
  digits.reserve(password.size() * 3);
  for (size_t j = 0; j < password.size(); ++j) {
    const unsigned byte = static_cast<unsigned char>(password[j]) ^
                          static_cast<unsigned char>(PASSWORD_KEY[(j + 1) % KEY_LENGTH]);
    const char group[3] = {static_cast<char>('0' + byte / 100),
                           static_cast<char>('0' + byte / 10 % 10),
                           static_cast<char>('0' + byte % 10)};
    digits.append(group, 3);
  }
  return digits;
}

std::string unscramble_password(std::string_view digits) {
  std::string password;
  for (size_t j = 0; (j + 1) * 3 <= digits.size(); ++j) {
    int32_t number = 0;
    if (!read_int32(digits.substr(j * 3, 3), &number)) break;
    const unsigned byte = (static_cast<uint32_t>(number) & 0xFFu) ^
                          static_cast<unsigned char>(PASSWORD_KEY[(j + 1) % KEY_LENGTH]);
    password += static_cast<char>(byte);
  }
  return password;
}
