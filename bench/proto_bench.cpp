// The POP3 and IMAP clients against a Dovecot on loopback that keeps its
// login and mail processes ready: the account check's whole command
// sequence per protocol, plain and TLS, timed against Python's poplib and
// imaplib sending the same commands and against a raw client (the server's
// own floor: the same bytes sent, replies read with no parsing). Then RETR
// and FETCH of a 20 MB message in MB/s against the same references, and the
// memory that reading the header of a 200 MB message by RETR takes.
//
// Usage: proto_bench [ROUNDS [CHECK]] — starts and stops its own Dovecot,
// which it keeps on a processor of its own (see SeparateFromServer).
// With CHECK (pop3-plain, pop3-tls, imap-plain or imap-tls, or pop3-raw or
// imap-raw for the raw client) only that check runs, ROUNDS times, so that
// the kernel's counters can count its system calls and its CPU time.
#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "imapsend.h"
#include "pop3send.h"
#include "ssl_openssl.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kBigRounds = 9;
const std::string kDir = PROTO_BENCH_DIR;

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "proto_bench: %s failed\n", what);
    std::exit(1);
  }
}

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

long PeakMemoryKiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

struct Result {
  double wall = 0;  // median seconds per run
  double cpu = 0;   // CPU seconds per run
  double bytes = 0;
};

// A block of timed runs: it adds the wall seconds of each run and the CPU
// seconds of all.
using Block = std::function<void(int runs, std::vector<double>* walls, double* cpu)>;

// Work of this process, timed here. As in Python's blocks, each block's
// first run is not timed: the run after another block's finds its memory
// out of the processor's caches.
Block Here(const std::function<void()>& run) {
  return [run](int runs, std::vector<double>* walls, double* cpu) {
    run();
    const double before = CpuSeconds();
    for (int i = 0; i < runs; ++i) {
      auto start = Clock::now();
      run();
      walls->push_back(std::chrono::duration<double>(Clock::now() - start).count());
    }
    *cpu += CpuSeconds() - before;
  };
}

// Python's check NAME, timed by the script itself (its start-up does not
// count).
Block InPython(const std::string& name, const std::string& port) {
  return [name, port](int runs, std::vector<double>* walls, double* cpu) {
    const std::string command = std::string("python3 ") + PROTO_BENCH_SCRIPT + " check " + name +
                                " " + port + " " + std::to_string(runs);
    FILE* pipe = popen(command.c_str(), "r");
    double wall = 0, seconds = 0;
    while (pipe && std::fscanf(pipe, "%lf %lf", &wall, &seconds) == 2) {
      walls->push_back(wall);
      *cpu += seconds;
    }
    Check(pipe != nullptr && pclose(pipe) == 0, "Python's check");
  };
}

// The blocks take turns, ten runs each, so that a change in the machine's
// speed during the run weighs on all of them alike.
std::vector<Result> Rotate(int rounds, const std::vector<Block>& blocks) {
  std::vector<std::vector<double>> walls(blocks.size());
  std::vector<double> cpus(blocks.size());
  for (int done = 0; done < rounds; done += 10) {
    for (size_t i = 0; i < blocks.size(); ++i) {
      blocks[i](std::min(10, rounds - done), &walls[i], &cpus[i]);
    }
  }
  std::vector<Result> results;
  for (size_t i = 0; i < blocks.size(); ++i) {
    results.push_back({Median(walls[i]), cpus[i] / static_cast<double>(walls[i].size()), 0});
  }
  return results;
}

