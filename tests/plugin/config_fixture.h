// A plug-in "loaded" from a scratch folder, with a clock a test can set, for
// the tests of mail.ini.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "imap_def.h"
#include "imap_main.h"
#include "platform/env.h"
#include "test_support.h"

class fixed_clock : public platform::EnvWrapper {
 public:
  fixed_clock() : EnvWrapper(platform::default_env()) {}
  int64_t local_seconds() override { return now; }
  int64_t now = 1700000000;
};

class ConfigTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::set_env(&clock_);
    plugin_info_record info{};
    info.plugin_dir = dir_.path().c_str();
    plugin_main("load", &info);
    account_table.reload({}, 0);
    set_flags("000000");
  }

  void TearDown() override {
    plugin_main("unload", nullptr);
    account_table.reload({}, 0);
    platform::set_env(nullptr);
  }

  std::string path() const { return dir_.path() + "mail.ini"; }
  void write(const std::string& text) { test_support::write_file(path(), text); }
  std::string read() const { return test_support::read_file(path()); }

  // The six flags as digits, in file order: alert, section, icon, sound,
  // disable, header.
  static void set_flags(const char* digits) {
    std::atomic<uint8_t>* flags[] = {&use_alert, &use_section, &use_icon,
                                     &use_sound, &use_disable, &use_header};
    for (int i = 0; i < 6; ++i) flags[i]->store(static_cast<uint8_t>(digits[i] - '0'));
  }
  static std::string flags() {
    std::string digits;
    for (uint8_t f : {use_alert.load(), use_section.load(), use_icon.load(), use_sound.load(),
                      use_disable.load(), use_header.load()}) {
      digits += static_cast<char>('0' + f);
    }
    return digits;
  }

  fixed_clock clock_;
  test_support::temp_dir dir_;
};
