// mail.ini and the ini file under it: password scrambling, the account and
// option keys, bad input, whole tables through a save and a load, what a save
// keeps of a hand-written file, and saves that fail at any step.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <random>

#include "imap_config.h"
#include "ini_file.h"
#include "plugin_fixture.h"
#include "test_support.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/stat.h>
#endif
#if defined(__linux__)
#include <signal.h>
#include <sys/resource.h>
#endif

namespace {

namespace fs = std::filesystem;
typedef std::vector<std::pair<std::string, std::string>> keys;

// Every case once as a whole and once a byte at a time: a file is read in
// pieces, and a line, its CR LF or the byte-order mark may be cut anywhere.
const size_t PIECES[] = {std::string_view::npos, 1};

void feed(ini_file::line_cutter& lines, std::string_view text, size_t piece) {
  for (size_t at = 0; at < text.size(); at += piece) lines.feed(text.substr(at, piece));
  lines.finish();
}

keys section(std::string_view text, const std::string& name, size_t piece = PIECES[0]) {
  keys found;
  ini_file::section_reader reader(name, [&found](std::string_view key, std::string_view value) {
    found.emplace_back(key, value);
  });
  feed(reader, text, piece);
  return found;
}

std::string replaced(std::string_view text, const keys& values, size_t piece = PIECES[0]) {
  std::string result;
  ini_file::text_out out([&result](const std::string& part) { result += part; });
  ini_file::section_writer writer(
      "Mail",
      [&values](ini_file::key_writer& writer) {
        for (const auto& [key, value] : values) writer.add(key, value);
      },
      out);
  feed(writer, text, piece);
  return result;
}

TEST(IniFile, ReadsTheLinesOfOneSection) {
  const struct {
    const char* text;
    keys expected;
  } cases[] = {
      {"", {}},
      {"[Mail]\r\na=1\r\nb=2\r\n", {{"a", "1"}, {"b", "2"}}},
      {"[Mail]\na=1\nb=2", {{"a", "1"}, {"b", "2"}}},  // LF alone, no final line end
      {"[mail]\r\na=1\r\n", {{"a", "1"}}},             // section name in any case
      {"  [ Mail ]  \r\na=1\r\n", {{"a", "1"}}},
      {"a=0\r\n[Other]\r\na=1\r\n[Mail]\r\na=2\r\n[Next]\r\na=3\r\n", {{"a", "2"}}},
      {"[Mail]\r\nx=a=b\r\n", {{"x", "a=b"}}},  // only the first "=" splits
      {"[Mail]\r\nx=\r\n", {{"x", ""}}},
      // Blanks and one pair of enclosing quotes go, as the Windows reader has it.
      {"[Mail]\r\nx= two  \r\n", {{"x", "two"}}},
      {"[Mail]\r\n  x = two \r\n", {{"x", "two"}}},
      {"[Mail]\r\nx=\t046\t\r\n", {{"x", "046"}}},
      {"[Mail]\r\nx=\"quoted\"\r\n", {{"x", "quoted"}}},
      {"[Mail]\r\nx= \" in quotes \" \r\n", {{"x", " in quotes "}}},
      {"[Mail]\r\nx=\"\"two\"\"\r\n", {{"x", "\"two\""}}},
      {"[Mail]\r\nx=\"\r\n", {{"x", "\""}}},
      {"[Mail]\r\nx=\"open\r\ny=a\"b\"\r\n", {{"x", "\"open"}, {"y", "a\"b\""}}},
      {"[Mail]\r\n; a=1\r\n\r\nno equals sign\r\n=nameless\r\nb=2\r\n", {{"b", "2"}}},
      {"[Mail]\r\na=1\r\n[Other]\r\nb=2\r\n[MAIL]\r\nc=3\r\n", {{"a", "1"}, {"c", "3"}}},
      {"\xEF\xBB\xBF[Mail]\r\na=1\r\n", {{"a", "1"}}},
      {"[Mail]\r\na=1\r\r\n", {{"a", "1\r"}}},
      {"[Mail\r\na=1\r\n", {{"a", "1"}}},  // header without "]"
  };
  for (const auto& c : cases) {
    for (size_t piece : PIECES) EXPECT_EQ(section(c.text, "Mail", piece), c.expected) << c.text;
  }
}

TEST(IniFile, ReplacingASectionKeepsEverythingElse) {
  const struct {
    const char* name;
    const char* before;
    const char* after;
  } cases[] = {
      {"empty file", "", "[Mail]\r\nn=v\r\n"},
      {"appended after other sections", "; top\r\n[Other]\r\nk=1\r\n",
       "; top\r\n[Other]\r\nk=1\r\n[Mail]\r\nn=v\r\n"},
      {"in place, comments and blank lines kept",
       "; top\r\n\r\n[Mail]\r\n; about mail\r\nold=1\r\n; "
       "between\r\nold2=2\r\n\r\n[Other]\r\nk=1\r\n",
       "; top\r\n\r\n[Mail]\r\n; about mail\r\nn=v\r\n; between\r\n\r\n[Other]\r\nk=1\r\n"},
      {"header kept as written", "[MAIL]\r\nold=1\r\n", "[MAIL]\r\nn=v\r\n"},
      {"section without keys", "[Mail]\r\n; c\r\n[Other]\r\n",
       "[Mail]\r\nn=v\r\n; c\r\n[Other]\r\n"},
      {"header on the last line", "[Other]\r\n[Mail]", "[Other]\r\n[Mail]\r\nn=v\r\n"},
      {"repeated section merged into the first",
       "[Mail]\r\na=1\r\n[Other]\r\nk=1\r\n[Mail]\r\nb=2\r\n; c\r\n",
       "[Mail]\r\nn=v\r\n[Other]\r\nk=1\r\n; c\r\n"},
      {"empty first, keys in the repeat", "[Mail]\r\n[Other]\r\nk=1\r\n[Mail]\r\nb=2\r\n",
       "[Mail]\r\nn=v\r\n[Other]\r\nk=1\r\n"},
      {"LF line ends become CR LF", "[Other]\nk=1\n[Mail]\nold=1\n",
       "[Other]\r\nk=1\r\n[Mail]\r\nn=v\r\n"},
      {"byte-order mark kept", "\xEF\xBB\xBF[Mail]\r\nold=1\r\n", "\xEF\xBB\xBF[Mail]\r\nn=v\r\n"},
      {"byte-order mark alone", "\xEF\xBB\xBF", "\xEF\xBB\xBF[Mail]\r\nn=v\r\n"},
  };
  for (const auto& c : cases) {
    for (size_t piece : PIECES)
      EXPECT_EQ(replaced(c.before, {{"n", "v"}}, piece), c.after) << c.name;
  }
  EXPECT_EQ(replaced("[Mail]\r\na=1\r\n[Other]\r\nk=1\r\n", {}), "[Mail]\r\n[Other]\r\nk=1\r\n");
}

// Quotes and blanks are kept by quoting; a line break cannot start a line.
TEST(IniFile, WrittenValuesReadBackAsGivenOnOneLine) {
  const keys values = {{"a", ""},       {"b", " lead"}, {"c", "trail\t"}, {"d", "\"q\""},
                       {"e", "\""},     {"f", "\"\""},  {"g", "\" x \""}, {"h", "in side"},
                       {"i", "\"half"}, {"j", "x\"\"y"}};
  const std::string text = replaced("", values);
  EXPECT_EQ(section(text, "Mail"), values) << text;
  const std::string broken =
      replaced("", {{"display(0)", "a\r\nport(0)=1\n[Other]"}, {"b", "\nx\r"}});
  EXPECT_EQ(section(broken, "Mail"), (keys{{"display(0)", "a  port(0)=1 [Other]"}, {"b", " x "}}));
  EXPECT_EQ(section(broken, "Other"), keys{});
}

TEST(PasswordScrambling, PairsEachByteWithTheNextKeyByteAndForgivesBadDigits) {
  const struct {
    std::string password;
    std::string digits;
    bool both_ways;  // false: what unscrambling makes of malformed digits
  } cases[] = {
      {"", "", true},
      {"abc", "014050002", true},              // a^o, b^P, c^a
      {"aaaaa", "014049000066042", true},      // the fifth byte meets the key's first
      {"aaaaaa", "014049000066042014", true},  // and the sixth its second again
      {"\xff", "144", true},                   // bytes above 127 as bytes
      {std::string(1, '\0'), "111", true},
      {"abc", "0140500021", false},   // a tenth digit is ignored
      {"abc", "01405000212", false},  // and so are two
      {"a", "01405x002", false},      // a group that is no number ends the password
      {"", "x14050002", false},
      {"\x88", "999", false},  // only the low 8 bits count: 999 & 255 = 0xE7
      {"\x9b", "-12", false},  // -12 is 0xF4 in its low 8 bits
      {"a", "+14", false},
      {"", "1 4", false},
  };
  for (const auto& c : cases) {
    if (c.both_ways) {
      EXPECT_EQ(scramble_password(c.password), c.digits) << c.password;
    }
    EXPECT_EQ(unscramble_password(c.digits), c.password) << c.digits;
  }
  std::string every_byte;
  for (int b = 0; b < 256; ++b) every_byte += static_cast<char>(b);
  EXPECT_EQ(unscramble_password(scramble_password(every_byte)), every_byte);
}

std::atomic<uint8_t>* const kOptions[] = {&use_alert, &use_section, &use_icon,
                                          &use_sound, &use_disable, &use_header};

// The plug-in loaded from a scratch folder with an empty table and every
// option off.
class ConfigTest : public plugin_test::PluginTest {
 protected:
  void SetUp() override {
    PluginTest::SetUp();
    set_flags("000000");
  }

