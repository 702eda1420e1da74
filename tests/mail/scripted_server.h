// A mail server played from a dialogue, for transcript tests of the clients.
//
// Each dialogue entry is one step:
//   "S: text"  the server sends text + CR LF
//   "R: bytes" the server sends the bytes as they stand
//   "C: text"  the server reads one line of the client (the test expects
//              exactly text + CR LF there)
//   "F: bytes" the server sends the bytes again and again until the client
//              goes away
//   "T: text"  the server sends text + CR LF every 50 ms, until the client
//              goes away or for at most 8 s
//   "G: n text" the server sends text + CR LF n times, made while sending
//   "N:"       the server closes this connection and accepts the next one
// After its last step on a connection the server takes whatever else the
// client sends until it closes, so stray commands show in the transcript.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "peer.h"

class ScriptedServer {
 public:
  explicit ScriptedServer(std::vector<std::string> dialogue);
  ~ScriptedServer();

  std::string Port() const { return port_; }
  // Everything the clients sent, connection after connection, each ended by
  // "<close>\n". Waits for the server's thread; call once the client is gone.
  std::string Received();
  // What Received() gives when the client sends exactly the "C:" lines.
  static std::string Expected(const std::vector<std::string>& dialogue);

 private:
  std::unique_ptr<Peer> peer_;
  std::string port_;
  std::string received_;
};

// One transcript case for a client of type Client: the server's dialogue,
// what the test does with the client, and how it describes the client's
// report.
template <class Client>
struct TranscriptCase {
  const char* name;
  std::vector<std::string> dialogue;
  std::function<std::string(Client&)> run;
  std::string result;
};

template <class Client>
void PrintTo(const TranscriptCase<Client>& c, std::ostream* os) {
  *os << c.name;
}

// Runs the case with a client for bob/secret against its scripted server and
// checks the report and every byte the client sent.
template <class Client>
void RunTranscript(const TranscriptCase<Client>& c) {
  ScriptedServer server(c.dialogue);
  std::string result;
  {
    Client client;
    client.Port = server.Port();
    client.UserName = "bob";
    client.Password = "secret";
    client.Timeout = 5000;
    result = c.run(client);
  }
  EXPECT_EQ(result, c.result);
  EXPECT_EQ(server.Received(), ScriptedServer::Expected(c.dialogue));
}

// Reply lines as one text, each in brackets.
inline std::string Lines(const std::vector<std::string>& lines) {
  std::string joined;
  for (const std::string& line : lines) joined += "[" + line + "]";
  return joined;
}
