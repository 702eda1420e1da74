// The preferences page, "Other Global Options" and the two preferences
// events.
#include <cstdio>
#include <utility>

#include "imap_config.h"
#include "prefs_fixture.h"

namespace {

using prefs_test::PrefsTest;
using rows_t = std::vector<std::vector<std::string>>;

class Page : public PrefsTest {
 protected:
  // Three accounts with entries and counts, the page open on them.
  void three_accounts() {
    use_section = 1;
    add_mail_group();
    for (const char* a : {"a@example.com", "b@example.com", "c@example.com"}) {
      keys_.push_back(add_account(a));
    }
    add_account_entries();
    account_table.update(keys_[2], [](imap_info& a) {
      a.new_count = 2;
      a.total_count = 9;
    });
    page_ = show_page();
  }
  int dialog_adds() {
    const std::string log = log_.text();
    int n = 0;
    for (size_t at = log.find("dialogAdd"); at != std::string::npos;
         at = log.find("dialogAdd", at + 1)) {
      ++n;
    }
    return n;
  }

  std::vector<account_ref> keys_;
  platform::window_handle page_ = nullptr;
};

TEST_F(Page, ShowsTheOptionsTheColumnsAndEveryAccount) {
  use_alert = 1;
  add_account("never@example.com");
  const account_ref checked = add_account("pop@example.com", ACCOUNT_POP3);
  const account_ref disabled = add_account("off@example.com");
  account_table.update(checked, [](imap_info& a) { a.last_checked = 1764942000; });
  account_table.update(disabled, [](imap_info& a) {
    a.last_checked = 1764942000;
    a.next_check = 0;
  });
  page_ = show_page();
  EXPECT_TRUE(control(page_, ID_USE_ALERT).checked);
  EXPECT_FALSE(control(page_, ID_USE_SECTION).checked);
  const platform::control_state list = control(page_, ID_ACCOUNT_LIST);
  ASSERT_EQ(list.columns.size(), 3u);
  const struct {
    const char* text;
    int width;
    platform::column_align align;
  } columns[] = {{"E-mail Address", 150, platform::column_align::left},
                 {"Last Checked", 155, platform::column_align::center},
                 {"Type", 53, platform::column_align::center}};
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(list.columns[i].text, columns[i].text);
    EXPECT_EQ(list.columns[i].width, columns[i].width);
    EXPECT_EQ(list.columns[i].align, columns[i].align);
  }
  EXPECT_EQ(list.rows, (rows_t{{"never@example.com", "Never", "IMAP"},
                               {"pop@example.com", platform::format_local_time(1764942000), "POP3"},
                               {"off@example.com", "Disabled!", "IMAP"}}));
  EXPECT_EQ(list.selection_mark, -1);
}

TEST_F(Page, EditRemoveAndDoubleClickNeedTheSelectionMark) {
  three_accounts();
  const std::string title = application_title(platform::program_path());
  ASSERT_TRUE(click(page_, ID_EDIT));
  ASSERT_TRUE(click(page_, ID_REMOVE));
  ASSERT_TRUE(double_click(page_, ID_ACCOUNT_LIST, -1));
  ASSERT_EQ(boxes_.size(), 2u);
  EXPECT_EQ(boxes_[0].text, "Please select an account before clicking the \"Edit\" button.");
  EXPECT_EQ(boxes_[1].text, "Please select an account before clicking the \"Remove\" button.");
  for (const auto& box : boxes_) {
    EXPECT_EQ(box.caption, title);
    EXPECT_EQ(box.style & 0xFF, platform::MB_OK_BUTTON);
  }
  EXPECT_EQ(account_dialog_window, nullptr);
  EXPECT_EQ(account_table.size(), 3u);
  // A refill clears the mark again.
  ASSERT_TRUE(select_rows(page_, ID_ACCOUNT_LIST, {1}));
  platform::send_message(page_, REFRESH_ACCOUNTS, 0, 0);
  EXPECT_EQ(control(page_, ID_ACCOUNT_LIST).selection_mark, -1);
}

TEST_F(Page, WithSeveralRowsSelectedEditAndRemoveTakeTheMark) {
  three_accounts();
  ASSERT_TRUE(select_rows(page_, ID_ACCOUNT_LIST, {2, 0}));
  ASSERT_TRUE(click(page_, ID_EDIT));
  ASSERT_NE(account_dialog_window, nullptr);
  EXPECT_EQ(text(account_dialog_window, ID_ADDRESS), "a@example.com");
  ASSERT_TRUE(click(account_dialog_window, ID_ACCOUNT_CANCEL));
  ASSERT_TRUE(select_rows(page_, ID_ACCOUNT_LIST, {0, 2}));
  answer_ = platform::ANSWER_NO;
  ASSERT_TRUE(click(page_, ID_REMOVE));
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].text, "Are you sure you want to remove the c@example.com account?");
  EXPECT_EQ(boxes_[0].caption, "Information");
  EXPECT_EQ(boxes_[0].style & 0x0F, platform::MB_YES_NO);
