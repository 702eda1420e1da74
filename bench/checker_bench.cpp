// The running plug-in: how long "stop" takes while the checker waits on a
// server that never answers (median and worst of 20), and the time of one
// complete check_account per protocol against Dovecot (kept ready, see
// tools/dovecot.sh --bench) beside Python's poplib/imaplib sending the same
// commands in the same run, with the CPU time per check of each.
//
//   checker_bench
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "imap_config.h"
#include "imap_def.h"
#include "imap_main.h"
#include "imap_thread.h"

namespace {

using Clock = std::chrono::steady_clock;

double ms_since(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

int32_t EMAIL_CALL quiet_host(const char*, const char*, void*) { return 0; }

// Accepts connections and never says a word.
class silent_server {
 public:
  silent_server() {
    listener_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    listen(listener_, 64);
    socklen_t n = sizeof a;
    getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &n);
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] {
      for (;;) {
        const int c = accept(listener_, nullptr, nullptr);
        if (c < 0) return;
        accepted_.push_back(c);
        ++connections;
      }
    });
  }
  ~silent_server() {
    shutdown(listener_, SHUT_RDWR);
    close(listener_);
    thread_.join();
    for (int c : accepted_) close(c);
  }
  int port() const { return port_; }
  std::atomic<int> connections{0};

 private:
  int listener_, port_ = 0;
  std::thread thread_;
  std::vector<int> accepted_;
};

void write_config(int accttype, int port, const std::string& user, const std::string& password) {
  imap_info a;
  set_new_account_defaults(a);
  a.accttype = accttype;
  a.display = "Bench";
  a.hostname = "127.0.0.1";
  a.port = port;
  a.username = user;
  a.password = password;
  account_table.reload({}, 0);
  append_account(a);
  save_config();
  account_table.reload({}, 0);
}

void stop_latency(const std::string& dir) {
  silent_server server;
  plugin_info_record info{};
  info.plugin_dir = dir.c_str();
  info.host_call = quiet_host;
  plugin_main("load", &info);
  write_config(ACCOUNT_POP3, server.port(), "nobody", "x");
  std::vector<double> times;
  for (int run = 0; run < 20; ++run) {
    const int before = server.connections;
    plugin_main("start", nullptr);
    // The check is under way once the server has the connection.
    while (server.connections == before) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const auto start = Clock::now();
    plugin_main("stop", nullptr);
    times.push_back(ms_since(start));
  }
  plugin_main("unload", nullptr);
  std::printf(
      "stop while the checker waits on a silent server (20 runs): median %.2f ms, "
      "worst %.2f ms\n",
      median(times), *std::max_element(times.begin(), times.end()));
}

std::map<std::string, std::string> read_state(const std::string& dir) {
  std::map<std::string, std::string> state;
  std::ifstream file(dir + "/state");
  std::string line;
  while (std::getline(file, line)) {
    const size_t eq = line.find('=');
    if (eq != std::string::npos) state[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return state;
}

double cpu_ms() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

// Wall times of `rounds` complete checks of one account by check_account,
// and the CPU time of all. As in Python's blocks, the first check is not
// timed: the check after the other side's block finds its memory out of the
// processor's caches.
void time_checks(const account_ref& key, int rounds, std::vector<double>* times, double* cpu) {
  checker_control control;
  check_account(key, control);
  const double cpu_before = cpu_ms();
  for (int i = 0; i < rounds; ++i) {
    const auto start = Clock::now();
    if (check_account(key, control) <= 0) std::fprintf(stderr, "check failed\n");
    times->push_back(ms_since(start));
  }
  *cpu += cpu_ms() - cpu_before;
}

// The same by Python's poplib or imaplib (bench/checker_python.py).
void time_python(const std::string& protocol, int port, int rounds, std::vector<double>* times,
                 double* cpu) {
  const std::string command = "python3 " EMAIL_SOURCE_DIR "/bench/checker_python.py 127.0.0.1 " +
                              std::to_string(port) + " " + protocol + " bench secret " +
                              std::to_string(rounds);
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return;
  double wall = 0, check_cpu = 0;
  while (std::fscanf(pipe, "%lf %lf", &wall, &check_cpu) == 2) {
    times->push_back(wall);
    *cpu += check_cpu;
  }
  pclose(pipe);
}

void check_times(const std::string& dir) {
  const std::string users = dir + "/users";
  std::ofstream(users) << "bench secret 20\n";
  const std::string server = dir + "/dovecot";
  if (std::system(("bash " EMAIL_SOURCE_DIR "/tools/dovecot.sh start " + server +
                   " --bench --users " + users + " >/dev/null")
                      .c_str()) != 0) {
    std::printf("Dovecot cannot run here; no check times\n");
    return;
  }
  auto state = read_state(server);
  use_header = 1;
  constexpr int kBlocks = 10, kBlock = 20;
  std::printf("check_account against Dovecot beside Python, median of %d each:\n",
              kBlocks * kBlock);
  for (const char* protocol : {"pop3", "imap"}) {
    const bool pop3 = std::string(protocol) == "pop3";
    const int port = std::stoi(state[protocol]);
    imap_info a;
    set_new_account_defaults(a);
    a.accttype = pop3 ? ACCOUNT_POP3 : ACCOUNT_IMAP;
    a.display = "Bench";
    a.hostname = "127.0.0.1";
    a.port = port;
    a.username = "bench";
    a.password = "secret";
    account_table.reload({}, 0);
    const account_ref key = account_table.key_at(static_cast<size_t>(append_account(a)));
    std::vector<double> ours, python, warm_up;
    double ours_cpu = 0, python_cpu = 0, warm_up_cpu = 0;
    time_checks(key, 5, &warm_up, &warm_up_cpu);
    // In alternating blocks, so that drift in the machine's speed weighs on
    // both alike.
    for (int block = 0; block < kBlocks; ++block) {
      time_checks(key, kBlock, &ours, &ours_cpu);
      time_python(protocol, port, kBlock, &python, &python_cpu);
    }
    account_table.reload({}, 0);
    if (python.size() != ours.size()) {
      std::printf("%s: Python's checks failed\n", protocol);
      continue;
    }
    const double checks = static_cast<double>(ours.size());
    std::printf("%s: ours %.3f ms (CPU %.3f ms), Python %.3f ms (CPU %.3f ms), ours/Python %.2f\n",
                protocol, median(ours), ours_cpu / checks, median(python), python_cpu / checks,
                median(ours) / median(python));
  }
  std::system(("bash " EMAIL_SOURCE_DIR "/tools/dovecot.sh stop " + server).c_str());
}

}  // namespace

int main() {
  char pattern[] = "/tmp/checker-bench-XXXXXX";
  const char* made = mkdtemp(pattern);
  if (made == nullptr) return 1;
  const std::string dir = std::string(made) + "/";
  // Dovecot's own users must reach the server's folder inside.
  chmod(made, 0755);
  stop_latency(dir);
  check_times(dir);
  std::system(("rm -rf " + dir).c_str());
  return 0;
}
