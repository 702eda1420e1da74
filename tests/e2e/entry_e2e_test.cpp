// The substitute host loads the real plug-in library and plays the host.
#include <gtest/gtest.h>

#include "test_support.h"

namespace {

using test_support::run_host;

TEST(EntryEndToEnd, LoadFinalUnloadNoAndUnloadRemoveTheConfiguration) {
  test_support::temp_dir dir;
  const std::string ini = dir.path() + "mail.ini";
  test_support::write_file(ini, "[Mail]\r\n");
  const std::string log = run_host("load\nfinalUnload\nunload\nstop\nquit\n",
                                   "--answer no " + test_support::dir_option(dir.path()));
  EXPECT_NE(log.find("plugin_version() -> 1"), std::string::npos) << log;
  EXPECT_NE(log.find("plugin_main(\"load\") -> 0"), std::string::npos) << log;
  EXPECT_NE(log.find("identity id=\"5D1C7A42-93E0-4B8F-A6D2-71C0E94F3B58\" name=\"E-Mail "
                     "Plugin\""),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("version=\"1.5\" description=\"This plugin implements IMAP and POP3 mail "
                     "checking.\""),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("messagebox caption=\"Confirm\" buttons=yes/no text=\"Would you like to "
                     "keep your configuration?\\r\\nIf you chose \\\"No\\\" you will have to "
                     "re-enter the account details if you reload this plugin.\" -> no"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("plugin_main(\"finalUnload\") -> 0"), std::string::npos) << log;
  EXPECT_NE(log.find("plugin_main(\"unload\") -> 0"), std::string::npos) << log;
  EXPECT_NE(log.find("plugin_main(\"stop\") -> 0"), std::string::npos) << log;
  EXPECT_EQ(log.find("host "), std::string::npos) << "no host function was due:\n" << log;
  EXPECT_FALSE(test_support::file_exists(ini));
}

TEST(EntryEndToEnd, AnsweringYesKeepsTheConfigurationEvenAfterUnload) {
  test_support::temp_dir dir;
  const std::string ini = dir.path() + "mail.ini";
  test_support::write_file(ini, "[Mail]\r\n");
  const std::string log = run_host("load\nunload\nfinalUnload\n",
                                   "--answer yes " + test_support::dir_option(dir.path()));
  EXPECT_NE(log.find("-> yes"), std::string::npos) << log;
  EXPECT_TRUE(test_support::file_exists(ini));
}

TEST(EntryEndToEnd, HostExplainsItselfAndRejectsUnknownCommands) {
  const std::string log = run_host("frobnicate\nhelp\n", "");
  EXPECT_NE(log.find("error: unknown command \"frobnicate\""), std::string::npos) << log;
  EXPECT_NE(log.find("answer yes|no|ok|cancel"), std::string::npos) << log;
}

}  // namespace
