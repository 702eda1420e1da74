// email-host: the substitute host. See --help.
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <fstream>
#include <iostream>
#include <mutex>
#include <string>
#include <thread>

#include "host.h"

namespace {

#if defined(_WIN32)
const char kLibrary[] = "email.dll";
#else
const char kLibrary[] = "email.so";
#endif

const char kUsage[] =
    "usage: email-host [--plugin PATH] [--dir DIR] [--answer yes|no] [--brief] [SCRIPT]\n"
    "\n"
    "Loads the plug-in library PATH (default: %s beside this program) and plays\n"
    "the messenger for it. Commands come from the file SCRIPT, or from standard\n"
    "input when no SCRIPT is given or SCRIPT is -. Every host function the\n"
    "plug-in calls is logged on standard output.\n"
    "\n"
    "  --plugin PATH    the plug-in library to load\n"
    "  --dir DIR        the plug-in directory reported on \"load\" (default: the\n"
    "                   library's directory)\n"
    "  --answer WORD    how message boxes are answered: yes, no, ok or cancel\n"
    "                   (default yes; the script's answer command changes it)\n"
    "  --brief          log what a person follows (events, contact-list changes,\n"
    "                   alerts, sounds, launches, message boxes) instead of the\n"
    "                   complete record of every call\n"
    "  --help           this text\n"
    "\n";

// Command lines read on a thread of their own, so that the host's thread
// keeps serving its windows while a person takes time to type.
class line_reader {
 public:
  explicit line_reader(std::istream& in)
      : thread_([this, &in] {
          std::string line;
          while (std::getline(in, line)) {
            std::lock_guard<std::mutex> hold(lock_);
            lines_.push_back(line);
            arrived_.notify_all();
          }
          std::lock_guard<std::mutex> hold(lock_);
          ended_ = true;
          arrived_.notify_all();
        }) {}
  ~line_reader() { thread_.detach(); }

  // Waits up to `ms` for the next line; false when none came yet. `ended`
  // tells when there will be none.
  bool next(std::string* line, int ms, bool* ended) {
    std::unique_lock<std::mutex> hold(lock_);
    arrived_.wait_for(hold, std::chrono::milliseconds(ms),
                      [this] { return !lines_.empty() || ended_; });
    *ended = lines_.empty() && ended_;
    if (lines_.empty()) return false;
    *line = lines_.front();
    lines_.pop_front();
    return true;
  }

 private:
  std::mutex lock_;
  std::condition_variable arrived_;
  std::deque<std::string> lines_;  // guarded by lock_
  bool ended_ = false;             // guarded by lock_
  std::thread thread_;
};

std::string directory_of(const std::string& path) {
  const size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? "." : path.substr(0, slash);
}

}  // namespace

int main(int argc, char** argv) {
  std::string plugin = directory_of(argv[0]) + "/" + kLibrary;
  std::string dir;
  std::string answer = "yes";
  std::string script = "-";
  bool brief = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool has_value = i + 1 < argc;
    if (arg == "--help" || arg == "-h") {
      std::printf(kUsage, kLibrary);
      std::fputs(substitute_host::help().c_str(), stdout);
      return 0;
    } else if (arg == "--plugin" && has_value) {
      plugin = argv[++i];
    } else if (arg == "--dir" && has_value) {
      dir = argv[++i];
    } else if (arg == "--answer" && has_value) {
      answer = argv[++i];
    } else if (arg == "--brief") {
      brief = true;
    } else if (arg[0] != '-' || arg == "-") {
      script = arg;
    } else {
      std::fprintf(stderr, kUsage, kLibrary);
      return 2;
    }
  }

  substitute_host host(std::cout);
  host.set_plugin_dir(dir.empty() ? directory_of(plugin) : dir);
  host.set_brief(brief);
  if (!host.run_command("answer " + answer) || !host.open_library(plugin)) return 1;

  std::string line;
  if (script != "-") {
    std::ifstream file(script);
    if (!file) {
      std::cerr << "email-host: cannot read " << script << "\n";
      return 1;
    }
    while (std::getline(file, line)) {
      host.serve_windows();
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (!host.run_command(line)) break;
    }
    return 0;
  }
  // A person (or a pipe) may take its time: the windows are served while
  // the host waits for the next line.
  line_reader reader(std::cin);
  for (;;) {
    bool ended = false;
    if (!reader.next(&line, 20, &ended)) {
      if (ended) break;
      host.serve_windows();
      continue;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!host.run_command(line)) break;
  }
  return 0;
}
