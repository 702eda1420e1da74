// The running plug-in end to end: the substitute host plays the messenger for
// the plug-in's own code, which checks a real Dovecot started by the test
// run. New mail arrives, the user renames an entry and asks for checks, and
// "stop" writes mail.ini; afterwards the mailboxes hold what they held.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "dovecot_server.h"
#include "hosted_plugin.h"
#include "imap_config.h"
#include "imap_def.h"
#include "imap_main.h"
#include "imap_thread.h"
#include "imap_util.h"
#include "test_support.h"

namespace {

using test_support::dovecot;

// Delivers a message the way a mail server does: written in tmp/, then moved
// into new/ under a unique name.
void deliver(const std::string& user, const std::string& message) {
  static int serial = 0;
  const std::string root = dovecot().maildir(user);
  const std::string name = "1700000000.M" + std::to_string(++serial) + "P1.email-e2e";
  test_support::write_file(root + "/tmp/" + name, message);
  ASSERT_EQ(std::rename((root + "/tmp/" + name).c_str(), (root + "/new/" + name).c_str()), 0);
}

// Sender "Jörg" (UTF-8, B-encoded) and subject "Re: Grüße" (Latin-1,
// Q-encoded); the host's texts are Windows-1252.
const char kGreeting[] =
    "From: =?UTF-8?B?SsO2cmc=?= <joerg@example.test>\r\n"
    "To: someone@example.test\r\n"
    "Subject: =?ISO-8859-1?Q?Re:_Gr=FC=DFe?=\r\n"
    "Message-ID: <greeting@example.test>\r\n"
    "\r\n"
    "Hello\r\n";
const char kSender[] = "J\xF6rg <joerg@example.test>";
// The quoted subject as the host's log shows it (quotes escaped).
const char kSubjectLogged[] =
    "\\\"Gr\xFC\xDF"
    "e\\\"";

class RunningPlugin : public test_support::HostedPlugin {
 protected:
  void SetUp() override {
    EMAIL_REQUIRE(dovecot().missing.empty(), dovecot().missing);
    HostedPlugin::SetUp();
  }

  // Writes mail.ini with these accounts and every option on.
  void configure(const std::vector<imap_info>& accounts) {
    for (const imap_info& a : accounts) append_account(a);
    use_alert = use_section = use_icon = use_sound = use_disable = use_header = 1;
    ASSERT_TRUE(save_config());
    account_table.reload({}, 0);
    use_alert = use_section = use_icon = use_sound = use_disable = use_header = 0;
  }

