// The substitute host loads the real plug-in library and plays the host.
#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <dlfcn.h>
#endif

#include <cstdint>
#include <string>

#include "plugin.h"
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

#if !defined(_WIN32)
int32_t EMAIL_CALL silent_host(const char*, const char*, void*) { return 0; }

// A host that unloads the library without "stop" leaves the checker running
// in it: the library must stay mapped under the thread, and a later "load"
// and "stop" of the same library still end it.
TEST(EntryEndToEnd, UnloadWithoutStopKeepsTheLibraryUnderTheChecker) {
  test_support::temp_dir dir;
  const std::string library = test_support::build_dir() + test_support::plugin_file_name();
  plugin_info_record info{};
  info.plugin_dir = dir.path().c_str();
  info.host_call = silent_host;
  using main_fn = int32_t(EMAIL_CALL*)(const char*, void*);

  void* handle = dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(handle, nullptr) << dlerror();
  auto plugin_main = reinterpret_cast<main_fn>(dlsym(handle, "plugin_main"));
  ASSERT_NE(plugin_main, nullptr);
  plugin_main("load", &info);
  plugin_main("start", nullptr);
  plugin_main("unload", nullptr);
  dlclose(handle);
  void* again = dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NOLOAD);
  ASSERT_NE(again, nullptr) << "the library was unmapped under its checker";
  EXPECT_EQ(reinterpret_cast<main_fn>(dlsym(again, "plugin_main")), plugin_main);
  plugin_main("load", &info);
  plugin_main("stop", nullptr);
  plugin_main("unload", nullptr);
  EXPECT_TRUE(test_support::file_exists(dir.path() + "mail.ini")) << "stop saved";
  dlclose(again);
}
#endif

TEST(EntryEndToEnd, HostExplainsItselfAndRejectsUnknownCommands) {
  const std::string log = run_host("frobnicate\nhelp\n", "");
  EXPECT_NE(log.find("error: unknown command \"frobnicate\""), std::string::npos) << log;
  EXPECT_NE(log.find("answer yes|no|ok|cancel"), std::string::npos) << log;
}

}  // namespace
