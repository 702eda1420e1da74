// The private Dovecot that a CTest fixture started for a test program
// (tools/dovecot.sh, see email_dovecot_fixture in tests/testing.cmake):
// where it listens and keeps its mail, or why it is not running.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "test_support.h"

namespace test_support {

struct dovecot_server {
  // The state file: status, ports (pop3, pop3s, ...), script (tools/dovecot.sh).
  std::map<std::string, std::string> state;
  std::string dir;
  std::string missing;  // why the server is not running here; empty when it runs

  // The folder of `user`'s Maildir as this program names files.
  std::string maildir(const std::string& user) const;
};

// Read once from EMAIL_DOVECOT_DIR.
const dovecot_server& dovecot();

// Adds one message to `user`'s mail as a delivery agent does, through
// `tools/dovecot.sh deliver` (the one Maildir delivery of the tests, the
// fixture and the demo; the fixture's state names it). `options` are that
// command's: {"--flags", "S", "--subject", "Seen"}, {"--folder", "My Box"}, a
// file to deliver as it stands, ... Returns an empty text on success, else
// why it failed. POSIX builds only: under Wine a test can start bash but not
// wait for it, so Windows tests get their mail from the fixture at start
// (email_dovecot_fixture(... ARGS --mail FILE)).
std::string deliver(const std::string& user, const std::vector<std::string>& options);

// Whether TLS connections can be made from this program (an OpenSSL library
// can be loaded).
bool tls_available();

}  // namespace test_support
