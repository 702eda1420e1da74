// The private Dovecot a CTest fixture started (email_dovecot_fixture in
// tests/testing.cmake): where it listens and keeps its mail, or why not.
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
};

// Read once from EMAIL_DOVECOT_DIR.
const dovecot_server& dovecot();

// Adds one message to `user`'s mail through `tools/dovecot.sh deliver`, the
// one Maildir delivery of the tests, with that command's `options`
// ({"--flags", "S", "--subject", "Seen"}, {"--folder", "My Box"}, a file, ...).
// Returns an empty text on success, else why it failed. Windows builds deliver
// to the INBOX only.
std::string deliver(const std::string& user, const std::vector<std::string>& options);

// Messages in `user`'s INBOX, new and seen.
size_t inbox_size(const std::string& user);

// Whether an OpenSSL library can be loaded for TLS connections.
bool tls_available();

}  // namespace test_support
