// The entry point: dispatch of event names, "load", "unload", "finalUnload",
// and the registration of dialogs with the host.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "imap_def.h"
#include "imap_main.h"
#include "message_boxes.h"
#include "test_support.h"

namespace {

struct host_call_seen {
  std::string plugin_id;
  std::string function;
  void* window;  // for dialog records
};

std::vector<host_call_seen> calls;

int32_t EMAIL_CALL fake_host(const char* plugin_id, const char* function, void* record) {
  void* window = nullptr;
  const std::string name = function;
  if (name == "dialogAdd" || name == "dialogRemove") {
    auto* r = static_cast<dialog_record*>(record);
    EXPECT_EQ(r->size, static_cast<int32_t>(sizeof(dialog_record)));
    window = r->window;
  }
  calls.push_back({plugin_id, name, window});
  return 0;
}

struct box_seen {
  std::string text, caption;
  uint32_t style;
};

class EntryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    calls.clear();
    install_message_box_answerer(
        [this](const std::string& text, const std::string& caption, uint32_t style) {
          boxes_.push_back({text, caption, style});
          return answer_;
        });
  }

  void TearDown() override {
    plugin_main("unload", nullptr);
    remove_message_box_answerer();
  }

  void load(const std::string& dir) {
    dir_ = dir;
    info_ = plugin_info_record{};
    info_.plugin_dir = dir_.c_str();
    info_.host_call = fake_host;
    ASSERT_EQ(plugin_main("load", &info_), 0);
  }

  // Whether the plug-in still holds a host call: one is made only then.
  bool has_host_call() {
    calls.clear();
    call_host("probe", nullptr);
    return !calls.empty();
  }

  std::string dir_;
  plugin_info_record info_{};
  std::vector<box_seen> boxes_;
  int32_t answer_ = 6;
};

TEST_F(EntryTest, VersionIsOne) { EXPECT_EQ(plugin_version(), 1); }

// The identity's texts are checked through the library's own export (the
// host's lifecycle story); here what "load" keeps.
TEST_F(EntryTest, LoadKeepsACopyOfTheDirectoryAndTheHostCall) {
  load("/plugins/mail/");
  ASSERT_NE(plugin_dir, nullptr);
  EXPECT_STREQ(plugin_dir, "/plugins/mail/");
  EXPECT_NE(plugin_dir, info_.plugin_dir) << "the directory must be a copy";
  EXPECT_EQ(config_path(), "/plugins/mail/mail.ini");
  ASSERT_TRUE(has_host_call());
  EXPECT_EQ(calls[0].plugin_id, PLUGIN_ID);
}

// Each buffer gets its text and the NUL, and nothing beyond: the host sizes
// the description buffer itself, possibly to just the 52 bytes written.
TEST_F(EntryTest, LoadWritesNothingPastEachText) {
  std::memset(&info_, 0xAB, sizeof info_);
  info_.plugin_dir = "/p/";
  info_.host_call = fake_host;
  ASSERT_EQ(plugin_main("load", &info_), 0);
  struct buffer_case {
    const char* buffer;
    size_t size;
    const char* text;
  };
  const buffer_case cases[] = {
      {info_.id, sizeof info_.id, PLUGIN_ID},
      {info_.name, sizeof info_.name, PLUGIN_NAME},
      {info_.publisher, sizeof info_.publisher, PLUGIN_PUBLISHER},
      {info_.version, sizeof info_.version, PLUGIN_VERSION},
      {info_.description, sizeof info_.description, PLUGIN_DESCRIPTION},
  };
  for (const buffer_case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_STREQ(c.buffer, c.text);
    for (size_t i = std::strlen(c.text) + 1; i < c.size; ++i) {
      ASSERT_EQ(static_cast<unsigned char>(c.buffer[i]), 0xAB) << "byte " << i;
    }
  }
}

TEST_F(EntryTest, LoadWithoutRecordDoesNothing) {
  EXPECT_EQ(plugin_main("load", nullptr), 0);
  EXPECT_EQ(plugin_dir, nullptr);
  EXPECT_FALSE(has_host_call());
}

TEST_F(EntryTest, UnloadReleasesDirectoryAndForgetsHostCall) {
  load("/p/");
  EXPECT_EQ(plugin_main("unload", nullptr), 0);
  EXPECT_EQ(plugin_dir, nullptr);
  EXPECT_FALSE(has_host_call());
  // With the host call gone, "stop" must not reach the host.
  calls.clear();
  EXPECT_EQ(plugin_main("stop", nullptr), 0);
  EXPECT_TRUE(calls.empty());
}

// Names are compared over the whole text with only A-Z folded. "load" is
// observed through the identity it writes, "finalUnload" through its box.
TEST_F(EntryTest, EventNamesFoldOnlyAsciiLetters) {
  struct name_case {
    const char* event;
    bool is_load;
    bool is_final_unload;
  };
  const name_case cases[] = {
      {"load", true, false},
      {"LOAD", true, false},
      {"Load", true, false},
      {"lOaD", true, false},
      {"load ", false, false},
      {"loa", false, false},
      {"loader", false, false},
      {"", false, false},
      {"finalunload", false, true},
      {"FINALUNLOAD", false, true},
      {"FinalUnload", false, true},
      {"f\xDDnalUnload", false, false},  // a dotted capital I in ISO-8859-9
      {"final\xD5nload", false, false},
      {"finalUnload\n", false, false},
      {"prefsshowX", false, false},
  };
  for (const name_case& c : cases) {
    SCOPED_TRACE(c.event);
    boxes_.clear();
    plugin_info_record info{};
    info.plugin_dir = "/x/";
    EXPECT_EQ(plugin_main(c.event, &info), 0);
    EXPECT_EQ(std::string(info.name) == "E-Mail Plugin", c.is_load);
    EXPECT_EQ(boxes_.size(), c.is_final_unload ? 1u : 0u);
  }
  EXPECT_EQ(plugin_main(nullptr, nullptr), 0);
}

