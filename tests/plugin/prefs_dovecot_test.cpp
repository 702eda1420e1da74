// The preferences end to end: in the substitute host, with the running
// plug-in checking a real Dovecot, the user adds an IMAP account through the
// account dialog, edits it to POP3, removes another account and confirms the
// preferences.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dialog_user.h"
#include "dovecot_server.h"
#include "hosted_plugin.h"
#include "imap_config.h"
#include "imap_def.h"
#include "imap_main.h"
#include "imap_windows.h"
#include "test_support.h"

namespace {

using test_support::dovecot;

class PreferencesEndToEnd : public test_support::HostedPlugin {
 protected:
  void SetUp() override {
    EMAIL_REQUIRE(dovecot().missing.empty(), dovecot().missing);
    HostedPlugin::SetUp();
  }

  // The "Last Checked" column of row `row` once the checker's refresh came
  // (it follows the check's last entry update).
  std::string last_checked_after_refresh(size_t row) {
    for (int i = 0; i < 250; ++i) {
      platform::window_state page;
      if (!read_dialog(prefs_page_window.load(), &page)) break;
      for (const platform::control_state& c : page.controls) {
        if (c.id == ID_ACCOUNT_LIST && row < c.rows.size() && c.rows[row][1] != "Never") {
          return c.rows[row][1];
        }
      }
      run("sleep 20");
    }
    return "Never";
  }

  static std::string port(const char* service) { return dovecot().state.at(service); }
};

TEST_F(PreferencesEndToEnd, AddEditAndRemoveThroughTheDialogsThenConfirm) {
  // mail.ini holds one POP3 account to begin with.
  test_support::write_file(dir_.path() + "mail.ini",
                           "[Mail]\r\nuse_alert=1\r\nuse_section=1\r\nuse_icon=1\r\n"
                           "use_sound=1\r\nuse_disable=1\r\nuse_header=1\r\n"
                           "accttype(0)=1\r\naddress(0)=home@example.test\r\nusername(0)=home\r\n"
                           "password(0)=" +
                               scramble_password("secret") +
                               "\r\nhostname(0)=127.0.0.1\r\nport(0)=" + port("pop3") +
                               "\r\nattempt(0)=5\r\ndisplay(0)=Home\r\n");
  run("start");
  wait_for("text=\"Home (1)\"");
  run("prefsShow 1 12 34");

  // A new IMAP account: first an OK with fields missing, then filled in.
  run("press page 1001\n"
      "press account 1018");
  wait_for("text=\"Please enter the e-mail address for this account.\\r\\n");
  run("type account 1006 office@example.test\n"
      "type account 1007 Office\n"
      "type account 1008 office\n"
      "type account 1009 secret\n"
      "type account 1010 127.0.0.1\n"
      "type account 1011 " +
      port("imap") + "\npress account 1018");
  EXPECT_EQ(account_dialog_window, nullptr);
  wait_for("text=\"Office (2/2)\"");
  const imap_info office = account_table.snapshot().at(1);
  EXPECT_NE(office.last_checked, 0);
  EXPECT_EQ(last_checked_after_refresh(1), platform::format_local_time(office.last_checked));

  // Edited to POP3.
  run("select page 1000 1\n"
      "press page 1002\n"
      "choose account 1012 POP3\n"
      "type account 1011 " +
      port("pop3") + "\npress account 1018");
  wait_for("text=\"Office (2)\"");

  // The first account removed, one option changed, and OK.
  run("answer yes\n"
      "select page 1000 0\n"
      "press page 1003\n"
      "press page 1036\n"
      "press options 1039\n"
      "press options 1040");
  ASSERT_EQ(account_table.size(), 1u);
  run("prefsAction 2");
  EXPECT_EQ(prefs_page_window.load(), nullptr);
  ASSERT_EQ(host_.groups().size(), 1u);
  ASSERT_EQ(host_.entries().size(), 1u);
  EXPECT_EQ(host_.entries()[0].text, "Office (2)");
}

}  // namespace
