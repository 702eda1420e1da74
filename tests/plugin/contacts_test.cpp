// The contact-list operations against a fake host that keeps a copy of every
// record it is handed: which calls come, in which order, with which values.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "bitmaps.h"
#include "contacts_fixture.h"
#include "imap_thread.h"
#include "platform/platform.h"

namespace {

using contacts_test::account;
using contacts_test::account_spec;
using contacts_test::add_account;

struct menu_seen {
  menu_item_record item;
  std::string label;
  menu_data data;
};

// A host call as the host saw it during the call.
struct call_seen {
  std::string function;
  const list_entry_record* address = nullptr;  // as given; a host may keep it
  list_entry_record entry{};
  list_icon_record icon{};
  bool has_icon = false;
  std::string text, tooltip, name, group_name;
  std::vector<menu_seen> menu;
  alert_record alert{};
  std::string alert_text, alert_icon;
  alert_context context{};
};

std::vector<call_seen> calls;
int32_t next_result = 0;       // the result of the next "listAddEntry"
int32_t group_id_written = 0;  // written at offset 84 when a group is added
int32_t section_count = 0;     // the result of "listGetSectionCount"

std::string text_of(const char* p) { return p != nullptr ? p : "(null)"; }

int32_t EMAIL_CALL fake_host(const char* id, const char* function, void* record) {
  EXPECT_STREQ(id, PLUGIN_ID);
  call_seen c;
  c.function = function;
  if (c.function == "systraySetAlert") {
    c.alert = *static_cast<alert_record*>(record);
    c.alert_text = text_of(c.alert.text);
    c.alert_icon = text_of(c.alert.icon_name);
    c.context = *reinterpret_cast<alert_context*>(c.alert.user_data);
    calls.push_back(c);
    return 0;
  }
  auto* r = static_cast<list_entry_record*>(record);
  c.address = r;
  c.entry = *r;
  c.text = text_of(r->text);
  c.tooltip = text_of(r->tooltip);
  c.name = text_of(r->name);
  c.group_name = text_of(r->group_name);
  if (r->icon != nullptr) {
    c.icon = *r->icon;
    c.has_icon = true;
  }
  for (menu_item_record* m = r->menu; m != nullptr; m = m->next) {
    c.menu.push_back({*m, text_of(m->label), *reinterpret_cast<menu_data*>(m->user_data)});
  }
  calls.push_back(c);
  if (c.function == "listGetSectionCount") return section_count;
  if (c.function == "listAddEntry") {
    if (r->is_entry == 0) r->group_id = group_id_written;
    return next_result;
  }
  return 0;
}

std::vector<std::string> functions() {
  std::vector<std::string> out;
  for (const call_seen& c : calls) out.push_back(c.function);
  return out;
}

class ContactList : public contacts_test::ContactsTest {
 protected:
  void SetUp() override {
    calls.clear();
    next_result = 0;
    group_id_written = 0;
    section_count = 0;
    host_call.store(fake_host);
  }
};

TEST_F(ContactList, EntryTextByAccountType) {
  struct text_case {
    int32_t accttype;
    const char* display;
    int32_t new_count, total_count;
    const char* expected;
  };
  const text_case cases[] = {
      {ACCOUNT_IMAP, "Work", 2, 31, "Work (2/31)"},
      {ACCOUNT_POP3, "Home", 1, 0, "Home (1)"},
      {ACCOUNT_POP3, "Home", 0, 31, "Home (0)"},
      {ACCOUNT_IMAP, "Broken", -1, -5, "Broken (-1/-5)"},
      {ACCOUNT_IMAP, "", 0, 0, " (0/0)"},
      {2, "Other", 3, 4, ""},
      {-1, "Other", 3, 4, ""},
  };
  for (const text_case& c : cases) {
    imap_info a;
    a.accttype = c.accttype;
    a.display = c.display;
    a.new_count = c.new_count;
    a.total_count = c.total_count;
    EXPECT_EQ(entry_text(a), c.expected) << c.display;
  }
}

TEST_F(ContactList, GroupIdComesFromTheRecordNotTheResult) {
  group_id_written = 7;
  next_result = 99;
  add_mail_group();
  EXPECT_EQ(mail_group_id, 7);
  ASSERT_EQ(functions(), std::vector<std::string>{"listAddEntry"});
  const call_seen& c = calls[0];
  EXPECT_EQ(c.entry.size, static_cast<int32_t>(sizeof(list_entry_record)));
  EXPECT_EQ(c.entry.is_entry, 0);
  EXPECT_EQ(c.entry.icon, nullptr);
  EXPECT_EQ(c.entry.group_id, -1);
  EXPECT_EQ(c.entry.field88, -1);
  EXPECT_EQ(c.entry.field92, -2);
  EXPECT_EQ(c.entry.entry_id, -1);
  EXPECT_EQ(c.entry.field100, 0);
  EXPECT_EQ(c.entry.field104, 1);
  EXPECT_EQ(c.entry.field108, 1);
  EXPECT_EQ(c.entry.field112, 0);
  EXPECT_EQ(c.entry.field116, 1);
  EXPECT_EQ(c.entry.field120, 1);
  EXPECT_EQ(c.tooltip, "This group holds all of your mail accounts.");
  EXPECT_EQ(c.text, "My Mail Accounts");
  EXPECT_EQ(c.group_name, "mail");
  EXPECT_EQ(c.name, "(null)");
  EXPECT_EQ(c.entry.user_data, 0u);
  EXPECT_EQ(c.entry.menu, nullptr);
  EXPECT_EQ(c.entry.callback, nullptr);
  EXPECT_EQ(c.entry.sub.size, 64);
}

TEST_F(ContactList, GroupStaysWhileTheHostCountsEntries) {
  mail_group_id = 5;
  section_count = 2;
  remove_mail_group();
  EXPECT_EQ(mail_group_id, 5);
  ASSERT_EQ(functions(), std::vector<std::string>{"listGetSectionCount"});
  EXPECT_EQ(calls[0].entry.group_id, 5);

  calls.clear();
  section_count = 0;
  remove_mail_group();
  EXPECT_EQ(mail_group_id, -1);
  ASSERT_EQ(functions(), (std::vector<std::string>{"listGetSectionCount", "listRemoveEntry"}));
  const list_entry_record& r = calls[1].entry;
  EXPECT_EQ(r.group_id, 5);
  EXPECT_EQ(r.field88, -1);
  EXPECT_EQ(r.field92, -1);
  EXPECT_EQ(r.entry_id, -1);
  EXPECT_EQ(r.is_entry, 0);
}

TEST_F(ContactList, EntryRecordsHoldTheAccountAndItsMenu) {
  mail_group_id = 3;
  const account_ref work = add_account({"Work", ACCOUNT_IMAP, 2, 31, "", ""});
  next_result = 12;
  add_account_entry(work);

  ASSERT_EQ(functions(), std::vector<std::string>{"listAddEntry"});
  const call_seen& c = calls[0];
  EXPECT_EQ(c.entry.size, static_cast<int32_t>(sizeof(list_entry_record)));
  EXPECT_EQ(c.entry.is_entry, 1);
  EXPECT_EQ(c.entry.group_id, 3);
  EXPECT_EQ(c.entry.field88, -1);
  EXPECT_EQ(c.entry.field92, -1);
  EXPECT_EQ(c.entry.entry_id, -1);
  EXPECT_EQ(c.entry.field100, 0);
  EXPECT_EQ(c.entry.field104, 0);
  EXPECT_EQ(c.entry.field108, 1);
  EXPECT_EQ(c.entry.field112, 1);
  EXPECT_EQ(c.entry.field116, 1);
  EXPECT_EQ(c.entry.field120, 0);
  EXPECT_EQ(c.text, "Work (2/31)");
  EXPECT_EQ(c.name, "Work");
  EXPECT_EQ(c.tooltip, "(null)");
  EXPECT_EQ(c.group_name, "(null)");
  EXPECT_EQ(c.entry.user_data, work);
  EXPECT_EQ(c.entry.callback, &on_entry_event);

  ASSERT_TRUE(c.has_icon);
  EXPECT_EQ(c.icon.size, static_cast<int32_t>(sizeof(list_icon_record)));
  EXPECT_EQ(c.icon.one, 1);
  EXPECT_EQ(c.icon.bitmap, &state_bitmaps[ICON_NEW_MAIL]);
  EXPECT_EQ(c.icon.rect, &state_rects[0]);
  EXPECT_EQ(c.icon.field28, 0);

  struct item_case {
    const char* label;
    int32_t command;
    account_ref account;
  };
  const item_case items[] = {
      {"Check for mail now!", MENU_CHECK_NOW, work},
      {"Launch E-mail client", MENU_LAUNCH_CLIENT, work},
      {"Check all for mail now!", MENU_CHECK_ALL, 0},
  };
  ASSERT_EQ(c.menu.size(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(items[i].label);
    const menu_seen& m = c.menu[i];
    EXPECT_EQ(m.item.size, static_cast<int32_t>(sizeof(menu_item_record)));
    EXPECT_EQ(m.item.field4, -1);
    EXPECT_EQ(m.item.field12, 0);
    EXPECT_EQ(m.label, items[i].label);
    EXPECT_EQ(m.item.callback, &on_menu_event);
    EXPECT_EQ(m.data.command, items[i].command);
    EXPECT_EQ(m.data.account, items[i].account);
    EXPECT_EQ(m.item.next == nullptr, i == 2);
  }

  const imap_info a = account(work);
  EXPECT_EQ(a.entry_id, 12);
  ASSERT_NE(a.entry_record, nullptr);
  EXPECT_EQ(a.entry_record->entry_id, 12);
}

TEST_F(ContactList, InitialIconFollowsTheNewCount) {
  const struct {
    int32_t new_count;
    bitmap_handle* slot;
  } cases[] = {
      {5, &state_bitmaps[ICON_NEW_MAIL]},
      {0, &state_bitmaps[ICON_NO_MAIL]},
      {-1, nullptr},
  };
  for (const auto& c : cases) {
    calls.clear();
    const account_ref key = add_account({"A", ACCOUNT_POP3, c.new_count, 0, "", ""});
    add_account_entry(key);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].icon.bitmap, c.slot) << c.new_count;
  }
}

