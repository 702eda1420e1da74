// The checker thread and the check of one account.
//
// All mail checking runs on one thread of the plug-in's own. It keeps a
// 5000 ms timer and a thread message queue: every tick it checks each
// enabled account whose next check has passed; CHECK_ALL checks every
// enabled account with a pause before each; CHECK_ACCOUNT checks one account
// (enabled or not) and, when that found no new mail, tells the user the
// total; STOP_CHECKER ends it. Requests name accounts by their key.
//
// Stopping is prompt: checker_control::request_stop, called on the
// user-interface thread before STOP_CHECKER is posted, aborts the
// connection of the check under way and cuts a pause short, and from then on
// the thread neither changes an account nor calls the host.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

#include "plugin.h"

class TTCPBlockSocket;

// Requests to the checker thread (thread messages).
constexpr uint32_t CHECK_ALL = 1025;
constexpr uint32_t CHECK_ACCOUNT = 1026;  // wParam: the account's key
constexpr uint32_t STOP_CHECKER = 1027;
// Sent (blocking) to the preferences page after every check: refill the
// account list. A window message, so its number may repeat a request's.
constexpr uint32_t REFRESH_ACCOUNTS = 1025;
// The checker's timer period and the pause before each account of CHECK_ALL.
constexpr uint32_t CHECK_TIMER_MS = 5000;
constexpr uint32_t CHECK_ALL_PAUSE_MS = 500;
// The longest wait for each piece of a server's reply.
constexpr int32_t SERVER_TIMEOUT_MS = 60000;
// The optional sound file in the current directory, and the module's own
// sound otherwise.
extern const char SOUND_FILE_NAME[];  // "mailnotify.wav"
constexpr int SOUND_RESOURCE_ID = 1;

// Shared by one checker thread and the thread that stops it; any thread may
// call any member.
class checker_control {
 public:
  // Aborts the connection in use, cuts a pause short and makes every later
  // step of the checker a no-op. Irreversible.
  void request_stop();
  bool stop_requested() const { return stopping_.load(); }

  // While attached, `socket` is aborted by request_stop (at once if a stop
  // was already requested). Detach before the socket is destroyed.
  void attach(TTCPBlockSocket* socket);
  void detach();

  // Waits `ms` through the environment seam; a stop ends the wait at once.
  // False when a stop was requested.
  bool pause(uint32_t ms);

 private:
  std::atomic<bool> stopping_{false};
  std::mutex lock_;
  std::condition_variable woken_;      // by request_stop, under lock_
  TTCPBlockSocket* socket_ = nullptr;  // guarded by lock_
};

// Posts a request to the checker thread, repeating a refused post at once
// until it is accepted. A thread that has only just started may not have its
// queue yet; a post is given up when there is no checker thread (id 0), when
// the checker has ended (it ends on any request once a stop was asked for,
// so the STOP_CHECKER that follows may find it gone), or when it is still
// refused after a second, so that a checker that is gone cannot hang the
// caller. User-interface thread only. Returns whether the request was
// posted.
bool post_to_checker(uint32_t message, uintptr_t wparam);

// Checks the account `account` once: shows the checking icon, counts its
// mail over POP3 or IMAP, tells the user (icon, entry text, tooltip, alert,
// sound), moves its schedule on or disables it after a failed login, and
// asks the preferences page to refresh. Returns -1 when the login failed and
// the account was disabled, 0 when it failed and was kept or no new mail
// was counted, otherwise the number of new messages. An account that does
// not exist, and a check cut short by a stop, change nothing and give 0.
// Checker thread only (or a test standing in for it).
int32_t check_account(account_ref account, checker_control& control);

// The thread procedure. `control` is a heap-allocated
// std::shared_ptr<checker_control> that the thread takes over. Returns 0.
uint32_t checker_thread(void* control);

// The check the thread runs; tests replace it. Null restores check_account.
using account_check_fn = int32_t (*)(account_ref account, checker_control& control);
void set_account_check(account_check_fn check);
