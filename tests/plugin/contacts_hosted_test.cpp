// The contact list end to end: the substitute host plays the messenger for
// the plug-in's own code, keeps the list and the alerts, and plays the user
// with its script commands.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "contacts_fixture.h"
#include "host.h"
#include "hosted_plugin.h"
#include "imap_thread.h"
#include "launches.h"
#include "platform/platform.h"

namespace {

using contacts_test::account;
using contacts_test::add_account;

struct launch_seen {
  std::string file, arguments;
  std::vector<std::string> words;
};

class HostedContacts : public test_support::HostedPlugin {
 protected:
  void SetUp() override {
    HostedPlugin::SetUp();
    platform::thread_message m;
    while (platform::peek_thread_message(&m)) {
    }
    checker_thread_id = platform::current_thread_id();
    recording_ = intercept_launches([this](const std::string& file, const std::string& arguments,
                                           const std::vector<std::string>& words) {
      launches_.push_back({file, arguments, words});
    });
    load_state_bitmaps();
  }

  void TearDown() override {
    intercept_launches(nullptr);
    contacts_test::clear_contacts();
    HostedPlugin::TearDown();
  }

  const substitute_host::entry* entry_of(const std::string& name) {
    entries_ = host_.entries();
    for (const auto& e : entries_) {
      if (e.name == name) return &e;
    }
    return nullptr;
  }

  std::string text_of_entry(int32_t id) {
    for (const auto& e : host_.entries()) {
      if (e.id == id) return e.text;
    }
    return "(no entry)";
  }

  std::vector<platform::thread_message> posts() {
    std::vector<platform::thread_message> out;
    platform::thread_message m;
    while (platform::peek_thread_message(&m)) out.push_back(m);
    return out;
  }

