// The preferences page, "Account Details", "Other Global Options" and the two
// preferences events, played as a user would through the dialogs' controls,
// with message boxes and the open-file dialog answered and recorded.
#include <atomic>
#include <cstdio>
#include <future>
#include <string>
#include <utility>
#include <vector>

#include "blcksock.h"
#include "dialog_user.h"
#include "imap_config.h"
#include "imap_windows.h"
#include "message_boxes.h"
#include "peer.h"
#include "plugin_fixture.h"

namespace {

using rows_t = std::vector<std::vector<std::string>>;

struct box_seen {
  std::string text, caption;
  uint32_t style;
};

// The plug-in as in the other in-process tests, with every option off.
class Prefs : public plugin_test::PluginTest {
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
    take_checker_posts();
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

  // Three accounts with entries, the third with counts, the page open on them.
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

  platform::window_handle open_add() {
    page_ = show_page();
    EXPECT_TRUE(click(page_, ID_ADD));
    return account_dialog_window;
  }

  void prefs_action(int32_t action) {
    prefs_action_record r{};
    r.action = action;
    plugin_main("prefsAction", &r);
  }

  int dialog_adds() {
    const std::string log = log_.text();
    int n = 0;
    for (size_t at = 0; (at = log.find("dialogAdd", at)) != std::string::npos; ++at) ++n;
    return n;
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
  // One '1' or '0' per control: whether its field is set.
  static std::string flags(platform::window_handle dialog, std::initializer_list<int> ids,
                           bool platform::control_state::*field) {
    std::string out;
    for (int id : ids) out += control(dialog, id).*field ? '1' : '0';
    return out;
  }
  rows_t rows() { return control(prefs_page_window.load(), ID_ACCOUNT_LIST).rows; }

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
  std::vector<account_ref> keys_;
  platform::window_handle page_ = nullptr;
};

using Page = Prefs;
using AccountDialog = Prefs;
using PrefsRace = Prefs;

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
  EXPECT_EQ(flags(page_, {ID_USE_ALERT, ID_USE_SECTION}, &platform::control_state::checked), "10");
  const platform::control_state list = control(page_, ID_ACCOUNT_LIST);
  std::vector<std::string> columns;  // text, width, centred or not
  for (const auto& c : list.columns) {
    columns.push_back(c.text + " " + std::to_string(c.width) +
                      (c.align == platform::column_align::center ? " c" : " l"));
  }
  EXPECT_EQ(columns,
            (std::vector<std::string>{"E-mail Address 150 l", "Last Checked 155 c", "Type 53 c"}));
  EXPECT_EQ(list.rows, (rows_t{{"never@example.com", "Never", "IMAP"},
                               {"pop@example.com", platform::format_local_time(1764942000), "POP3"},
                               {"off@example.com", "Disabled!", "IMAP"}}));
  EXPECT_EQ(list.selection_mark, -1);
}

// Without a selection mark Edit, Remove and a double-click ask for one; with
// several rows selected they take the mark.
TEST_F(Page, EditAndRemoveTakeTheSelectionMarkAndKeepTheOthersEntries) {
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

  boxes_.clear();
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

  // Removing the middle account keeps the third's entry and counts.
  const int32_t third_entry = plugin_test::account(keys_[2]).entry_id;
  answer_ = platform::ANSWER_YES;
  ASSERT_TRUE(select_rows(page_, ID_ACCOUNT_LIST, {1}));
  ASSERT_TRUE(click(page_, ID_REMOVE));
  EXPECT_EQ(rows(),
            (rows_t{{"a@example.com", "Never", "IMAP"}, {"c@example.com", "Never", "IMAP"}}));
  EXPECT_EQ(control(page_, ID_ACCOUNT_LIST).selection_mark, -1);
  ASSERT_EQ(account_table.size(), 2u);
  EXPECT_EQ(account_table.key_at(1), keys_[2]);
  const imap_info third = plugin_test::account(keys_[2]);
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
    int button;          // 0: the close box
    const char* stored;  // disable, icon, sound, header
  } cases[] = {{ID_OPTIONS_CANCEL, "0101"}, {0, "0101"}, {ID_OPTIONS_OK, "1010"}};
  const std::initializer_list<int> boxes = {ID_USE_DISABLE, ID_USE_ICON, ID_USE_SOUND,
                                            ID_USE_HEADER};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.button);
    std::string stored;
    ASSERT_TRUE(click(page_, ID_OTHER));
    const platform::window_handle d = options_dialog_window;
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(flags(d, boxes, &platform::control_state::checked), "0101");
    for (int id : boxes) ASSERT_TRUE(click(d, id));
    ASSERT_TRUE(c.button == 0 ? close_dialog(d) : click(d, c.button));
    EXPECT_EQ(options_dialog_window, nullptr);
    for (auto* option : {&use_disable, &use_icon, &use_sound, &use_header}) {
      stored += static_cast<char>('0' + option->load());
    }
    EXPECT_EQ(stored, c.stored);
  }
}