TEST_F(ContactList, RemovingAnEntryNamesItsIdOnly) {
  const account_ref work = add_account({"Work", ACCOUNT_IMAP, 0, 0, "", ""});
  mail_group_id = 3;
  next_result = 8;
  add_account_entry(work);
  calls.clear();
  remove_account_entry(work);
  ASSERT_EQ(functions(), std::vector<std::string>{"listRemoveEntry"});
  EXPECT_EQ(calls[0].entry.group_id, -1);
  EXPECT_EQ(calls[0].entry.entry_id, 8);
  EXPECT_EQ(calls[0].entry.is_entry, 1);
  const imap_info a = account(work);
  EXPECT_EQ(a.entry_id, -1);
  EXPECT_EQ(a.entry_record, nullptr);

  calls.clear();
  remove_account_entry(work);  // no entry any more
  EXPECT_TRUE(calls.empty());
}

TEST_F(ContactList, EntriesComeAndGoInTableOrder) {
  const account_ref a = add_account({"A", ACCOUNT_IMAP, 0, 0, "", ""});
  const account_ref b = add_account({"B", ACCOUNT_POP3, 0, 0, "", ""});
  const account_ref c = add_account({"C", ACCOUNT_IMAP, 0, 0, "", ""});
  next_result = 4;
  add_account_entries();
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[0].entry.user_data, a);
  EXPECT_EQ(calls[1].entry.user_data, b);
  EXPECT_EQ(calls[2].entry.user_data, c);

  // An account that is added twice keeps one entry: the first goes.
  calls.clear();
  add_account_entry(b);
  EXPECT_EQ(functions(), (std::vector<std::string>{"listRemoveEntry", "listAddEntry"}));

  calls.clear();
  remove_account_entry(a);
  remove_account_entries();
  ASSERT_EQ(functions(),
            (std::vector<std::string>{"listRemoveEntry", "listRemoveEntry", "listRemoveEntry"}));
  EXPECT_EQ(calls[1].entry.user_data, b);
  EXPECT_EQ(calls[2].entry.user_data, c);
}

