#include "imap_thread.h"

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "imap_def.h"
#include "imap_state.h"
#include "imap_util.h"
#include "imap_windows.h"
#include "imapsend.h"
#include "mimemess.h"
#include "platform/env.h"
#include "platform/platform.h"
#include "pop3send.h"
#include "ssl_openssl.h"
#include "text.h"

const char SOUND_FILE_NAME[] = "mailnotify.wav";

namespace {

std::atomic<account_check_fn> account_check{nullptr};

int64_t now() { return platform::env()->local_seconds(); }

// Keeps a check's connection attached to the control for its lifetime.
class attached_socket {
 public:
  attached_socket(checker_control& control, TTCPBlockSocket* socket) : control_(control) {
    control_.attach(socket);
  }
  ~attached_socket() { control_.detach(); }
  attached_socket(const attached_socket&) = delete;
  attached_socket& operator=(const attached_socket&) = delete;

 private:
  checker_control& control_;
};

template <class Client>
void set_connection(Client& client, const imap_info& account) {
  client.Host = account.hostname;
  client.Port = std::to_string(account.port);
  client.UserName = account.username;
  client.Password = account.password;
  client.Timeout = SERVER_TIMEOUT_MS;
  client.ImplicitTls = account.ssl != 0;
}

// The POP3 session; false when the login failed. Fills new_count (left as
// it was when STAT fails), last_checked and, when `header`, the lines of
// the newest message's header.
bool run_pop3(imap_info& account, bool header, std::vector<std::string>& lines,
              checker_control& control) {
  TPOP3Send client;
  set_connection(client, account);
  attached_socket attached(control, client.Sock.get());
  if (!client.Login()) return false;
  account.last_checked = now();
  if (client.Stat()) account.new_count = client.MessageCount;
  if (account.new_count > 0 && header) {
    // The highest message number is the newest message.
    if (client.Top(account.new_count, 0) || client.RetrieveHeader(account.new_count)) {
      lines.insert(lines.end(), client.ReplyLines.begin(), client.ReplyLines.end());
    }
  }
  client.Reset();
  client.Logout();
  return true;
}

// The IMAP session; false when the login failed. Fills the four counts and
// last_checked and, when `header`, the lines of the newest message's header.
bool run_imap(account_ref key, imap_info& account, bool header, std::vector<std::string>& lines,
              checker_control& control) {
  TIMAPSend client;
  set_connection(client, account);
  attached_socket attached(control, client.Sock.get());
  if (!client.Login()) return false;
  account.last_checked = now();
  // A failed EXAMINE leaves the counts its reply gave (0 when none).
  client.ExamineMailbox(account.mailbox);
  account.recent_count = client.SelectedRecent;
  account.exists_count = client.SelectedCount;
  if (account.unseen != 0) {
    account.new_count = client.StatusValue(account.mailbox, "UNSEEN");
    account.total_count = client.StatusValue(account.mailbox, "MESSAGES");
    // The total is the newest message's number too, so it must be real.
    if (account.total_count == -1) account.total_count = account.exists_count;
  } else {
    account.new_count = account.recent_count;
    account.total_count = account.exists_count;
  }
  if (account.new_count == -1) {
    // Told whatever the alert option says: the count shown is not the one
    // the user asked for.
    if (!control.stop_requested()) {
      raise_mail_alert(key, account.display + ": -1 new messages. Reading RECENT instead.");
    }
    account.new_count = account.recent_count;
    account.total_count = account.exists_count;
  }
  if (account.new_count != 0 && header) client.FetchHeader(account.total_count, lines);
  client.Logout();
  return true;
}

// Longest sender or subject shown, in characters.
constexpr size_t MAX_SHOWN_FIELD = 256;

// A decoded sender or subject as alert and tooltip show it: a control
// character (a decoded CR LF, a NUL from broken Base64) would break the
// host's texts into forged lines or cut them short, so each becomes a blank;
// the rest is trimmed and cut to a length a tooltip can show.
std::string shown_field(std::string text) {
  std::replace_if(
      text.begin(), text.end(),
      [](char c) { return static_cast<unsigned char>(c) < ' ' || c == '\x7F'; }, ' ');
  const std::string_view shown = TrimBlanks(text);
  return std::string(shown.size() > MAX_SHOWN_FIELD ? TrimBlanks(shown.substr(0, MAX_SHOWN_FIELD))
                                                    : shown);
}

// Every "re:" removed, in any letter case, in one pass from the left.
std::string without_re(const std::string& subject) {
  std::string out;
  out.reserve(subject.size());
  for (size_t i = 0; i < subject.size();) {
    if (i + 3 <= subject.size() && LowerAscii(subject[i]) == 'r' &&
        LowerAscii(subject[i + 1]) == 'e' && subject[i + 2] == ':') {
      i += 3;
    } else {
      out += subject[i++];
    }
  }
  return out;
}

void play_notification_sound() {
  platform::Env* env = platform::env();
  if (env->file_exists(SOUND_FILE_NAME)) {
    env->play_sound_file(SOUND_FILE_NAME);
  } else {
    env->play_sound_resource(this_module(), SOUND_RESOURCE_ID);
  }
}

// What the session found, written back to the account if it still exists
// with the settings the check used. `display` receives its current alias.
enum class outcome { counted, failed_kept, failed_disabled };
bool store_result(account_ref key, uint32_t version, const imap_info& found, outcome result,
                  std::string* display) {
  bool stored = false;
  account_table.update(key, [&](imap_info& account) {
    if (account.settings_version != version) return;
    stored = true;
    *display = account.display;
    if (result == outcome::failed_disabled) {
      account.next_check = 0;
      return;
    }
    account.last_checked = found.last_checked;
    account.next_check = found.next_check;
    if (result == outcome::counted) {
      account.new_count = found.new_count;
      account.total_count = found.total_count;
      account.recent_count = found.recent_count;
      account.exists_count = found.exists_count;
    }
  });
  return stored;
}

// A check whose result is discarded tells the user nothing; its entry
// shows the account's current state again instead of "checking".
void show_current_state(account_ref key) {
  int32_t count = 0;
  if (!account_table.read(key, [&count](const imap_info& a) { count = a.new_count; })) return;
  update_entry_icon(key, count > 0 ? ICON_NEW_MAIL : ICON_NO_MAIL);
}

std::string schedule_lines(const imap_info& account) {
  return "Last checked: " + platform::format_local_time(account.last_checked) + "\r\n" +
         "Next check: " + platform::format_local_time(account.next_check);
}

int32_t report_failure(account_ref key, imap_info& account) {
  const bool disable = use_disable.load() != 0;
  if (!disable) {
    account.last_checked = now();
    account.next_check = next_check_time(account.last_checked, account.attempt);
  }
  std::string display;
  if (!store_result(key, account.settings_version, account,
                    disable ? outcome::failed_disabled : outcome::failed_kept, &display)) {
    show_current_state(key);
    return 0;
  }
  update_entry_icon(key, ICON_FAILED);
  if (use_alert.load() != 0) {
    raise_mail_alert(key, display + ": Cannot login to server. Check your settings.");
  }
  if (disable) {
    update_entry_tooltip(key,
                         "This account has had some problems connecting.\r\nPlease check your "
                         "settings.\r\n\r\n"
                         "To re-enable this account, right-click on it\r\nand click on \"Check "
                         "email now\"");
    update_entry_text(key, display);
    return -1;
  }
  update_entry_tooltip(key,
                       "This account has had some problems connecting.\r\nPlease check your "
                       "settings.\r\n" +
                           schedule_lines(account));
  return 0;
}

int32_t report_counts(account_ref key, imap_info& account, int32_t previous, bool header,
                      const std::vector<std::string>& lines) {
  account.last_checked = now();
  account.next_check = next_check_time(account.last_checked, account.attempt);
  std::string display;
  if (!store_result(key, account.settings_version, account, outcome::counted, &display)) {
    show_current_state(key);
    return 0;
  }
  account.display = display;
  const int32_t count = account.new_count;

  std::string from_text, subject_text;
  if (count != 0) {
    std::string alert = display + ": You have " + std::to_string(count) + " new message" +
                        (count > 1 ? "s" : "") + " in your inbox.";
    if (header && static_cast<int64_t>(count) - previous == 1) {
      TMessHeader decoded;
      decoded.ParseHeaderLines(lines);
      std::string from = decoded.From;
      from.erase(std::remove(from.begin(), from.end(), '"'), from.end());
      from_text = shown_field(from);
      alert = display + ": " + from_text;
      if (decoded.Subject.empty()) {
        alert = display + ": New mail from " + from_text;
      } else {
        subject_text = "\"" + shown_field(without_re(decoded.Subject)) + "\"";
        alert += " - " + subject_text;
      }
    }
    if (count != previous) {
      if (use_sound.load() != 0) play_notification_sound();
      if (use_alert.load() != 0) raise_mail_alert(key, alert);
    }
  }
  update_entry_icon(key, count != 0 ? ICON_NEW_MAIL : ICON_NO_MAIL);

  update_entry_text(key, entry_text(account));
  std::string tooltip;
  if (count > 0) tooltip += "New messages: " + std::to_string(count) + "\r\n";
  if (account.accttype == ACCOUNT_IMAP) {
    tooltip += "Recent messages: " + std::to_string(account.recent_count) + "\r\n" +
               "Total messages: " + std::to_string(account.total_count) + "\r\n";
  }
  tooltip += schedule_lines(account);
  if (!from_text.empty()) {
    tooltip += "\r\n\r\nLast message from:\r\n" + from_text + "\r\nRe: " + subject_text;
  }
  update_entry_tooltip(key, tooltip);
  return count;
}

int32_t run_check(account_ref key, checker_control& control) {
  account_check_fn check = account_check.load();
  return check != nullptr ? check(key, control) : check_account(key, control);
}

// The accounts of a pass are the keys of the table when the pass begins: an
// account removed meanwhile is skipped, one added waits for the next pass.
void on_tick(checker_control& control) {
  for (account_ref key : account_table.keys()) {
    if (control.stop_requested()) return;
    int64_t next_check = 0;
    if (!account_table.read(key, [&](const imap_info& a) { next_check = a.next_check; })) continue;
    if (next_check <= 0) continue;
    // Read anew for every account, after the previous one's check; an
    // account due in the current second is not due yet.
    if (next_check < now()) run_check(key, control);
  }
}

void on_check_all(checker_control& control) {
  for (account_ref key : account_table.keys()) {
    if (!control.pause(CHECK_ALL_PAUSE_MS)) return;
    int64_t next_check = 0;
    if (!account_table.read(key, [&](const imap_info& a) { next_check = a.next_check; })) continue;
    if (next_check > 0) run_check(key, control);
  }
}

void on_check_account(account_ref key, checker_control& control) {
  uint32_t version = 0;
  if (!account_table.read(key, [&](const imap_info& a) { version = a.settings_version; })) return;
  const int32_t result = run_check(key, control);
  if (result != 0 || control.stop_requested()) return;
  std::string display;
  int32_t total = 0;
  bool replaced = false;
  if (!account_table.read(key, [&](const imap_info& a) {
        display = a.display;
        total = a.total_count;
        replaced = a.settings_version != version;
      })) {
    return;
  }
  // The check's result was discarded: its total belongs to settings that
  // are gone.
  if (replaced) return;
  // Raised whatever the alert option says: the user asked.
  raise_mail_alert(key, display + ": You have " + std::to_string(total) + " message" +
                            (total == 0 || total > 1 ? "s" : "") + " (total) in your inbox.");
}

}  // namespace

