// The entry point: event names, "load", "unload", "finalUnload", and the
// dialogs registered with the (substitute) host.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "message_boxes.h"
#include "plugin_fixture.h"

namespace {

class EntryTest : public test_support::HostedPlugin {
 protected:
  void SetUp() override {
    HostedPlugin::SetUp();
    substitute_ = host_call.load();
  }

  // Sends `event` with a record of the test's own, as a host would.
  int32_t send(const char* event, plugin_info_record* info) {
    info->host_call = substitute_;
    return plugin_main(event, info);
  }

  // Whether a call through the plug-in's host call reaches the host.
  bool reaches_host() {
    const size_t start = log_.text().size();
    call_host("probe", nullptr);
    return log_.text().find("host probe record=null -> 0", start) != std::string::npos;
  }

  host_call_fn substitute_ = nullptr;
};

// Each buffer gets its text and the NUL, and nothing beyond: the host sizes
// the description buffer itself, possibly to just the 52 bytes written. The
// directory is kept as a copy; the plug-in calls the host under its own id.
TEST_F(EntryTest, LoadKeepsTextsAndDirectoryUntilUnload) {
  plugin_info_record info;
  std::memset(&info, 0xAB, sizeof info);
  const std::string dir = "/plugins/mail/";
  info.plugin_dir = dir.c_str();
  ASSERT_EQ(send("load", &info), 0);
  const struct {
    const char* buffer;
    size_t size;
    const char* text;
  } cases[] = {
      {info.id, sizeof info.id, PLUGIN_ID},
      {info.name, sizeof info.name, PLUGIN_NAME},
      {info.publisher, sizeof info.publisher, PLUGIN_PUBLISHER},
      {info.version, sizeof info.version, PLUGIN_VERSION},
      {info.description, sizeof info.description, PLUGIN_DESCRIPTION},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_STREQ(c.buffer, c.text);
    for (size_t i = std::strlen(c.text) + 1; i < c.size; ++i) {
      ASSERT_EQ(static_cast<unsigned char>(c.buffer[i]), 0xAB) << "byte " << i;
    }
  }
  ASSERT_NE(plugin_dir, nullptr);
  EXPECT_STREQ(plugin_dir, "/plugins/mail/");
  EXPECT_NE(plugin_dir, dir.c_str());
  EXPECT_EQ(config_path(), "/plugins/mail/mail.ini");
  EXPECT_TRUE(reaches_host());
  EXPECT_EQ(log_.text().find("plugin_id="), std::string::npos) << log_.text();

  // After "unload", and after a "load" without a record, the plug-in holds
  // neither directory nor host call: "stop" then reaches no host.
  run("unload");
  EXPECT_EQ(plugin_main("load", nullptr), 0);
  EXPECT_EQ(plugin_dir, nullptr);
  EXPECT_FALSE(reaches_host());
  const size_t start = log_.text().size();
  EXPECT_EQ(plugin_main("stop", nullptr), 0);
  EXPECT_EQ(log_.text().find("host ", start), std::string::npos) << log_.text();
}

// Names are compared over the whole text with only A-Z folded. "load" is
// observed through the identity it writes, "finalUnload" through its box.
TEST_F(EntryTest, EventNamesFoldOnlyAsciiLetters) {
  const struct {
    std::vector<const char*> events;
    bool is_load, is_final_unload;
  } cases[] = {{{"load", "LOAD", "Load", "lOaD"}, true, false},
               {{"finalunload", "FINALUNLOAD", "FinalUnload"}, false, true},
               // Non-ASCII capitals in ISO-8859-9 (a dotted I) are not folded.
               {{"load ", "loa", "loader", "", "f\xDDnalUnload", "final\xD5nload", "finalUnload\n",
                 "prefsshowX"},
                false,
                false}};
  for (const auto& [events, is_load, is_final_unload] : cases) {
    for (const char* event : events) {
      SCOPED_TRACE(event);
      plugin_info_record info{};
      info.plugin_dir = dir_.path().c_str();
      const size_t start = log_.text().size();
      EXPECT_EQ(send(event, &info), 0);
      EXPECT_EQ(std::string(info.name) == PLUGIN_NAME, is_load);
      EXPECT_EQ(log_.text().find("messagebox", start) != std::string::npos, is_final_unload);
    }
  }
  EXPECT_EQ(plugin_main(nullptr, nullptr), 0);
}

// The user keeps mail.ini with "Yes" or anything but "No"; after "unload"
// the file is still found. The box's caption and text: the host's lifecycle
// story; its icon shows only here.
TEST_F(EntryTest, FinalUnloadAsksAndDeletesOnlyOnNo) {
  const struct {
    int32_t answer;
    bool unload_first, file, kept;
  } cases[] = {
      {6, false, true, true},    // Yes
      {7, false, true, false},   // No
      {2, false, true, true},    // anything else keeps it
      {7, true, true, false},    // "unload" came first
      {6, true, true, true},     //
      {7, false, false, false},  // no file: nothing to delete
  };
  std::vector<uint32_t> styles;
  int32_t answer = 0;
  install_message_box_answerer([&](const std::string&, const std::string&, uint32_t style) {
    styles.push_back(style);
    return answer;
  });
  const std::string ini = dir_.path() + "mail.ini";
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "answer " << c.answer << " unload first " << c.unload_first);
    if (c.file) test_support::write_file(ini, "[Mail]\r\n");
    run("load");
    if (c.unload_first) run("unload");
    styles.clear();
    answer = c.answer;
    EXPECT_NE(run("finalUnload").find("plugin_main(\"finalUnload\") -> 0"), std::string::npos);
    ASSERT_EQ(styles.size(), 1u);
#if !defined(_WIN32)            // a real Windows message box shows only its buttons
    EXPECT_EQ(styles[0], 36u);  // Yes and No, a question mark
#endif
    EXPECT_EQ(test_support::file_exists(ini), c.kept);
    run("unload");
  }
  remove_message_box_answerer();
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
  plugin_info_record info{};
  send("load", &info);
  const std::string log = run("answer no\nstart\nstop\nfinalUnload");
  std::filesystem::current_path(before);
  EXPECT_TRUE(account_table.empty());
  EXPECT_EQ(test_support::read_file(ini), text);
  EXPECT_NE(log.find("gave this plug-in no folder of its own"), std::string::npos) << log;
  EXPECT_NE(log.find("messagebox caption=\"Confirm\""), std::string::npos) << log;
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
// the module serves. "unload" closes a page that is still open.
TEST_F(EntryTest, HostDialogsAreRegisteredAndDestroyed) {
  platform::window_handle parent = platform::create_dialog(this_module(), 103, nullptr, nullptr);
  ASSERT_NE(parent, nullptr);
  for (int id : {101, 102, 103}) {
    SCOPED_TRACE(id);
    proc_messages[0] = proc_messages[1] = 0;
    proc_messages[2] = -1;
    const size_t start = log_.text().size();
    platform::window_handle window = open_host_dialog(id, parent, record_messages);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(proc_messages[0], 1);
    EXPECT_EQ(proc_messages[2], 0) << "creation parameter";
    close_host_dialog(window);
    EXPECT_EQ(proc_messages[1], 1);
    char address[32];
    std::snprintf(address, sizeof address, "%p", static_cast<void*>(window));
    const std::string record =
        " size=" + std::to_string(sizeof(dialog_record)) + " window=" + address + " -> 0\n";
    EXPECT_EQ(log_.text().substr(start), "host dialogAdd" + record + "host dialogRemove" + record);
  }
  prefs_page_window = open_host_dialog(101, parent, record_messages);
  ASSERT_NE(prefs_page_window, nullptr);
  const std::string log = run("unload");
  EXPECT_EQ(prefs_page_window, nullptr);
  EXPECT_NE(log.find("host dialogRemove"), std::string::npos) << log;
  platform::destroy_window(parent);
}

}  // namespace
