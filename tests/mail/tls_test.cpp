// Implicit TLS against a real OpenSSL server on loopback (in this process,
// with certificates made at test time), and against peers that do not speak
// TLS at all or give up halfway through the handshake.
#include <gtest/gtest.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#ifdef _WIN32
#include <winsock2.h>
#else
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/time.h>
#endif

#ifdef MSG_NOSIGNAL
constexpr int kNoSignal = MSG_NOSIGNAL;
#else
constexpr int kNoSignal = 0;  // Winsock raises no signal
#endif

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <thread>

#include "blcksock.h"
#include "peer.h"

using namespace std::chrono_literals;

namespace {

constexpr int kOk = 0;

struct Credentials {
  EVP_PKEY* key = nullptr;
  X509* cert = nullptr;
  ~Credentials() {
    X509_free(cert);
    EVP_PKEY_free(key);
  }
};

// A self-signed certificate for "localhost", valid now or expired a day ago.
std::unique_ptr<Credentials> MakeCredentials(bool expired) {
  auto c = std::make_unique<Credentials>();
  c->key = EVP_EC_gen("P-256");
  c->cert = X509_new();
  X509_set_version(c->cert, 2);
  ASN1_INTEGER_set(X509_get_serialNumber(c->cert), 1);
  const long day = 24 * 3600;
  X509_gmtime_adj(X509_getm_notBefore(c->cert), expired ? -30 * day : -day);
  X509_gmtime_adj(X509_getm_notAfter(c->cert), expired ? -day : 30 * day);
  X509_set_pubkey(c->cert, c->key);
  X509_NAME* name = X509_get_subject_name(c->cert);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>("localhost"), -1, -1, 0);
  X509_set_issuer_name(c->cert, name);
  X509_sign(c->cert, c->key, EVP_sha256());
  return c;
}

// The server blocks, with a bound, so a failing test cannot hang it.
void BlockWithTimeout(int fd) {
#ifdef _WIN32
  u_long non_blocking = 0;
  ioctlsocket(fd, FIONBIO, &non_blocking);
  DWORD limit = 10000;
#else
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  timeval limit{10, 0};
#endif
  const char* value = reinterpret_cast<const char*>(&limit);
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, value, sizeof limit);
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, value, sizeof limit);
}

// Runs `script` as the TLS server of one connection accepted by `peer`.
void ServeTls(Peer& peer, bool expired, std::function<void(SSL*)> script) {
  peer.Serve([expired, script = std::move(script)](PeerConnection& connection) {
    int fd = static_cast<int>(connection.socket());
    BlockWithTimeout(fd);
    auto credentials = MakeCredentials(expired);
    SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
    SSL_CTX_use_certificate(ctx, credentials->cert);
    SSL_CTX_use_PrivateKey(ctx, credentials->key);
    SSL* ssl = SSL_new(ctx);
    SSL_set_fd(ssl, fd);
    if (SSL_accept(ssl) == 1) script(ssl);
    SSL_free(ssl);
    SSL_CTX_free(ctx);
  });
}

void Write(SSL* ssl, const std::string& text) {
  SSL_write(ssl, text.data(), static_cast<int>(text.size()));
}

std::string ReadLineFrom(SSL* ssl) {
  std::string line;
  char c;
  while (line.size() < 1000 && SSL_read(ssl, &c, 1) == 1) {
    line += c;
    if (c == '\n') break;
  }
  return line;
}

std::unique_ptr<TTCPBlockSocket> NewTlsClient() {
  auto sock = std::make_unique<TTCPBlockSocket>();
  sock->LineEndAny = true;
  sock->SetTlsEnabled(true);
  EXPECT_EQ(sock->LastError(), kOk) << "OpenSSL could not be loaded";
  return sock;
}

