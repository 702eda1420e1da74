// A mail server played from a dialogue, for transcript tests of the clients.
//
// Each dialogue entry is one step:
//   "S: text"  the server sends text + CR LF
//   "R: bytes" the server sends the bytes as they stand
//   "C: text"  the server reads one line of the client (the test expects
//              exactly text + CR LF there)
//   "F: bytes" the server sends the bytes again and again until the client
//              goes away
//   "T: text"  the server sends text + CR LF every 20 ms, until the client
//              goes away or for at most 8 s
//   "G: n text" the server sends text + CR LF n times, made while sending
//   "N:"       the server closes this connection and accepts the next one
// After its last step on a connection the server takes whatever else the
// client sends until it closes, so stray commands show in the transcript.
#pragma once

#include <memory>
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