#if !defined(_WIN32)
  // Icon and default button are only visible in the style on POSIX.
  EXPECT_EQ(boxes_[0].style,
            platform::MB_YES_NO | platform::MB_ICON_QUESTION | platform::MB_DEFAULT_BUTTON_2);
#endif
  EXPECT_EQ(account_table.size(), 3u);
}

TEST_F(Page, RemovingTheMiddleAccountKeepsTheThirdsEntryAndCounts) {
  three_accounts();
  const auto entry_of = [this](account_ref key) {
    imap_info a;
    EXPECT_TRUE(account_table.copy(key, &a));
    return a.entry_id;
  };
  const int32_t third_entry = entry_of(keys_[2]);
  ASSERT_TRUE(select_rows(page_, ID_ACCOUNT_LIST, {1}));
  ASSERT_TRUE(click(page_, ID_REMOVE));
  EXPECT_EQ(rows(),
            (rows_t{{"a@example.com", "Never", "IMAP"}, {"c@example.com", "Never", "IMAP"}}));
  EXPECT_EQ(control(page_, ID_ACCOUNT_LIST).selection_mark, -1);
  ASSERT_EQ(account_table.size(), 2u);
  EXPECT_EQ(account_table.key_at(1), keys_[2]);
  imap_info third;
  ASSERT_TRUE(account_table.copy(keys_[2], &third));
  EXPECT_EQ(third.entry_id, third_entry);
  EXPECT_EQ(third.new_count, 2);
  EXPECT_EQ(third.total_count, 9);
  ASSERT_EQ(host_.entries().size(), 2u);
  EXPECT_EQ(host_.entries()[1].id, third_entry);
}

TEST_F(Page, OtherGlobalOptionsOkStoresCancelAndCloseBoxDoNot) {
  use_icon = 1;
  use_header = 1;
  page_ = show_page();
  const struct {
    int button;  // 0: the close box
    uint8_t disable, icon, sound, header;
  } cases[] = {{ID_OPTIONS_CANCEL, 0, 1, 0, 1}, {0, 0, 1, 0, 1}, {ID_OPTIONS_OK, 1, 0, 1, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.button);
    ASSERT_TRUE(click(page_, ID_OTHER));
    const platform::window_handle d = options_dialog_window;
    ASSERT_NE(d, nullptr);
    EXPECT_FALSE(control(d, ID_USE_DISABLE).checked);
    EXPECT_TRUE(control(d, ID_USE_ICON).checked);
    EXPECT_FALSE(control(d, ID_USE_SOUND).checked);
    EXPECT_TRUE(control(d, ID_USE_HEADER).checked);
    for (int id : {ID_USE_DISABLE, ID_USE_ICON, ID_USE_SOUND, ID_USE_HEADER}) {
      ASSERT_TRUE(click(d, id));
    }
    ASSERT_TRUE(c.button == 0 ? close_dialog(d) : click(d, c.button));
    EXPECT_EQ(options_dialog_window, nullptr);
    EXPECT_EQ(use_disable.load(), c.disable);
    EXPECT_EQ(use_icon.load(), c.icon);
    EXPECT_EQ(use_sound.load(), c.sound);
    EXPECT_EQ(use_header.load(), c.header);
    if (c.button == ID_OPTIONS_OK) break;
  }
}

TEST_F(Page, ASecondRequestBringsTheOpenDialogForward) {
  three_accounts();
  ASSERT_TRUE(click(page_, ID_ADD));
  const platform::window_handle d = account_dialog_window;
  ASSERT_TRUE(type_text(d, ID_DISPLAY, "typed"));
  ASSERT_TRUE(double_click(page_, ID_ACCOUNT_LIST, 0));
  ASSERT_TRUE(click(page_, ID_ADD));
  ASSERT_TRUE(click(page_, ID_OTHER));
  ASSERT_TRUE(click(page_, ID_OTHER));
  EXPECT_EQ(account_dialog_window, d);
  EXPECT_EQ(text(d, ID_DISPLAY), "typed");
  EXPECT_EQ(account_edit.index, -1);
  EXPECT_EQ(dialog_adds(), 3);  // page, account dialog, options
}

