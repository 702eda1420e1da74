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
//   accounts_bench [runs]      (default 3; median and worst per size)
#include <time.h>

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

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
  std::ostream no_log(nullptr);
  std::printf("%8s %13s %13s %13s %13s %13s %13s\n", "accounts", "start median", "start worst",
              "start cpu", "stop median", "stop worst", "stop cpu");
  figures start_at_2000{}, stop_at_2000{};
  for (int count : {1000, 2000, 10000, 20000}) {
    test_support::temp_dir dir;
    const std::string ini = generated_ini(count);
    std::vector<timing> starts, stops;
    for (int run = 0; run < runs; ++run) {
      // "stop" rewrites mail.ini: every run starts from the same file.
      test_support::write_file(dir.path() + "mail.ini", ini);
      substitute_host host(no_log);
      host.set_plugin_dir(dir.path());
      if (!host.open_library(EMAIL_PLUGIN_PATH)) {
        std::fprintf(stderr, "cannot load %s\n", EMAIL_PLUGIN_PATH);
        return 1;
      }
      host.run_command("load");
      starts.push_back(time_command(host, "start"));
      stops.push_back(time_command(host, "stop"));
      host.run_command("unload");
    }
    const figures start = summary(starts);
    const figures stop = summary(stops);
    std::printf("%8d %10.1f ms %10.1f ms %10.1f ms %10.1f ms %10.1f ms %10.1f ms\n", count,
                start.median, start.worst, start.cpu_median, stop.median, stop.worst,
                stop.cpu_median);
    if (count == 2000) {
      start_at_2000 = start;
      stop_at_2000 = stop;
    } else if (count == 20000) {
      std::printf("20,000 / 2,000, wall (cpu) medians: start %.1f (%.1f), stop %.1f (%.1f)\n",
                  start.median / start_at_2000.median, start.cpu_median / start_at_2000.cpu_median,
                  stop.median / stop_at_2000.median, stop.cpu_median / stop_at_2000.cpu_median);
    }
  }
  return 0;
}
