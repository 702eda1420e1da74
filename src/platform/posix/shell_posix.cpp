// Launching a program and playing a sound on POSIX. Launching: the argument text becomes words as a
// shell would split them, but no shell ever sees it, so nothing in the program name or its
// arguments can run commands of its own. The program is detached (double fork, new session,
// standard streams on /dev/null) so that no one waits for it and it keeps none of this process's
// files open.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#include "platform/posix/window_system.h"
#include "platform/resources.h"

extern char** environ;

namespace platform {
namespace {

std::mutex player_lock;
std::string sound_player;  // guarded by player_lock; empty: the system's

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\n'; }

bool is_executable_file(const std::string& path) {
  struct stat s {};
  return stat(path.c_str(), &s) == 0 && S_ISREG(s.st_mode) && access(path.c_str(), X_OK) == 0;
}

// The program as execve needs it: a name without a slash is looked up in
// PATH, as a shell would, before forking (the child may only make
// async-signal-safe calls).
bool resolve_program(const std::string& file, std::string* path) {
  if (file.empty()) return false;
  if (file.find('/') != std::string::npos) {
    *path = file;
    return true;
  }
  const char* env_path = std::getenv("PATH");
  const std::string dirs = env_path != nullptr ? env_path : "/usr/local/bin:/usr/bin:/bin";
  size_t start = 0;
  for (;;) {
    const size_t end = dirs.find(':', start);
    std::string dir = dirs.substr(start, end == std::string::npos ? end : end - start);
    if (dir.empty()) dir = ".";
    const std::string candidate = dir + "/" + file;
    if (is_executable_file(candidate)) {
      *path = candidate;
      return true;
    }
    if (end == std::string::npos) return false;
    start = end + 1;
  }
}

// `input`, when not -1, becomes the program's standard input.
[[noreturn]] void exec_detached(const char* path, char* const* argv, unsigned max_fd,
                                int input = -1) {
  // Between fork and exec only async-signal-safe calls are allowed.
  setsid();
  if (fork() != 0) _exit(0);
  const int null_fd = open("/dev/null", O_RDWR);
  if (null_fd >= 0) {
    dup2(null_fd, 0);
    dup2(null_fd, 1);
    dup2(null_fd, 2);
  }
  if (input >= 0) dup2(input, 0);
  for (unsigned fd = 3; fd < max_fd; ++fd) close(static_cast<int>(fd));
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  execve(path, argv, environ);
  _exit(127);
}

// Starts `file` with `words`, detached; false when it cannot be found or
// forked.
bool spawn_detached(const std::string& file, std::vector<std::string>& words, int input) {
  std::string path;
  if (!resolve_program(file, &path)) return false;
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(file.c_str()));
  for (std::string& w : words) argv.push_back(&w[0]);
  argv.push_back(nullptr);
  const long open_max = sysconf(_SC_OPEN_MAX);
  const unsigned max_fd =
      open_max > 0 && open_max < 65536 ? static_cast<unsigned>(open_max) : 65536;

  const pid_t child = fork();
  if (child == 0) exec_detached(path.c_str(), argv.data(), max_fd, input);
  // Only the short-lived middle process is waited for, never the program.
  if (child > 0) {
    while (waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
    }
  }
  return child > 0;
}

// The program that plays sounds: the one set by whoever plays the user, or
// ALSA's aplay when there is a sound card; empty when there is none.
std::string sound_output() {
  {
    std::lock_guard<std::mutex> hold(player_lock);
    if (!sound_player.empty()) return sound_player;
  }
  std::string player;
  return access("/dev/snd", F_OK) == 0 && resolve_program("aplay", &player) ? "aplay" : "";
}

}  // namespace

namespace posix {

bool split_words(const std::string& text, std::vector<std::string>* words) {
  words->clear();
  std::string word;
  bool in_word = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (is_blank(c)) {
      if (in_word) words->push_back(word);
      word.clear();
      in_word = false;
    } else if (c == '\'') {
      const size_t close = text.find('\'', i + 1);
      if (close == std::string::npos) return false;
      word.append(text, i + 1, close - i - 1);
      i = close;
      in_word = true;
    } else if (c == '"') {
      for (++i;; ++i) {
        if (i >= text.size()) return false;
        if (text[i] == '"') break;
        if (text[i] == '\\' && i + 1 < text.size() &&
            std::string("\\\"$`\n").find(text[i + 1]) != std::string::npos) {
          ++i;
          if (text[i] == '\n') continue;  // a line continuation
        }
        word += text[i];
      }
      in_word = true;
    } else if (c == '\\') {
      if (++i >= text.size()) return false;
      if (text[i] == '\n') continue;  // a line continuation
      word += text[i];
      in_word = true;
    } else {
      word += c;
      in_word = true;
    }
  }
  if (in_word) words->push_back(word);
  return true;
}

void set_sound_player(const std::string& program) {
  std::lock_guard<std::mutex> hold(player_lock);
  sound_player = program;
}

}  // namespace posix

void launch_program(const std::string& file, const std::string& arguments) {
  std::vector<std::string> words;
  if (posix::split_words(arguments, &words)) spawn_detached(file, words, -1);
}

sound_result play_sound_file(const std::string& path) {
  sound_result sound;
  struct stat s {};
  if (stat(path.c_str(), &s) == 0) sound.bytes = static_cast<size_t>(s.st_size);
  const std::string player = sound_output();
  if (!player.empty()) {
    std::vector<std::string> words{"-q", path};
    sound.to_output = spawn_detached(player, words, -1);
  }
  return sound;
}

sound_result play_sound_resource(module_handle module, int id) {
  sound_result sound;
  const auto* bundle = static_cast<const resource_bundle*>(module);
  const resource_item* item = nullptr;
  for (size_t i = 0; bundle != nullptr && i < bundle->count; ++i) {
    if (bundle->items[i].id == id && std::strcmp(bundle->items[i].type, "WAVE") == 0) {
      item = &bundle->items[i];
    }
  }
  if (item != nullptr) sound.bytes = item->size;
  const std::string player = item != nullptr ? sound_output() : std::string();
  int ends[2];
  if (!player.empty() && pipe2(ends, O_CLOEXEC) == 0) {
    std::vector<std::string> words{"-q", "-"};
    sound.to_output = spawn_detached(player, words, ends[0]);
    close(ends[0]);
    // Fed from a copy on a thread of its own, so that the caller does not
    // wait for the player and the module may be unloaded meanwhile.
    std::string data(reinterpret_cast<const char*>(item->data), item->size);
    const int feed = ends[1];
    std::thread([feed, data = std::move(data)] {
      // A player that ends before it has read everything (no device, or it
      // could not be started) must not take the whole process down with
      // SIGPIPE: the write fails instead, and the signal, pending on this
      // thread only, goes with it.
      sigset_t pipe_signal;
      sigemptyset(&pipe_signal);
      sigaddset(&pipe_signal, SIGPIPE);
      pthread_sigmask(SIG_BLOCK, &pipe_signal, nullptr);
      size_t done = 0;
      while (done < data.size()) {
        const ssize_t n = write(feed, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<size_t>(n);
      }
      close(feed);
    }).detach();
  }
  return sound;
}

}  // namespace platform