TEST_F(ContactList, UpdatesNeedAnEntryWithAPositiveId) {
  const account_ref none = add_account({"None", ACCOUNT_IMAP, 0, 0, "", ""});
  const account_ref zero = add_account({"Zero", ACCOUNT_IMAP, 0, 0, "", ""});
  const account_ref gone = add_account({"Gone", ACCOUNT_IMAP, 0, 0, "", ""});
  const account_ref refused = add_account({"Refused", ACCOUNT_IMAP, 0, 0, "", ""});
  next_result = 0;
  add_account_entry(zero);
  next_result = 9;
  add_account_entry(gone);
  remove_account_entry(gone);
  next_result = -1;
  add_account_entry(refused);
  EXPECT_EQ(account(refused).entry_id, -1);
  EXPECT_EQ(account(refused).entry_record, nullptr);
  calls.clear();
  for (account_ref key : {none, zero, gone, refused, account_ref{0}, account_ref{12345}}) {
    update_entry_icon(key, ICON_CHECKING);
    update_entry_tooltip(key, "tip");
    update_entry_text(key, "text");
  }
  EXPECT_TRUE(calls.empty());

  // Only the entry the host accepted is taken down: removing the refused
  // one would send group -1 with entry -1, which names the group.
  remove_account_entries();
  ASSERT_EQ(functions(), std::vector<std::string>{"listRemoveEntry"});
  EXPECT_EQ(calls[0].entry.user_data, zero);
}