TEST_F(Page, ASecondRequestBringsTheOpenDialogForwardAndClosingThePageClosesBoth) {
  use_alert = 1;
  three_accounts();
  ASSERT_TRUE(click(page_, ID_USE_ALERT));
  ASSERT_TRUE(click(page_, ID_USE_SECTION));
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

  // Destroying the page takes its options; clicking alone changed nothing yet.
  const platform::window_handle windows[] = {page_, d, options_dialog_window};
  EXPECT_EQ(use_alert.load(), 1);
  prefs_action(0);
  EXPECT_EQ(prefs_page_window.load(), nullptr);
  EXPECT_EQ(use_alert.load(), 0);
  EXPECT_EQ(use_section.load(), 0);
  EXPECT_EQ(account_dialog_window, nullptr);
  EXPECT_EQ(options_dialog_window, nullptr);
  platform::window_state gone;
  for (platform::window_handle w : windows) {
    EXPECT_FALSE(read_dialog(w, &gone));
    char removed[64];
    std::snprintf(removed, sizeof removed, "dialogRemove size=%d window=%p",
                  static_cast<int>(sizeof(dialog_record)), w);
    EXPECT_NE(log_.text().find(removed), std::string::npos) << removed;
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

TEST_F(AccountDialog, AddShowsANewImapAccountWhosePortFollowsTypeAndTls) {
  const platform::window_handle d = open_add();
  ASSERT_NE(d, nullptr);
  platform::window_state s;
  ASSERT_TRUE(read_dialog(d, &s));
  EXPECT_EQ(s.caption, "Account Details");
  EXPECT_TRUE(s.visible);
  const platform::control_state type = control(d, ID_TYPE);
  EXPECT_EQ(type.items, (std::vector<std::string>{"IMAP", "POP3"}));
  EXPECT_EQ(type.text, "IMAP");
  for (const auto& [id, shown] : {std::pair<int, const char*>{ID_PORT, "143"},
                                  {ID_MAILBOX, "INBOX"},
                                  {ID_INTERVAL, "5"},
                                  {ID_ADDRESS, ""}}) {
    EXPECT_EQ(text(d, id), shown) << id;
  }
  EXPECT_TRUE(control(d, ID_ADDRESS).enabled);
  EXPECT_EQ(flags(d, {ID_UNSEEN, ID_RECENT, ID_SSL}, &platform::control_state::checked), "100");
  EXPECT_EQ(control(d, ID_PASSWORD).kind, "password");

  // Each step is a user action ("IMAP", "POP3" or "ssl") followed by what the
  // port shows and whether the IMAP controls are enabled.
  const std::tuple<const char*, const char*, bool> steps[] = {
      {"ssl", "993", true},  {"POP3", "995", false}, {"ssl", "110", false},
      {"IMAP", "143", true}, {"ssl", "993", true},   {"ssl", "143", true}};
  ASSERT_TRUE(click(d, ID_RECENT));
  for (const auto& [action, port, imap_enabled] : steps) {
    SCOPED_TRACE(action);
    ASSERT_TRUE(std::string(action) == "ssl" ? click(d, ID_SSL) : choose(d, ID_TYPE, action));
    EXPECT_EQ(text(d, ID_PORT), port);
    EXPECT_EQ(flags(d, {ID_MAILBOX, ID_UNSEEN, ID_RECENT}, &platform::control_state::enabled),
              imap_enabled ? "111" : "000");
  }
  // Going back to IMAP selected UNSEEN again.
  EXPECT_EQ(flags(d, {ID_UNSEEN, ID_RECENT}, &platform::control_state::checked), "10");
  // A port typed by hand is overwritten by the next switch.
  ASSERT_TRUE(type_text(d, ID_PORT, "1143"));
  ASSERT_TRUE(choose(d, ID_TYPE, "IMAP"));
  EXPECT_EQ(text(d, ID_PORT), "143");
}

// Every case fills the valid account and then changes what it names; the
// message lists every problem in order, each line ending in CR LF.
TEST_F(AccountDialog, OkValidatesEveryFieldInOrder) {
  const std::string port = "Please enter the server port for this account.\r\n";
  const std::string interval = "Please enter the time between email checks for this account.\r\n";
  const std::pair<std::vector<std::pair<int, const char*>>, std::string> cases[] = {
      {{{ID_ADDRESS, ""},
        {ID_DISPLAY, ""},
        {ID_USERNAME, ""},
        {ID_PASSWORD, ""},
        {ID_HOSTNAME, ""}},
       "Please enter the e-mail address for this account.\r\n"
       "Please enter a description for this account.\r\n"
       "Please enter the server username for this account.\r\n"
       "Please enter the server password for this account.\r\n"
       "Please enter the server hostname for this account.\r\n"},
      {{{ID_MAILBOX, ""}}, "Please enter the IMAP folder for this account.\r\n"},
      {{{ID_MAILBOX, ""}, {ID_TYPE, "POP3"}}, ""},  // POP3 needs no mailbox
      {{{ID_PORT, "0"}, {ID_INTERVAL, ""}}, port + interval},
      {{{ID_PORT, "99x"}}, port},
      {{{ID_PORT, "2147483648"}}, port},
      {{{ID_INTERVAL, "99999999999"}}, interval},
      {{{ID_PORT, "2147483647"}}, ""},
  };
  for (const auto& [fields, message] : cases) {
    SCOPED_TRACE(message);
    boxes_.clear();
    const platform::window_handle d = open_add();
    fill_imap_account("joe@example.com");
    for (const auto& [id, value] : fields) {
      ASSERT_TRUE(id == ID_TYPE ? choose(d, id, value) : type_text(d, id, value));
    }
    ASSERT_TRUE(click(d, ID_ACCOUNT_OK));
    if (message.empty()) {
      EXPECT_TRUE(boxes_.empty());
      EXPECT_EQ(account_dialog_window, nullptr);
      EXPECT_EQ(account_table.size(), 1u);
      // Without the section option no group is made.
      EXPECT_TRUE(host_.groups().empty());
      EXPECT_TRUE(host_.entries().empty());
      account_table.reload({}, 0);
      continue;
    }
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].text, message);
    EXPECT_EQ(boxes_[0].caption, application_title(platform::program_path()));
    EXPECT_EQ(boxes_[0].style & 0xFF, platform::MB_OK_BUTTON);  // no icon
    // Nothing stored, the dialog still open with its fields.
    EXPECT_EQ(account_dialog_window, d);
    EXPECT_TRUE(account_table.empty());
    ASSERT_TRUE(click(d, ID_ACCOUNT_CANCEL));
    EXPECT_EQ(account_dialog_window, nullptr);
  }
}

