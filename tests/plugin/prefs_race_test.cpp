// Accounts added, edited and removed through the dialogs while the checker
// works through CHECK_ALL against a POP3 server on loopback. Meant for the
// ThreadSanitizer build (the tsan preset); elsewhere it still checks that
// the table and the contact list come out as the user left them.
#include <atomic>

#include "blcksock.h"
#include "imap_config.h"
#include "peer.h"
#include "prefs_fixture.h"

namespace {

using prefs_test::PrefsTest;

// A POP3 server that answers every command of a check, one message waiting.
void pop3_session(PeerConnection& c) {
  if (!c.Send("+OK ready\r\n")) return;
  for (;;) {
    const std::string line = c.ReceiveUntil("\r\n");
    if (line.empty()) return;
    std::string reply = "+OK\r\n";
    if (line.rfind("STAT", 0) == 0) reply = "+OK 1 100\r\n";
    if (line.rfind("TOP", 0) == 0) reply = "+OK\r\nSubject: hello\r\n\r\n.\r\n";
    if (line.rfind("CAPA", 0) == 0) reply = "-ERR\r\n";
    if (!c.Send(reply) || line.rfind("QUIT", 0) == 0) return;
  }
}

class PrefsRace : public PrefsTest {};

TEST_F(PrefsRace, DialogChangesWhileTheCheckerRuns) {
  constexpr int kRounds = 12;
  // Far more connections than the checks of the rounds make.
  constexpr int kConnections = 200;
  std::atomic<bool> stopped{false};
  std::atomic<int> served{0};
  Peer server(net::Family::kIPv4, 16);
  server.Serve(
      [&](PeerConnection& c) {
        ++served;
        if (!stopped) pop3_session(c);
      },
      kConnections);
  std::string ini = "[Mail]\r\nuse_section=1\r\nuse_icon=1\r\n";
  for (int i = 0; i < 2; ++i) {
    const std::string n = std::to_string(i);
    ini += "accttype(" + n + ")=1\r\naddress(" + n + ")=a" + n + "@example.test\r\nusername(" + n +
           ")=bob\r\npassword(" + n + ")=" + scramble_password("secret") + "\r\nhostname(" + n +
           ")=127.0.0.1\r\nport(" + n + ")=" + server.Port() + "\r\nattempt(" + n +
           ")=5\r\ndisplay(" + n + ")=A" + n + "\r\n";
  }
  test_support::write_file(config_path(), ini);
  host_.run_command("start");
  const platform::window_handle page = show_page();
  for (int round = 0; round < kRounds; ++round) {
    post_to_checker(CHECK_ALL, 0);
    ASSERT_TRUE(click(page, ID_ADD));
    fill_imap_account("new" + std::to_string(round) + "@example.test");
    ASSERT_TRUE(choose(account_dialog_window, ID_TYPE, "POP3"));
    ASSERT_TRUE(type_text(account_dialog_window, ID_PORT, server.Port()));
    ASSERT_TRUE(click(account_dialog_window, ID_ACCOUNT_OK));
    host_.run_command("sleep 150");
    ASSERT_TRUE(double_click(page, ID_ACCOUNT_LIST, 2));
    ASSERT_TRUE(type_text(account_dialog_window, ID_DISPLAY, "Round " + std::to_string(round)));
    ASSERT_TRUE(click(account_dialog_window, ID_ACCOUNT_OK));
    host_.run_command("sleep 150");
    ASSERT_TRUE(select_rows(page, ID_ACCOUNT_LIST, {2}));
    ASSERT_TRUE(click(page, ID_REMOVE));
  }
  host_.run_command("stop");
  // The checker is gone: the connections the server still waits for come
  // from here, so that it ends now instead of waiting for them in vain.
  stopped = true;
  for (int rest = kConnections - served; rest > 0; --rest) {
    TTCPBlockSocket wake;
    wake.Connect("127.0.0.1", server.Port());
  }
  EXPECT_EQ(rows().size(), 2u);
  ASSERT_EQ(account_table.size(), 2u);
  EXPECT_TRUE(host_.entries().empty());
  EXPECT_TRUE(host_.groups().empty());
  // Every check that ended brought the state of its account.
  EXPECT_NE(log_.text().find("text=\"A0 (1)\""), std::string::npos) << log_.text();
}

}  // namespace
