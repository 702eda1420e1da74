#include "scripted_server.h"

#include <algorithm>
#include <chrono>
#include <thread>
#include <utility>

namespace {

constexpr char kClose[] = "<close>\n";

// The text of a step, after its "X: ".
std::string StepText(const std::string& step) {
  return step.size() > 3 ? step.substr(3) : std::string();
}

}  // namespace

ScriptedServer::ScriptedServer(std::vector<std::string> dialogue)
    : peer_(std::make_unique<Peer>()) {
  port_ = peer_->Port();
  const int count = 1 + static_cast<int>(std::count(dialogue.begin(), dialogue.end(), "N:"));
  peer_->Serve(
      [this, dialogue = std::move(dialogue), next = size_t{0}](PeerConnection& c) mutable {
        // Consecutive server lines leave in one send, as a server's reply
        // would: line by line they would meet delayed acknowledgements.
        std::string out;
        for (; next < dialogue.size() && dialogue[next] != "N:"; ++next) {
          const std::string& step = dialogue[next];
          const std::string kind = step.substr(0, 2);
          const std::string text = StepText(step);
          if (kind == "S:") {
            out += text + "\r\n";
            continue;
          }
          if (kind == "R:") {
            out += text;
            continue;
          }
          c.Send(out);
          out.clear();
          if (kind == "C:") {
            received_ += c.ReceiveUntil("\r\n");
          } else if (kind == "F:" && !text.empty()) {
            std::string block;
            while (block.size() < 65536) block += text;
            while (c.Send(block)) {
            }
          } else if (kind == "G:") {
            const size_t blank = text.find(' ');
            const std::string line = text.substr(blank + 1) + "\r\n";
            std::string block;
            for (long left = std::stol(text.substr(0, blank)); left > 0;) {
              block.clear();
              for (; left > 0 && block.size() < 65536; --left) block += line;
              if (!c.Send(block)) break;
            }
          } else if (kind == "T:") {
            const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(8);
            while (std::chrono::steady_clock::now() < end && c.Send(text + "\r\n")) {
              std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
          }
        }
        ++next;  // past the "N:"
        c.Send(out);
        received_ += c.ReceiveAll() + kClose;
      },
      count);
}

ScriptedServer::~ScriptedServer() = default;

std::string ScriptedServer::Received() {
  peer_.reset();
  return received_;
}

std::string ScriptedServer::Expected(const std::vector<std::string>& dialogue) {
  std::string expected;
  for (const std::string& step : dialogue) {
    if (step.compare(0, 2, "C:") == 0) expected += StepText(step) + "\r\n";
    if (step == "N:") expected += kClose;
  }
  return expected + kClose;
}