TEST_F(EntryTest, EveryHandledEventReturnsZero) {
  load("/p/");
  prefs_show_record show{};
  prefs_action_record action{};
  EXPECT_EQ(plugin_main("initialLoad", nullptr), 0);
  EXPECT_EQ(plugin_main("prefsShow", &show), 0);
  EXPECT_EQ(plugin_main("prefsAction", &action), 0);
  EXPECT_EQ(plugin_main("finalUnload", nullptr), 0);
  EXPECT_EQ(plugin_main("unload", nullptr), 0);
}

TEST_F(EntryTest, FinalUnloadAsksAndDeletesOnlyOnNo) {
  struct answer_case {
    int32_t answer;
    bool unload_first;
    bool kept;
  };
  const answer_case cases[] = {
      {6, false, true},   // Yes
      {7, false, false},  // No
      {2, false, true},   // anything else keeps it
      {7, true, false},   // "unload" came first: the file is still found
      {6, true, true},
  };
  for (const answer_case& c : cases) {
    SCOPED_TRACE(testing::Message() << "answer " << c.answer << " unload first " << c.unload_first);
    test_support::temp_dir dir;
    const std::string ini = dir.path() + "mail.ini";
    test_support::write_file(ini, "[Mail]\r\n");
    load(dir.path());
    if (c.unload_first) plugin_main("unload", nullptr);
    boxes_.clear();
    answer_ = c.answer;
    EXPECT_EQ(plugin_main("finalUnload", nullptr), 0);
    // Its caption and text: the host's lifecycle story.
    ASSERT_EQ(boxes_.size(), 1u);
#if !defined(_WIN32)  // a real Windows message box shows only its buttons
    EXPECT_EQ(boxes_[0].style, 36u);
#endif
    EXPECT_EQ(test_support::file_exists(ini), c.kept);
    plugin_main("unload", nullptr);
  }
}

TEST_F(EntryTest, FinalUnloadWithoutConfigurationFileIsHarmless) {
  test_support::temp_dir dir;
  load(dir.path());
  answer_ = 7;
  EXPECT_EQ(plugin_main("finalUnload", nullptr), 0);
  EXPECT_EQ(boxes_.size(), 1u);
}

// A host that gives no directory: the mail.ini in the current directory is
// someone else's, so it is neither read, nor written, nor deleted.
TEST_F(EntryTest, WithoutADirectoryNoFileIsTouched) {
  test_support::temp_dir current;
  const std::string ini = current.path() + "mail.ini";
  const std::string text = "[Mail]\r\nusername(0)=u\r\npassword(0)=031039\r\nhostname(0)=h\r\n";
  test_support::write_file(ini, text);
  const std::filesystem::path before = std::filesystem::current_path();
  std::filesystem::current_path(current.path());
  info_ = plugin_info_record{};
  info_.host_call = fake_host;
  plugin_main("load", &info_);
  answer_ = 7;  // "No" to keeping the configuration
  plugin_main("start", nullptr);
  EXPECT_TRUE(account_table.empty());
  plugin_main("stop", nullptr);
  plugin_main("finalUnload", nullptr);
  std::filesystem::current_path(before);
  EXPECT_EQ(test_support::read_file(ini), text);
  ASSERT_EQ(boxes_.size(), 2u);
  EXPECT_NE(boxes_[0].text.find("no folder"), std::string::npos) << boxes_[0].text;
}

intptr_t proc_messages[3];  // init, destroy, init lparam
intptr_t record_messages(platform::window_handle, uint32_t message, uintptr_t, intptr_t lparam) {
  if (message == platform::MSG_INITDIALOG) {
    ++proc_messages[0];
    proc_messages[2] = lparam;
  }
  if (message == platform::MSG_DESTROY) ++proc_messages[1];
  return 0;
}

// The page (101) is a child window, so it needs a parent; a pop-up dialog of
// the module serves.
TEST_F(EntryTest, HostDialogsAreRegisteredAndDestroyed) {
  load("/p/");
  platform::window_handle parent = platform::create_dialog(this_module(), 103, nullptr, nullptr);
  ASSERT_NE(parent, nullptr);
  for (int id : {101, 102, 103}) {
    SCOPED_TRACE(id);
    calls.clear();
    proc_messages[0] = proc_messages[1] = 0;
    proc_messages[2] = -1;
    platform::window_handle window = open_host_dialog(id, parent, record_messages);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(proc_messages[0], 1);
    EXPECT_EQ(proc_messages[2], 0) << "creation parameter";
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].function, "dialogAdd");
    EXPECT_EQ(calls[0].window, window);
    close_host_dialog(window);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[1].function, "dialogRemove");
    EXPECT_EQ(calls[1].window, window);
    EXPECT_EQ(proc_messages[1], 1);
  }
  platform::destroy_window(parent);
}

TEST_F(EntryTest, UnloadClosesThePreferencesPage) {
  load("/p/");
  platform::window_handle parent = platform::create_dialog(this_module(), 103, nullptr, nullptr);
  prefs_page_window = open_host_dialog(101, parent, record_messages);
  ASSERT_NE(prefs_page_window, nullptr);
  const platform::window_handle page = prefs_page_window;
  calls.clear();
  plugin_main("unload", nullptr);
  EXPECT_EQ(prefs_page_window, nullptr);
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].function, "dialogRemove");
  EXPECT_EQ(calls[0].window, page);
  platform::destroy_window(parent);
}

}  // namespace