// Pasted text is cut at a line break and at 255 characters.
TEST_F(AccountDialog, OkAddsTheAccountWithItsEntryAndHasItCheckedAtOnce) {
  use_section = 1;
  const platform::window_handle d = open_add();
  fill_imap_account("joe@example.com");
  ASSERT_TRUE(click(d, ID_SSL));
  ASSERT_TRUE(click(d, ID_RECENT));
  ASSERT_TRUE(type_text(d, ID_ARGUMENTS, "-check"));
  ASSERT_TRUE(type_text(d, ID_DISPLAY, "Work\r\n[Mail]\r\nEvil=1"));
  ASSERT_TRUE(type_text(d, ID_HOSTNAME, std::string(300, 'h')));
  ASSERT_TRUE(type_text(d, ID_PORT, "994\n"));
  ASSERT_TRUE(click(d, ID_ACCOUNT_OK));

  const imap_info stored = plugin_test::account(account_table.key_at(0));
  EXPECT_EQ(stored.address, "joe@example.com");
  EXPECT_EQ(stored.display, "Work");
  EXPECT_EQ(stored.hostname, std::string(255, 'h'));
  EXPECT_EQ(stored.port, 994);
  EXPECT_EQ(stored.ssl, 1);
  EXPECT_EQ(stored.unseen, 0);
  EXPECT_EQ(stored.arguments, "-check");
  EXPECT_EQ(stored.mailbox, "INBOX");
  EXPECT_EQ(stored.attempt, 5);
  // The group was made for the first account, and the account has its entry.
  EXPECT_EQ(host_.groups().size(), 1u);
  ASSERT_EQ(host_.entries().size(), 1u);
  EXPECT_EQ(host_.entries()[0].text, "Work (0/0)");
  const auto requests = posts();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].message, CHECK_ACCOUNT);
  EXPECT_EQ(requests[0].wparam, stored.key);
  EXPECT_EQ(rows(), (rows_t{{"joe@example.com", "Never", "IMAP"}}));
  EXPECT_EQ(account_dialog_window, nullptr);
  platform::window_state gone;
  EXPECT_FALSE(read_dialog(d, &gone));
}

