// Reading a large multi-line reply over loopback, plain and TLS: ReadLine
// (into a view, into one reused string, and returning a new string per line)
// against a raw read of the same bytes (the floor) and against Python's
// socket.makefile().readline(). Reports MB/s and the 128 MiB / 64 MiB ratios
// of the time and of the reading thread's processor time, which are 2 when
// reading is linear in the size of the reply.
#include <netinet/in.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "blcksock.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr size_t kMiB = 1 << 20;
constexpr int kRounds = 9;

// 80-byte lines (78 characters and CR LF) filling `size`, then ".".
std::string MakeReply(size_t size) {
  std::string reply;
  reply.reserve(size + 3);
  std::string line(78, 'x');
  for (size_t n = 0; reply.size() + 80 <= size; ++n) {
    std::string number = std::to_string(n);
    std::copy(number.begin(), number.end(), line.begin());
    reply += line;
    reply += "\r\n";
  }
  return reply + ".\r\n";
}

class Server {
 public:
  explicit Server(bool tls) : tls_(tls) {
    listener_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    bind(listener_, reinterpret_cast<sockaddr*>(&addr), len);
    listen(listener_, 8);
    getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    if (tls_) MakeContext();
  }
  ~Server() {
    close(listener_);
    if (ctx_) SSL_CTX_free(ctx_);
  }

  std::string Port() const { return std::to_string(port_); }

  // Serves `reply` to the next `connections` clients, one after the other:
  // first a line "+ready", and the reply once the client has answered. Over
  // TLS the reply is encrypted before "+ready" goes out, so that while the
  // client reads, the server only sends, as over plain TCP: the timed read
  // then keeps the client's pace, not the pace of the server's encryption.
  std::thread Serve(const std::string& reply, int connections) {
    return std::thread([this, &reply, connections] {
      for (int i = 0; i < connections; ++i) {
        const int fd = accept(listener_, nullptr, nullptr);
        if (tls_) {
          ServeTls(fd, reply);
        } else if (SendAll(fd, kReady, std::strlen(kReady))) {
          char answer[16];
          if (recv(fd, answer, sizeof answer, 0) > 0) SendAll(fd, reply.data(), reply.size());
        }
        close(fd);
      }
    });
  }

 private:
  static constexpr const char* kReady = "+ready\r\n";

  static bool SendAll(int fd, const char* data, size_t size) {
    for (size_t at = 0; at < size;) {
      const ssize_t n = send(fd, data + at, size - at, MSG_NOSIGNAL);
      if (n <= 0) return false;
      at += static_cast<size_t>(n);
    }
    return true;
  }

  void ServeTls(int fd, const std::string& reply) {
    SSL* ssl = SSL_new(ctx_);
    SSL_set_fd(ssl, fd);
    if (SSL_accept(ssl) == 1) {
      // From here the records go into memory; the session still reads the
      // socket.
      BIO* sealed = BIO_new(BIO_s_mem());
      SSL_set0_wbio(ssl, sealed);
      SSL_write(ssl, kReady, static_cast<int>(std::strlen(kReady)));
      const size_t ready = static_cast<size_t>(BIO_pending(sealed));
      for (size_t at = 0; at < reply.size(); at += kMiB) {
        SSL_write(ssl, reply.data() + at, static_cast<int>(std::min(kMiB, reply.size() - at)));
      }
      char* records = nullptr;
      const size_t size = static_cast<size_t>(BIO_get_mem_data(sealed, &records));
      char answer[16];
      if (SendAll(fd, records, ready) && SSL_read(ssl, answer, sizeof answer) > 0) {
        SendAll(fd, records + ready, size - ready);
      }
    }
    SSL_free(ssl);
  }

  void MakeContext() {
    EVP_PKEY* key = EVP_EC_gen("P-256");
    X509* cert = X509_new();
    ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
    X509_gmtime_adj(X509_getm_notBefore(cert), 0);
    X509_gmtime_adj(X509_getm_notAfter(cert), 3600);
    X509_set_pubkey(cert, key);
    X509_set_issuer_name(cert, X509_get_subject_name(cert));
    X509_sign(cert, key, EVP_sha256());
    ctx_ = SSL_CTX_new(TLS_server_method());
    // No session tickets: nothing but the reply follows the handshake.
    SSL_CTX_set_num_tickets(ctx_, 0);
    SSL_CTX_use_certificate(ctx_, cert);
    SSL_CTX_use_PrivateKey(ctx_, key);
    X509_free(cert);
    EVP_PKEY_free(key);
  }

  bool tls_;
  int listener_ = -1;
  int port_ = 0;
  SSL_CTX* ctx_ = nullptr;
};

std::unique_ptr<TTCPBlockSocket> Connect(const Server& server, bool tls) {
  auto sock = std::make_unique<TTCPBlockSocket>();
  sock->LineEndAny = true;
  if (tls) sock->SetTlsEnabled(true);
  sock->Connect("127.0.0.1", server.Port());
  if (sock->LastError() != 0 || sock->ReadLine(5000) != "+ready") {
    std::fprintf(stderr, "connect failed: %d\n", sock->LastError());
    std::exit(1);
  }
  sock->SendText("go\r\n");
  return sock;
}

// One read's wall time and the reading thread's own processor time. The
// latter leaves out the waits for the serving thread and for a busy
// machine, which scatter the wall time of a long read more than a short
// one's.
struct Times {
  double wall = 1e9;
  double cpu = 1e9;
};

double ThreadCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

class Stopwatch {
 public:
  Times Read() const {
    return {std::chrono::duration<double>(Clock::now() - start_).count(),
            ThreadCpuSeconds() - cpu_};
  }

 private:
  Clock::time_point start_ = Clock::now();
  double cpu_ = ThreadCpuSeconds();
};

void KeepBest(Times* best, const Times& run) {
  best->wall = std::min(best->wall, run.wall);
  best->cpu = std::min(best->cpu, run.cpu);
}

// The reply's last line ".", found as cheaply as a reader of such replies
// would; comparing with a C string would first count its length.
bool IsLast(std::string_view line) { return line.size() == 1 && line[0] == '.'; }

enum class Form { kView, kReused, kNew };

// Reads the reply a line at a time, in the given form of ReadLine.
Times TimeReadLine(const Server& server, bool tls, size_t expect, Form form) {
  auto sock = Connect(server, tls);
  const Stopwatch watch;
  size_t total = 0;
  if (form == Form::kView) {
    std::string_view line;
    while (sock->ReadLine(5000, &line) && !IsLast(line)) total += line.size() + 2;
  } else if (form == Form::kReused) {
    std::string line;
    while (sock->ReadLine(5000, &line) && !IsLast(line)) total += line.size() + 2;
  } else {
    for (;;) {
      std::string line = sock->ReadLine(5000);
      if (sock->LastError() != 0 || IsLast(line)) break;
      total += line.size() + 2;
    }
  }
  const Times t = watch.Read();
  if (total + 3 != expect) std::fprintf(stderr, "ReadLine got %zu of %zu bytes\n", total, expect);
  return t;
}

Times TimeRaw(const Server& server, bool tls, size_t expect) {
  auto sock = Connect(server, tls);
  const Stopwatch watch;
  std::vector<char> buffer(256 * 1024);
  size_t total = 0;
  while (total < expect && sock->WaitReadable(5000)) {
    int n = sock->ReceiveBuffer(buffer.data(), static_cast<int>(buffer.size()));
    if (n <= 0) break;
    total += static_cast<size_t>(n);
  }
  const Times t = watch.Read();
  if (total != expect) std::fprintf(stderr, "raw read got %zu of %zu bytes\n", total, expect);
  return t;
}

double TimePython(const Server& server, bool tls) {
  std::string command = "python3 " NET_BENCH_SCRIPT " " + server.Port() + (tls ? " tls" : " plain");
  FILE* pipe = popen(command.c_str(), "r");
  double s = -1;
  size_t total = 0;
  if (pipe) {
    if (std::fscanf(pipe, "%lf %zu", &s, &total) != 2) s = -1;
    pclose(pipe);
  }
  return s;
}

double BestPython(const Server& server, bool tls) {
  double best = 1e9;
  for (int i = 0; i < kRounds; ++i) best = std::min(best, TimePython(server, tls));
  return best;
}

}  // namespace

int main() {
  std::printf("%-6s %4s %11s %11s %11s %11s %11s %8s %8s %8s\n", "mode", "MiB", "view MB/s",
              "string MB/s", "new MB/s", "raw MB/s", "Python MB/s", "view/raw", "str/raw",
              "view/Py");
  for (bool tls : {false, true}) {
    Times view[2], reused[2], raw[2];
    for (int slot = 0; slot < 2; ++slot) {
      const size_t mib = slot == 0 ? 64 : 128;
      const std::string reply = MakeReply(mib * kMiB);
      Server server(tls);
      std::thread serving = server.Serve(reply, 5 * kRounds);
      // The readers take turns, so that drift in the machine's speed weighs
      // on all of them alike.
      Times fresh;
      for (int i = 0; i < kRounds; ++i) {
        KeepBest(&view[slot], TimeReadLine(server, tls, reply.size(), Form::kView));
        KeepBest(&reused[slot], TimeReadLine(server, tls, reply.size(), Form::kReused));
        KeepBest(&fresh, TimeReadLine(server, tls, reply.size(), Form::kNew));
        KeepBest(&raw[slot], TimeRaw(server, tls, reply.size()));
      }
      const double py = BestPython(server, tls);
      serving.join();
      const double mb = static_cast<double>(reply.size()) / 1e6;
      std::printf("%-6s %4zu %11.0f %11.0f %11.0f %11.0f %11.0f %8.2f %8.2f %8.2f\n",
                  tls ? "tls" : "plain", mib, mb / view[slot].wall, mb / reused[slot].wall,
                  mb / fresh.wall, mb / raw[slot].wall, mb / py, raw[slot].wall / view[slot].wall,
                  raw[slot].wall / reused[slot].wall, py / view[slot].wall);
    }
    const auto ratios = [](const Times(&t)[2]) {
      return std::make_pair(t[1].wall / t[0].wall, t[1].cpu / t[0].cpu);
    };
    const auto [view_time, view_cpu] = ratios(view);
    const auto [reused_time, reused_cpu] = ratios(reused);
    const auto [raw_time, raw_cpu] = ratios(raw);
    std::printf(
        "%-6s 128 MiB / 64 MiB, time; CPU: view %.2f; %.2f, string %.2f; %.2f, raw %.2f; %.2f\n",
        tls ? "tls" : "plain", view_time, view_cpu, reused_time, reused_cpu, raw_time, raw_cpu);
  }
  return 0;
}
