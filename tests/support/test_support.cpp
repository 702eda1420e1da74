#include "test_support.h"

#include <dirent.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#if defined(_WIN32)
#include <windows.h>
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
    const fs::path p =
        base / ("email-test-" + std::to_string(getpid()) + "-" + std::to_string(serial++));
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
  // Not std::filesystem: the 32-bit libstdc++ reads folders without large
  // file support and sees nothing where inode numbers pass 32 bits.
  std::vector<std::string> names;
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return names;
  while (const dirent* e = readdir(dir)) {
    const std::string name = e->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  closedir(dir);
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

}  // namespace test_support
