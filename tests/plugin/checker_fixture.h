// Shared by the checker tests: a clock, sleeps, timer and sounds the test
// controls, a recording host, and accounts with contact-list entries in the
// real account table.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "imap_def.h"
#include "imap_main.h"
#include "imap_thread.h"
#include "imap_util.h"
#include "platform/env.h"

namespace checker_test {

// Everything the plug-in did that a user could see, in order: "icon N",
// "text ...", "tooltip ...", "alert ...", "sound ...", plus what a test adds.
class event_log {
 public:
  void add(const std::string& line) {
    {
      std::lock_guard<std::mutex> hold(lock_);
      lines_.push_back(line);
    }
    changed_.notify_all();
  }
  std::vector<std::string> take() {
    std::lock_guard<std::mutex> hold(lock_);
    std::vector<std::string> out;
    out.swap(lines_);
    return out;
  }
  // Waits (at most 20 s, so that a broken checker fails instead of hanging)
  // until a line equals `line`.
  bool wait_for(const std::string& line) {
    std::unique_lock<std::mutex> hold(lock_);
    return changed_.wait_for(hold, std::chrono::seconds(20), [&] {
      for (const std::string& l : lines_) {
        if (l == line) return true;
      }
      return false;
    });
  }

 private:
  std::mutex lock_;
  std::condition_variable changed_;
  std::vector<std::string> lines_;  // guarded by lock_
};

inline event_log& events() {
  static event_log* log = new event_log;
  return *log;
}

// The clock runs in milliseconds and moves only when the test moves it or
// the plug-in sleeps; the timer never ticks by itself.
class fake_env : public platform::EnvWrapper {
 public:
  fake_env() : EnvWrapper(platform::default_env()) {}

  int64_t local_seconds() override { return now_ms.load() / 1000; }
  void sleep_ms(uint32_t ms) override {
    now_ms += ms;
    slept_ms += ms;
  }
  uintptr_t start_thread_timer(uint32_t period_ms) override {
    timer_period = period_ms;
    return 77;
  }
  void stop_thread_timer(uintptr_t id) override { stopped_timer = id; }
  bool file_exists(const std::string& path) override {
    return path == SOUND_FILE_NAME ? sound_file_exists.load() : target()->file_exists(path);
  }
  platform::sound_result play_sound_file(const std::string& path) override {
    events().add("sound file " + path);
    return {};
  }
  platform::sound_result play_sound_resource(const void* module, int id) override {
    events().add(std::string("sound resource ") + std::to_string(id) +
                 (module == this_module() ? "" : " of another module"));
    return {};
  }

  std::atomic<int64_t> now_ms{1700000000000};
  std::atomic<uint32_t> slept_ms{0};
  std::atomic<uint32_t> timer_period{0};
  std::atomic<uintptr_t> stopped_timer{0};
  std::atomic<bool> sound_file_exists{false};
};

// The host: entries get ids from 1 on; every update and alert becomes an
// event, and alerts are dismissed at once so that nothing leaks.
inline int32_t EMAIL_CALL recording_host(const char*, const char* function, void* record) {
  static std::atomic<int32_t> next_entry{1};
  const std::string name = function;
  auto* entry = static_cast<list_entry_record*>(record);
  if (name == "listAddEntry") return entry->is_entry != 0 ? next_entry++ : 0;
  if (name == "listUpdateIcon") {
    for (int i = 0; i < STATE_BITMAP_COUNT; ++i) {
      if (entry->icon->bitmap == &state_bitmaps[i]) events().add("icon " + std::to_string(i));
    }
  } else if (name == "listUpdateText") {
    events().add(std::string("text ") + entry->text);
  } else if (name == "listUpdateTooltip") {
    events().add(std::string("tooltip ") + entry->tooltip);
  } else if (name == "systraySetAlert") {
    auto* alert = static_cast<alert_record*>(record);
    events().add(std::string("alert ") + alert->text);
    on_alert_event(0, 0, "alert_destroy", 0, alert->user_data);
  }
  return 0;
}

struct account_spec {
  const char* display = "Work";
  int32_t accttype = ACCOUNT_IMAP;
  std::string port = "143";
  uint8_t unseen = 1;
  int32_t new_count = 0;
  int32_t total_count = 0;
  int64_t next_check = 1;
  int32_t attempt = 5;
};

// Options on, clock and host installed; the table and the contact list are
// emptied afterwards.
class CheckerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::set_env(&env_);
    host_call.store(recording_host);
    load_state_bitmaps();
    use_alert = 1;
    use_icon = 1;
    use_sound = 1;
    use_disable = 1;
    use_header = 1;
    events().take();
  }

  void TearDown() override {
    remove_account_entries();
    account_table.reload({}, 0);
    free_state_bitmaps();
    host_call.store(nullptr);
    platform::set_env(nullptr);
    events().take();
  }

  // An account on 127.0.0.1 with user bob, password secret and an entry.
  account_ref add(const account_spec& spec) {
    imap_info settings;
    set_new_account_defaults(settings);
    settings.display = spec.display;
    settings.accttype = spec.accttype;
    settings.hostname = "127.0.0.1";
    settings.port = std::stoi(spec.port);
    settings.username = "bob";
    settings.password = "secret";
    settings.unseen = spec.unseen;
    settings.attempt = spec.attempt;
    const account_ref key = account_table.key_at(static_cast<size_t>(append_account(settings)));
    account_table.update(key, [&](imap_info& a) {
      a.new_count = spec.new_count;
      a.total_count = spec.total_count;
      a.next_check = spec.next_check;
    });
    add_account_entry(key);
    return key;
  }

  imap_info account(account_ref key) {
    imap_info out;
    EXPECT_TRUE(account_table.copy(key, &out)) << "account " << key;
    return out;
  }

  int64_t now() { return env_.local_seconds(); }

  fake_env env_;
};

}  // namespace checker_test
