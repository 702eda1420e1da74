// The plug-in loaded from a scratch folder with an empty table and every
// option off, for the tests of mail.ini.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "plugin_fixture.h"
#include "test_support.h"

class ConfigTest : public plugin_test::PluginTest {
 protected:
  void SetUp() override {
    PluginTest::SetUp();
    set_flags("000000");
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
};
