#include "dovecot_server.h"

#include <cstdlib>
#include <fstream>

#include "blcksock.h"

namespace test_support {
namespace {

dovecot_server read_state() {
  dovecot_server s;
  const char* dir = std::getenv("EMAIL_DOVECOT_DIR");
  if (dir == nullptr) {
    s.missing = "EMAIL_DOVECOT_DIR is not set; run these tests through ctest";
    return s;
  }
  s.dir = dir;
  std::ifstream file(s.dir + "/state");
  std::string line;
  while (std::getline(file, line)) {
    const size_t eq = line.find('=');
    if (eq != std::string::npos) s.state[line.substr(0, eq)] = line.substr(eq + 1);
  }
  if (s.state["status"] != "running") {
    s.missing = "Dovecot is not running here: " +
                (s.state.count("reason") ? s.state["reason"] : "no state in " + s.dir);
  }
  return s;
}

}  // namespace

std::string dovecot_server::maildir(const std::string& user) const {
  return dir + "/mail/" + user + "/Maildir";
}

const dovecot_server& dovecot() {
  static const dovecot_server server = read_state();
  return server;
}

#ifdef _WIN32
std::string deliver(const std::string&, const std::vector<std::string>&) {
  return "a Windows test cannot wait for tools/dovecot.sh under Wine; deliver at the fixture's "
         "start (--mail FILE)";
}
#else
std::string deliver(const std::string& user, const std::vector<std::string>& options) {
  const dovecot_server& server = dovecot();
  if (!server.missing.empty()) return server.missing;
  // Every word in single quotes, a quote within as '\''.
  auto quoted = [](const std::string& word) {
    std::string q = "'";
    for (char c : word) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
  };
  std::string command = "bash " + quoted(server.state.at("script")) + " deliver " +
                        quoted(server.dir) + " " + quoted(user);
  for (const std::string& option : options) command += " " + quoted(option);
  const int status = std::system(command.c_str());
  return status == 0 ? "" : "failed (" + std::to_string(status) + "): " + command;
}
#endif

bool tls_available() {
  TTCPBlockSocket probe;
  probe.SetTlsEnabled(true);
  return probe.LastError() == 0;
}

}  // namespace test_support
