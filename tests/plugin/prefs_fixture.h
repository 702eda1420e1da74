// Shared by the preferences tests: the plug-in linked in and loaded by the
// substitute host, the user played through the dialogs' controls, message
// boxes and the open-file dialog answered and recorded.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dialog_user.h"
#include "imap_def.h"
#include "imap_main.h"
#include "imap_thread.h"
#include "imap_util.h"
#include "imap_windows.h"
#include "message_boxes.h"
#include "plugin_fixture.h"
#include "test_support.h"

namespace prefs_test {

struct box_seen {
  std::string text, caption;
  uint32_t style;
};

// The plug-in as in the other in-process tests, with every option off.
class PrefsTest : public plugin_test::PluginTest {
 protected:
  void SetUp() override {
    PluginTest::SetUp();
    for (auto* option :
         {&use_alert, &use_section, &use_icon, &use_sound, &use_disable, &use_header}) {
      *option = 0;
    }
    install_message_box_answerer(
        [this](const std::string& text, const std::string& caption, uint32_t style) {
          boxes_.push_back({text, caption, style});
          return answer_;
        });
    install_open_file_answerer(
        [this](const std::string& title, const std::string& filter, std::string* path) {
          files_asked_.push_back(title + " " + filter);
          if (picked_file_.empty()) return false;
          *path = picked_file_;
          return true;
        });
    // Requests to the checker come to this thread's queue.
    platform::thread_message drained;
    while (platform::peek_thread_message(&drained)) {
    }
    checker_thread_id = platform::current_thread_id();
  }

  void TearDown() override {
    PluginTest::TearDown();
    remove_open_file_answerer();
    remove_message_box_answerer();
  }

  // Appends an account named by its address; returns its key.
  static account_ref add_account(const std::string& address, int32_t type = ACCOUNT_IMAP) {
    plugin_test::account_spec spec;
    spec.display = spec.address = address;
    spec.accttype = type;
    return plugin_test::add_account(spec);
  }

  platform::window_handle show_page(int x = 10, int y = 20) {
    prefs_show_record r{};
    r.show = 1;
    r.page_name = "E-Mail";
    // One preferences window for the whole program, as in a host.
    static const platform::window_handle parent = make_preferences_window();
    r.parent_window = parent;
    r.x = x;
    r.y = y;
    plugin_main("prefsShow", &r);
    return prefs_page_window.load();
  }

  void prefs_action(int32_t action) {
    prefs_action_record r{};
    r.action = action;
    plugin_main("prefsAction", &r);
  }

  static platform::control_state control(platform::window_handle dialog, int id) {
    platform::window_state s;
    EXPECT_TRUE(read_dialog(dialog, &s)) << "dialog " << dialog;
    for (const platform::control_state& c : s.controls) {
      if (c.id == id) return c;
    }
    ADD_FAILURE() << "no control " << id;
    return {};
  }
  static std::string text(platform::window_handle dialog, int id) {
    return control(dialog, id).text;
  }

  // The rows of the page's account list.
  std::vector<std::vector<std::string>> rows() {
    return control(prefs_page_window.load(), ID_ACCOUNT_LIST).rows;
  }

  // The requests posted to the checker since the last call.
  static std::vector<platform::thread_message> checker_requests() {
    std::vector<platform::thread_message> out;
    platform::thread_message m;
    while (platform::peek_thread_message(&m)) out.push_back(m);
    return out;
  }

  // Fills every field of the open account dialog for a valid IMAP account.
  void fill_imap_account(const std::string& address) {
    const platform::window_handle d = account_dialog_window;
    ASSERT_TRUE(type_text(d, ID_ADDRESS, address));
    ASSERT_TRUE(type_text(d, ID_DISPLAY, "Work"));
    ASSERT_TRUE(type_text(d, ID_USERNAME, "joe"));
    ASSERT_TRUE(type_text(d, ID_PASSWORD, "pw"));
    ASSERT_TRUE(type_text(d, ID_HOSTNAME, "imap.example"));
  }

  std::vector<box_seen> boxes_;
  int32_t answer_ = platform::ANSWER_YES;
  std::vector<std::string> files_asked_;
  std::string picked_file_;
};

}  // namespace prefs_test
