// The POSIX window system: dialogs from the same resource script that the
// Windows resource compiler reads, sent calls, thread queues, resources, and
// the splitting of argument texts into words.
#include "platform/posix/window_system.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "imap_main.h"
#include "platform/posix/rc_script.h"
#include "platform/resources.h"
#include "test_support.h"

namespace {

using platform::control_state;
using platform::window_state;

intptr_t quiet_proc(platform::window_handle, uint32_t, uintptr_t, intptr_t) { return 0; }

// Each case: the template, "id caption width height controls", and one
// control's "class text".
TEST(WindowSystem, DialogsComeFromTheModuleScript) {
  const std::tuple<int, const char*, int, const char*> cases[] = {
      {101, "101  256 251 8", 1005,
       "Button Add accounts to my contact list under the mail section"},
      {102, "102 Account Details 247 223 30", 1022, "Button UNSEEN"},
      {103, "103 Other Global Options 175 82 6", 1039,
       "Button Play sound when you recieve new mail"},
  };
  for (const auto& [id, dialog, probe_id, probe] : cases) {
    platform::window_handle w = platform::create_dialog(this_module(), id, nullptr, quiet_proc);
    ASSERT_NE(w, nullptr) << id;
    window_state s;
    ASSERT_TRUE(platform::posix::get_window(w, &s));
    EXPECT_EQ(std::to_string(s.template_id) + " " + s.caption + " " + std::to_string(s.width) +
                  " " + std::to_string(s.height) + " " + std::to_string(s.controls.size()),
              dialog);
    std::vector<std::string> found;
    for (const control_state& c : s.controls) {
      if (c.id == probe_id) found.push_back(c.window_class + " " + c.text);
    }
    EXPECT_EQ(found, std::vector<std::string>{probe});
    platform::destroy_window(w);
    EXPECT_FALSE(platform::posix::get_window(w, &s));
  }
  EXPECT_EQ(platform::create_dialog(this_module(), 999, nullptr, quiet_proc), nullptr);
  EXPECT_EQ(platform::create_dialog(nullptr, 101, nullptr, quiet_proc), nullptr);
}

std::atomic<int> calls_handled{0};

intptr_t counting_proc(platform::window_handle, uint32_t message, uintptr_t, intptr_t) {
  if (message == platform::MSG_USER) ++calls_handled;
  return 7;
}

// A call sent to a window runs on the window's thread when that thread looks
// at its messages or waits. One whose thread does not cannot hold a sender
// with a time limit: the send gives up and the message is never handled.
TEST(WindowSystem, SentCallsRunWhenTheOwnerLooksOrWaits) {
  calls_handled = 0;
  std::atomic<platform::window_handle> window{nullptr};
  std::atomic<bool> made{false}, serve{false};
  std::thread owner([&] {
    window = platform::create_dialog(this_module(), 103, nullptr, counting_proc);
    made = true;
    while (!serve.load()) std::this_thread::yield();
    platform::thread_message ignored;
    platform::peek_thread_message(&ignored);
    platform::destroy_window(window.load());
  });
  while (!made.load()) std::this_thread::yield();
  EXPECT_NE(window.load(), nullptr);
  intptr_t result = 0;
  EXPECT_FALSE(platform::send_message_timeout(window, platform::MSG_USER, 0, 0, 50, &result));
  serve = true;
  owner.join();
  EXPECT_EQ(calls_handled.load(), 0);

  // Served, the result comes back, also to a sender without a time limit,
  // who is woken when the call has run (the page's refresh sends so).
  platform::window_handle own = platform::create_dialog(this_module(), 103, nullptr, counting_proc);
  std::atomic<bool> sent{false};
  std::thread sender([&] {
    result = platform::send_message(own, platform::MSG_USER, 0, 0);
    sent = true;
  });
  while (calls_handled.load() == 0 && !sent.load()) {
    // Looks only once the sender waits, so that it has to be woken.
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    platform::thread_message ignored;
    platform::peek_thread_message(&ignored);
  }
  sender.join();
  EXPECT_EQ(result, 7);

  // Served too while the window's thread waits for another thread to end,
  // as "stop" waits for the checker, which reports to the page on its way.
  static platform::window_handle target;
  target = own;
  uint32_t id = 0;
  platform::thread_handle checker = platform::start_thread(
      [](void*) -> uint32_t {
        intptr_t ignored = 0;
        platform::send_message_timeout(target, platform::MSG_USER, 0, 0, 5000, &ignored);
        return 0;
      },
      nullptr, &id);
  ASSERT_NE(checker, nullptr);
  EXPECT_TRUE(platform::wait_for_thread(checker, 20000));
  platform::close_thread(checker);
  EXPECT_EQ(calls_handled.load(), 2);
  platform::destroy_window(own);

  // And while it waits for its next message.
  std::atomic<uint32_t> looper_id{0};
  std::atomic<platform::window_handle> waiting{nullptr};
  std::thread looper([&] {
    waiting = platform::create_dialog(this_module(), 103, nullptr, counting_proc);
    platform::thread_message m;
    platform::peek_thread_message(&m);  // its queue takes posts from here on
    looper_id = platform::current_thread_id();
    while (platform::get_thread_message(&m)) {
    }
    platform::destroy_window(waiting.load());
  });
  while (looper_id.load() == 0) std::this_thread::yield();
  EXPECT_TRUE(platform::send_message_timeout(waiting, platform::MSG_USER, 0, 0, 5000, &result));
  EXPECT_TRUE(platform::post_thread_message(looper_id, platform::MSG_QUIT, 0, 0));
  looper.join();
  EXPECT_EQ(calls_handled.load(), 3);
}

TEST(RcScript, ReadsTheGrammarAndRejectsBrokenTemplates) {
  const std::string good =
      "// comment\n#include <windows.h>\n"
      "7 DIALOGEX 1, 2, 30, 40\nSTYLE WS_POPUP | WS_CAPTION\nCAPTION \"Say \"\"hi\"\"\"\n"
      "FONT 8, \"Tahoma\"\nBEGIN\n"
      "  CONTROL \"A\", -1, \"Static\", SS_LEFT, 1, 2, 3, 4\n"
      "  CONTROL \"\", 12, \"Edit\", ES_PASSWORD | WS_DISABLED, 5, 6, 7, 8\nEND\n";
  platform::posix::dialog_template t;
  ASSERT_TRUE(platform::posix::find_dialog_template(good, 7, &t));
  EXPECT_EQ(t.caption, "Say \"hi\"");
  EXPECT_EQ(t.font, "Tahoma");
  EXPECT_EQ(t.font_size, 8);
  ASSERT_EQ(t.controls.size(), 2u);
  EXPECT_EQ(t.controls[0].id, -1);
  EXPECT_EQ(t.controls[1].id, 12);
  EXPECT_TRUE(t.controls[1].has_style("ES_PASSWORD"));
  EXPECT_TRUE(t.controls[1].has_style("WS_DISABLED"));
  EXPECT_EQ(t.controls[1].height, 8);

  const char* broken[] = {
      "7 DIALOGEX 1, 2, 30\nBEGIN\nEND\n",                        // too few numbers
      "7 DIALOGEX 1, 2, 3, 4\nBEGIN\n  CONTROL \"A\", 1\nEND\n",  // short control
      "7 DIALOGEX 1, 2, 3, 4\nBEGIN\n",                           // no END
      "7 DIALOGEX 1, 2, 3, 4\nMENU 5\nBEGIN\nEND\n",              // unknown statement
      "7 DIALOGEX 1, 2, 3, 4\nCAPTION\nBEGIN\nEND\n",             // caption without text
      "7 DIALOGEX 1, 2, 3, 4\nBEGIN\n  CONTROL \"A\", 1, \"B\", X, 1, 2, 3\nEND\n",
      "8 DIALOGEX 1, 2, 3, 4\nBEGIN\nEND\n",  // another id
      "",
  };
  for (const char* script : broken) {
    SCOPED_TRACE(script);
    EXPECT_FALSE(platform::posix::find_dialog_template(script, 7, &t));
  }
}

// The item of this module's resources with this type and id.
const platform::resource_item* module_item(const char* type, int id) {
  const auto* module = static_cast<const platform::resource_bundle*>(this_module());
  for (size_t i = 0; i < module->count; ++i) {
    const platform::resource_item& item = module->items[i];
    if (item.id == id && std::strcmp(item.type, type) == 0) return &item;
  }
  return nullptr;
}

// A bundle is read up to its count: a bitmap just past its end, where the
// next module's data might lie, is not found.
TEST(Resources, BitmapsComeOnlyFromTheBundlesOwnItems) {
  const platform::resource_item* page = module_item("BITMAP", 104);
  ASSERT_NE(page, nullptr);
  const platform::resource_item items[] = {{"WAVE", 1, page->data, 0}, *page};
  for (size_t count : {size_t{1}, size_t{2}}) {
    const platform::resource_bundle bundle{"", items, count};
    platform::bitmap_handle bitmap = platform::load_bitmap(&bundle, 104);
    EXPECT_EQ(bitmap != nullptr, count == 2) << count;
    platform::delete_bitmap(bitmap);
  }
}

// A 2 x 2 picture stored bottom row first, blue-green-red, rows padded to
// four bytes, comes out top row first in red-green-blue.
TEST(Resources, BitmapsAreDecodedTopRowFirstInRedGreenBlue) {
  std::string bmp = "BM" + std::string(52, '\0');
  const auto put = [&bmp](size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) bmp[at + i] = static_cast<char>(value >> (8 * i));
  };
  put(10, 54);            // where the pixels begin
  put(14, 40);            // header size
  put(18, 2);             // width
  put(22, 2);             // height, positive: bottom row first
  put(26, 1 | 24 << 16);  // one plane, 24 bits
  bmp += std::string("\x01\x02\x03\x04\x05\x06\0\0\x11\x12\x13\x14\x15\x16\0\0", 16);
  const platform::resource_item items[] = {
      {"BITMAP", 7, reinterpret_cast<const unsigned char*>(bmp.data()), bmp.size()}};
  const platform::resource_bundle bundle{"", items, 1};
  platform::bitmap_handle bitmap = platform::load_bitmap(&bundle, 7);
  platform::posix::bitmap_pixels pixels;
  ASSERT_TRUE(platform::posix::read_bitmap(bitmap, &pixels));
  EXPECT_EQ(pixels.rgb, (std::vector<uint8_t>{0x13, 0x12, 0x11, 0x16, 0x15, 0x14, 0x03, 0x02, 0x01,
                                              0x06, 0x05, 0x04}));
  platform::delete_bitmap(bitmap);
}