  std::vector<substitute_host::entry> entries_;
  std::vector<launch_seen> launches_;
  bool recording_ = false;
};

TEST_F(HostedContacts, GroupAndEntriesLifeCycle) {
  add_account({"Work", ACCOUNT_IMAP, 2, 31, "", ""});
  add_account({"Home", ACCOUNT_POP3, 0, 7, "", ""});
  add_account({"Broken", ACCOUNT_IMAP, -1, 0, "", ""});
  add_mail_group();
  add_account_entries();

  ASSERT_EQ(host_.groups().size(), 1u);
  EXPECT_EQ(host_.groups()[0].id, mail_group_id);
  EXPECT_EQ(host_.groups()[0].text, "My Mail Accounts");
  const struct {
    const char* name;
    const char* text;
    const char* icon;
  } expected[] = {
      {"Work", "Work (2/31)", "new-mail"},
      {"Home", "Home (0)", "no-mail"},
      {"Broken", "Broken (-1/0)", "none"},
  };
  for (const auto& e : expected) {
    SCOPED_TRACE(e.name);
    const substitute_host::entry* seen = entry_of(e.name);
    ASSERT_NE(seen, nullptr);
    EXPECT_EQ(seen->text, e.text);
    EXPECT_EQ(seen->icon_name, e.icon);
    EXPECT_EQ(seen->tooltip, "");
    EXPECT_EQ(seen->group, mail_group_id);
    ASSERT_EQ(seen->menu.size(), 3u);
    EXPECT_EQ(seen->menu[0].label, "Check for mail now!");
    EXPECT_EQ(seen->menu[1].label, "Launch E-mail client");
    EXPECT_EQ(seen->menu[2].label, "Check all for mail now!");
  }
  const std::string listing = run("list");
  EXPECT_NE(listing.find("entry 1 \"Work (2/31)\" name=\"Work\" icon=new-mail tooltip=\"\""),
            std::string::npos)
      << listing;

  // The group stays while the host still counts entries in it.
  const int32_t group = mail_group_id;
  remove_mail_group();
  EXPECT_EQ(mail_group_id, group);
  EXPECT_EQ(host_.groups().size(), 1u);

  remove_account_entries();
  EXPECT_TRUE(host_.entries().empty());
  remove_mail_group();
  EXPECT_EQ(mail_group_id, -1);
  EXPECT_TRUE(host_.groups().empty());
}

TEST_F(HostedContacts, UpdatesReachTheList) {
  const account_ref work = add_account({"Work", ACCOUNT_IMAP, 0, 3, "", ""});
  add_mail_group();
  add_account_entries();
  update_entry_icon(work, ICON_CHECKING);
  EXPECT_EQ(entry_of("Work")->icon_name, "checking");
  update_entry_icon(work, ICON_FAILED);
  EXPECT_EQ(entry_of("Work")->icon_name, "failed");
  update_entry_tooltip(work, "Login failed");
  EXPECT_EQ(entry_of("Work")->tooltip, "Login failed");
  update_entry_text(work, "Work (1/4)");
  EXPECT_EQ(entry_of("Work")->text, "Work (1/4)");

  const std::string picture = run("icon 1");
  EXPECT_NE(picture.find("icon of entry 1: failed 16x16"), std::string::npos) << picture;
  EXPECT_EQ(std::count(picture.begin(), picture.end(), '\n'), 17);
}

TEST_F(HostedContacts, RenameUpdatesAliasAndText) {
  const account_ref work = add_account({"Work", ACCOUNT_IMAP, 2, 31, "", ""});
  add_mail_group();
  add_account_entries();
  const std::string log = run("rename 1 Office Mail");
  EXPECT_EQ(account(work).display, "Office Mail");
  const substitute_host::entry* seen = entry_of("Office Mail");
  ASSERT_NE(seen, nullptr);
  EXPECT_EQ(seen->text, "Office Mail (2/31)");
  EXPECT_NE(log.find("host listUpdateText"), std::string::npos) << log;
}

TEST_F(HostedContacts, MenuItemsPostOrLaunch) {
  const account_ref work = add_account({"Work", ACCOUNT_IMAP, 0, 0, "mailer", "-n  \"a b\""});
  add_account({"Home", ACCOUNT_POP3, 0, 0, "", ""});
  add_mail_group();
  add_account_entries();

  run("menu 1 1");
  auto seen = posts();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].message, CHECK_ACCOUNT);
  EXPECT_EQ(seen[0].wparam, work);

  // "Check all for mail now!" carries no account, whichever entry it is on.
  run("menu 1 3\nmenu 2 3");
  seen = posts();
  ASSERT_EQ(seen.size(), 2u);
  for (const auto& m : seen) {
    EXPECT_EQ(m.message, CHECK_ALL);
    EXPECT_EQ(m.wparam, 0u);
  }

  run("menu 1 1 Menu-Select\nmenu 1 3 menu-select2");
  EXPECT_TRUE(posts().empty());

  if (!recording_) GTEST_SKIP() << "launches cannot be intercepted on this system";
  run("menu 1 2\nmenu 2 2");
  ASSERT_EQ(launches_.size(), 1u);  // Home has no e-mail program
  EXPECT_EQ(launches_[0].file, "mailer");
  EXPECT_EQ(launches_[0].arguments, "-n  \"a b\"");
  EXPECT_EQ(launches_[0].words, (std::vector<std::string>{"-n", "a b"}));
}

TEST_F(HostedContacts, DoubleClickAndAlertClickLaunch) {
  if (!recording_) GTEST_SKIP() << "launches cannot be intercepted on this system";
  const account_ref work = add_account({"Work", ACCOUNT_IMAP, 0, 0, "mailer", ""});
  const account_ref home = add_account({"Home", ACCOUNT_POP3, 0, 0, "", "--ignored"});
  add_mail_group();
  add_account_entries();
  run("click 1\nclick 2\nclick 1 list_leftdoubleclick");
  ASSERT_EQ(launches_.size(), 1u);
  EXPECT_EQ(launches_[0].file, "mailer");
  EXPECT_TRUE(launches_[0].words.empty());

  launches_.clear();
  raise_mail_alert(work, "Work: new mail");
  raise_mail_alert(home, "Home: new mail");
  ASSERT_EQ(host_.alerts().size(), 2u);
  run("alert-click 1\nalert-click 2\nalert-click 1 alert_linkclick");
  ASSERT_EQ(launches_.size(), 1u);
  EXPECT_EQ(launches_[0].file, "mailer");
  run("alert-dismiss 1\nalert-dismiss 2");
}