// A valid and then an expired certificate, through the same client object:
// TLS is off after each close and turned on again. The server learns the
// name the client asked for (it may hold certificates for several), never an
// address.
TEST(TlsServer, CertificateIsAcceptedAndCloseSendsTheTlsClose) {
  auto sock = NewTlsClient();
  for (bool expired : {false, true}) {
    const std::string host = expired ? "127.0.0.1" : "localhost";
    auto peer = std::make_unique<Peer>();
    std::string command, name = "(none yet)";
    std::atomic<bool> close_notify{false};
    ServeTls(*peer, expired, [&](SSL* ssl) {
      const char* sent = SSL_get_servername(ssl, TLSEXT_NAMETYPE_host_name);
      name = sent != nullptr ? sent : "";
      Write(ssl, "+OK tls ready\r\n");
      command = ReadLineFrom(ssl);
      std::string reply = "+OK list follows\r\n";
      for (int i = 0; i < 3000; ++i) reply += "line " + std::to_string(i) + "\r\n";
      Write(ssl, reply + ".\r\n");
      char c;
      close_notify = SSL_read(ssl, &c, 1) == 0 && SSL_get_error(ssl, 0) == SSL_ERROR_ZERO_RETURN;
    });
    sock->SetTlsEnabled(true);
    sock->Connect(host, peer->Port());
    ASSERT_EQ(sock->LastError(), kOk) << expired;
    EXPECT_TRUE(sock->TlsEnabled());
    // Nothing decrypted yet: the count is the socket's.
    ASSERT_TRUE(sock->WaitReadable(5000));
    EXPECT_GT(sock->PendingBytes(), 0);
    EXPECT_EQ(sock->ReadLine(5000), "+OK tls ready");
    sock->SendText("TOP 1 0\r\n");
    EXPECT_EQ(sock->ReadLine(5000), "+OK list follows");
    int lines = 0;
    for (std::string line = sock->ReadLine(5000); sock->LastError() == kOk && line != ".";
         line = sock->ReadLine(5000)) {
      EXPECT_EQ(line, "line " + std::to_string(lines));
      ++lines;
    }
    EXPECT_EQ(lines, 3000);
    sock->Close();
    EXPECT_EQ(sock->LastError(), kOk);
    EXPECT_FALSE(sock->TlsEnabled());
    peer.reset();  // joins the server
    EXPECT_EQ(command, "TOP 1 0\r\n");
    EXPECT_TRUE(close_notify);
    EXPECT_EQ(name, expired ? "" : "localhost");
  }
}

// A read can leave input with the TLS session instead of the socket: the
// rest of a record, decrypted, or a whole record the library read ahead and
// has not decrypted. Right after a command it must be read from there, and
// shown as readable, instead of waiting on a socket the peer keeps quiet.
TEST(TlsServer, InputHeldByTheSessionIsReadAfterACommand) {
  for (const bool whole_record : {false, true}) {
    SCOPED_TRACE(whole_record);
    std::promise<void> all_sent;
    Peer peer;
    ServeTls(peer, false, [&](SSL* ssl) {
      Write(ssl, "+OK a\r\n");
      std::string rest = "last\r\n.\r\n";
      if (!whole_record) {
        // As large as the client's first receive, which the record above
        // shares: the last 7 bytes of this one stay in the library.
        for (int i = 0; i < 400; ++i) rest.insert(0, std::string(38, 'x') + "\r\n");
        rest.insert(0, 16384 - rest.size(), 'y');
      }
      Write(ssl, rest);
      all_sent.set_value();
      ReadLineFrom(ssl);
      char c;
      SSL_read(ssl, &c, 1);  // until the client leaves
    });
    auto sock = NewTlsClient();
    sock->Connect("127.0.0.1", peer.Port());
    ASSERT_EQ(sock->LastError(), kOk);
    all_sent.get_future().wait();
    if (whole_record) {
      char first[7];
      ASSERT_EQ(sock->ReceiveBuffer(first, sizeof first), 7);
      EXPECT_EQ(std::string(first, sizeof first), "+OK a\r\n");
    } else {
      EXPECT_EQ(sock->ReadLine(5000), "+OK a");
    }
    EXPECT_TRUE(sock->WaitReadable(0));
    EXPECT_GT(sock->PendingBytes(), 0);
    sock->SendText("NOOP\r\n");
    std::string line, before;
    while (sock->LastError() == kOk && line != ".") {
      before = line;
      line = sock->ReadLine(200);
    }
    EXPECT_EQ(sock->LastError(), kOk);
    EXPECT_EQ(before, "last");
    // All read: neither the session nor the socket holds anything.
    EXPECT_EQ(sock->PendingBytes(), 0);
    sock->Close();
  }
}