TEST_F(ContactList, UpdatesWriteTheirFieldsAndCallTheHost) {
  const account_ref work = add_account({"Work", ACCOUNT_IMAP, 0, 0, "", ""});
  next_result = 6;
  add_account_entry(work);
  calls.clear();

  for (int icon : {ICON_NO_MAIL, ICON_NEW_MAIL, ICON_CHECKING, ICON_FAILED}) {
    update_entry_icon(work, icon);
    ASSERT_EQ(calls.back().function, "listUpdateIcon");
    EXPECT_EQ(calls.back().entry.entry_id, 6);
    EXPECT_EQ(calls.back().icon.bitmap, &state_bitmaps[icon]);
    EXPECT_EQ(calls.back().icon.rect, &state_rects[icon]);
  }
  calls.clear();
  update_entry_icon(work, 4);
  update_entry_icon(work, -1);
  EXPECT_TRUE(calls.empty());

  update_entry_tooltip(work, "Last checked: now");
  ASSERT_EQ(functions(), std::vector<std::string>{"listUpdateTooltip"});
  EXPECT_EQ(calls[0].tooltip, "Last checked: now");

  calls.clear();
  update_entry_text(work, "Work (3/40)");
  ASSERT_EQ(functions(), std::vector<std::string>{"listUpdateText"});
  EXPECT_EQ(calls[0].text, "Work (3/40)");
  EXPECT_EQ(calls[0].name, "Work");
  // The tooltip set before is still in the record.
  EXPECT_EQ(calls[0].tooltip, "Last checked: now");
  EXPECT_EQ(calls[0].icon.bitmap, &state_bitmaps[ICON_FAILED]);

  // The host was handed the entry's own records, which it may keep and read
  // after the call until the entry is removed.
  const list_entry_record* kept = calls[0].address;
  EXPECT_EQ(kept, account(work).entry_record);
  EXPECT_STREQ(kept->text, "Work (3/40)");
  EXPECT_STREQ(kept->name, "Work");
  EXPECT_STREQ(kept->tooltip, "Last checked: now");
  EXPECT_EQ(kept->icon->bitmap, &state_bitmaps[ICON_FAILED]);
}