void checker_control::request_stop() {
  stopping_.store(true);
  std::lock_guard<std::mutex> hold(lock_);
  if (socket_ != nullptr) socket_->AbortSocket();
  woken_.notify_all();
}

void checker_control::attach(TTCPBlockSocket* socket) {
  std::lock_guard<std::mutex> hold(lock_);
  socket_ = socket;
  if (stopping_.load()) socket_->AbortSocket();
}

void checker_control::detach() {
  // Waits for an abort under way on another thread: the socket is destroyed
  // right after.
  std::lock_guard<std::mutex> hold(lock_);
  socket_ = nullptr;
}

bool checker_control::pause(uint32_t ms) {
  std::unique_lock<std::mutex> hold(lock_);
  return !platform::env()->wait_ms(ms, woken_, hold, [this] { return stop_requested(); });
}

int32_t check_account(account_ref key, checker_control& control) {
  imap_info account;
  if (control.stop_requested() || !account_table.copy(key, &account)) return 0;
  // One value of the header option holds for the whole check.
  const bool header = use_header.load() != 0;
  if (use_icon.load() != 0) update_entry_icon(key, ICON_CHECKING);

  std::vector<std::string> lines;
  const int32_t previous = account.new_count;
  bool logged_in = false;
  switch (account.accttype) {
    case ACCOUNT_POP3:
      logged_in = run_pop3(account, header, lines, control);
      break;
    case ACCOUNT_IMAP:
      logged_in = run_imap(key, account, header, lines, control);
      break;
    default:
      // No session for a type this plug-in does not know: the account cannot
      // be checked, which the user sees as a failed login.
      break;
  }
  // A stop ends the check here: nothing of it reaches the account or the
  // user, and the host and the page are left alone.
  if (control.stop_requested()) return 0;

  const int32_t result = logged_in ? report_counts(key, account, previous, header, lines)
                                   : report_failure(key, account);
  // Bounded: a user-interface thread that does not serve the page must not
  // stop mail checking; a skipped refresh is made good by the next one.
  if (platform::window_handle page = prefs_page_window.load()) {
    intptr_t ignored = 0;
    platform::send_message_timeout(page, REFRESH_ACCOUNTS, 0, 0, REFRESH_TIMEOUT_MS, &ignored);
  }
  return result;
}