// A block far larger than a record, read by count, comes whole and in order
// out of many records, and what follows it stays for the next read.
TEST(TlsServer, ALargeBlockIsReadWholeByCount) {
  std::string block(300000, ' ');
  for (size_t i = 0; i < block.size(); ++i)
    block[i] = static_cast<char>('a' + (i * 7 + i / 4099) % 26);
  Peer peer;
  ServeTls(peer, false, [&](SSL* ssl) {
    Write(ssl, "* 1 FETCH (RFC822 {300000}\r\n");
    Write(ssl, block + ")\r\n");
    char c;
    SSL_read(ssl, &c, 1);  // until the client leaves
  });
  auto sock = NewTlsClient();
  sock->Connect("127.0.0.1", peer.Port());
  ASSERT_EQ(sock->LastError(), kOk);
  EXPECT_EQ(sock->ReadLine(5000), "* 1 FETCH (RFC822 {300000}");
  EXPECT_TRUE(sock->ReadBytes(300000, 5000) == block);
  EXPECT_EQ(sock->ReadLine(5000), ")");
  sock->Close();
}

// A send far larger than the socket's room waits for room as often as it
// takes, and all of it arrives.
TEST(TlsServer, ASendLargerThanTheSocketsRoomWaitsForRoom) {
  const std::string block(1 << 20, 'x');
  size_t received = 0;
  auto peer = std::make_unique<Peer>();
  ServeTls(*peer, false, [&](SSL* ssl) {
    char buffer[4096];
    for (int n = 0; received < block.size() && (n = SSL_read(ssl, buffer, sizeof buffer)) > 0;) {
      received += static_cast<size_t>(n);
    }
  });
  auto sock = NewTlsClient();
  sock->SetSendBufferSize(4096);
  sock->Connect("127.0.0.1", peer->Port());
  ASSERT_EQ(sock->LastError(), kOk);
  EXPECT_EQ(sock->SendBuffer(block.data(), static_cast<int>(block.size())),
            static_cast<int>(block.size()));
  EXPECT_EQ(sock->LastError(), kOk);
  peer.reset();  // joins the server
  EXPECT_EQ(received, block.size());
  sock->Close();
}

// Reaches the connection's socket so a test can shut its sending side.
class ExposedSocket : public TTCPBlockSocket {
 public:
  using TTCPBlockSocket::Socket;
};

// Peers that do not finish the handshake: plain text on the TLS port, a
// record cut short, silence; and a client hello that meets EPIPE inside the
// TLS library, with no SIGPIPE. Meanwhile other sessions come and go: one
// that ends leaves the library as it was to those still open.
TEST(TlsPeer, HandshakeFailures) {
  TTCPBlockSocket holder;
  holder.SetTlsEnabled(true);
  TTCPBlockSocket(nullptr).SetTlsEnabled(true);
  const struct {
    std::function<void(PeerConnection&)> serve;
    int error;
    bool shut_sending_side = false;
  } kPeers[] = {
      {[](PeerConnection& c) {
         c.Send("+OK POP3 server ready, in plain text\r\n");
         c.WaitForClose();
       },
       10091},
      {[](PeerConnection& c) {
         c.ReceiveUntil(std::string(1, '\x16'));
         c.Send(std::string("\x16\x03\x03\x00\x40", 5) + "short");
       },
       10091},
      {[](PeerConnection& c) { c.WaitForClose(); }, 10060},
      {[](PeerConnection& c) { c.WaitForClose(); }, 10091, true},
  };
  for (const auto& p : kPeers) {
    Peer peer;
    peer.Serve(p.serve);
    ExposedSocket sock;
    sock.IoTimeout = 200;
    sock.SetTlsEnabled(!p.shut_sending_side);  // else TCP only, until StartTls
    sock.Connect("127.0.0.1", peer.Port());
    if (p.shut_sending_side) {
      ASSERT_EQ(sock.LastError(), kOk);
      ASSERT_EQ(net::SocketApi::Default()->ShutdownSend(sock.Socket()), 0);
      sock.StartTls();
    }
    EXPECT_EQ(sock.LastError(), p.error);
    // EPIPE is the system's error, not the library's.
    if (!p.shut_sending_side) {
      EXPECT_EQ(sock.TlsLastError() != 0, p.error == 10091);
    }
    sock.Close();
    EXPECT_EQ(sock.LastError(), kOk);
  }
}

