#include "test_support.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dirent.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace test_support {

bool missing_parts_allowed() {
  const char* allowed = std::getenv("EMAIL_TESTS_ALLOW_MISSING");
  return allowed != nullptr && std::string(allowed) == "1";
}

temp_dir::temp_dir() {
  static int serial = 0;
  const fs::path base = fs::temp_directory_path();
  for (int attempt = 0; attempt < 1000; ++attempt) {
    std::ostringstream name;
#if defined(_WIN32)
    name << "email-test-" << GetCurrentProcessId() << "-" << serial++;
#else
    name << "email-test-" << getpid() << "-" << serial++;
#endif
    const fs::path p = base / name.str();
    if (fs::create_directory(p)) {
      path_ = p.string() + static_cast<char>(fs::path::preferred_separator);
      return;
    }
  }
  throw std::runtime_error("cannot create a scratch folder");
}

temp_dir::~temp_dir() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

bool file_exists(const std::string& path) { return fs::exists(path); }

void write_file(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<std::string> list_folder(const std::string& folder) {
  std::vector<std::string> names;
#if defined(_WIN32)
  std::error_code error;
  for (const auto& e : fs::directory_iterator(folder, error)) {
    names.push_back(e.path().filename().string());
  }
#else
  // Not std::filesystem: the 32-bit libstdc++ reads folders without large
  // file support and sees nothing where inode numbers pass 32 bits.
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return names;
  while (const dirent* e = readdir(dir)) {
    const std::string name = e->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  closedir(dir);
#endif
  return names;
}

std::string build_dir() {
#if defined(_WIN32)
  char buffer[MAX_PATH];
  const DWORD n = GetModuleFileNameA(nullptr, buffer, MAX_PATH);
  const std::string self(buffer, n);
#else
  const std::string self = fs::read_symlink("/proc/self/exe").string();
#endif
  return self.substr(0, self.find_last_of("/\\") + 1);
}

const char* plugin_file_name() {
#if defined(_WIN32)
  return "email.dll";
#else
  return "email.so";
#endif
}

std::string dir_option(const std::string& dir) {
  std::string trimmed = dir;
  while (!trimmed.empty() && (trimmed.back() == '/' || trimmed.back() == '\\')) trimmed.pop_back();
  return "--dir \"" + trimmed + "\"";
}

std::string run_host(const std::string& script, const std::string& options) {
  temp_dir scratch;
  const std::string script_path = scratch.path() + "script.txt";
  write_file(script_path, script);
  const std::string dir = build_dir();
#if defined(_WIN32)
  const std::string host = "\"" + dir + "email-host.exe\"";
#elif defined(__i386__)
  // This kernel runs 32-bit programs only through the emulator.
  const std::string host = "qemu-i386 -L / \"" + dir + "email-host\"";
#else
  const std::string host = "\"" + dir + "email-host\"";
#endif
  std::string command = host + " --plugin \"" + dir + plugin_file_name() + "\" " + options + " \"" +
                        script_path + "\"";
#if defined(_WIN32)
  command = "\"" + command + "\"";  // cmd.exe strips one pair of outer quotes
  FILE* pipe = _popen(command.c_str(), "rb");
#else
  FILE* pipe = popen(command.c_str(), "r");
#endif
  if (pipe == nullptr) throw std::runtime_error("cannot start " + command);
  std::string output;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
#if defined(_WIN32)
  _pclose(pipe);
  // Text written by the host ends lines with CR LF on Windows.
  std::string unix_lines;
  for (size_t i = 0; i < output.size(); ++i) {
    if (!(output[i] == '\r' && i + 1 < output.size() && output[i + 1] == '\n')) {
      unix_lines += output[i];
    }
  }
  return unix_lines;
#else
  pclose(pipe);
  return output;
#endif
}

}  // namespace test_support