bool post_to_checker(uint32_t message, uintptr_t wparam) {
  const uint32_t thread = checker_thread_id;
  if (thread == 0) return false;
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(1);
  while (!platform::post_thread_message(thread, message, wparam, 0)) {
    if (checker_thread_handle != nullptr && platform::wait_for_thread(checker_thread_handle, 0)) {
      return false;
    }
    if (std::chrono::steady_clock::now() > give_up) return false;
    // The checker may not have made its queue yet: let it run.
    std::this_thread::yield();
  }
  return true;
}

uint32_t checker_thread(void* argument) {
  auto* handed_over = static_cast<std::shared_ptr<checker_control>*>(argument);
  const std::shared_ptr<checker_control> control = std::move(*handed_over);
  delete handed_over;

  // Checks follow one another here: the TLS library and its context stay
  // ready from one to the next.
  const TlsLibraryHold tls_library;
  platform::Env* env = platform::env();
  const uintptr_t timer = env->start_thread_timer(CHECK_TIMER_MS);
  for (;;) {
    platform::thread_message message;
    // A quit message is taken off the queue like any other and ignored.
    platform::get_thread_message(&message);
    if (message.message == STOP_CHECKER || control->stop_requested()) break;
    switch (message.message) {
      case platform::MSG_TIMER:
        on_tick(*control);
        break;
      case CHECK_ALL:
        on_check_all(*control);
        break;
      case CHECK_ACCOUNT:
        on_check_account(static_cast<account_ref>(message.wparam), *control);
        break;
      default:
        break;
    }
  }
  env->stop_thread_timer(timer);
  return 0;
}

void set_account_check(account_check_fn check) { account_check.store(check); }
