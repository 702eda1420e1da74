// The real library in the substitute host program. Each story in stories/ is
// a script of host commands and the log it must produce:
//   option WORDS   host options beside --dir
//   | LINE         a line of mail.ini before the run
//   > COMMAND      a script line
//   < TEXT         a log line holding TEXT, after the previous one matched
//   ! TEXT         no log line starts with TEXT
//   ini LINE       mail.ini holds LINE after the run ("ini -LINE": does not
//                  hold it; "ini none": is gone)
//   posix LINE     LINE where the host sees launches instead of performing
//                  them (not on Windows, which opens programs through its shell)
#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <dlfcn.h>
#endif

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <map>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "plugin.h"
#include "test_support.h"

namespace {

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    out.push_back(line);
  }
  return out;
}

#if defined(_WIN32)
constexpr bool kLaunchesSeen = false;
const char kPlugin[] = "email.dll";
const char kHost[] = "email-host.exe";
#define popen _popen
#define pclose _pclose
#else
constexpr bool kLaunchesSeen = true;
const char kPlugin[] = "email.so";
const char kHost[] = "email-host";
#endif

// What the substitute host wrote on standard output, run on `script` with the
// plug-in of this build and extra `options`.
std::string run_host(const std::string& script, const std::string& options) {
  test_support::temp_dir scratch;
  const std::string script_path = scratch.path() + "script.txt";
  test_support::write_file(script_path, script);
  const std::string dir = test_support::build_dir();
  std::string command = "\"" + dir + kHost + "\" --plugin \"" + dir + kPlugin + "\" " + options +
                        " \"" + script_path + "\"";
#if defined(_WIN32)
  command = "\"" + command + "\"";  // cmd.exe strips one pair of outer quotes
#elif defined(__i386__)
  command = "qemu-i386 -L / " + command;  // this kernel runs 32-bit programs only so
#endif
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) throw std::runtime_error("cannot start " + command);
  std::string output;
  char buffer[4096];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, n);
  pclose(pipe);
  return output;
}

const std::set<std::string> kKinds = {"option", "|", ">", "<", "!", "ini"};

class Story : public ::testing::TestWithParam<const char*> {};

TEST_P(Story, LogShowsTheFlow) {
  const std::vector<std::string> story = lines_of(
      test_support::read_file(test_support::build_dir() + "host_stories/" + GetParam() + ".txt"));
  ASSERT_FALSE(story.empty());
  test_support::temp_dir dir;
  const std::string ini = dir.path() + "mail.ini";
  std::map<std::string, std::vector<std::string>> part;  // the lines by their first word
  for (std::string line : story) {
    if (line.rfind("posix ", 0) == 0) {
      if (!kLaunchesSeen) continue;
      line = line.substr(6);
    }
    if (line.empty() || line[0] == '#') continue;
    const std::string kind = line.substr(0, line.find(' '));
    ASSERT_TRUE(kind.size() < line.size() && kKinds.count(kind)) << "not a story line: " << line;
    part[kind].push_back(line.substr(kind.size() + 1));
  }
  const auto joined = [&part](const char* kind, const char* end) {
    std::string out;
    for (const std::string& line : part[kind]) out += line + end;
    return out;
  };
  if (!part["|"].empty()) test_support::write_file(ini, joined("|", "\r\n"));

  // No trailing separator: on Windows a backslash before the closing quote
  // would escape the quote.
  const std::string log =
      run_host(joined(">", "\n"), joined("option", " ") + "--dir \"" +
                                      dir.path().substr(0, dir.path().size() - 1) + "\"");
  const std::vector<std::string> seen = lines_of(log);
  size_t at = 0;
  for (const std::string& want : part["<"]) {
    while (at < seen.size() && seen[at].find(want) == std::string::npos) ++at;
    ASSERT_LT(at, seen.size()) << "no line \"" << want << "\" where it belongs in:\n" << log;
    ++at;
  }
  for (const std::string& text : part["!"]) {
    for (const std::string& line : seen) EXPECT_NE(line.rfind(text, 0), 0u) << line;
  }
  for (const std::string& want : part["ini"]) {
    if (want == "none") {
      EXPECT_FALSE(test_support::file_exists(ini));
      continue;
    }
    const std::vector<std::string> saved = lines_of(test_support::read_file(ini));
    const bool held = want[0] == '-';
    EXPECT_NE(std::find(saved.begin(), saved.end(), want.substr(held ? 1 : 0)) != saved.end(), held)
        << want;
  }
}

INSTANTIATE_TEST_SUITE_P(Host, Story,
                         ::testing::Values("lifecycle", "contacts", "preferences", "loader"));

#if !defined(_WIN32)
int32_t EMAIL_CALL silent_host(const char*, const char*, void*) { return 0; }

// A host that unloads the library without "stop" leaves the checker running
// in it: the library must stay mapped under the thread, and a later "load"
// and "stop" of the same library still end it.
TEST(Library, UnloadWithoutStopKeepsTheLibraryUnderTheChecker) {
  test_support::temp_dir dir;
  const std::string library = test_support::build_dir() + kPlugin;
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

}  // namespace
