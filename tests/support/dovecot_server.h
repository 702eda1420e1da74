// The private Dovecot that a CTest fixture started for a test program
// (tools/dovecot.sh, see email_dovecot_fixture in tests/testing.cmake):
// where it listens and keeps its mail, or why it is not running.
#pragma once

#include <map>
#include <string>

#include "test_support.h"

namespace test_support {

struct dovecot_server {
  std::map<std::string, std::string> state;  // the state file: status, ports (pop3, pop3s, ...)
  std::string dir;
  std::string missing;  // why the server is not running here; empty when it runs

  // The folder of `user`'s Maildir as this program names files.
  std::string maildir(const std::string& user) const;
};

// Read once from EMAIL_DOVECOT_DIR.
const dovecot_server& dovecot();

// Whether TLS connections can be made from this program (an OpenSSL library
// can be loaded).
bool tls_available();

}  // namespace test_support