TEST_F(ContactList, RenameChangesAliasAndTextTogether) {
  const account_ref work = add_account({"Work", ACCOUNT_IMAP, 2, 31, "", ""});
  next_result = 6;
  add_account_entry(work);
  calls.clear();

  // Event names are compared exactly.
  on_entry_event(0, 0, "list_changename", reinterpret_cast<uintptr_t>("Wrong"), work);
  on_entry_event(0, 0, "list_changeName ", reinterpret_cast<uintptr_t>("Wrong"), work);
  on_entry_event(0, 0, "list_changeName", 0, work);
  EXPECT_TRUE(calls.empty());
  EXPECT_EQ(account(work).display, "Work");

  on_entry_event(0, 0, "list_changeName", reinterpret_cast<uintptr_t>("Office"), work);
  ASSERT_EQ(functions(), std::vector<std::string>{"listUpdateText"});
  EXPECT_EQ(calls[0].text, "Office (2/31)");
  EXPECT_EQ(calls[0].name, "Office");
  EXPECT_EQ(account(work).display, "Office");
  EXPECT_EQ(account(work).new_count, 2);
}

TEST_F(ContactList, AlertRecordsAndContext) {
  const account_ref work = add_account({"Work", ACCOUNT_IMAP, 0, 0, "", ""});
  std::string text = "Work: You have 1 message (total) in your inbox.";
  raise_mail_alert(work, text);
  text.assign(text.size(), 'x');  // the alert keeps its own copy
  ASSERT_EQ(functions(), std::vector<std::string>{"systraySetAlert"});
  const call_seen& c = calls[0];
  EXPECT_EQ(c.alert.size, static_cast<int32_t>(sizeof(alert_record)));
  EXPECT_EQ(c.alert_text, "Work: You have 1 message (total) in your inbox.");
  EXPECT_EQ(c.alert_icon, "mail");
  for (uint8_t b : c.alert.zero12) EXPECT_EQ(b, 0);
  EXPECT_EQ(c.alert.field20, 1);
  EXPECT_EQ(c.alert.callback, &on_alert_event);
  auto* context = reinterpret_cast<alert_context*>(c.alert.user_data);
  EXPECT_EQ(c.context.self, context);
  EXPECT_NE(c.context.alert, nullptr);
  EXPECT_STREQ(c.context.alert->text, "Work: You have 1 message (total) in your inbox.");
  EXPECT_EQ(c.context.account, work);
  // Freed on "alert_destroy"; a second one finds nothing to free (the
  // sanitizer builds would report a double free).
  on_alert_event(0, 0, "alert_destroy", 0, c.alert.user_data);
  on_alert_event(0, 0, "alert_destroy", 0, c.alert.user_data);
  on_alert_event(0, 0, "alert_linkClick", 0, c.alert.user_data);
}

// Arrays made with new[] and not yet deleted: an alert's text is one.
std::atomic<int> live_arrays{0};

TEST_F(ContactList, AlertsNoHostDestroyedAreFreedWithTheModule) {
  const account_ref work = add_account({"Work", ACCOUNT_IMAP, 0, 0, "", ""});
  host_call.store(nullptr);  // after "unload", with the checker still running
  const int before = live_arrays.load();
  raise_mail_alert(work, "Work: late");
  raise_mail_alert(work, "Work: later");
  EXPECT_EQ(live_arrays.load(), before + 2);
  release_module_globals();
  EXPECT_EQ(live_arrays.load(), before);
}

TEST_F(ContactList, MenuPostsFollowTheCommand) {
  const account_ref work = add_account({"Work", ACCOUNT_IMAP, 0, 0, "", ""});
  platform::thread_message m;
  while (platform::peek_thread_message(&m)) {
  }
  checker_thread_id = platform::current_thread_id();

  struct post_case {
    const char* event;
    menu_data data;
    bool posts;
    uint32_t message;
    uintptr_t wparam;
  };
  const post_case cases[] = {
      {"menu-select", {MENU_CHECK_NOW, work}, true, CHECK_ACCOUNT, work},
      {"menu-select", {MENU_CHECK_ALL, 0}, true, CHECK_ALL, 0},
      {"Menu-Select", {MENU_CHECK_ALL, 0}, false, 0, 0},
      {"menu-select ", {MENU_CHECK_NOW, work}, false, 0, 0},
      {"menu-select", {4003, work}, false, 0, 0},
      {"menu-select", {MENU_CHECK_NOW, work + 1000}, false, 0, 0},  // stale account
  };
  for (const post_case& c : cases) {
    SCOPED_TRACE(c.event + std::string(" ") + std::to_string(c.data.command));
    on_menu_event(0, 0, c.event, 0, reinterpret_cast<uintptr_t>(&c.data));
    ASSERT_EQ(platform::peek_thread_message(&m), c.posts);
    if (c.posts) {
      EXPECT_EQ(m.message, c.message);
      EXPECT_EQ(m.wparam, c.wparam);
      EXPECT_EQ(m.lparam, 0);
      EXPECT_FALSE(platform::peek_thread_message(&m));  // exactly one post
    }
  }
}