TEST_F(AccountDialog, EditKeepsAddressAndCountsAndShowsNeverUntilChecked) {
  use_section = 1;
  add_mail_group();
  add_account("first@example.com");
  const account_ref key = add_account("second@example.com", ACCOUNT_POP3);
  add_account_entries();
  account_table.update(key, [](imap_info& a) {
    a.total_count = 7;
    a.last_checked = 1700000000;
    a.unseen = 0;
  });
  page_ = show_page();
  EXPECT_NE(rows()[1][1], "Never");
  ASSERT_TRUE(select_rows(page_, ID_ACCOUNT_LIST, {1}));
  ASSERT_TRUE(click(page_, ID_EDIT));
  const platform::window_handle d = account_dialog_window;
  ASSERT_NE(d, nullptr);
  EXPECT_FALSE(control(d, ID_ADDRESS).enabled);
  EXPECT_FALSE(type_text(d, ID_ADDRESS, "other@example.com"));
  EXPECT_EQ(text(d, ID_TYPE), "POP3");
  EXPECT_EQ(flags(d, {ID_UNSEEN, ID_RECENT}, &platform::control_state::checked), "01");
  EXPECT_FALSE(control(d, ID_MAILBOX).enabled);
  ASSERT_TRUE(choose(d, ID_TYPE, "IMAP"));
  ASSERT_TRUE(click(d, ID_ACCOUNT_OK));

  const imap_info stored = plugin_test::account(key);
  EXPECT_EQ(stored.address, "second@example.com");
  EXPECT_EQ(stored.accttype, ACCOUNT_IMAP);
  EXPECT_EQ(stored.port, 143);
  EXPECT_EQ(stored.total_count, 7);
  EXPECT_EQ(rows()[1], (std::vector<std::string>{"second@example.com", "Never", "IMAP"}));
  EXPECT_EQ(host_.entries().size(), 2u);
  const auto requests = posts();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].wparam, key);
}

