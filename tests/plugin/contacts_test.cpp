// The contact list, the tray alerts and the entry menus against the
// substitute host: its log shows every record as the host read it, its model
// what the messenger would show. The race is meant for the tsan preset.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bitmaps.h"
#include "platform/platform.h"
#include "plugin_fixture.h"

namespace {

using plugin_test::account;
using plugin_test::add_account;
using spec = plugin_test::account_spec;  // display, type, new, total, client, arguments
using lines = std::vector<std::string>;

// What the host answers to "listAddEntry" for an entry, when a test wants
// an entry refused (0 or -1) instead of the host's own id.
host_call_fn substitute = nullptr;
int32_t add_result = 1;
int32_t EMAIL_CALL refusing_host(const char* id, const char* function, void* record) {
  const int32_t result = substitute(id, function, record);
  const bool entry = std::strcmp(function, "listAddEntry") == 0 &&
                     static_cast<list_entry_record*>(record)->is_entry != 0;
  return entry ? add_result : result;
}

class ContactList : public plugin_test::PluginTest {
 protected:
  void SetUp() override {
    PluginTest::SetUp();
    take_checker_posts();
  }

  // The requests posted to the checker since the previous call.
  static std::string posted() {
    std::string out;
    for (const auto& m : posts()) {
      out += std::to_string(m.message) + " " + std::to_string(m.wparam) + " " +
             std::to_string(m.lparam) + "\n";
    }
    return out;
  }

  // The launch lines of a log.
  static lines launches(const std::string& log) {
    lines out;
    std::istringstream in(log);
    for (std::string line; std::getline(in, line);) {
      if (line.rfind("launch ", 0) == 0) out.push_back(line);
    }
    return out;
  }

  // The entries and groups the plug-in sets up for these accounts.
  void list(const std::vector<plugin_test::account_spec>& specs) {
    for (const auto& spec : specs) keys_.push_back(add_account(spec));
    add_mail_group();
    add_account_entries();
  }

  // Each entry as the host shows it: name, text, icon, tooltip and group.
  std::string shown() {
    std::string out;
    for (const auto& e : host_.entries()) {
      out += e.name + "|" + e.text + "|" + e.icon_name + "|" + e.tooltip + "|" +
             std::to_string(e.group) + "\n";
    }
    return out;
  }