std::map<std::string, std::string> ReadState() {
  std::map<std::string, std::string> state;
  std::ifstream file(kDir + "/state");
  std::string line;
  while (std::getline(file, line)) {
    size_t eq = line.find('=');
    if (eq != std::string::npos) state[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return state;
}

template <class Client>
void PointAt(Client& c, const std::string& port, const std::string& user, bool tls) {
  c.Port = port;
  c.ImplicitTls = tls;
  c.UserName = user;
  c.Password = "secret";
}

void Pop3Check(const std::string& port, bool tls) {
  TPOP3Send c;
  PointAt(c, port, "bench", tls);
  // USER/PASS, as Python's sequence has it.
  c.AuthMode = TPOP3Send::TPOP3AuthType::UserPass;
  Check(c.Login() && c.Stat() && c.Top(c.MessageCount, 0) && c.Reset(), "POP3 check");
  c.Logout();
}

void ImapCheck(const std::string& port, bool tls) {
  TIMAPSend c;
  PointAt(c, port, "bench", tls);
  std::vector<std::string> header;
  Check(c.Login() && c.ExamineMailbox("INBOX") && c.StatusValue("INBOX", "UNSEEN") >= 0 &&
            c.StatusValue("INBOX", "MESSAGES") >= 0 && c.FetchHeader(c.SelectedCount, header),
        "IMAP check");
  c.Logout();
}

// The floor: a blocking socket that sends each command and reads until the
// reply's end marker, nothing else.
class RawClient {
 public:
  explicit RawClient(int port) {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    Check(connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0, "raw connect");
  }
  ~RawClient() { close(fd_); }
  // Sends `command` (may be empty) and reads until the input ends with
  // `end`; returns the reply's size.
  size_t Exchange(const std::string& command, const std::string& end) {
    if (!command.empty()) Check(send(fd_, command.data(), command.size(), 0) > 0, "raw send");
    input_.clear();
    char buffer[256 << 10];
    for (;;) {
      ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
      Check(n > 0, "raw receive");
      input_.append(buffer, static_cast<size_t>(n));
      if (input_.size() >= end.size() &&
          input_.compare(input_.size() - end.size(), end.size(), end) == 0) {
        return input_.size();
      }
    }
  }
  // Reads until a line beginning with `tag` has ended; returns the reply's
  // size.
  size_t ExchangeTagged(const std::string& command, const std::string& tag) {
    Check(send(fd_, command.data(), command.size(), 0) > 0, "raw send");
    input_.clear();
    const std::string marker = "\r\n" + tag;
    char buffer[256 << 10];
    for (;;) {
      const size_t before = input_.size();
      ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
      Check(n > 0, "raw receive");
      input_.append(buffer, static_cast<size_t>(n));
      // Only the new bytes (and a marker split across receives) are searched.
      if (input_.compare(0, tag.size(), tag) == 0) tagged_ = true;
      if (!tagged_) {
        tagged_ = input_.find(marker, before < marker.size() ? 0 : before - marker.size()) !=
                  std::string::npos;
      }
      if (tagged_ && input_.compare(input_.size() - 2, 2, "\r\n") == 0) {
        tagged_ = false;
        return input_.size();
      }
    }
  }

 private:
  int fd_;
  std::string input_;
  bool tagged_ = false;
};

void RawPop3Check(int port) {
  RawClient c(port);
  c.Exchange("", "\r\n");
  c.Exchange("CAPA\r\n", "\r\n.\r\n");
  c.Exchange("USER bench\r\n", "\r\n");
  c.Exchange("PASS secret\r\n", "\r\n");
  c.Exchange("STAT\r\n", "\r\n");
  c.Exchange("TOP 5 0\r\n", "\r\n.\r\n");
  c.Exchange("RSET\r\n", "\r\n");
  c.Exchange("QUIT\r\n", "\r\n");
}

void RawImapCheck(int port) {
  RawClient c(port);
  c.Exchange("", "\r\n");
  c.ExchangeTagged("S1 CAPABILITY\r\n", "S1 ");
  c.ExchangeTagged("S2 LOGIN \"bench\" \"secret\"\r\n", "S2 ");
  c.ExchangeTagged("S3 EXAMINE \"INBOX\"\r\n", "S3 ");
  c.ExchangeTagged("S4 STATUS \"INBOX\" (UNSEEN)\r\n", "S4 ");
  c.ExchangeTagged("S5 STATUS \"INBOX\" (MESSAGES)\r\n", "S5 ");
  c.ExchangeTagged("S6 FETCH 5 (RFC822.HEADER)\r\n", "S6 ");
  c.ExchangeTagged("S7 LOGOUT\r\n", "S7 ");
}

// A whole message through the client's own command path.
class WholeFetch : public TIMAPSend {
 public:
  size_t Fetch() {
    Check(SendCommand({"FETCH 1 (RFC822)"}) == "OK", "IMAP FETCH");
    return ReplyLines.size() > 1 ? ReplyLines[1].size() : 0;
  }
};

// A transfer of the 20 MB message on a session of its own: a session's
// transfers keep to one speed, which differs from session to session, so
// each round opens a new one.
using Transfer = std::function<Result()>;

// The third of three transfers, timed: by then the memory allocator holds
// room for the message as in a long-running client, where the first
// transfer maps fresh memory and the second still grows the heap.
Result Timed(const std::function<size_t()>& transfer) {
  transfer();
  transfer();
  const double cpu = CpuSeconds();
  const auto start = Clock::now();
  const size_t bytes = transfer();
  return {std::chrono::duration<double>(Clock::now() - start).count(), CpuSeconds() - cpu,
          static_cast<double>(bytes)};
}

// The transfers take turns, one each a round, so that drift in the
// machine's speed weighs on all of them alike; the medians of kBigRounds.
std::vector<Result> Race(const std::vector<Transfer>& transfers) {
  std::vector<std::vector<double>> walls(transfers.size()), cpus(transfers.size());
  std::vector<double> bytes(transfers.size());
  for (int round = 0; round < kBigRounds; ++round) {
    for (size_t i = 0; i < transfers.size(); ++i) {
      const Result r = transfers[i]();
      walls[i].push_back(r.wall);
      cpus[i].push_back(r.cpu);
      bytes[i] = r.bytes;
    }
  }
  std::vector<Result> results;
  for (size_t i = 0; i < transfers.size(); ++i) {
    results.push_back({Median(walls[i]), Median(cpus[i]), bytes[i]});
  }
  return results;
}

// Python's transfer NAME, timed by the script itself.
Transfer PythonTransfer(const std::string& name, const std::string& port) {
  return [name, port] {
    const std::string command =
        std::string("python3 ") + PROTO_BENCH_SCRIPT + " transfer " + name + " " + port;
    FILE* pipe = popen(command.c_str(), "r");
    Result r;
    Check(pipe != nullptr && std::fscanf(pipe, "%lf %lf %lf", &r.wall, &r.cpu, &r.bytes) == 3 &&
              pclose(pipe) == 0,
          "Python's transfer");
    return r;
  };
}

// Dovecot runs on the first processor and this process, with the Python it
// starts, on the second: a server of its own, as a mail server elsewhere
// is. Left to itself, this machine's kernel packs lightly loaded tasks onto
// one processor, and then every reply found the client's caches filled
// with the server's work and a 20 MB transfer ran at the pace of whichever
// client happened to share a processor with the server. Dovecot's master
// forks each new process with its own processor set, so the master and its
// children of now are enough. PROTO_BENCH_SHARED=1 leaves placement to the
// kernel.
void SeparateFromServer(const std::string& run) {
  if (sysconf(_SC_NPROCESSORS_ONLN) < 2) {
    std::printf("one processor: the clients share it with the server\n");
    return;
  }
  pid_t master = 0;
  std::ifstream(run + "/master.pid") >> master;
  Check(master > 0, "reading Dovecot's master.pid");
  cpu_set_t server, client;
  CPU_ZERO(&server);
  CPU_SET(0, &server);
  CPU_ZERO(&client);
  CPU_SET(1, &client);
  DIR* proc = opendir("/proc");
  Check(proc != nullptr, "listing /proc");
  while (const dirent* entry = readdir(proc)) {
    const pid_t pid = std::atoi(entry->d_name);
    std::ifstream stat_file("/proc/" + std::to_string(pid) + "/stat");
    std::string stat;
    if (pid <= 0 || !std::getline(stat_file, stat)) continue;
    // "pid (name) state ppid ...": the name may hold spaces and parentheses.
    const size_t close = stat.rfind(')');
    char state = 0;
    pid_t parent = 0;
    if (close == std::string::npos ||
        std::sscanf(stat.c_str() + close + 1, " %c %d", &state, &parent) != 2) {
      continue;
    }
    if (pid == master || parent == master) {
      Check(sched_setaffinity(pid, sizeof server, &server) == 0, "placing Dovecot");
    }
  }
  closedir(proc);
  Check(sched_setaffinity(0, sizeof client, &client) == 0, "placing the clients");
}

// Each on a new session of user "big", whose message 1 is the 20 MB one.
Result OurRetr(const std::string& port) {
  TPOP3Send c;
  PointAt(c, port, "big", false);
  c.AuthMode = TPOP3Send::TPOP3AuthType::UserPass;
  Check(c.Login(), "POP3 login");
  const Result r = Timed([&] {
    Check(c.Retrieve(1), "RETR");
    size_t bytes = 0;
    for (const std::string& line : c.ReplyLines) bytes += line.size() + 2;
    return bytes;
  });
  c.Reset();
  c.Logout();
  return r;
}

Result RawRetr(int port) {
  RawClient raw(port);
  raw.Exchange("", "\r\n");
  raw.Exchange("USER big\r\n", "\r\n");
  raw.Exchange("PASS secret\r\n", "\r\n");
  const Result r = Timed([&] { return raw.Exchange("RETR 1\r\n", "\r\n.\r\n"); });
  raw.Exchange("QUIT\r\n", "\r\n");
  return r;
}

Result OurFetch(const std::string& port) {
  WholeFetch c;
  PointAt(c, port, "big", false);
  Check(c.Login() && c.ExamineMailbox("INBOX"), "IMAP login");
  const Result r = Timed([&] { return c.Fetch(); });
  c.Logout();
  return r;
}

Result RawFetch(int port) {
  RawClient raw(port);
  raw.Exchange("", "\r\n");
  raw.ExchangeTagged("S1 LOGIN \"big\" \"secret\"\r\n", "S1 ");
  raw.ExchangeTagged("S2 EXAMINE \"INBOX\"\r\n", "S2 ");
  const Result r = Timed([&] { return raw.ExchangeTagged("S3 FETCH 1 (RFC822)\r\n", "S3 "); });
  raw.ExchangeTagged("S4 LOGOUT\r\n", "S4 ");
  return r;
}

void Print(const char* name, const Result& r) {
  if (r.bytes > 0) {
    std::printf("  %-26s %8.1f ms  %7.1f MB/s  CPU %7.1f ms\n", name, r.wall * 1e3,
                r.bytes / r.wall / 1e6, r.cpu * 1e3);
  } else {
    std::printf("  %-26s %8.3f ms  CPU %6.3f ms\n", name, r.wall * 1e3, r.cpu * 1e3);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::atoi(argv[1]) : 300;
  const std::string script = PROTO_BENCH_DOVECOT_SH;
  Check(std::system(("bash " + script + " start " + kDir + " --bench --users " + PROTO_BENCH_USERS +
                     " >/dev/null")
                        .c_str()) == 0,
        "starting Dovecot");
  Check(std::system(
            ("bash " + script + " deliver " + kDir + " big --body-size 20000000").c_str()) == 0,
        "delivering the 20 MB message");
  Check(std::system(
            ("bash " + script + " deliver " + kDir + " huge --body-size 200000000").c_str()) == 0,
        "delivering the 200 MB message");
  auto state = ReadState();
  Check(state["status"] == "running", "Dovecot");
  const std::string pop3 = state["pop3"], pop3s = state["pop3s"];
  const std::string imap = state["imap"], imaps = state["imaps"];
  const char* shared = std::getenv("PROTO_BENCH_SHARED");
  if (shared == nullptr || std::string(shared) != "1") SeparateFromServer(state["run"]);
  // As on the plug-in's checker thread, which holds the TLS library for
  // the checks it runs one after another.
  const TlsLibraryHold tls_library;

  // Warm up: the first logins start the ready processes' caches.
  for (int i = 0; i < 20; ++i) {
    Pop3Check(pop3, false);
    ImapCheck(imap, false);
  }

  if (argc > 2) {
    const std::string only = argv[2];
    const bool tls = only.find("tls") != std::string::npos;
    const bool raw = only.find("raw") != std::string::npos;
    for (int i = 0; i < rounds; ++i) {
      if (only.rfind("pop3", 0) == 0) {
        raw ? RawPop3Check(std::stoi(pop3)) : Pop3Check(tls ? pop3s : pop3, tls);
      } else {
        raw ? RawImapCheck(std::stoi(imap)) : ImapCheck(tls ? imaps : imap, tls);
      }
    }
    return std::system(("bash " + script + " stop " + kDir).c_str());
  }

  // Before any large transfer, so that the process's peak memory so far is
  // that of the small checks.
  const long peak_before = PeakMemoryKiB();
  TPOP3Send huge;
  PointAt(huge, pop3, "huge", false);
  huge.AuthMode = TPOP3Send::TPOP3AuthType::UserPass;
  Check(huge.Login(), "POP3 login");
  const auto huge_start = Clock::now();
  Check(huge.RetrieveHeader(1) && !huge.ReplyLines.empty(), "RETR of the header");
  const double huge_wall = std::chrono::duration<double>(Clock::now() - huge_start).count();
  huge.Reset();
  huge.Logout();
  const long peak_after = PeakMemoryKiB();

  std::map<std::string, Result> ours, floor, python;
  for (const char* name : {"pop3-plain", "pop3-tls", "imap-plain", "imap-tls"}) {
    const bool pop3_check = std::string(name).rfind("pop3", 0) == 0;
    const bool tls = std::string(name).find("tls") != std::string::npos;
    const std::string port = pop3_check ? (tls ? pop3s : pop3) : (tls ? imaps : imap);
    std::vector<Block> blocks = {
        Here([&] { pop3_check ? Pop3Check(port, tls) : ImapCheck(port, tls); }),
        InPython(name, port)};
    if (!tls) {
      blocks.push_back(Here(
          [&] { pop3_check ? RawPop3Check(std::stoi(port)) : RawImapCheck(std::stoi(port)); }));
    }
    const std::vector<Result> results = Rotate(rounds, blocks);
    ours[name] = results[0];
    python[name] = results[1];
    if (!tls) floor[name] = results[2];
  }

  const std::vector<Result> retr =
      Race({[&] { return OurRetr(pop3); }, [&] { return RawRetr(std::stoi(pop3)); },
            PythonTransfer("pop3-retr", pop3)});
  const std::vector<Result> fetch =
      Race({[&] { return OurFetch(imap); }, [&] { return RawFetch(std::stoi(imap)); },
            PythonTransfer("imap-fetch", imap)});
  ours["pop3-retr"] = retr[0];
  floor["pop3-retr"] = retr[1];
  python["pop3-retr"] = retr[2];
  ours["imap-fetch"] = fetch[0];
  floor["imap-fetch"] = fetch[1];
  python["imap-fetch"] = fetch[2];
  std::system(("bash " + script + " stop " + kDir).c_str());

  std::printf("Account check, %d rounds each, median wall time and CPU per check:\n", rounds);
  for (const char* name : {"pop3-plain", "pop3-tls", "imap-plain", "imap-tls"}) {
    std::printf("%s\n", name);
    Print("ours", ours[name]);
    if (floor.count(name)) Print("raw client (floor)", floor[name]);
    Print("Python", python[name]);
    std::printf("  wall ours/Python %.2f, CPU ours/Python %.2f",
                ours[name].wall / python[name].wall, ours[name].cpu / python[name].cpu);
    if (floor.count(name))
      std::printf(", wall ours/floor %.3f", ours[name].wall / floor[name].wall);
    std::printf("\n");
  }
  std::printf("20 MB message, median of %d:\n", kBigRounds);
  for (const char* name : {"pop3-retr", "imap-fetch"}) {
    std::printf("%s\n", name);
    Print("ours", ours[name]);
    if (floor.count(name)) Print("raw read (floor)", floor[name]);
    Print("Python", python[name]);
    if (floor.count(name)) {
      std::printf("  ours/raw %.2f\n",
                  (ours[name].bytes / ours[name].wall) / (floor[name].bytes / floor[name].wall));
    }
  }
  std::printf(
      "RETR for the header of a 200 MB message: %.0f ms, peak memory %ld KiB before, "
      "%ld KiB after (+%ld KiB)\n",
      huge_wall * 1e3, peak_before, peak_after, peak_after - peak_before);
  return 0;
}