// The sound reaches the player whole, also when it is the bundle's first
// item; a sound the bundle does not hold plays nothing.
TEST(Resources, SoundsPlayTheirWholeData) {
  const platform::resource_item* wave = module_item("WAVE", 1);
  ASSERT_NE(wave, nullptr);
  const platform::resource_item items[] = {*wave};
  const platform::resource_bundle bundle{"", items, 1};
  test_support::temp_dir dir;
  const std::string player = dir.path() + "/player", heard = dir.path() + "/heard";
  // Keeps what it is fed; the file appears once all of it is there.
  test_support::write_file(
      player, "#!/bin/sh\ncat > '" + heard + ".part' && mv '" + heard + ".part' '" + heard + "'\n");
  ASSERT_EQ(chmod(player.c_str(), 0755), 0);
  platform::posix::set_sound_player(player);
  const platform::sound_result played = platform::play_sound_resource(&bundle, 1);
  EXPECT_EQ(played.bytes, wave->size);
  EXPECT_TRUE(played.to_output);
  for (int i = 0; i < 1000 && !test_support::file_exists(heard); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(test_support::read_file(heard),
            std::string(reinterpret_cast<const char*>(wave->data), wave->size));
  const platform::sound_result missing = platform::play_sound_resource(&bundle, 104);
  EXPECT_EQ(missing.bytes, 0u);
  EXPECT_FALSE(missing.to_output);
  platform::posix::set_sound_player("");
}

// A thread takes posts from the first time it looks at its queue until it
// ends, as on Windows; earlier and later posts are refused.
TEST(ThreadMessages, QueueLivesFromFirstLookUntilTheThreadEnds) {
  std::atomic<uint32_t> id{0};
  std::atomic<int> stage{0};
  platform::thread_message got;
  bool received = false;
  auto wait_for = [&stage](int s) {
    while (stage.load() != s) std::this_thread::yield();
  };
  std::thread t([&] {
    id = platform::current_thread_id();
    stage = 1;
    wait_for(2);
    platform::thread_message m;
    EXPECT_FALSE(platform::peek_thread_message(&m));
    stage = 3;
    wait_for(4);
    received = platform::peek_thread_message(&got);
    stage = 5;
  });
  wait_for(1);
  EXPECT_NE(id.load(), 0u);
  EXPECT_NE(id.load(), platform::current_thread_id());
  EXPECT_FALSE(platform::post_thread_message(id, 1234, 5, 6));
  stage = 2;
  wait_for(3);
  EXPECT_TRUE(platform::post_thread_message(id, 1234, 5, 6));
  stage = 4;
  wait_for(5);
  t.join();
  ASSERT_TRUE(received);
  EXPECT_EQ(got.message, 1234u);
  EXPECT_EQ(got.wparam, 5u);
  EXPECT_EQ(got.lparam, 6);
  EXPECT_FALSE(platform::post_thread_message(id, 1234, 5, 6));
}

// The thread timer: a posted message goes before a due tick, ticks that
// piled up while nobody looked come out as one, and a killed timer is quiet.
TEST(ThreadMessages, TimerTicksPileUpIntoOneAndWaitForPostedMessages) {
  std::thread([] {
    const uintptr_t timer = platform::set_thread_timer(20);
    ASSERT_NE(timer, 0u);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_TRUE(platform::post_thread_message(platform::current_thread_id(), 1234, 0, 0));
    platform::thread_message m;
    ASSERT_TRUE(platform::get_thread_message(&m));
    EXPECT_EQ(m.message, 1234u);
    ASSERT_TRUE(platform::get_thread_message(&m));
    EXPECT_EQ(m.message, static_cast<uint32_t>(platform::MSG_TIMER));
    EXPECT_EQ(m.wparam, timer);
    EXPECT_FALSE(platform::peek_thread_message(&m));
    platform::kill_thread_timer(timer);
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    EXPECT_FALSE(platform::peek_thread_message(&m));
  }).join();
}

using words = std::vector<std::string>;

// How an argument text becomes a program's words.
TEST(ShellWords, SplitLikeAShellWithoutExpanding) {
  const struct {
    const char* text;
    words expected;
  } cases[] = {
      {"", {}},
      {"   \t\n ", {}},
      {"-a -b", {"-a", "-b"}},
      {"  lead  and\ttrail  ", {"lead", "and", "trail"}},
      {"\"two words\"", {"two words"}},
      {"''", {""}},
      {"\"\"", {""}},
      {"a\"b c\"d", {"ab cd"}},
      {"'$HOME `x` \\n \"q\"'", {"$HOME `x` \\n \"q\""}},
      {"\"\\\" \\\\ \\$ \\` \\n\"", {"\" \\ $ ` \\n"}},
      {"a\\ b \\'c\\'", {"a b", "'c'"}},
      {"line\\\ncontinued", {"linecontinued"}},
      {"\"in\\\nside\"", {"inside"}},
      {"a;b|c&d>e<f", {"a;b|c&d>e<f"}},
      {"$(rm -rf x) `id` *", {"$(rm", "-rf", "x)", "`id`", "*"}},
      {"~ ~/x", {"~", "~/x"}},
      {"-profile \"C:\\Mail\"", {"-profile", "C:\\Mail"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    words out = {"stale"};
    ASSERT_TRUE(platform::posix::split_words(c.text, &out));
    EXPECT_EQ(out, c.expected);
  }
  // Unfinished text is refused.
  for (const char* text : {"'open", "\"open", "a 'b", "trailing\\", "\"esc\\\""}) {
    words out;
    EXPECT_FALSE(platform::posix::split_words(text, &out)) << text;
  }
}

}  // namespace
