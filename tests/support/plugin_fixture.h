// The fixtures of the in-process plug-in tests: the substitute host, whose log
// is the ordered record of what the user saw; one account builder; one fake
// Env. Test programs link email_core, email_host and email_test_support.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "host.h"
#include "imap_def.h"
#include "imap_main.h"
#include "imap_thread.h"
#include "imap_util.h"
#include "platform/env.h"
#include "platform/platform.h"
#include "test_support.h"

namespace test_support {

// The plug-in in the host: a scratch plug-in folder, the host's log, "load"
// before each test and "stop", "unload" and an empty account table after it.
class HostedPlugin : public ::testing::Test {
 protected:
  void SetUp() override {
    host_.set_plugin_dir(dir_.path());
    host_.attach(plugin_version, plugin_main);
    run("load");
    loaded_ = true;
  }

  void TearDown() override {
    if (!loaded_) return;  // the test ended in its fixture's SetUp
    run("stop\nunload");
    account_table.reload({}, 0);
  }

  // What the host logged while `f` ran.
  template <typename F>
  std::string during(F f) {
    const size_t start = log_.text().size();
    f();
    return log_.text().substr(start);
  }

  // Runs script lines and returns what the host logged meanwhile.
  std::string run(const std::string& script) {
    return during([&] {
      std::istringstream lines(script);
      for (std::string line; std::getline(lines, line);) host_.run_command(line);
    });
  }

  // Waits for a log line holding `text` after the previous wait's match.
  void wait_for(const std::string& text) {
    const std::string out = run("wait 30000 " + text);
    ASSERT_EQ(out.find("wait: nothing"), std::string::npos) << "no " << text << "\n" << log_.text();
  }

  // The id of the contact-list entry named `name`; 0 (and a failure) when
  // there is none.
  int32_t entry_id(const std::string& name) {
    for (const auto& e : host_.entries()) {
      if (e.name == name) return e.id;
    }
    ADD_FAILURE() << "no entry " << name;
    return 0;
  }

  temp_dir dir_;
  shared_log log_;
  std::ostream log_stream_{&log_};
  substitute_host host_{log_stream_};

 private:
  bool loaded_ = false;
};

}  // namespace test_support

namespace plugin_test {

// An account; the defaults after the first six suit a scripted server.
struct account_spec {
  std::string display = "Work";
  int32_t accttype = ACCOUNT_IMAP;
  int32_t new_count = 0;
  int32_t total_count = 0;
  std::string client{};
  std::string arguments{};
  std::string hostname = "127.0.0.1";
  std::string port{};  // empty: the type's default
  std::string username = "bob";
  std::string password = "secret";
  uint8_t unseen = 1;
  int64_t next_check = -1;  // -1: as a new account is scheduled
  int32_t attempt = 5;      // minutes
  uint8_t ssl = 0;
  std::string address{};
};

// Appends the account to the account table, without an entry; returns its key.
inline account_ref add_account(const account_spec& spec) {
  imap_info settings;
  set_new_account_defaults(settings);
  settings.display = spec.display;
  settings.accttype = spec.accttype;
  settings.client = spec.client;
  settings.arguments = spec.arguments;
  settings.hostname = spec.hostname;
  if (!spec.port.empty()) settings.port = std::stoi(spec.port);
  settings.username = spec.username;
  settings.password = spec.password;
  settings.unseen = spec.unseen;
  settings.attempt = spec.attempt;
  settings.ssl = spec.ssl;
  settings.address = spec.address;
  const account_ref key = account_table.key_at(static_cast<size_t>(append_account(settings)));
  account_table.update(key, [&](imap_info& a) {
    a.new_count = spec.new_count;
    a.total_count = spec.total_count;
    if (spec.next_check >= 0) a.next_check = spec.next_check;
  });
  return key;
}

inline imap_info account(account_ref key) {
  imap_info out;
  EXPECT_TRUE(account_table.copy(key, &out)) << "account " << key;
  return out;
}

// A clock in milliseconds that moves only when the test moves it or the
// plug-in sleeps; a thread timer that never ticks; sounds told to `heard`.
// The rest goes to the Env in use before (the host's, which sees launches).
class fake_env : public platform::EnvWrapper {
 public:
  fake_env() : EnvWrapper(platform::env()) {}