TEST_F(ContactList, PostsGiveUpWithoutACheckerThread) {
  checker_thread_id = 0;
  EXPECT_FALSE(post_to_checker(CHECK_ALL, 0));
  const menu_data all{MENU_CHECK_ALL, 0};
  on_menu_event(0, 0, "menu-select", 0, reinterpret_cast<uintptr_t>(&all));  // returns
}

TEST_F(ContactList, StateBitmapsAreTheModulePictures) {
  load_state_bitmaps();
  const char* names[] = {"no-mail", "new-mail", "checking", "failed"};
  for (int i = 0; i < STATE_BITMAP_COUNT; ++i) {
    SCOPED_TRACE(names[i]);
    EXPECT_EQ(state_rects[i].left, 0);
    EXPECT_EQ(state_rects[i].top, 0);
    EXPECT_EQ(state_rects[i].right, 16);
    EXPECT_EQ(state_rects[i].bottom, 16);
    host_bitmap picture;
    ASSERT_TRUE(inspect_bitmap(state_bitmaps[i], nullptr, &picture));
    EXPECT_EQ(picture.name, names[i]);
    EXPECT_EQ(picture.width, 16);
    EXPECT_EQ(picture.height, 16);
    // The magenta background shows in the bottom right corner of every icon.
    EXPECT_EQ(std::vector<uint8_t>(picture.rgb.end() - 3, picture.rgb.end()),
              (std::vector<uint8_t>{255, 0, 255}));
  }
  // The failed picture is the checking one with a red cross over it.
  host_bitmap checking, failed;
  ASSERT_TRUE(inspect_bitmap(state_bitmaps[ICON_CHECKING], nullptr, &checking));
  ASSERT_TRUE(inspect_bitmap(state_bitmaps[ICON_FAILED], nullptr, &failed));
  size_t red = 0;
  for (size_t i = 0; i < failed.rgb.size(); i += 3) {
    if (failed.rgb[i] >= 150 && failed.rgb[i + 1] == 0 && failed.rgb[i + 2] == 0) ++red;
  }
  EXPECT_GT(red, 20u);
  EXPECT_NE(checking.rgb, failed.rgb);

  platform::bitmap_handle page = platform::load_bitmap(this_module(), 104);
  host_bitmap picture;
  ASSERT_TRUE(inspect_bitmap(page, nullptr, &picture));
  EXPECT_EQ(picture.name, "page");
  EXPECT_EQ(picture.width, 48);
  EXPECT_EQ(picture.height, 48);
  platform::delete_bitmap(page);
  EXPECT_EQ(platform::load_bitmap(this_module(), 105), nullptr);

  free_state_bitmaps();
  for (bitmap_handle slot : state_bitmaps) EXPECT_EQ(slot, nullptr);
}

TEST_F(ContactList, BusyCursorIsRestored) {
  const platform::cursor_handle before = platform::set_cursor(nullptr);
  platform::set_cursor(before);
  begin_busy_cursor();
  EXPECT_EQ(platform::set_cursor(platform::load_wait_cursor()), platform::load_wait_cursor());
  end_busy_cursor();
  EXPECT_EQ(platform::set_cursor(before), before);
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

}  // namespace

void* operator new[](std::size_t size) {
  void* block = std::malloc(size != 0 ? size : 1);
  if (block == nullptr) throw std::bad_alloc();
  ++live_arrays;
  return block;
}
void operator delete[](void* block) noexcept {
  if (block != nullptr) --live_arrays;
  std::free(block);
}
void operator delete[](void* block, std::size_t) noexcept { operator delete[](block); }