  std::vector<account_ref> keys_;
};

// The records' bytes as the initialisers fill them: on 32-bit builds at the
// host's offsets, on 64-bit builds where the widened layout puts the fields.
constexpr bool kHost32 = sizeof(void*) == 4;

struct field {
  size_t offset32;  // the host's offset
  size_t offset;    // this build's offset
  int32_t value;
};

// Every byte outside the listed 32-bit fields must be zero.
template <typename T>
void expect_bytes(const T& record, size_t size32, const std::vector<field>& fields) {
  if (kHost32) {
    EXPECT_EQ(sizeof(T), size32);
  }
  std::vector<bool> covered(sizeof(T), false);
  for (const field& f : fields) {
    if (kHost32) {
      EXPECT_EQ(f.offset, f.offset32) << "field at host offset " << f.offset32;
    }
    int32_t actual;
    std::memcpy(&actual, reinterpret_cast<const char*>(&record) + f.offset, 4);
    EXPECT_EQ(actual, f.value) << "field at host offset " << f.offset32;
    for (size_t i = 0; i < 4; ++i) covered[f.offset + i] = true;
  }
  const auto* bytes = reinterpret_cast<const unsigned char*>(&record);
  for (size_t i = 0; i < sizeof(T); ++i) {
    if (!covered[i]) {
      EXPECT_EQ(bytes[i], 0) << "byte " << i;
    }
  }
}

#define AT(type, member) offsetof(type, member)

// The initialisers must overwrite everything: records start out as 0xAB.
template <typename T>
const T& fresh() {
  static T r;  // by reference: a copy need not keep the padding
  std::memset(static_cast<void*>(&r), 0xAB, sizeof r);
  init_record(&r);
  return r;
}

TEST(Records, FreshRecordsHoldOnlyTheirSizesAndPresets) {
  const size_t sub = AT(list_entry_record, sub);
  const size_t m1 = sub + AT(list_entry_sub_record, minus_one);
  std::vector<field> fields = {{0, 0, static_cast<int32_t>(sizeof(list_entry_record))},
                               {20, sub, 64},
                               {24, sub + 4, 1},
                               {84, AT(list_entry_record, group_id), -1},
                               {88, AT(list_entry_record, field88), -1},
                               {92, AT(list_entry_record, field92), -1},
                               {96, AT(list_entry_record, entry_id), -1},
                               {116, AT(list_entry_record, field116), 1}};
  for (size_t i = 0; i < 6; ++i) fields.push_back({60 + 4 * i, m1 + 4 * i, -1});
  expect_bytes(fresh<list_entry_record>(), 184, fields);

  expect_bytes(fresh<list_icon_record>(), 48,
               {{0, 0, static_cast<int32_t>(sizeof(list_icon_record))}});
  expect_bytes(fresh<menu_item_record>(), 60,
               {{0, 0, static_cast<int32_t>(sizeof(menu_item_record))}});
  expect_bytes(fresh<prefs_page_record>(), 16,
               {{0, 0, static_cast<int32_t>(sizeof(prefs_page_record))}});
  expect_bytes(fresh<dialog_record>(), 8, {{0, 0, static_cast<int32_t>(sizeof(dialog_record))}});

  fields = {{0, 0, 64}, {4, 4, 1}};
  for (size_t i = 0; i < 6; ++i) fields.push_back({40 + 4 * i, 40 + 4 * i, -1});
  expect_bytes(fresh<list_entry_sub_record>(), 64, fields);
}

const std::string kEntrySize = "size=" + std::to_string(sizeof(list_entry_record));

TEST(EntryText, ByAccountType) {
  const std::pair<spec, const char*> cases[] = {
      {{"Work", ACCOUNT_IMAP, 2, 31}, "Work (2/31)"},
      {{"Home", ACCOUNT_POP3, 1, 0}, "Home (1)"},
      {{"Home", ACCOUNT_POP3, 0, 31}, "Home (0)"},
      {{"Broken", ACCOUNT_IMAP, -1, -5}, "Broken (-1/-5)"},
      {{"", ACCOUNT_IMAP}, " (0/0)"},
      {{"Other", 2, 3, 4}, ""},
      {{"Other", -1, 3, 4}, ""}};
  for (const auto& [c, expected] : cases) {
    imap_info a;
    a.accttype = c.accttype;
    a.display = c.display;
    a.new_count = c.new_count;
    a.total_count = c.total_count;
    EXPECT_EQ(entry_text(a), expected) << c.display;
  }
}

// The group and the entries as the host reads them, in table order with the
// first icon by the new count, and their removal: the group stays while the
// host still counts entries in it.
TEST_F(ContactList, GroupAndEntriesComeAndGo) {
  list({{"Work", ACCOUNT_IMAP, 2, 31},
        {"Home", ACCOUNT_POP3, 0, 7},
        {"Broken", ACCOUNT_IMAP, -1, 0}});
  const account_ref work = keys_[0];
  const std::string k = std::to_string(work);
  const std::string item = "{size=" + std::to_string(sizeof(menu_item_record)) + " f4=-1 f12=0 ";
  ASSERT_EQ(host_.groups().size(), 1u);
  const int32_t group = host_.groups()[0].id;
  EXPECT_EQ(group, mail_group_id);
  for (const std::string& line : {
           "host listAddEntry " + kEntrySize +
               " is_entry=0 group_id=-1 f88=-1 f92=-2 entry_id=-1 f100=0 f104=1 f108=1 f112=0 "
               "f116=1 f120=1 text=\"My Mail Accounts\" tooltip=\"This group holds all of your "
               "mail accounts.\" name=null group_name=\"mail\" user_data=0 callback=0",
           "host listAddEntry " + kEntrySize + " is_entry=1 group_id=" + std::to_string(group) +
               " f88=-1 f92=-1 entry_id=-1 f100=0 f104=0 f108=1 f112=1 f116=1 f120=0 "
               "text=\"Work (2/31)\" tooltip=null name=\"Work\" group_name=null user_data=" +
               k + " callback=set icon={size=" + std::to_string(sizeof(list_icon_record)) +
               " f4=1 bitmap=new-mail rect=(0,0,16,16) f28=0} menu=[" + item +
               "label=\"Check for mail now!\" callback=set command=4000 account=" + k + "}, " +
               item + "label=\"Launch E-mail client\" callback=set command=4002 account=" + k +
               "}, " + item +
               "label=\"Check all for mail now!\" callback=set command=4001 account=0}]",
       }) {
    EXPECT_NE(log_.text().find(line), std::string::npos) << line << "\n" << log_.text();
  }
  const std::string g = std::to_string(group);
  EXPECT_EQ(shown(), "Work|Work (2/31)|new-mail||" + g + "\nHome|Home (0)|no-mail||" + g +
                         "\nBroken|Broken (-1/0)|none||" + g + "\n");
  EXPECT_EQ(account(work).entry_id, host_.entries()[0].id);
  ASSERT_NE(account(work).entry_record, nullptr);
  EXPECT_EQ(account(work).entry_record->entry_id, host_.entries()[0].id);

  // An account added again keeps one entry: the first goes.
  add_account_entry(work);
  EXPECT_EQ(host_.entries().size(), 3u);
  const int32_t id = account(work).entry_id;

  const std::string removed = during([work] {
    remove_account_entry(work);
    remove_account_entry(work);  // no entry any more: no call
  });
  EXPECT_EQ(std::count(removed.begin(), removed.end(), '\n'), 1) << removed;
  EXPECT_NE(removed.find(" is_entry=1 group_id=-1 f88=-1 f92=-1 entry_id=" + std::to_string(id)),
            std::string::npos)
      << removed;
  EXPECT_EQ(account(work).entry_id, -1);
  EXPECT_EQ(account(work).entry_record, nullptr);
  remove_account_entry(keys_[1]);
  remove_mail_group();  // one entry left in it
  EXPECT_EQ(mail_group_id, group);
  EXPECT_EQ(host_.groups().size(), 1u);
  remove_account_entries();
  EXPECT_TRUE(host_.entries().empty());
  const std::string gone = during([] { remove_mail_group(); });
  EXPECT_EQ(mail_group_id, -1);
  EXPECT_TRUE(host_.groups().empty());
  EXPECT_NE(gone.find("host listRemoveEntry " + kEntrySize + " is_entry=0 group_id=" +
                      std::to_string(group) + " f88=-1 f92=-1 entry_id=-1"),
            std::string::npos)
      << gone;
}

// An entry the host refused (id 0 or -1), an entry taken down, and a key
// that names no account: updates reach no host, and only accepted entries
// are removed (removing a refused one would send group -1 with entry -1,
// which names the group).
TEST_F(ContactList, UpdatesNeedAnEntryWithAPositiveId) {
  substitute = host_call.load();
  host_call.store(refusing_host);
  const account_ref none = add_account(spec{"None"});
  const account_ref zero = add_account(spec{"Zero"});
  const account_ref gone = add_account(spec{"Gone"});
  const account_ref refused = add_account(spec{"Refused"});
  add_result = 0;
  add_account_entry(zero);
  add_result = 9;
  add_account_entry(gone);
  remove_account_entry(gone);
  add_result = -1;
  add_account_entry(refused);
  EXPECT_EQ(account(refused).entry_id, -1);
  EXPECT_EQ(account(refused).entry_record, nullptr);
  const std::string updates = during([&] {
    for (account_ref key : {none, zero, gone, refused, account_ref{0}, account_ref{12345}}) {
      update_entry_icon(key, ICON_CHECKING);
      update_entry_tooltip(key, "tip");
      update_entry_text(key, "text");
    }
  });
  EXPECT_EQ(updates, "");
  const std::string removed = during([] { remove_account_entries(); });
  EXPECT_EQ(std::count(removed.begin(), removed.end(), '\n'), 1) << removed;
  EXPECT_NE(removed.find("user_data=" + std::to_string(zero)), std::string::npos) << removed;
  host_call.store(substitute);
}

// Event names are compared exactly; the alias and the text change together.
TEST_F(ContactList, UpdatesAndRenameReachTheHostInTheEntrysOwnRecords) {
  list({{"Work", ACCOUNT_IMAP, 2, 31}});
  const account_ref work = keys_[0];
  const char* names[] = {"no-mail", "new-mail", "checking", "failed"};
  for (int icon : {ICON_NO_MAIL, ICON_NEW_MAIL, ICON_CHECKING, ICON_FAILED}) {
    const std::string log = during([&] { update_entry_icon(work, icon); });
    EXPECT_NE(log.find(std::string("bitmap=") + names[icon] + " rect=(0,0,16,16)"),
              std::string::npos)
        << log;
    EXPECT_EQ(host_.entries()[0].icon_name, names[icon]);
  }
  EXPECT_EQ(during([&] {
              update_entry_icon(work, STATE_BITMAP_COUNT);
              update_entry_icon(work, -1);
            }),
            "");
  update_entry_tooltip(work, "Login failed");
  update_entry_text(work, "Work (1/4)");
  const int32_t id = host_.entries()[0].id;
  EXPECT_EQ(shown(), "Work|Work (1/4)|failed|Login failed|" + std::to_string(mail_group_id) + "\n");

  // The host may keep the records it was handed and read them after the
  // call until the entry is removed.
  const list_entry_record* kept = account(work).entry_record;
  EXPECT_EQ(std::string(kept->name) + "|" + kept->text + "|" + kept->tooltip,
            "Work|Work (1/4)|Login failed");
  EXPECT_EQ(kept->icon->bitmap, &state_bitmaps[ICON_FAILED]);

  const std::string picture = run("icon " + std::to_string(id));
  EXPECT_NE(picture.find("failed 16x16"), std::string::npos) << picture;
  EXPECT_EQ(std::count(picture.begin(), picture.end(), '\n'), 17);

  EXPECT_EQ(during([work] {
              for (const char* event : {"list_changename", "list_changeName ", "list_changeNam"}) {
                on_entry_event(0, 0, event, reinterpret_cast<uintptr_t>("Wrong"), work);
              }
              on_entry_event(0, 0, "list_changeName", 0, work);
            }),
            "");
  run("rename 1 Office Mail");
  EXPECT_EQ(account(work).display, "Office Mail");
  EXPECT_EQ(account(work).new_count, 2);
  EXPECT_EQ(shown(), "Office Mail|Office Mail (2/31)|failed|Login failed|" +
                         std::to_string(mail_group_id) + "\n");
}

// "Check for mail now!" posts the account, "Check all for mail now!" no
// account whichever entry it is on, "Launch E-mail client" starts the
// account's program with its arguments split into words.
TEST_F(ContactList, MenuItemsPostOrLaunch) {
  list({{"Work", ACCOUNT_IMAP, 0, 0, "mailer", "-n  \"a b\""},
        {"Home", ACCOUNT_POP3, 0, 0, "", "--ignored"}});
  const account_ref work = keys_[0];
  const std::string all = std::to_string(CHECK_ALL) + " 0 0\n";
  const std::pair<const char*, std::string> cases[] = {
      {"menu 1 1", std::to_string(CHECK_ACCOUNT) + " " + std::to_string(work) + " 0\n"},
      {"menu 1 3\nmenu 2 3", all + all},
      {"menu 1 1 Menu-Select\nmenu 1 3 menu-select2", ""}};
  for (const auto& [script, expected] : cases) {
    run(script);
    EXPECT_EQ(posted(), expected) << script;
  }
  const menu_data unknown{4003, work};
  on_menu_event(0, 0, "menu-select", 0, reinterpret_cast<uintptr_t>(&unknown));
  EXPECT_TRUE(posts().empty());

  checker_thread_id = 0;  // no checker: the post gives up
  EXPECT_FALSE(post_to_checker(CHECK_ALL, 0));
  run("menu 1 3");

#if !defined(_WIN32)  // Windows opens programs through its shell, unseen
  // Home has no e-mail program: its menu item, a double-click on it, and
  // clicks that are not the double-click or the alert's click start nothing.
  ASSERT_EQ(run("launches record").find("cannot be recorded"), std::string::npos);
  const std::string launched =
      "launch file=\"mailer\" arguments=\"-n  \\\"a b\\\"\" words=[\"-n\", \"a b\"]";
  std::string log = run("menu 1 2\nmenu 2 2\nclick 1\nclick 2\nclick 1 list_leftdoubleclick");
  EXPECT_EQ(launches(log), (lines{launched, launched})) << log;

  raise_mail_alert(keys_[0], "Work: new mail");
  raise_mail_alert(keys_[1], "Home: new mail");
  log =
      run("alert-click 1\nalert-click 2\nalert-click 1 alert_linkclick\nalert-dismiss 1\n"
          "alert-dismiss 2");
  EXPECT_EQ(launches(log), lines{launched}) << log;
#endif
}

// Arrays made with new[] and not yet deleted: an alert's text is one.
std::atomic<int> live_arrays{0};

TEST_F(ContactList, AlertsLiveUntilDismissedOrTheModuleGoes) {
  const account_ref work = add_account(spec{"Work"});
  std::string text = "Work: You have 0 messages (total) in your inbox.";
  const std::string log = during([&] { raise_mail_alert(work, text); });
  text.assign(text.size(), 'x');  // the alert keeps its own copy
  raise_mail_alert(work, "second");
  EXPECT_NE(log.find("host systraySetAlert size=" + std::to_string(sizeof(alert_record)) +
                     " text=\"Work: You have 0 messages (total) in your inbox.\" icon=\"mail\" "
                     "bytes12to19=0 f20=1 callback=set context={self=itself alert=this "
                     "account=" +
                     std::to_string(work) + "}"),
            std::string::npos)
      << log;
  const auto alerts = host_.alerts();
  ASSERT_EQ(alerts.size(), 2u);
  const auto* context = reinterpret_cast<const alert_context*>(alerts[0].user_data);
  EXPECT_STREQ(context->alert->text, "Work: You have 0 messages (total) in your inbox.");

  // Freed on "alert_destroy"; the sanitizer builds see a double free.
  run("alert-dismiss 1");
  on_alert_event(0, 0, "alert_destroy", 0, alerts[0].user_data);
  ASSERT_EQ(host_.alerts().size(), 1u);
  EXPECT_EQ(host_.alerts()[0].text, "second");
  EXPECT_NE(run("alert-click 1").find("error: no alert 1"), std::string::npos);
  run("alert-dismiss 2");
  EXPECT_TRUE(host_.alerts().empty());

  // Alerts no host destroyed (raised after "unload", with the checker still
  // running) are freed with the module.
  substitute = host_call.exchange(nullptr);
  const int before = live_arrays.load();
  raise_mail_alert(work, "Work: late");
  raise_mail_alert(work, "Work: later");
  EXPECT_EQ(live_arrays.load(), before + 2);
  release_module_globals();
  EXPECT_EQ(live_arrays.load(), before);
  host_call.store(substitute);
}

TEST_F(ContactList, RemovedAccountsAreNotReachedThroughOldReferences) {
  list({{"Work", ACCOUNT_IMAP, 1, 1, "mailer"}, {"Home", ACCOUNT_POP3, 0, 0, "mailer"}});
  const account_ref work = keys_[0];
  raise_mail_alert(work, "Work: new mail");
  run("launches record");
  // The table moves the records behind the first one; keys stay.
  delete_account(0);
  ASSERT_EQ(account_table.index_of(work), -1);

  const std::string log = run("click 1\nmenu 1 1\nmenu 1 2\nalert-click 1\nrename 1 Ghost");
  EXPECT_TRUE(launches(log).empty()) << log;
  EXPECT_TRUE(posts().empty());
  update_entry_text(work, "never shown");
  EXPECT_EQ(host_.entries()[0].text, "Work (1/1)");

  // The remaining account still answers through its own entry, and is
  // removed with the rest, the orphan included.
  run("menu 2 1");
  EXPECT_EQ(posted(), std::to_string(CHECK_ACCOUNT) + " " + std::to_string(keys_[1]) + " 0\n");
  remove_account_entries();
  EXPECT_TRUE(host_.entries().empty());
  run("alert-dismiss 1");
}

// The state pictures' names and size show in the entries' icons; here the
// page's picture, a resource that is not there, the release and the cursor.
TEST_F(ContactList, BitmapsComeFromTheModuleAndTheBusyCursorIsRestored) {
  platform::bitmap_handle page = platform::load_bitmap(this_module(), 104);
  host_bitmap picture;
  ASSERT_TRUE(inspect_bitmap(page, nullptr, &picture));
  EXPECT_EQ(
      picture.name + " " + std::to_string(picture.width) + "x" + std::to_string(picture.height),
      "page 48x48");
  platform::delete_bitmap(page);
  EXPECT_EQ(platform::load_bitmap(this_module(), 105), nullptr);

  free_state_bitmaps();
  for (bitmap_handle slot : state_bitmaps) EXPECT_EQ(slot, nullptr);

  const platform::cursor_handle before = platform::set_cursor(nullptr);
  platform::set_cursor(before);
  begin_busy_cursor();
  EXPECT_EQ(platform::set_cursor(platform::load_wait_cursor()), platform::load_wait_cursor());
  end_busy_cursor();
  EXPECT_EQ(platform::set_cursor(before), before);
}

// Updates from a checker-like thread race against the user-interface thread
// adding, renaming, updating and removing the same entries while the host
// reads the entries' own records; under ThreadSanitizer no thread may change
// a record the host is reading or touch one being removed or freed.
TEST_F(ContactList, UpdatesRaceAgainstRemoval) {
  list({{"A", ACCOUNT_IMAP, 1, 2}, {"B", ACCOUNT_IMAP, 1, 2}, {"C", ACCOUNT_IMAP, 1, 2}});
  std::atomic<bool> done{false};
  std::atomic<int> checker_rounds{0};
  std::thread checker([&] {
    for (int round = 0; !done.load(); ++round) {
      for (account_ref key : keys_) {
        update_entry_icon(key, round % STATE_BITMAP_COUNT);
        update_entry_tooltip(key, "round " + std::to_string(round));
        update_entry_text(key, "text " + std::to_string(round));
      }
      ++checker_rounds;
    }
  });
  // Enough rounds for both threads to have been at it together for a while.
  for (int round = 0; round < 300 || checker_rounds.load() < 1000; ++round) {
    const account_ref key = keys_[static_cast<size_t>(round) % keys_.size()];
    remove_account_entry(key);
    const std::string name = "Name" + std::to_string(round);
    on_entry_event(0, 0, "list_changeName", reinterpret_cast<uintptr_t>(name.c_str()), key);
    add_account_entry(key);
    // Renamed again while the checker updates the same entry.
    on_entry_event(0, 0, "list_changeName", reinterpret_cast<uintptr_t>(name.c_str()), key);
    update_entry_tooltip(key, name);
    if (round % 50 == 0) {
      remove_account_entries();
      add_account_entries();
    }
  }
  done = true;
  checker.join();
  EXPECT_EQ(host_.entries().size(), keys_.size());
  for (account_ref key : keys_) {
    EXPECT_GT(account(key).entry_id, 0);
    EXPECT_NE(account(key).entry_record, nullptr);
  }
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
