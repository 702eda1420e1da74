// The running plug-in in the substitute host against a real Dovecot: new
// mail, a renamed entry, checks on request and "stop" taking the list down.
// Accounts that come and go while checks run are PrefsRace's, against a
// scripted server.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dovecot_server.h"
#include "imap_config.h"
#include "plugin_fixture.h"

namespace {

using test_support::dovecot;

// Delivers `message` to `user` as new mail; the file lies in the fixture's
// folder, which the delivering script sees under the same name.
void deliver(const std::string& user, const std::string& message) {
  const std::string file = dovecot().dir + "/" + user + ".eml";
  test_support::write_file(file, message);
  ASSERT_EQ(test_support::deliver(user, {file}), "");
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
  void configure(const std::vector<plugin_test::account_spec>& accounts) {
    for (const plugin_test::account_spec& a : accounts) plugin_test::add_account(a);
    use_alert = use_section = use_icon = use_sound = use_disable = use_header = 1;
    ASSERT_TRUE(save_config());
    account_table.reload({}, 0);
    use_alert = use_section = use_icon = use_sound = use_disable = use_header = 0;
  }

  static plugin_test::account_spec account(const char* display, int32_t type,
                                           const std::string& user, const std::string& password,
                                           bool tls) {
    plugin_test::account_spec a;
    a.display = display;
    a.accttype = type;
    a.username = user;
    a.password = password;
    a.ssl = tls ? 1 : 0;
    a.port =
        dovecot().state.at(std::string(type == ACCOUNT_POP3 ? "pop3" : "imap") + (tls ? "s" : ""));
    return a;
  }
};

TEST_F(RunningPlugin, ChecksNewMailRenamesAndStops) {
  configure({account("Pop", ACCOUNT_POP3, "storypop", "secret", false),
             account("Imap", ACCOUNT_IMAP, "storyimap", "secret", true),
             account("Broken", ACCOUNT_POP3, "storypop", "wrong", false)});

  // The fixture's messages, and those that earlier runs of this test
  // delivered (ctest --repeat): all of them new to a first check.
  const size_t pop = test_support::inbox_size("storypop");
  const size_t imap = test_support::inbox_size("storyimap");
  const auto n = [](size_t count) { return std::to_string(count); };
  run("start");
  // The first check of every account, in table order, 500 ms apart.
#ifndef _WIN32
  // The host hears the plug-in's sound through the environment it shares
  // with the plug-in's platform library; Windows plays it unseen.
  wait_for("sound resource 1 (");
#endif
  wait_for("text=\"Pop: You have " + n(pop) + " new messages in your inbox.\"");
  wait_for("text=\"Pop (" + n(pop) + ")\"");
  wait_for("text=\"Imap: You have " + n(imap) + " new messages in your inbox.\"");
  wait_for("text=\"Imap (" + n(imap) + "/" + n(imap) + ")\"");
  wait_for("text=\"Broken: Cannot login to server. Check your settings.\"");
  EXPECT_EQ(account_table.snapshot()[2].next_check, 0) << "the broken account is disabled";

  deliver("storypop", kGreeting);
  deliver("storyimap", kGreeting);
  run("menu " + std::to_string(entry_id("Pop")) + " 1");
  wait_for(std::string("text=\"Pop: ") + kSender + " - " + kSubjectLogged + "\"");
  wait_for("text=\"Pop (" + n(pop + 1) + ")\"");
  wait_for("Last message from:\\r\\n" + std::string(kSender));

  const int32_t imap_entry = entry_id("Imap");
  run("rename " + std::to_string(imap_entry) + " Office");
  run("menu " + std::to_string(imap_entry) + " 1");
  wait_for(std::string("text=\"Office: ") + kSender + " - " + kSubjectLogged + "\"");
  wait_for("text=\"Office (" + n(imap + 1) + "/" + n(imap + 1) + ")\"");

  const std::string stopped = run("stop");
  EXPECT_NE(stopped.find("plugin_main(\"stop\") -> 0"), std::string::npos);
  EXPECT_TRUE(host_.entries().empty());
  EXPECT_TRUE(host_.groups().empty());
}

}  // namespace
