// The fixture of the tests that run the plug-in's own code, linked into the
// test program, inside the substitute host's host implementation: a scratch
// plug-in folder, the host's log, "load" before each test and "stop",
// "unload" and an empty account table after it. The test program links
// email_core, email_host and email_test_support.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <sstream>
#include <string>

#include "host.h"
#include "imap_def.h"
#include "imap_main.h"
#include "test_support.h"

namespace test_support {

class HostedPlugin : public ::testing::Test {
 protected:
  void SetUp() override {
    host_.set_plugin_dir(dir_.path());
    host_.attach(plugin_version, plugin_main);
    run("load");
    loaded_ = true;
  }

  void TearDown() override {
    // A test that ended in its fixture's SetUp never loaded the plug-in.
    if (!loaded_) return;
    run("stop\nunload");
    account_table.reload({}, 0);
  }

  // Runs script lines and returns what the host logged meanwhile.
  std::string run(const std::string& script) {
    const size_t start = log_.text().size();
    std::istringstream lines(script);
    std::string line;
    while (std::getline(lines, line)) host_.run_command(line);
    return log_.text().substr(start);
  }

  // Waits for a log line holding `text` after the previous wait's match.
  void wait_for(const std::string& text) {
    const std::string out = run("wait 30000 " + text);
    ASSERT_EQ(out.find("wait: nothing"), std::string::npos) << "no " << text << "\n" << log_.text();
  }

  // The id of the contact-list entry named `name`; 0 (and a failure) when
  // there is none.
  int32_t entry_id(const std::string& name) {
    for (const auto& e : host_.entries()) {
      if (e.name == name) return e.id;
    }
    ADD_FAILURE() << "no entry " << name;
    return 0;
  }

  temp_dir dir_;
  shared_log log_;
  std::ostream log_stream_{&log_};
  substitute_host host_{log_stream_};

 private:
  bool loaded_ = false;
};

}  // namespace test_support
