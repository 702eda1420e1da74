// The cost of many accounts: the substitute host loads the plug-in library
// with a generated mail.ini of 1,000 to 20,000 accounts and times "start" and
// "stop", each from sending the event until it returns (its "-> 0" line).
// The host's log is off (a stream without a buffer: no line is formatted or
// kept), so the time is the plug-in's and the host's contact list's, not
// the log's. The accounts point at a port where nothing listens and the
// checker is stopped before its first pause ends, so no check runs. Beside
// the wall time it shows the processor time of the thread that sent the
// event.
//
// Each process of the messenger starts the plug-in once, so every size is
// timed in fresh processes ("first"), each run as `accounts_bench --child`;
// each of them then loads the library and runs "start" and "stop" twice
// more ("again"), where the C library has memory at hand from the first
// time (for the small tables; blocks of megabytes go back to the system
// when freed).
//
//   accounts_bench [processes]      (default 7; median and worst per size)
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ostream>
#include <string>
#include <vector>

#include "host.h"
#include "test_support.h"

namespace {

using Clock = std::chrono::steady_clock;

// A mail.ini with `count` complete accounts, half IMAP and half POP3.
std::string generated_ini(int count) {
  std::string text =
      "[Mail]\r\nuse_alert=1\r\nuse_section=1\r\nuse_icon=1\r\nuse_sound=0\r\nuse_disable=1\r\n"
      "use_header=1\r\n";
  const std::string password = "028053002081046027";  // "secret", scrambled
  for (int i = 0; i < count; ++i) {
    const std::string n = "(" + std::to_string(i) + ")=";
    text += "accttype" + n + std::to_string(i % 2) + "\r\n";
    text += "address" + n + "user" + std::to_string(i) + "@example.test\r\n";
    text += "username" + n + "user" + std::to_string(i) + "\r\n";
    text += "password" + n + password + "\r\n";
    text += "mailbox" + n + "INBOX\r\nunseen" + n + "1\r\nhostname" + n + "127.0.0.1\r\n";
    text += "client" + n + "\r\narguments" + n + "\r\n";
    text += "display" + n + "Account " + std::to_string(i) + "\r\n";
    text += "port" + n + "9\r\nattempt" + n + "100000\r\nssl" + n + "0\r\n";
  }
  return text;
}

// The processor time of the calling thread (the host's user-interface
// thread), in ms: on a shared machine it shows what the wall time would be
// without the other programs.
double thread_cpu_ms() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

struct timing {
  double wall, cpu;
};

timing time_command(substitute_host& host, const std::string& command) {
  const Clock::time_point start = Clock::now();
  const double cpu_start = thread_cpu_ms();
  host.run_command(command);
  return {std::chrono::duration<double, std::milli>(Clock::now() - start).count(),
          thread_cpu_ms() - cpu_start};
}

struct figures {
  double median, worst, cpu_median;
};

figures summary(const std::vector<timing>& runs) {
  std::vector<double> wall, cpu;
  for (const timing& t : runs) {
    wall.push_back(t.wall);
    cpu.push_back(t.cpu);
  }
  std::sort(wall.begin(), wall.end());
  std::sort(cpu.begin(), cpu.end());
  return {wall[wall.size() / 2], wall.back(), cpu[cpu.size() / 2]};
}

constexpr int kRunsPerProcess = 3;

// The child: kRunsPerProcess runs with `count` accounts in `dir`, each with
// a host of its own, one line of wall and processor times per run.
int run_child(int count, const std::string& dir) {
  const std::string ini = generated_ini(count);
  std::ostream no_log(nullptr);
  for (int run = 0; run < kRunsPerProcess; ++run) {
    // "stop" rewrites mail.ini: every run starts from the same file.
    test_support::write_file(dir + "mail.ini", ini);
    substitute_host host(no_log);
    host.set_plugin_dir(dir);
    if (!host.open_library(EMAIL_PLUGIN_PATH)) return 1;
    host.run_command("load");
    const timing start = time_command(host, "start");
    const timing stop = time_command(host, "stop");
    host.run_command("unload");
    std::printf("%f %f %f %f\n", start.wall, start.cpu, stop.wall, stop.cpu);
  }
  return 0;
}

// The runs of a fresh process.
bool run_in_child(int count, const std::string& dir, timing (&starts)[kRunsPerProcess],
                  timing (&stops)[kRunsPerProcess]) {
  // The shell popen starts is /proc/self/exe to itself: name this program.
  char self[4096];
  const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
  if (length <= 0) return false;
  const std::string command = "'" + std::string(self, static_cast<size_t>(length)) + "' --child " +
                              std::to_string(count) + " '" + dir + "'";
  FILE* child = popen(command.c_str(), "r");
  if (child == nullptr) return false;
  int got = 0;
  while (got < kRunsPerProcess &&
         std::fscanf(child, "%lf %lf %lf %lf", &starts[got].wall, &starts[got].cpu,
                     &stops[got].wall, &stops[got].cpu) == 4) {
    ++got;
  }
  return pclose(child) == 0 && got == kRunsPerProcess;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "--child") return run_child(std::atoi(argv[2]), argv[3]);
  const int processes = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
  std::printf("%8s %6s %13s %13s %13s %13s %13s %13s\n", "accounts", "", "start median",
              "start worst", "start cpu", "stop median", "stop worst", "stop cpu");
  figures at_2000[2][2]{};  // [first, again][start, stop]
  for (int count : {1000, 2000, 10000, 20000}) {
    test_support::temp_dir dir;
    std::vector<timing> measured[2][2];
    for (int p = 0; p < processes; ++p) {
      timing starts[kRunsPerProcess], stops[kRunsPerProcess];
      if (!run_in_child(count, dir.path(), starts, stops)) {
        std::fprintf(stderr, "a run with %d accounts failed (cannot load %s?)\n", count,
                     EMAIL_PLUGIN_PATH);
        return 1;
      }
      for (int r = 0; r < kRunsPerProcess; ++r) {
        measured[r == 0 ? 0 : 1][0].push_back(starts[r]);
        measured[r == 0 ? 0 : 1][1].push_back(stops[r]);
      }
    }
    for (int kind = 0; kind < 2; ++kind) {
      const figures start = summary(measured[kind][0]);
      const figures stop = summary(measured[kind][1]);
      std::printf("%8d %6s %10.1f ms %10.1f ms %10.1f ms %10.1f ms %10.1f ms %10.1f ms\n", count,
                  kind == 0 ? "first" : "again", start.median, start.worst, start.cpu_median,
                  stop.median, stop.worst, stop.cpu_median);
      if (count == 2000) {
        at_2000[kind][0] = start;
        at_2000[kind][1] = stop;
      } else if (count == 20000) {
        std::printf(
            "  20,000 / 2,000 (%s), wall (cpu) medians: start %.1f (%.1f), stop %.1f (%.1f)\n",
            kind == 0 ? "first" : "again", start.median / at_2000[kind][0].median,
            start.cpu_median / at_2000[kind][0].cpu_median, stop.median / at_2000[kind][1].median,
            stop.cpu_median / at_2000[kind][1].cpu_median);
      }
    }
  }
  // Reading and writing the file is linear in its bytes, and account
  // numbers of five digits make each account's lines longer than four do.
  std::printf("  mail.ini of 20,000 accounts / 2,000: %.2f times the bytes\n",
              static_cast<double>(generated_ini(20000).size()) /
                  static_cast<double>(generated_ini(2000).size()));
  return 0;
}