  int64_t local_seconds() override { return now_ms.load() / 1000; }
  // No real wait: the pause passes on the clock.
  bool wait_ms(uint32_t ms, std::condition_variable&, std::unique_lock<std::mutex>&,
               const std::function<bool()>& done) override {
    now_ms += ms;
    slept_ms += ms;
    return done();
  }
  uintptr_t start_thread_timer(uint32_t period_ms) override {
    timer_period = period_ms;
    return kTimerId;
  }
  void stop_thread_timer(uintptr_t id) override { stopped_timer = id; }
  bool file_exists(const std::string& path) override {
    return path == SOUND_FILE_NAME ? sound_file_exists.load() : target()->file_exists(path);
  }
  platform::sound_result play_sound_file(const std::string& path) override {
    if (heard) heard("sound file " + path);
    return {};
  }
  platform::sound_result play_sound_resource(const void* module, int id) override {
    if (heard) {
      heard("sound resource " + std::to_string(id) +
            (module == this_module() ? "" : " of another module"));
    }
    return {};
  }

  static constexpr uintptr_t kTimerId = 77;
  std::atomic<int64_t> now_ms{1700000000000};
  std::atomic<uint32_t> slept_ms{0};
  std::atomic<uint32_t> timer_period{0};
  std::atomic<uintptr_t> stopped_timer{0};
  std::atomic<bool> sound_file_exists{false};
  // Set before the plug-in runs; called on the plug-in's threads.
  std::function<void(const std::string&)> heard;
};

// The first quoted field `name` of a log line, its C escapes undone.
inline std::string log_field(const std::string& line, const std::string& name) {
  size_t at = line.find(" " + name + "=\"");
  if (at == std::string::npos) return "?";
  std::string out;
  for (at += name.size() + 3; at < line.size() && line[at] != '"'; ++at) {
    if (line[at] != '\\' || at + 1 >= line.size()) {
      out += line[at];
      continue;
    }
    const char c = line[++at];
    if (c == 'r') {
      out += '\r';
    } else if (c == 'n') {
      out += '\n';
    } else if (c == 'x') {
      out += static_cast<char>(std::strtol(line.substr(at + 1, 2).c_str(), nullptr, 16));
      at += 2;
    } else {
      out += c;
    }
  }
  return out;
}

// The plug-in in the host with the fake Env, the state bitmaps and every
// option on; the contact list, the table and the Env are restored after.
class PluginTest : public test_support::HostedPlugin {
 protected:
  void SetUp() override {
    env_.heard = [this](const std::string& line) { note(line); };
    platform::set_env(&env_);
    HostedPlugin::SetUp();
    load_state_bitmaps();
    for (auto* option :
         {&use_alert, &use_section, &use_icon, &use_sound, &use_disable, &use_header}) {
      *option = 1;
    }
    events();
  }

  void TearDown() override {
    remove_account_entries();
    HostedPlugin::TearDown();
    free_state_bitmaps();
    mail_group_id = -1;
    checker_thread_id = 0;
    platform::set_env(env_.target());
  }

  // Appends an account and gives it a contact-list entry.
  account_ref add(const account_spec& spec) {
    const account_ref key = add_account(spec);
    add_account_entry(key);
    return key;
  }

  int64_t now() { return env_.local_seconds(); }

  // Requests to the checker come to this thread's queue from now on.
  void take_checker_posts() {
    posts();
    checker_thread_id = platform::current_thread_id();
  }

  // What was posted to this thread since the previous call.
  static std::vector<platform::thread_message> posts() {
    std::vector<platform::thread_message> out;
    platform::thread_message m;
    while (platform::peek_thread_message(&m)) out.push_back(m);
    return out;
  }

  // Puts "note `line`" into the host's log in order; any thread.
  void note(const std::string& line) { host_.run_command("echo note " + line); }

  // What the user saw since the previous call: "icon NAME", "text T",
  // "tooltip T", "alert T", and the notes ("sound ..." among them).
  std::vector<std::string> events() {
    std::vector<std::string> out;
    for (const std::string& line : log_lines_since(&events_from_)) {
      if (line.rfind("note ", 0) == 0) {
        out.push_back(line.substr(5));
      } else if (line.rfind("host listUpdateIcon ", 0) == 0) {
        const size_t at = line.find(" bitmap=") + 8;
        out.push_back("icon " + line.substr(at, line.find_first_of(" }", at) - at));
      } else if (line.rfind("host listUpdateText ", 0) == 0) {
        out.push_back("text " + log_field(line, "text"));
      } else if (line.rfind("host listUpdateTooltip ", 0) == 0) {
        out.push_back("tooltip " + log_field(line, "tooltip"));
      } else if (line.rfind("host systraySetAlert ", 0) == 0) {
        out.push_back("alert " + log_field(line, "text"));
      }
    }
    return out;
  }

  // The host's log lines added since *from, which then points past them.
  std::vector<std::string> log_lines_since(size_t* from) {
    const std::string text = log_.text();
    std::istringstream lines(text.substr(*from));
    *from = text.size();
    std::vector<std::string> out;
    for (std::string line; std::getline(lines, line);) out.push_back(line);
    return out;
  }

  fake_env env_;

 private:
  size_t events_from_ = 0;
};

}  // namespace plugin_test