  std::string path() const { return dir_.path() + "mail.ini"; }
  void write(const std::string& text) { test_support::write_file(path(), text); }
  std::string read() const { return test_support::read_file(path()); }

  // The six flags as digits, in file order.
  static void set_flags(const std::string& digits) {
    for (size_t i = 0; i < 6; ++i) kOptions[i]->store(static_cast<uint8_t>(digits[i] - '0'));
  }
  static std::string flags() {
    std::string digits;
    for (auto* option : kOptions) digits += static_cast<char>('0' + option->load());
    return digits;
  }
};

// The settings joined by "|", in the order of the file, the password in
// plain.
std::string describe(const imap_info& a) {
  std::string text;
  for (const account_setting& setting : ACCOUNT_SETTINGS) {
    if (&setting != &ACCOUNT_SETTINGS.front()) text += '|';
    text += setting.text_of(a);
  }
  return text;
}

// username, password "pw" and hostname of an account at `index`.
std::string complete(const std::string& index, const std::string& user = "u") {
  return "username(" + index + ")=" + user + "\r\npassword(" + index + ")=031039\r\nhostname(" +
         index + ")=h\r\n";
}

// An account of complete() as describe() shows it.
std::string row(const std::string& user = "u", const std::string& port = "143") {
  return "0|" + user + "@h|" + user + "|pw|INBOX|0|h|||" + user + "@h|" + port + "|5|0";
}

TEST_F(ConfigTest, AccountKeysTheirFallbacksAndBadLines) {
  const std::string u = complete("0");
  const struct {
    std::string name;
    std::string lines;
    std::vector<std::string> accounts;
  } cases[] = {
      {"the three keys suffice", u, {row()}},
      {"every key",
       "accttype(0)=1\r\naddress(0)=me@x\r\nusername(0)=me\r\npassword(0)=014050002\r\n"
       "mailbox(0)=Box\r\nunseen(0)=1\r\nhostname(0)=pop\r\nclient(0)=c.exe\r\n"
       "arguments(0)=-a=b\r\ndisplay(0)=Home\r\nport(0)=995\r\nattempt(0)=9\r\nssl(0)=1\r\n",
       {"1|me@x|me|abc|Box|1|pop|c.exe|-a=b|Home|995|9|1"}},
      {"alias falls back to the address",
       u + "address(0)=a@b\r\n",
       {"0|a@b|u|pw|INBOX|0|h|||a@b|143|5|0"}},
      {"zero port and interval, empty mailbox",
       u + "port(0)=0\r\nattempt(0)=0\r\nmailbox(0)=\r\n",
       {row()}},
      {"a POP3 account without a port gets 110",
       u + "accttype(0)=1\r\n",
       {"1|u@h|u|pw|INBOX|0|h|||u@h|110|5|0"}},
      {"flags are 1 for any number but 0",
       u + "unseen(0)=7\r\nssl(0)=-1\r\n",
       {"0|u@h|u|pw|INBOX|1|h|||u@h|143|5|1"}},
      {"key names are case-sensitive", u + "Address(0)=x@y\r\nPort(0)=7\r\n", {row()}},
      {"unknown base names are ignored", u + "colour(0)=red\r\n", {row()}},
      {"incomplete slots are dropped",
       complete("0", "a") + "username(1)=b\r\nhostname(1)=h\r\n" +
           "username(2)=c\r\npassword(2)=\r\nhostname(2)=h\r\n" + "password(3)=031039\r\n" +
           "username(4)=d\r\npassword(4)=031039\r\n",
       {row("a")}},
      {"gaps close, index order wins over file order",
       complete("7", "c") + complete("0", "a") + complete("4", "b"),
       {row("a"), row("b"), row("c")}},
      {"lines of one account standing apart are one account, later lines winning",
       "username(1)=b\r\nport(1)=25\r\nhostname(1)=x\r\n" + complete("0", "a") +
           "password(1)=031039\r\nhostname(1)=h\r\n",
       {row("a"), row("b", "25")}},
      {"indices past 19 are read",
       complete("20", "a") + complete("1000", "b"),
       {row("a"), row("b")}},
      {"a later line wins", u + "hostname(0)=h2\r\n", {"0|u@h2|u|pw|INBOX|0|h2|||u@h2|143|5|0"}},
      {"leading zeros in an index", u + "port(00)=25\r\n", {row("u", "25")}},
      {"text after the closing parenthesis", u + "port(0)x=25\r\n", {row("u", "25")}},
      {"negative numbers are kept", u + "port(0)=-5\r\n", {row("u", "-5")}},
      {"numbers read as far as their digits go",
       u + "unseen(0)=no\r\nssl(0)=yes\r\nattempt(0)=7 minutes\r\nport(0)=+25x\r\n",
       {"0|u@h|u|pw|INBOX|0|h|||u@h|25|7|0"}},
      {"a password cut short by a bad group still counts",
       "username(0)=u\r\npassword(0)=03103x\r\nhostname(0)=h\r\n",
       {"0|u@h|u|p|INBOX|0|h|||u@h|143|5|0"}},
      {"port not a number reads as 0", u + "port(0)=abc\r\n", {row()}},
      {"port too big reads as the largest",
       u + "port(0)=99999999999\r\n",
       {row("u", "2147483647")}},
      {"and too small as the smallest", u + "port(0)=-99999999999\r\n", {row("u", "-2147483648")}},
      {"a later line wins even when it is no number", u + "port(0)=25\r\nport(0)=x\r\n", {row()}},
      {"index not a number", u + "port(x)=25\r\n", {row()}},
      {"empty index", u + "port()=25\r\n", {row()}},
      {"no closing parenthesis", u + "port(0=25\r\n", {row()}},
      {"closing before opening", u + "port)0(=25\r\n", {row()}},
      {"negative index", u + "port(-1)=25\r\nusername(-1)=v\r\n", {row()}},
      {"index too big", u + "port(99999999999)=25\r\n", {row()}},
      {"blank in the index", u + "port( 0)=25\r\n", {row()}},
      {"a very long line is read whole",
       u + "display(0)=" + std::string(1 << 20, 'v') + "\r\n",
       {"0|u@h|u|pw|INBOX|0|h|||" + std::string(1 << 20, 'v') + "|143|5|0"}},
  };
  for (const auto& c : cases) {
    write("[Mail]\r\n" + c.lines);
    ASSERT_TRUE(load_config()) << c.name;
    std::vector<std::string> loaded;
    for (const imap_info& a : account_table.snapshot()) {
      loaded.push_back(describe(a));
      // The load schedules every account from the current time.
      EXPECT_EQ(a.next_check, now() + 60 * a.attempt) << c.name;
    }
    EXPECT_EQ(loaded, c.accounts) << c.name;
  }
}

TEST_F(ConfigTest, OptionLineRules) {
  const struct {
    const char* name;
    const char* before;
    std::string text;
    const char* after;
  } cases[] = {
      {"use_alert alone", "110000", "[Mail]\r\nuse_alert=0\r\n", "011111"},
      {"account lines only", "101010", "[Mail]\r\n" + complete("0"), "101010"},
      {"no section", "101010", "[Other]\r\nuse_alert=0\r\n", "101010"},
      {"no file", "101010", "", "101010"},
      {"all six", "010101",
       "[Mail]\r\nuse_alert=1\r\nuse_section=0\r\nuse_icon=0\r\nuse_sound=1\r\n"
       "use_disable=0\r\nuse_header=0\r\n",
       "100100"},
      {"one of the four", "000000", "[Mail]\r\nuse_icon=0\r\n", "000111"},
      {"another case keeps the flag as it was", "001000", "[Mail]\r\nUse_Icon=0\r\n", "001111"},
      {"and still counts as present", "000000", "[Mail]\r\nUse_Icon=1\r\nUSE_HEADER=1\r\n",
       "000110"},
      {"another case does not set use_alert", "000000", "[Mail]\r\nUSE_ALERT=1\r\n", "001111"},
      {"any number but 0 is on", "000000", "[Mail]\r\nuse_alert=5\r\nuse_section=-1\r\n", "111111"},
      {"an unknown option line counts", "000000", "[Mail]\r\nfoo=bar\r\n", "001111"},
      {"a value that is no number is 0", "100000", "[Mail]\r\nuse_alert=yes\r\n", "001111"},
      {"and is present, not missing", "000000", "[Mail]\r\nuse_sound=no\r\n", "001011"},
      {"leading digits count", "000000", "[Mail]\r\nuse_sound=0 (off)\r\n", "001011"},
      {"a huge value is on", "000000", "[Mail]\r\nuse_sound=4294967296\r\nuse_icon=0\r\n",
       "000111"},
  };
  for (const auto& c : cases) {
    set_flags(c.before);
    if (c.text.empty()) {
      platform::default_env()->delete_file(path());
    } else {
      write(c.text);
    }
    ASSERT_TRUE(load_config()) << c.name;
    EXPECT_EQ(flags(), c.after) << c.name;
  }
}

// A mail.ini that cannot be read is neither read nor replaced.
TEST_F(ConfigTest, UnreadableFileChangesNothing) {
  fs::create_directory(path());
  append_account(imap_info());
  set_flags("101010");
  for (bool (*step)(std::string*) : {load_config, save_config}) {
    std::string error;
    EXPECT_FALSE(step(&error));
    EXPECT_NE(error.find(path()), std::string::npos) << error;
  }
  EXPECT_EQ(account_table.size(), 1u);
  EXPECT_EQ(flags(), "101010");
  EXPECT_TRUE(fs::is_directory(path()));
  fs::remove(path());
}

TEST_F(ConfigTest, RandomTablesSurviveASaveAndALoad) {
  for (unsigned seed = 1; seed <= 25; ++seed) {
    std::mt19937 random(seed);
    auto text = [&random](size_t shortest) {
      static const char alphabet[] = "abcXYZ019 =;[]()\"'\t#@.\\/%\x01\x7f\x80\xa9\xe9\xff";
      std::string out(random() % 12 + shortest, ' ');
      for (char& c : out) c = alphabet[random() % (sizeof alphabet - 1)];
      return out;
    };
    auto nonzero = [&random] {
      const auto value = static_cast<int32_t>(random());
      return value == 0 ? 1 : value;
    };
    // The last table takes more than the pieces a file is read and written
    // in.
    std::vector<imap_info> table(seed == 25 ? 1500 : random() % 45);
    for (imap_info& a : table) {
      for (const account_setting& setting : ACCOUNT_SETTINGS) {
        // Empty or 0 only where a load keeps it so.
        const bool may_be_empty = !setting.required && setting.fallback == nullptr;
        if (setting.kind == account_setting::TEXT || setting.kind == account_setting::PASSWORD) {
          setting.set_text(a, text(may_be_empty ? 0 : 1));
        } else {
          setting.set_number(a, may_be_empty ? static_cast<int32_t>(random()) : nonzero());
        }
      }
    }
    std::string digits;
    for (int i = 0; i < 6; ++i) digits += static_cast<char>('0' + random() % 2);
    set_flags(digits);
    account_table.reload(table, 0);

    ASSERT_TRUE(save_config()) << seed;
    account_table.reload({}, 0);
    set_flags("000000");
    ASSERT_TRUE(load_config()) << seed;

    EXPECT_EQ(flags(), digits) << seed;
    const std::vector<imap_info> loaded = account_table.snapshot();
    ASSERT_EQ(loaded.size(), table.size()) << seed;
    for (size_t i = 0; i < table.size(); ++i) {
      EXPECT_EQ(describe(loaded[i]), describe(table[i])) << seed << " account " << i;
    }
  }
}

TEST_F(ConfigTest, SaveKeepsWhatWasWrittenByHand) {
  // A line longer than the pieces a file is read in.
  const std::string list = "list=" + std::string(150000, 'x');
  write(
      "; written by hand\r\n\r\n[Fonts]\r\nface = Tahoma\r\n\r\n[Mail]\r\n; my accounts\r\n"
      "use_alert=0\r\n" +
      complete("5") + "\r\n[Zeta]\r\n; last\r\n" + list);
  ASSERT_TRUE(load_config());
  ASSERT_TRUE(save_config());
  // The account read from index 5 is saved as the first one.
  EXPECT_EQ(read(),
            "; written by hand\r\n\r\n[Fonts]\r\nface = Tahoma\r\n\r\n[Mail]\r\n; my accounts\r\n"
            "use_alert=0\r\nuse_section=0\r\nuse_icon=1\r\nuse_sound=1\r\nuse_disable=1\r\n"
            "use_header=1\r\naccttype(0)=0\r\naddress(0)=u@h\r\nusername(0)=u\r\n"
            "password(0)=031039\r\nmailbox(0)=INBOX\r\nunseen(0)=0\r\nhostname(0)=h\r\n"
            "client(0)=\r\narguments(0)=\r\ndisplay(0)=u@h\r\nport(0)=143\r\nattempt(0)=5\r\n"
            "ssl(0)=0\r\n\r\n[Zeta]\r\n; last\r\n" +
                list + "\r\n");
}

// The save replaces the file in one step but keeps what the user set on it.
TEST_F(ConfigTest, SaveKeepsWhatTheUserSetOnTheFile) {
  // A stale temporary file goes with the next save.
  test_support::write_file(path() + ".tmp", "left by a crash");
  ASSERT_TRUE(save_config());
  EXPECT_FALSE(test_support::file_exists(path() + ".tmp"));
#if defined(_WIN32)
  ASSERT_TRUE(SetFileAttributesA(path().c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE));
  ASSERT_TRUE(save_config());
  EXPECT_EQ(GetFileAttributesA(path().c_str()) & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE),
            static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE));