  imap_info account(const char* display, int32_t type, const std::string& user,
                    const std::string& password, bool tls) {
    imap_info a;
    set_new_account_defaults(a);
    a.display = display;
    a.accttype = type;
    a.username = user;
    a.password = password;
    a.hostname = "127.0.0.1";
    a.ssl = tls ? 1 : 0;
    a.port = std::stoi(
        dovecot().state.at(std::string(type == ACCOUNT_POP3 ? "pop3" : "imap") + (tls ? "s" : "")));
    return a;
  }
};

TEST_F(RunningPlugin, ChecksNewMailRenamesAndSavesOnStop) {
  const std::vector<imap_info> accounts = {account("Pop", ACCOUNT_POP3, "pop", "secret", false),
                                           account("Imap", ACCOUNT_IMAP, "imap", "secret", true),
                                           account("Broken", ACCOUNT_POP3, "pop", "wrong", false)};
  configure(accounts);

  run("start");
  // The first check of every account, in table order, 500 ms apart.
#ifndef _WIN32
  // The host hears the plug-in's sound through the environment it shares
  // with the plug-in's platform library; Windows plays it unseen.
  wait_for("sound resource 1 (");
#endif
  wait_for("text=\"Pop: You have 3 new messages in your inbox.\"");
  wait_for("text=\"Pop (3)\"");
  wait_for("text=\"Imap: You have 3 new messages in your inbox.\"");
  wait_for("text=\"Imap (3/3)\"");
  wait_for("text=\"Broken: Cannot login to server. Check your settings.\"");
  EXPECT_EQ(account_table.snapshot()[2].next_check, 0) << "the broken account is disabled";

  deliver("pop", kGreeting);
  deliver("imap", kGreeting);
  run("menu " + std::to_string(entry_id("Pop")) + " 1");
  wait_for(std::string("text=\"Pop: ") + kSender + " - " + kSubjectLogged + "\"");
  wait_for("text=\"Pop (4)\"");
  wait_for("Last message from:\\r\\n" + std::string(kSender));

  const int32_t imap_entry = entry_id("Imap");
  run("rename " + std::to_string(imap_entry) + " Office");
  run("menu " + std::to_string(imap_entry) + " 1");
  wait_for(std::string("text=\"Office: ") + kSender + " - " + kSubjectLogged + "\"");
  wait_for("text=\"Office (4/4)\"");

  // "Check for mail now!" on the broken account: it fails again, stays
  // disabled, and the thread adds no total-count alert.
  run("menu " + std::to_string(entry_id("Broken")) + " 1");
  wait_for("text=\"Broken: Cannot login to server. Check your settings.\"");
  const std::string after = run("sleep 300");
  EXPECT_EQ(after.find("(total)"), std::string::npos);

  const std::string stopped = run("stop");
  EXPECT_NE(stopped.find("plugin_main(\"stop\") -> 0"), std::string::npos);
  EXPECT_TRUE(host_.entries().empty());
  EXPECT_TRUE(host_.groups().empty());

  // mail.ini holds the accounts as configured, with the new alias.
  account_table.reload({}, 0);
  ASSERT_TRUE(load_config());
  const std::vector<imap_info> saved = account_table.snapshot();
  ASSERT_EQ(saved.size(), accounts.size());
  for (size_t i = 0; i < saved.size(); ++i) {
    EXPECT_EQ(saved[i].display, i == 1 ? "Office" : accounts[i].display);
    EXPECT_EQ(saved[i].username, accounts[i].username);
    EXPECT_EQ(saved[i].password, accounts[i].password);
    EXPECT_EQ(saved[i].port, accounts[i].port);
    EXPECT_EQ(saved[i].ssl, accounts[i].ssl);
    EXPECT_EQ(saved[i].accttype, accounts[i].accttype);
  }
  EXPECT_EQ(use_header.load(), 1);

  // Only read: every message is still there, none marked seen or deleted.
  for (const char* user : {"pop", "imap"}) {
    const std::string root = dovecot().maildir(user);
    std::vector<std::string> all = test_support::list_folder(root + "/new");
    for (const std::string& f : test_support::list_folder(root + "/cur")) all.push_back(f);
    EXPECT_EQ(all.size(), 4u) << user;
    for (const std::string& f : all) {
      const size_t info = f.find(":2,");
      const std::string flags = info == std::string::npos ? "" : f.substr(info + 3);
      EXPECT_EQ(flags.find_first_of("ST"), std::string::npos) << user << " " << f;
    }
  }
}

TEST_F(RunningPlugin, AccountsComeAndGoWhileChecksRun) {
  configure({account("Race", ACCOUNT_POP3, "race", "secret", false)});
  run("start");
  // The user adds and removes accounts and asks for checks while the
  // checker works through them (meant for the ThreadSanitizer build).
  for (int round = 0; round < 20; ++round) {
    const int32_t index = append_account(account("Extra", ACCOUNT_IMAP, "race", "secret", false));
    const account_ref key = account_table.key_at(static_cast<size_t>(index));
    add_account_entry(key);
    post_to_checker(CHECK_ACCOUNT, key);
    post_to_checker(CHECK_ALL, 0);
    run("sleep 20");
    remove_account_entry(key);
    delete_account(account_table.index_of(key));
  }
  const std::string stopped = run("stop");
  EXPECT_NE(stopped.find("plugin_main(\"stop\") -> 0"), std::string::npos);
  EXPECT_EQ(account_table.size(), 1u);
  EXPECT_TRUE(host_.entries().empty());
}

}  // namespace