// The account dialog edits an account by key: removing an account while
// the dialog is open moves the edited one, or takes it away.
TEST_F(AccountDialog, RemovalsWhileEditingNeverOverwriteAnotherAccount) {
  add_account("a@example.com");
  add_account("b@example.com");
  const account_ref c = add_account("c@example.com");
  page_ = show_page();
  const auto edit_row_remove_row = [this](int edited, int removed) {
    ASSERT_TRUE(double_click(page_, ID_ACCOUNT_LIST, edited));
    const platform::window_handle d = account_dialog_window;
    ASSERT_NE(d, nullptr);
    ASSERT_TRUE(select_rows(page_, ID_ACCOUNT_LIST, {removed}));
    ASSERT_TRUE(click(page_, ID_REMOVE));
    ASSERT_TRUE(type_text(d, ID_DISPLAY, "Renamed"));
    ASSERT_TRUE(click(d, ID_ACCOUNT_OK));
  };
  const auto displays = [] {
    std::vector<std::string> out;
    for (const imap_info& a : account_table.snapshot()) out.push_back(a.address + " " + a.display);
    return out;
  };
  edit_row_remove_row(1, 0);
  EXPECT_EQ(displays(),
            (std::vector<std::string>{"b@example.com Renamed", "c@example.com c@example.com"}));
  edit_row_remove_row(1, 1);
  EXPECT_EQ(displays(),
            (std::vector<std::string>{"b@example.com Renamed", "c@example.com Renamed"}));
  // The removed account came back as a new one.
  EXPECT_NE(account_table.key_at(1), c);
}

TEST_F(AccountDialog, BrowseIsRememberedForEveryLaterDialog) {
  add_account("first@example.com");
  platform::window_handle d = open_add();
  ASSERT_TRUE(click(d, ID_BROWSE));  // cancelled
  EXPECT_EQ(text(d, ID_CLIENT), "");
  picked_file_ = "C:\\Mail\\client.exe";
  ASSERT_TRUE(click(d, ID_BROWSE));
  EXPECT_EQ(files_asked_,
            (std::vector<std::string>{"Open Program Files (*.exe)", "Open Program Files (*.exe)"}));
  EXPECT_EQ(text(d, ID_CLIENT), picked_file_);
  ASSERT_TRUE(click(d, ID_ACCOUNT_CANCEL));
  EXPECT_EQ(account_table.size(), 1u);

  // A new account and an existing one both offer the path; OK stores it.
  ASSERT_TRUE(click(page_, ID_ADD));
  EXPECT_EQ(text(account_dialog_window, ID_CLIENT), picked_file_);
  ASSERT_TRUE(close_dialog(account_dialog_window));
  EXPECT_EQ(account_dialog_window, nullptr);
  ASSERT_TRUE(double_click(page_, ID_ACCOUNT_LIST, 0));
  EXPECT_EQ(text(account_dialog_window, ID_CLIENT), picked_file_);
  ASSERT_TRUE(click(account_dialog_window, ID_ACCOUNT_OK));
  EXPECT_EQ(plugin_test::account(account_table.key_at(0)).client, picked_file_);
}

// A POP3 server's answers to every command of a check, one message waiting.
void serve_pop3(PeerConnection& c) {
  if (!c.Send("+OK ready\r\n")) return;
  for (std::string line; !(line = c.ReceiveUntil("\r\n")).empty();) {
    std::string reply = "+OK\r\n";
    if (line.rfind("STAT", 0) == 0) reply = "+OK 1 100\r\n";
    if (line.rfind("TOP", 0) == 0) reply = "+OK\r\nSubject: hello\r\n\r\n.\r\n";
    if (line.rfind("CAPA", 0) == 0) reply = "-ERR\r\n";
    if (!c.Send(reply) || line.rfind("QUIT", 0) == 0) return;
  }
}

// An account added through the dialog is checked at once; the check reports
// to the open page, which then shows when it was made.
TEST_F(Page, ACheckRefreshesTheLastCheckedColumn) {
  // The server answers only once the page has been seen before the check.
  std::promise<void> seen;
  Peer server;
  server.Serve([ready = seen.get_future().share()](PeerConnection& c) {
    ready.wait();
    serve_pop3(c);
  });
  use_section = 1;
  run("start");
  const platform::window_handle d = open_add();
  fill_imap_account("joe@example.com");
  ASSERT_TRUE(choose(d, ID_TYPE, "POP3"));
  ASSERT_TRUE(type_text(d, ID_HOSTNAME, "127.0.0.1"));
  ASSERT_TRUE(type_text(d, ID_PORT, server.Port()));
  ASSERT_TRUE(click(d, ID_ACCOUNT_OK));
  EXPECT_EQ(rows().at(0)[1], "Never");
  seen.set_value();
  wait_for("text=\"Work (1)\"");
  for (int i = 0; i < 250 && rows().at(0)[1] == "Never"; ++i) run("sleep 20");
  const int64_t checked = plugin_test::account(account_table.key_at(0)).last_checked;
  EXPECT_NE(checked, 0);
  EXPECT_EQ(rows().at(0)[1], platform::format_local_time(checked));
}