#else
  struct stat info {};
  ASSERT_EQ(::stat(path().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);  // a new file
  for (mode_t mode : {0644, 0640, 0664}) {
    ::chmod(path().c_str(), mode);
    ASSERT_TRUE(save_config());
    ASSERT_EQ(::stat(path().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, mode);
  }

  // A link stays a link (also a relative one, through another link), and
  // the file it names gets the text.
  platform::default_env()->delete_file(path());
  fs::create_directory(dir_.path() + "real");
  const std::string real = dir_.path() + "real/mail.ini";
  test_support::write_file(real, "[Other]\r\nk=v\r\n");
  ::chmod(real.c_str(), 0644);
  fs::create_symlink("real/mail.ini", dir_.path() + "middle.ini");
  fs::create_symlink(dir_.path() + "middle.ini", path());
  set_flags("111111");
  ASSERT_TRUE(save_config());
  EXPECT_TRUE(fs::is_symlink(path()));
  EXPECT_TRUE(fs::is_symlink(dir_.path() + "middle.ini"));
  const std::string saved = test_support::read_file(real);
  EXPECT_EQ(section(saved, "Other"), (keys{{"k", "v"}}));
  EXPECT_EQ(section(saved, "Mail").size(), 6u);
  ASSERT_EQ(::stat(real.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0644u);
  EXPECT_FALSE(test_support::file_exists(real + ".tmp"));
#endif
}

TEST_F(ConfigTest, InitialLoadTurnsEverythingOnOnlyWithoutAFile) {
  set_flags("010000");
  plugin_main("initialLoad", nullptr);
  EXPECT_EQ(flags(), "111111");
  EXPECT_FALSE(test_support::file_exists(path()));  // nothing written

  write("");
  set_flags("010000");
  plugin_main("initialLoad", nullptr);
  EXPECT_EQ(flags(), "010000");
}

// A save that fails at any step leaves the previous mail.ini byte for byte,
// leaves no temporary file behind, and says which file it could not write.
enum class fail_at { nothing, open, append, sync, close, rename };

bool fail(std::string* error, const char* why) {
  *error = why;
  return false;
}

// Passes a file through to the real one but fails at the chosen step; a
// failing append writes half of its data first.
class failing_file : public platform::WritableFile {
 public:
  failing_file(std::unique_ptr<platform::WritableFile> real, fail_at step)
      : real_(std::move(real)), step_(step) {}
  bool append(const std::string& data, std::string* error) override {
    if (step_ != fail_at::append) return real_->append(data, error);
    real_->append(data.substr(0, data.size() / 2), error);
    return fail(error, "No space left on device");
  }
  bool sync(std::string* error) override {
    return step_ == fail_at::sync ? fail(error, "I/O error") : real_->sync(error);
  }
  bool close(std::string* error) override {
    const bool closed = real_->close(error);
    return step_ == fail_at::close ? fail(error, "I/O error") : closed;
  }

 private:
  std::unique_ptr<platform::WritableFile> real_;
  fail_at step_;
};

class failing_env : public platform::EnvWrapper {
 public:
  explicit failing_env(platform::Env* target) : EnvWrapper(target) {}
  std::unique_ptr<platform::WritableFile> new_writable_file(const std::string& path,
                                                            std::string* error) override {
    if (step == fail_at::open) {
      fail(error, "Permission denied");
      return nullptr;
    }
    std::unique_ptr<platform::WritableFile> real = target()->new_writable_file(path, error);
    if (real == nullptr) return nullptr;
    return std::unique_ptr<platform::WritableFile>(new failing_file(std::move(real), step));
  }
  bool rename_file(const std::string& from, const std::string& to, std::string* error) override {
    return step == fail_at::rename ? fail(error, "Access is denied")
                                   : target()->rename_file(from, to, error);
  }
  fail_at step = fail_at::nothing;
};

class SaveFailureTest : public ConfigTest {
 protected:
  void SetUp() override {
    ConfigTest::SetUp();
    platform::set_env(&failing_);
    for (int i = 0; i < 30; ++i) plugin_test::add_account({});
    write(old_);
  }

  void TearDown() override {
    platform::set_env(failing_.target());
    ConfigTest::TearDown();
  }

  failing_env failing_{&env_};
  const std::string old_ = "; old\r\n[Mail]\r\nuse_alert=1\r\n[Other]\r\nk=v\r\n";
};

// Injected failures at each step, and what is on disk: the temporary file
// cannot be made, the file is read-only, or it is no file this plug-in can
// read (UTF-16).
TEST_F(SaveFailureTest, EveryStepAndEveryFileThatCannotBeReplaced) {
  const fs::perms writable =
      fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
  const std::string utf16("\xFF\xFE[\0M\0a\0i\0l\0]\0\r\0\n\0", 16);
  const std::string utf16_big_endian("\xFE\xFF\0[\0M\0a\0i\0l\0]\0\r\0\n", 16);
  const std::string tmp = path() + ".tmp";
  const struct {
    const char* name;
    fail_at step;
    std::function<void()> make, undo;
    std::string kept;
  } cases[] = {
      {"open", fail_at::open, {}, {}, old_},
      {"append", fail_at::append, {}, {}, old_},
      {"sync", fail_at::sync, {}, {}, old_},
      {"close", fail_at::close, {}, {}, old_},
      {"rename", fail_at::rename, {}, {}, old_},
      {"directory in the temporary file's place", fail_at::nothing,
       [&tmp] { fs::create_directory(tmp); }, [&tmp] { fs::remove(tmp); }, old_},
      {"read-only", fail_at::nothing,
       [&] {
         test_support::write_file(tmp, "left by a crash");
         fs::permissions(path(), writable, fs::perm_options::remove);
       },
       [this] { fs::permissions(path(), fs::perms::owner_write, fs::perm_options::add); }, old_},
      {"UTF-16", fail_at::nothing, [&] { write(utf16); }, {}, utf16},
      {"UTF-16, big-endian",
       fail_at::nothing,
       [&] { write(utf16_big_endian); },
       {},
       utf16_big_endian},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    write(old_);
    failing_.step = c.step;
    if (c.make) c.make();
    std::string error;
    EXPECT_FALSE(save_config(&error));
    EXPECT_NE(error.find(path()), std::string::npos) << error;
    EXPECT_EQ(read(), c.kept);
    if (c.undo) c.undo();
    EXPECT_FALSE(test_support::file_exists(tmp));
  }
  // A UTF-16 file is not read either.
  std::string error;
  EXPECT_FALSE(load_config(&error));
  EXPECT_NE(error.find(path()), std::string::npos) << error;
  // Nothing failing: the save goes through the same wrappers.
  write(old_);
  failing_.step = fail_at::nothing;
  EXPECT_TRUE(save_config());
  EXPECT_NE(read(), old_);
}

#if defined(__linux__)
TEST_F(SaveFailureTest, RealWriteFailsPartWay) {
  // The file-size limit makes the system refuse the write after 64 bytes.
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  void (*previous)(int) = signal(SIGXFSZ, SIG_IGN);
  rlimit small = saved;
  small.rlim_cur = 64;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  std::string error;
  const bool saved_ok = save_config(&error);
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, previous);
  EXPECT_FALSE(saved_ok);
  EXPECT_NE(error.find(path()), std::string::npos) << error;
  EXPECT_EQ(read(), old_);
  EXPECT_FALSE(test_support::file_exists(path() + ".tmp"));
}
#endif

}  // namespace
