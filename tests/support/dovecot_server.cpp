#include "dovecot_server.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>

#ifdef _WIN32
#include <windows.h>
#endif

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

// Every word in single quotes, a quote within as '\''.
std::string shell_words(const std::vector<std::string>& words) {
  std::string out;
  for (const std::string& word : words) {
    out += out.empty() ? "'" : " '";
    for (char c : word) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    out += "'";
  }
  return out;
}

}  // namespace

const dovecot_server& dovecot() {
  static const dovecot_server server = read_state();
  return server;
}

size_t inbox_size(const std::string& user) {
  size_t count = 0;
  for (const char* sub : {"/new", "/cur"}) {
    std::error_code ignored;
    for (auto it = std::filesystem::directory_iterator(
             dovecot().dir + "/mail/" + user + "/Maildir" + sub, ignored);
         it != std::filesystem::directory_iterator(); it.increment(ignored)) {
      ++count;
    }
  }
  return count;
}

std::string deliver(const std::string& user, const std::vector<std::string>& options) {
  const dovecot_server& server = dovecot();
  if (!server.missing.empty()) return server.missing;
  std::vector<std::string> words = {server.state.at("script"), "deliver", server.dir, user};
  words.insert(words.end(), options.begin(), options.end());
#ifdef _WIN32
  // Under Wine a Windows program can start bash but not wait for it; the
  // delivery's last step moves the message into the folder in one rename, so
  // its arrival there is the end of the delivery. Paths on Wine's Z: drive are
  // the Unix paths behind it.
  for (const std::string& option : options) {
    if (option == "--folder" || option == "--flags") return option + " needs a POSIX test";
  }
  for (std::string& word : words) {
    if (word.rfind("Z:", 0) == 0) word.erase(0, 2);
  }
  const size_t before = inbox_size(user);
  std::string command = "Z:\\bin\\bash -c \"" + shell_words(words) + "\"";
  // The command line goes to bash as is; no double quote may end it early.
  if (shell_words(words).find('"') != std::string::npos) return "a double quote in " + command;
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process)) {
    return "cannot start " + command;
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  for (int waited_ms = 0; waited_ms < 20000; waited_ms += 20) {
    if (inbox_size(user) > before) return "";
    Sleep(20);
  }
  return "no message arrived: " + command;
#else
  const std::string command = "bash " + shell_words(words);
  const int status = std::system(command.c_str());
  return status == 0 ? "" : "failed (" + std::to_string(status) + "): " + command;
#endif
}

bool tls_available() {
  TTCPBlockSocket probe;
  probe.SetTlsEnabled(true);
  return probe.LastError() == 0;
}

}  // namespace test_support