// "stop" closes an account dialog left open: nothing could apply it after.
TEST_F(Page, StopClosesAnOpenAccountDialog) {
  run("start");
  const platform::window_handle d = open_add();
  run("stop");
  EXPECT_EQ(account_dialog_window, nullptr);
  platform::window_state gone;
  EXPECT_FALSE(read_dialog(d, &gone));
}

// Accounts added, edited and removed through the dialogs while the checker
// works through CHECK_ALL against a POP3 server on loopback. Meant for the
// ThreadSanitizer build; elsewhere it still checks that the table and the
// contact list come out as the user left them.
TEST_F(PrefsRace, DialogChangesWhileTheCheckerRuns) {
  constexpr int kRounds = 12;
  constexpr int kConnections = 200;  // far more than the rounds' checks make
  std::atomic<bool> stopped{false};
  std::atomic<int> served{0};
  Peer server(net::Family::kIPv4, 16);
  server.Serve(
      [&](PeerConnection& c) {
        ++served;
        if (!stopped) serve_pop3(c);
      },
      kConnections);
  std::string ini = "[Mail]\r\nuse_section=1\r\nuse_icon=1\r\n";
  for (const std::string n : {"0", "1"}) {
    ini += "accttype(" + n + ")=1\r\naddress(" + n + ")=a" + n + "@example.test\r\nusername(" + n +
           ")=bob\r\npassword(" + n + ")=" + scramble_password("secret") + "\r\nhostname(" + n +
           ")=127.0.0.1\r\nport(" + n + ")=" + server.Port() + "\r\nattempt(" + n +
           ")=5\r\ndisplay(" + n + ")=A" + n + "\r\n";
  }
  test_support::write_file(config_path(), ini);
  host_.run_command("start");
  const platform::window_handle page = show_page();
  for (int round = 0; round < kRounds; ++round) {
    post_to_checker(CHECK_ALL, 0);
    ASSERT_TRUE(click(page, ID_ADD));
    fill_imap_account("new" + std::to_string(round) + "@example.test");
    ASSERT_TRUE(choose(account_dialog_window, ID_TYPE, "POP3"));
    ASSERT_TRUE(type_text(account_dialog_window, ID_PORT, server.Port()));
    ASSERT_TRUE(click(account_dialog_window, ID_ACCOUNT_OK));
    host_.run_command("sleep 150");
    ASSERT_TRUE(double_click(page, ID_ACCOUNT_LIST, 2));
    ASSERT_TRUE(type_text(account_dialog_window, ID_DISPLAY, "Round " + std::to_string(round)));
    ASSERT_TRUE(click(account_dialog_window, ID_ACCOUNT_OK));
    host_.run_command("sleep 150");
    ASSERT_TRUE(select_rows(page, ID_ACCOUNT_LIST, {2}));
    ASSERT_TRUE(click(page, ID_REMOVE));
  }
  host_.run_command("stop");
  // The checker is gone: the connections the server still waits for come
  // from here, so that it ends now instead of waiting for them in vain.
  stopped = true;
  for (int rest = kConnections - served; rest > 0; --rest) {
    TTCPBlockSocket wake;
    wake.Connect("127.0.0.1", server.Port());
  }
  EXPECT_EQ(rows().size(), 2u);
  ASSERT_EQ(account_table.size(), 2u);
  EXPECT_TRUE(host_.entries().empty());
  EXPECT_TRUE(host_.groups().empty());
  // Every check that ended brought the state of its account.
  EXPECT_NE(log_.text().find("text=\"A0 (1)\""), std::string::npos) << log_.text();
}

}  // namespace