TEST_F(Page, DestroyingThePageTakesTheOptionsAndClosesBothDialogs) {
  use_alert = 1;
  three_accounts();
  ASSERT_TRUE(click(page_, ID_USE_ALERT));
  ASSERT_TRUE(click(page_, ID_USE_SECTION));
  ASSERT_TRUE(click(page_, ID_ADD));
  ASSERT_TRUE(click(page_, ID_OTHER));
  const platform::window_handle account = account_dialog_window;
  const platform::window_handle options = options_dialog_window;
  // Clicking alone changes nothing yet.
  EXPECT_EQ(use_alert.load(), 1);
  prefs_action(0);
  EXPECT_EQ(prefs_page_window.load(), nullptr);
  EXPECT_EQ(use_alert.load(), 0);
  EXPECT_EQ(use_section.load(), 0);
  EXPECT_EQ(account_dialog_window, nullptr);
  EXPECT_EQ(options_dialog_window, nullptr);
  platform::window_state gone;
  for (platform::window_handle w : {page_, account, options}) EXPECT_FALSE(read_dialog(w, &gone));
  const std::string log = log_.text();
  for (platform::window_handle w : {page_, account, options}) {
    char removed[64];
    std::snprintf(removed, sizeof removed, "dialogRemove size=%d window=%p",
                  static_cast<int>(sizeof(dialog_record)), w);
    EXPECT_NE(log.find(removed), std::string::npos) << removed;
  }
  EXPECT_FALSE(test_support::file_exists(config_path()));
}

TEST_F(Page, PrefsShowFillsTheRecordAndMakesThePageOnce) {
  prefs_show_record wrong{};
  wrong.show = 1;
  wrong.page_name = "e-mail";
  plugin_main("prefsShow", &wrong);
  EXPECT_STREQ(wrong.name, "");
  EXPECT_EQ(wrong.bitmap, nullptr);
  EXPECT_EQ(prefs_page_window.load(), nullptr);

  prefs_show_record hide{};
  hide.page_name = "E-Mail";
  plugin_main("prefsShow", &hide);
  EXPECT_STREQ(hide.name, "E-Mail");
  EXPECT_STREQ(hide.description, "E-Mail Checker for IMAP and POP3 accounts.");
  EXPECT_NE(hide.bitmap, nullptr);
  EXPECT_EQ(prefs_page_window.load(), nullptr);

  page_ = show_page(30, 40);
  ASSERT_NE(page_, nullptr);
  platform::window_state s;
  ASSERT_TRUE(read_dialog(page_, &s));
  EXPECT_TRUE(s.visible);
  const int x = s.x, y = s.y;
  plugin_main("prefsShow", &hide);
  ASSERT_TRUE(read_dialog(page_, &s));
  EXPECT_FALSE(s.visible);
  EXPECT_EQ(show_page(90, 90), page_);
  ASSERT_TRUE(read_dialog(page_, &s));
  EXPECT_TRUE(s.visible);
  EXPECT_EQ(s.x, x);
  EXPECT_EQ(s.y, y);
  EXPECT_EQ(dialog_adds(), 1);
#if !defined(_WIN32)
  // Dialog units and pixels are one on POSIX.
  EXPECT_EQ(x, 30);
  EXPECT_EQ(y, 40);
#endif
}

TEST_F(Page, PrefsActionTwoSavesAndLeavesOneGroupWithOneEntryPerAccount) {
  prefs_action(1);
  EXPECT_FALSE(test_support::file_exists(config_path()));
  prefs_action(2);  // without a page
  EXPECT_TRUE(test_support::file_exists(config_path()));

  use_section = 1;
  add_account("a@example.com");
  add_account("b@example.com");
  for (int round = 0; round < 2; ++round) {
    prefs_action(2);
    EXPECT_EQ(host_.groups().size(), 1u);
    EXPECT_EQ(host_.entries().size(), 2u);
  }
  page_ = show_page();
  ASSERT_TRUE(click(page_, ID_USE_SECTION));
  prefs_action(2);
  EXPECT_EQ(prefs_page_window.load(), nullptr);
  EXPECT_TRUE(host_.groups().empty());
  EXPECT_TRUE(host_.entries().empty());
  EXPECT_NE(test_support::read_file(config_path()).find("a@example.com"), std::string::npos);
}

// Message boxes are titled with the program's file name, without folder or
// extension, its first letter as it stands and the rest in lower case.
TEST(ApplicationTitle, FileNameWithoutFolderOrExtension) {
  const std::pair<const char*, const char*> rows[] = {{"C:\\Program Files\\Chat\\CHAT.EXE", "Chat"},
                                                      {"/usr/lib/im/messenger.bin.1", "messenger"},
                                                      {"Talk", "Talk"}};
  for (const auto& [path, title] : rows) EXPECT_EQ(application_title(path), title) << path;
}

}  // namespace
