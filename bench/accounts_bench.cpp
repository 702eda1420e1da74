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
// A messenger reads mail.ini long after it was written and stops the
// plug-in long after it started, so neither event finds the file or the
// tables in the processor's caches. The cold runs read a buffer the size of
// the last-level cache before each event, so that every size starts from
// memory. Back to back, the step before (writing the file, "start") leaves
// a small table in the caches and a large one not: those runs show what
// the caches add to the small sizes.
//
//   accounts_bench [processes]      (default 7; median and worst per size)
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
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

// Reads every cache line of a buffer as large as the last-level cache, so
// the next event finds none of its data in the caches. The buffer is
// written once: reading untouched pages would read one shared page of
// zeros again and again.
class cache_flush {
 public:
  cache_flush() : lines_(bytes(), 1) {}
  void operator()() {
    unsigned sum = 0;
    for (size_t i = 0; i < lines_.size(); i += 64) sum += lines_[i];
    sink_ = sum;
  }
  static size_t bytes() {
    const long reported = sysconf(_SC_LEVEL3_CACHE_SIZE);
    return std::max<size_t>(reported > 0 ? static_cast<size_t>(reported) : 0, size_t{64} << 20);
  }

 private:
  std::vector<unsigned char> lines_;
  volatile unsigned sink_ = 0;
};

// The child: kRunsPerProcess runs with `count` accounts in `dir`, each with
// a host of its own, one line of wall and processor times per run.
int run_child(int count, const std::string& dir, bool cold) {
  const std::string ini = generated_ini(count);
  std::ostream no_log(nullptr);
  std::unique_ptr<cache_flush> flush = cold ? std::make_unique<cache_flush>() : nullptr;
  const auto timed = [&flush](substitute_host& host, const std::string& command) {
    if (flush != nullptr) (*flush)();
    return time_command(host, command);
  };
  for (int run = 0; run < kRunsPerProcess; ++run) {
    // "stop" rewrites mail.ini: every run starts from the same file.
    test_support::write_file(dir + "mail.ini", ini);
    substitute_host host(no_log);
    host.set_plugin_dir(dir);
    if (!host.open_library(EMAIL_PLUGIN_PATH)) return 1;
    host.run_command("load");
    const timing start = timed(host, "start");
    const timing stop = timed(host, "stop");
    host.run_command("unload");
    std::printf("%f %f %f %f\n", start.wall, start.cpu, stop.wall, stop.cpu);
  }
  return 0;
}

// The runs of a fresh process.
bool run_in_child(int count, const std::string& dir, bool cold, timing (&starts)[kRunsPerProcess],
                  timing (&stops)[kRunsPerProcess]) {
  // The shell popen starts is /proc/self/exe to itself: name this program.
  char self[4096];
  const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
  if (length <= 0) return false;
  const std::string command = "'" + std::string(self, static_cast<size_t>(length)) + "' --child " +
                              std::to_string(count) + " '" + dir + "' " + (cold ? "cold" : "warm");
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

// One table: every size in `processes` fresh processes. Beside the
// ratio of 20,000 accounts to 2,000 it shows what each further account
// costs between two sizes: a constant cost per account is linear.
bool run_table(bool cold, int processes) {
  std::printf("%8s %6s %13s %13s %13s %13s %13s %13s\n", "accounts", "", "start median",
              "start worst", "start cpu", "stop median", "stop worst", "stop cpu");
  const char* const kinds[2] = {"first", "again"};
  const int counts[] = {1000, 2000, 10000, 20000};
  figures at[4][2][2]{};  // [size][first or again][start or stop]
  for (int size = 0; size < 4; ++size) {
    const int count = counts[size];
    test_support::temp_dir dir;
    std::vector<timing> measured[2][2];
    for (int p = 0; p < processes; ++p) {
      timing starts[kRunsPerProcess], stops[kRunsPerProcess];
      if (!run_in_child(count, dir.path(), cold, starts, stops)) {
        std::fprintf(stderr, "a run with %d accounts failed (cannot load %s?)\n", count,
                     EMAIL_PLUGIN_PATH);
        return false;
      }
      for (int r = 0; r < kRunsPerProcess; ++r) {
        measured[r == 0 ? 0 : 1][0].push_back(starts[r]);
        measured[r == 0 ? 0 : 1][1].push_back(stops[r]);
      }
    }
    for (int kind = 0; kind < 2; ++kind) {
      const figures& start = at[size][kind][0] = summary(measured[kind][0]);
      const figures& stop = at[size][kind][1] = summary(measured[kind][1]);
      std::printf("%8d %6s %10.1f ms %10.1f ms %10.1f ms %10.1f ms %10.1f ms %10.1f ms\n", count,
                  kinds[kind], start.median, start.worst, start.cpu_median, stop.median, stop.worst,
                  stop.cpu_median);
    }
  }
  for (int kind = 0; kind < 2; ++kind) {
    const auto ratio = [&](int event, double figures::*of) {
      return at[3][kind][event].*of / at[1][kind][event].*of;
    };
    std::printf("  20,000 / 2,000 (%s), wall (cpu) medians: start %.1f (%.1f), stop %.1f (%.1f)\n",
                kinds[kind], ratio(0, &figures::median), ratio(0, &figures::cpu_median),
                ratio(1, &figures::median), ratio(1, &figures::cpu_median));
    const auto per_account = [&](int event, int from) {
      return (at[from + 1][kind][event].median - at[from][kind][event].median) * 1e3 /
             (counts[from + 1] - counts[from]);
    };
    std::printf(
        "  each further account (%s), us: start %.2f to 2,000, %.2f to 10,000, %.2f to 20,000; "
        "stop %.2f, %.2f, %.2f\n",
        kinds[kind], per_account(0, 0), per_account(0, 1), per_account(0, 2), per_account(1, 0),
        per_account(1, 1), per_account(1, 2));
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::string(argv[1]) == "--child") {
    return run_child(std::atoi(argv[2]), argv[3], std::string(argv[4]) == "cold");
  }
  const int processes = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
  std::printf("Each event from cold caches (%zu MiB read before it):\n",
              cache_flush::bytes() >> 20);
  if (!run_table(true, processes)) return 1;
  std::printf("\nBack to back (the step before leaves small tables in the caches):\n");
  if (!run_table(false, processes)) return 1;
  // Reading and writing the file is linear in its bytes, and account
  // numbers of five digits make each account's lines longer than four do.
  std::printf("\nmail.ini of 20,000 accounts / 2,000: %.2f times the bytes\n",
              static_cast<double>(generated_ini(20000).size()) /
                  static_cast<double>(generated_ini(2000).size()));
  return 0;
}