// An abort ends a handshake with a silent peer, or a TLS read, at once (the
// client would wait 60 s, then time out), also a read right after a command,
// which waits inside the receive; that read also ends at its timeout.
TEST(TlsPeer, AbortOrTimeoutEndsAHandshakeOrATlsRead) {
  enum class Step { kHandshake, kRead, kReadAfterCommand };
  const struct {
    Step step;
    int timeout;
    int error;
  } kCases[] = {
      {Step::kHandshake, 0, TBlockSocket::kErrAborted},
      {Step::kRead, 60000, TBlockSocket::kErrAborted},
      {Step::kReadAfterCommand, 60000, TBlockSocket::kErrAborted},
      {Step::kReadAfterCommand, 100, 10060},
  };
  for (const auto& c : kCases) {
    const int step = static_cast<int>(c.step);
    Peer peer;
    if (c.step == Step::kHandshake) {
      peer.Serve([](PeerConnection& connection) { connection.WaitForClose(); });
    } else {
      ServeTls(peer, false, [](SSL* ssl) {
        Write(ssl, "* OK\r\n");
        // Reads the command, if any, and answers nothing until the client
        // leaves.
        char byte;
        while (SSL_read(ssl, &byte, 1) == 1) continue;
      });
    }
    auto sock = NewTlsClient();
    if (c.step != Step::kHandshake) {
      sock->Connect("127.0.0.1", peer.Port());
      ASSERT_EQ(sock->ReadLine(5000), "* OK");
      if (c.step == Step::kReadAfterCommand) sock->SendText("NOOP\r\n");
    }
    std::thread stopper([&] {
      if (c.error != TBlockSocket::kErrAborted) return;
      std::this_thread::sleep_for(100ms);
      sock->AbortSocket();
    });
    if (c.step == Step::kHandshake) {
      sock->Connect("127.0.0.1", peer.Port());
    } else {
      EXPECT_EQ(sock->ReadLine(c.timeout), "") << step;
    }
    stopper.join();
    EXPECT_EQ(sock->LastError(), c.error) << step;
    if (c.error == TBlockSocket::kErrAborted) {
      EXPECT_EQ(sock->SendBuffer("x", 1), -1);
      EXPECT_EQ(sock->LastError(), TBlockSocket::kErrAborted);
    }
    sock->Close();
    EXPECT_EQ(sock->LastError(), kOk);
  }
}

// A record sent a byte at a time keeps each wait short; the whole read still
// ends at its bound, as a plain read does.
TEST(TlsPeer, RecordTrickledByteByByteEndsAtTheWholeReadBound) {
  Peer peer;
  ServeTls(peer, false, [](SSL* ssl) {
    // The record is made in memory and then sent in single bytes.
    BIO* record = BIO_new(BIO_s_mem());
    SSL_set0_wbio(ssl, record);
    Write(ssl, "* OK " + std::string(200, 'x') + "\r\n");
    const int fd = SSL_get_rfd(ssl);
    char byte;
    while (BIO_read(record, &byte, 1) == 1 && send(fd, &byte, 1, kNoSignal) == 1) {
      std::this_thread::sleep_for(5ms);
    }
  });
  auto sock = NewTlsClient();
  sock->Connect("127.0.0.1", peer.Port());
  ASSERT_EQ(sock->LastError(), kOk);
  EXPECT_EQ(sock->ReadLine(50), "");
  EXPECT_EQ(sock->LastError(), 10060);
  sock->Close();
}

}  // namespace