TEST_F(HostedContacts, AlertsLiveUntilDismissed) {
  const account_ref work = add_account({"Work", ACCOUNT_IMAP, 0, 0, "mailer", ""});
  raise_mail_alert(work, "Work: You have 0 messages (total) in your inbox.");
  raise_mail_alert(work, "second");
  const auto alerts = host_.alerts();
  ASSERT_EQ(alerts.size(), 2u);
  EXPECT_EQ(alerts[0].text, "Work: You have 0 messages (total) in your inbox.");
  EXPECT_EQ(alerts[0].icon_name, "mail");
  const std::string log = run("alert-dismiss 1\nlist");
  EXPECT_NE(log.find("alerts: 1"), std::string::npos) << log;
  EXPECT_EQ(host_.alerts().size(), 1u);
  EXPECT_EQ(host_.alerts()[0].text, "second");
  EXPECT_NE(run("alert-click 1").find("error: no alert 1"), std::string::npos);
  run("alert-dismiss 2");
  EXPECT_TRUE(host_.alerts().empty());
}

TEST_F(HostedContacts, RemovedAccountsAreNotReachedThroughOldReferences) {
  const account_ref work = add_account({"Work", ACCOUNT_IMAP, 1, 1, "mailer", ""});
  add_account({"Home", ACCOUNT_POP3, 0, 0, "mailer", ""});
  add_mail_group();
  add_account_entries();
  raise_mail_alert(work, "Work: new mail");
  // The table moves the records behind the first one; keys stay.
  delete_account(0);
  ASSERT_EQ(account_table.index_of(work), -1);

  run("click 1\nmenu 1 1\nmenu 1 2\nalert-click 1\nrename 1 Ghost");
  EXPECT_TRUE(launches_.empty());
  EXPECT_TRUE(posts().empty());
  EXPECT_EQ(text_of_entry(1), "Work (1/1)");
  update_entry_text(work, "never shown");
  EXPECT_EQ(text_of_entry(1), "Work (1/1)");

  // The remaining account still answers through its own entry.
  run("menu 2 1");
  EXPECT_EQ(posts().size(), 1u);
  // Its entry is removed with the rest, the orphan included.
  remove_account_entries();
  EXPECT_TRUE(host_.entries().empty());
  run("alert-dismiss 1");
}

// The brief form: one short line for each change a person follows, none
// for the host's bookkeeping (the group's entry count).
TEST_F(HostedContacts, BriefLogShowsTheChanges) {
  host_.set_brief(true);
  const size_t start = log_.text().size();
  const account_ref work = add_account({"Work", ACCOUNT_IMAP, 2, 31, "", ""});
  add_mail_group();
  add_account_entries();
  update_entry_icon(work, ICON_CHECKING);
  update_entry_tooltip(work, "Login failed");
  update_entry_text(work, "Work (1/4)");
  raise_mail_alert(work, "Work: new mail");
  remove_account_entries();
  remove_mail_group();
  EXPECT_EQ(log_.text().substr(start),
            "group 1 added \"My Mail Accounts\"\n"
            "entry 1 added \"Work (2/31)\" icon=new-mail in group 1\n"
            "entry 1 icon checking\n"
            "entry 1 tooltip \"Login failed\"\n"
            "entry 1 text \"Work (1/4)\"\n"
            "alert 1 \"Work: new mail\"\n"
            "entry 1 removed\n"
            "group 1 removed\n");
  run("alert-dismiss 1");
}

TEST_F(HostedContacts, LogShowsTheRecords) {
  add_account({"Work", ACCOUNT_IMAP, 2, 31, "", ""});
  add_mail_group();
  add_account_entries();
  const std::string log = log_.text();
  const std::string entry_size = "size=" + std::to_string(sizeof(list_entry_record));
  const std::string fields[] = {
      "host listAddEntry " + entry_size + " is_entry=0 group_id=-1 f88=-1 f92=-2 entry_id=-1",
      "text=\"My Mail Accounts\" tooltip=\"This group holds all of your mail accounts.\"",
      "group_name=\"mail\"",
      "-> group 1",
      "host listAddEntry " + entry_size +
          " is_entry=1 group_id=1 f88=-1 f92=-1 entry_id=-1 f100=0 f104=0 f108=1 f112=1 f116=1 "
          "f120=0 text=\"Work (2/31)\" tooltip=null name=\"Work\"",
      "icon={size=" + std::to_string(sizeof(list_icon_record)) +
          " f4=1 bitmap=new-mail rect=(0,0,16,16) f28=0}",
      "{size=" + std::to_string(sizeof(menu_item_record)) +
          " f4=-1 f12=0 label=\"Check all for mail now!\" callback=set command=4001 account=0}",
  };
  for (const std::string& field : fields) {
    EXPECT_NE(log.find(field), std::string::npos) << field << "\n" << log;
  }
}

}  // namespace
