// "Account Details": what it shows, type and TLS port switching, "Browse...",
// validation on OK, and what OK stores.
#include <functional>

#include "prefs_fixture.h"

namespace {

using prefs_test::PrefsTest;

class AccountDialog : public PrefsTest {
 protected:
  platform::window_handle open_add() {
    page_ = show_page();
    EXPECT_TRUE(click(page_, ID_ADD));
    return account_dialog_window;
  }
  platform::window_handle page_ = nullptr;
};

TEST_F(AccountDialog, AddShowsTheDefaultsOfANewImapAccount) {
  const platform::window_handle d = open_add();
  ASSERT_NE(d, nullptr);
  platform::window_state s;
  ASSERT_TRUE(read_dialog(d, &s));
  EXPECT_EQ(s.caption, "Account Details");
  EXPECT_TRUE(s.visible);
  const platform::control_state type = control(d, ID_TYPE);
  EXPECT_EQ(type.items, (std::vector<std::string>{"IMAP", "POP3"}));
  EXPECT_EQ(type.text, "IMAP");
  EXPECT_EQ(text(d, ID_PORT), "143");
  EXPECT_EQ(text(d, ID_MAILBOX), "INBOX");
  EXPECT_EQ(text(d, ID_INTERVAL), "5");
  EXPECT_EQ(text(d, ID_ADDRESS), "");
  EXPECT_TRUE(control(d, ID_ADDRESS).enabled);
  EXPECT_TRUE(control(d, ID_UNSEEN).checked);
  EXPECT_FALSE(control(d, ID_RECENT).checked);
  EXPECT_FALSE(control(d, ID_SSL).checked);
  EXPECT_EQ(control(d, ID_PASSWORD).kind, "password");
}

// Each step is a user action followed by what the port, the IMAP controls
// and the counting mode show.
TEST_F(AccountDialog, TypeAndTlsSwitchThePort) {
  struct step {
    const char* action;  // "IMAP", "POP3" or "ssl"
    const char* port;
    bool imap_enabled;
  };
  const step steps[] = {
      {"ssl", "993", true},  {"POP3", "995", false}, {"ssl", "110", false},
      {"IMAP", "143", true}, {"ssl", "993", true},   {"ssl", "143", true},
  };
  const platform::window_handle d = open_add();
  ASSERT_TRUE(click(d, ID_RECENT));
  for (const step& s : steps) {
    SCOPED_TRACE(s.action);
    ASSERT_TRUE(std::string(s.action) == "ssl" ? click(d, ID_SSL) : choose(d, ID_TYPE, s.action));
    EXPECT_EQ(text(d, ID_PORT), s.port);
    for (int id : {ID_MAILBOX, ID_UNSEEN, ID_RECENT}) {
      EXPECT_EQ(control(d, id).enabled, s.imap_enabled) << id;
    }
  }
  // Going back to IMAP selected UNSEEN again.
  EXPECT_TRUE(control(d, ID_UNSEEN).checked);
  EXPECT_FALSE(control(d, ID_RECENT).checked);
  // A port typed by hand is overwritten by the next switch.
  ASSERT_TRUE(type_text(d, ID_PORT, "1143"));
  ASSERT_TRUE(choose(d, ID_TYPE, "IMAP"));
  EXPECT_EQ(text(d, ID_PORT), "143");
}

// Every case fills the valid account and then changes what it names; the
// message lists every problem in order, each line ending in CR LF.
TEST_F(AccountDialog, OkValidatesEveryFieldInOrder) {
  struct validation_case {
    const char* name;
    std::function<void(platform::window_handle)> change;
    const char* message;  // "" when the account is stored
  };
  const auto set = [](int id, const char* value) {
    return [id, value](platform::window_handle d) { ASSERT_TRUE(type_text(d, id, value)); };
  };
  const validation_case cases[] = {
      {"all defaults",
       [](platform::window_handle d) {
         for (int id : {ID_ADDRESS, ID_DISPLAY, ID_USERNAME, ID_PASSWORD, ID_HOSTNAME}) {
           ASSERT_TRUE(type_text(d, id, ""));
         }
       },
       "Please enter the e-mail address for this account.\r\n"
       "Please enter a description for this account.\r\n"
       "Please enter the server username for this account.\r\n"
       "Please enter the server password for this account.\r\n"
       "Please enter the server hostname for this account.\r\n"},
      {"imap without mailbox", set(ID_MAILBOX, ""),
       "Please enter the IMAP folder for this account.\r\n"},
      {"pop3 without mailbox",
       [](platform::window_handle d) {
         ASSERT_TRUE(type_text(d, ID_MAILBOX, ""));
         ASSERT_TRUE(choose(d, ID_TYPE, "POP3"));
       },
       ""},
      {"port 0 and no interval",
       [](platform::window_handle d) {
         ASSERT_TRUE(type_text(d, ID_PORT, "0"));
         ASSERT_TRUE(type_text(d, ID_INTERVAL, ""));
       },
       "Please enter the server port for this account.\r\n"
       "Please enter the time between email checks for this account.\r\n"},
      {"port not a number", set(ID_PORT, "99x"),
       "Please enter the server port for this account.\r\n"},
      {"port past 2147483647", set(ID_PORT, "2147483648"),
       "Please enter the server port for this account.\r\n"},
      {"interval past 2147483647", set(ID_INTERVAL, "99999999999"),
       "Please enter the time between email checks for this account.\r\n"},
      {"port 2147483647", set(ID_PORT, "2147483647"), ""},
  };
  for (const validation_case& c : cases) {
    SCOPED_TRACE(c.name);
    boxes_.clear();
    const platform::window_handle d = open_add();
    fill_imap_account("joe@example.com");
    c.change(d);
    ASSERT_TRUE(click(d, ID_ACCOUNT_OK));
    if (*c.message == '\0') {
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
    EXPECT_EQ(boxes_[0].text, c.message);
    EXPECT_EQ(boxes_[0].caption, application_title(platform::program_path()));
    EXPECT_EQ(boxes_[0].style & 0x0F, platform::MB_OK_BUTTON);
    EXPECT_EQ(boxes_[0].style & 0xF0, 0u);
    // Nothing stored, the dialog still open with its fields.
    EXPECT_EQ(account_dialog_window, d);
    EXPECT_TRUE(account_table.empty());
    ASSERT_TRUE(click(d, ID_ACCOUNT_CANCEL));
    EXPECT_EQ(account_dialog_window, nullptr);
  }
}

TEST_F(AccountDialog, PastedTextIsCutAtALineBreakAndAt255Characters) {
  const platform::window_handle d = open_add();
  fill_imap_account("joe@example.com");
  ASSERT_TRUE(type_text(d, ID_DISPLAY, "Work\r\n[Mail]\r\nEvil=1"));
  ASSERT_TRUE(type_text(d, ID_HOSTNAME, std::string(300, 'h')));
  ASSERT_TRUE(type_text(d, ID_PORT, "993\n"));
  ASSERT_TRUE(click(d, ID_ACCOUNT_OK));
  imap_info stored;
  ASSERT_TRUE(account_table.copy_at(0, &stored));
  EXPECT_EQ(stored.display, "Work");
  EXPECT_EQ(stored.hostname, std::string(255, 'h'));
  EXPECT_EQ(stored.port, 993);
}

TEST_F(AccountDialog, OkAddsTheAccountWithItsEntryAndHasItCheckedAtOnce) {
  use_section = 1;
  const platform::window_handle d = open_add();
  fill_imap_account("joe@example.com");
  ASSERT_TRUE(click(d, ID_SSL));
  ASSERT_TRUE(click(d, ID_RECENT));
  ASSERT_TRUE(type_text(d, ID_ARGUMENTS, "-check"));
  ASSERT_TRUE(click(d, ID_ACCOUNT_OK));

  imap_info stored;
  ASSERT_TRUE(account_table.copy_at(0, &stored));
  EXPECT_EQ(stored.address, "joe@example.com");
  EXPECT_EQ(stored.port, 993);
  EXPECT_EQ(stored.ssl, 1);
  EXPECT_EQ(stored.unseen, 0);
  EXPECT_EQ(stored.arguments, "-check");
  EXPECT_EQ(stored.mailbox, "INBOX");
  EXPECT_EQ(stored.attempt, 5);
  // The group was made for the first account, and the account has its entry.
  EXPECT_EQ(host_.groups().size(), 1u);
  ASSERT_EQ(host_.entries().size(), 1u);
  EXPECT_EQ(host_.entries()[0].text, "Work (0/0)");
  const auto requests = checker_requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].message, CHECK_ACCOUNT);
  EXPECT_EQ(requests[0].wparam, stored.key);
  EXPECT_EQ(rows(), (std::vector<std::vector<std::string>>{{"joe@example.com", "Never", "IMAP"}}));
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
  EXPECT_FALSE(control(d, ID_MAILBOX).enabled);
  ASSERT_TRUE(choose(d, ID_TYPE, "IMAP"));
  ASSERT_TRUE(click(d, ID_ACCOUNT_OK));

  imap_info stored;
  ASSERT_TRUE(account_table.copy(key, &stored));
  EXPECT_EQ(stored.address, "second@example.com");
  EXPECT_EQ(stored.accttype, ACCOUNT_IMAP);
  EXPECT_EQ(stored.port, 143);
  EXPECT_EQ(stored.total_count, 7);
  EXPECT_EQ(rows()[1], (std::vector<std::string>{"second@example.com", "Never", "IMAP"}));
  EXPECT_EQ(host_.entries().size(), 2u);
  const auto requests = checker_requests();
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
  d = account_dialog_window;
  EXPECT_EQ(text(d, ID_CLIENT), picked_file_);
  ASSERT_TRUE(click(d, ID_ACCOUNT_OK));
  imap_info stored;
  ASSERT_TRUE(account_table.copy_at(0, &stored));
  EXPECT_EQ(stored.client, picked_file_);
}

}  // namespace
