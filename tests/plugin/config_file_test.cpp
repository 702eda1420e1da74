// mail.ini: password scrambling, the account and option keys, bad input, the
// round trip of whole tables, and what a save keeps of a hand-written file.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>

#include "config_fixture.h"
#include "imap_config.h"
#include "ini_file.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/stat.h>
#endif

namespace {

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

std::vector<std::string> loaded_accounts() {
  std::vector<std::string> result;
  for (const imap_info& a : account_table.snapshot()) result.push_back(describe(a));
  return result;
}

TEST(PasswordScrambling, PairsEachByteWithTheNextKeyByte) {
  const struct {
    std::string password;
    std::string digits;
  } cases[] = {
      {"", ""},
      {"abc", "014050002"},              // a^o, b^P, c^a
      {"aaaaa", "014049000066042"},      // the fifth byte meets the key's first
      {"aaaaaa", "014049000066042014"},  // and the sixth its second again
      {"\xff", "144"},                   // bytes above 127 as bytes
      {std::string(1, '\0'), "111"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(scramble_password(c.password), c.digits) << c.password;
    EXPECT_EQ(unscramble_password(c.digits), c.password) << c.digits;
  }
  std::string every_byte;
  for (int b = 0; b < 256; ++b) every_byte += static_cast<char>(b);
  EXPECT_EQ(scramble_password(every_byte).size(), 768u);
  EXPECT_EQ(unscramble_password(scramble_password(every_byte)), every_byte);
}

TEST(PasswordScrambling, UnscramblingForgivesMalformedDigits) {
  const struct {
    const char* digits;
    std::string password;
  } cases[] = {
      {"0140500021", "abc"},                    // a tenth digit is ignored
      {"01405000212", "abc"},                   // and so are two
      {"01405x002", "a"},                       // a group that is no number ends the password
      {"x14050002", ""},      {"999", "\x88"},  // only the low 8 bits count: 999 & 255 = 0xE7
      {"-12", "\x9b"},                          // -12 is 0xF4 in its low 8 bits
      {"+14", "a"},           {"1 4", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(unscramble_password(c.digits), c.password) << c.digits;
}

// username, password "pw" and hostname of an account at `index`.
std::string complete(const std::string& index, const std::string& user = "u") {
  return "username(" + index + ")=" + user + "\r\npassword(" + index + ")=031039\r\nhostname(" +
         index + ")=h\r\n";
}

TEST_F(ConfigTest, AccountKeysAndTheirFallbacks) {
  const std::string plain = "0|u@h|u|pw|INBOX|0|h|||u@h|143|5|0";
  const struct {
    std::string name;
    std::string lines;
    std::vector<std::string> accounts;
  } cases[] = {
      {"the three keys suffice", complete("0"), {plain}},
      {"every key",
       "accttype(0)=1\r\naddress(0)=me@x\r\nusername(0)=me\r\npassword(0)=014050002\r\n"
       "mailbox(0)=Box\r\nunseen(0)=1\r\nhostname(0)=pop\r\nclient(0)=c.exe\r\n"
       "arguments(0)=-a=b\r\ndisplay(0)=Home\r\nport(0)=995\r\nattempt(0)=9\r\nssl(0)=1\r\n",
       {"1|me@x|me|abc|Box|1|pop|c.exe|-a=b|Home|995|9|1"}},
      {"alias falls back to the address",
       complete("0") + "address(0)=a@b\r\n",
       {"0|a@b|u|pw|INBOX|0|h|||a@b|143|5|0"}},
      {"zero port and interval, empty mailbox",
       complete("0") + "port(0)=0\r\nattempt(0)=0\r\nmailbox(0)=\r\n",
       {plain}},
      {"a POP3 account without a port gets 110",
       complete("0") + "accttype(0)=1\r\n",
       {"1|u@h|u|pw|INBOX|0|h|||u@h|110|5|0"}},
      {"flags are 1 for any number but 0",
       complete("0") + "unseen(0)=7\r\nssl(0)=-1\r\n",
       {"0|u@h|u|pw|INBOX|1|h|||u@h|143|5|1"}},
      {"key names are case-sensitive", complete("0") + "Address(0)=x@y\r\nPort(0)=7\r\n", {plain}},
      {"unknown base names are ignored", complete("0") + "colour(0)=red\r\n", {plain}},
      {"incomplete slots are dropped",
       complete("0", "a") + "username(1)=b\r\nhostname(1)=h\r\n" +
           "username(2)=c\r\npassword(2)=\r\nhostname(2)=h\r\n" + "password(3)=031039\r\n" +
           "username(4)=d\r\npassword(4)=031039\r\n",
       {"0|a@h|a|pw|INBOX|0|h|||a@h|143|5|0"}},
      {"gaps close, index order wins over file order",
       complete("7", "c") + complete("0", "a") + complete("4", "b"),
       {"0|a@h|a|pw|INBOX|0|h|||a@h|143|5|0", "0|b@h|b|pw|INBOX|0|h|||b@h|143|5|0",
        "0|c@h|c|pw|INBOX|0|h|||c@h|143|5|0"}},
      {"indices past 19 are read",
       complete("20", "a") + complete("1000", "b"),
       {"0|a@h|a|pw|INBOX|0|h|||a@h|143|5|0", "0|b@h|b|pw|INBOX|0|h|||b@h|143|5|0"}},
      {"a later line wins",
       complete("0") + "hostname(0)=h2\r\n",
       {"0|u@h2|u|pw|INBOX|0|h2|||u@h2|143|5|0"}},
      {"leading zeros in an index",
       complete("0") + "port(00)=25\r\n",
       {"0|u@h|u|pw|INBOX|0|h|||u@h|25|5|0"}},
      {"text after the closing parenthesis",
       complete("0") + "port(0)x=25\r\n",
       {"0|u@h|u|pw|INBOX|0|h|||u@h|25|5|0"}},
      {"negative numbers are kept",
       complete("0") + "port(0)=-5\r\n",
       {"0|u@h|u|pw|INBOX|0|h|||u@h|-5|5|0"}},
      {"blanks around a number",
       complete("0") + "port(0)= 25 \r\n",
       {"0|u@h|u|pw|INBOX|0|h|||u@h|25|5|0"}},
      {"blanks and quotes around texts",
       "username(0)=\"u\"\r\npassword(0)= 031039\r\nhostname(0)=h  \r\ndisplay(0)=\" D \"\r\n",
       {"0|u@h|u|pw|INBOX|0|h||| D |143|5|0"}},
      {"numbers read as far as their digits go",
       complete("0") + "unseen(0)=no\r\nssl(0)=yes\r\nattempt(0)=7 minutes\r\nport(0)=+25x\r\n",
       {"0|u@h|u|pw|INBOX|0|h|||u@h|25|7|0"}},
      {"a password cut short by a bad group still counts",
       "username(0)=u\r\npassword(0)=03103x\r\nhostname(0)=h\r\n",
       {"0|u@h|u|p|INBOX|0|h|||u@h|143|5|0"}},
  };
  for (const auto& c : cases) {
    write("[Mail]\r\n" + c.lines);
    ASSERT_TRUE(load_config()) << c.name;
    EXPECT_EQ(loaded_accounts(), c.accounts) << c.name;
  }
}

TEST_F(ConfigTest, BadLinesAreSkipped) {
  const std::string good = complete("0");
  const struct {
    std::string name;
    std::string lines;
    std::string port;  // of the one account loaded
  } cases[] = {
      {"port not a number reads as 0", "port(0)=abc\r\n", "143"},
      {"port too big reads as the largest", "port(0)=99999999999\r\n", "2147483647"},
      {"and too small as the smallest", "port(0)=-99999999999\r\n", "-2147483648"},
      {"a later line wins even when it is no number", "port(0)=25\r\nport(0)=x\r\n", "143"},
      {"index not a number", "port(x)=25\r\n", "143"},
      {"empty index", "port()=25\r\n", "143"},
      {"no closing parenthesis", "port(0=25\r\n", "143"},
      {"closing before opening", "port)0(=25\r\n", "143"},
      {"negative index", "port(-1)=25\r\nusername(-1)=v\r\n", "143"},
      {"index too big", "port(99999999999)=25\r\n", "143"},
      {"blank in the index", "port( 0)=25\r\n", "143"},
      {"very long line", "port(0)=" + std::string(1 << 20, '9') + "\r\n", "2147483647"},
  };
  for (const auto& c : cases) {
    write("[Mail]\r\n" + good + c.lines);
    ASSERT_TRUE(load_config()) << c.name;
    ASSERT_EQ(account_table.size(), 1u) << c.name;
    imap_info a;
    account_table.copy_at(0, &a);
    EXPECT_EQ(std::to_string(a.port), c.port) << c.name;
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
      {"blanks around name and value", "100000", "[Mail]\r\n  use_alert = 0 \r\n", "001111"},
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

TEST_F(ConfigTest, NotTextAtAll) {
  std::string noise;
  std::mt19937 random(7);
  for (int i = 0; i < 65536; ++i) noise += static_cast<char>(random() & 0xFF);
  write(noise + "\r\n[Mail]\r\n" + complete("0"));
  set_flags("000000");
  ASSERT_TRUE(load_config());
  EXPECT_EQ(account_table.size(), 1u);
  ASSERT_TRUE(save_config());
  // The noise is kept; only its line ends become CR LF.
  auto without_cr = [](std::string text) {
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    return text;
  };
  const std::string kept = without_cr(noise);
  EXPECT_EQ(without_cr(read()).compare(0, kept.size(), kept), 0);
}

TEST_F(ConfigTest, LoadSchedulesEveryAccount) {
  write("[Mail]\r\n" + complete("0") + "attempt(0)=2\r\n");
  ASSERT_TRUE(load_config());
  account_table.update(account_table.key_at(0), [](imap_info& a) {
    a.total_count = 17;
    a.last_checked = 99;
  });
  ASSERT_TRUE(load_config());
  imap_info a;
  ASSERT_TRUE(account_table.copy_at(0, &a));
  EXPECT_EQ(a.next_check, now() + 120);
  EXPECT_EQ(a.last_checked, 0);
  EXPECT_EQ(a.entry_id, -1);
  EXPECT_EQ(a.total_count, 17);  // counts of a record that stays are kept
}

// A mail.ini that cannot be read is neither read nor replaced.
TEST_F(ConfigTest, UnreadableFileChangesNothing) {
  std::filesystem::create_directory(path());
  append_account(imap_info());
  set_flags("101010");
  for (bool (*step)(std::string*) : {load_config, save_config}) {
    std::string error;
    EXPECT_FALSE(step(&error));
    EXPECT_NE(error.find(path()), std::string::npos) << error;
  }
  EXPECT_EQ(account_table.size(), 1u);
  EXPECT_EQ(flags(), "101010");
  EXPECT_TRUE(std::filesystem::is_directory(path()));
  std::filesystem::remove(path());
}

std::string random_text(std::mt19937& random, bool may_be_empty) {
  static const char alphabet[] = "abcXYZ019 =;[]()\"'\t#@.\\/%\x01\x7f\x80\xa9\xe9\xff";
  const size_t length = random() % 12 + (may_be_empty ? 0 : 1);
  std::string text;
  for (size_t i = 0; i < length; ++i) text += alphabet[random() % (sizeof alphabet - 1)];
  return text;
}

int32_t random_nonzero(std::mt19937& random) {
  const int32_t value = static_cast<int32_t>(random());
  return value == 0 ? 1 : value;
}

TEST_F(ConfigTest, RandomTablesSurviveASaveAndALoad) {
  for (unsigned seed = 1; seed <= 25; ++seed) {
    std::mt19937 random(seed);
    std::vector<imap_info> table(random() % 45);
    for (imap_info& a : table) {
      a.accttype = static_cast<int32_t>(random() % 2);
      a.address = random_text(random, false);
      a.username = random_text(random, false);
      a.password = random_text(random, false);
      a.mailbox = random_text(random, false);
      a.unseen = static_cast<uint8_t>(random() % 2);
      a.hostname = random_text(random, false);
      a.client = random_text(random, true);
      a.arguments = random_text(random, true);
      a.display = random_text(random, false);
      a.port = random_nonzero(random);
      a.attempt = random_nonzero(random);
      a.ssl = static_cast<uint8_t>(random() % 2);
    }
    std::string digits;
    for (int i = 0; i < 6; ++i) digits += static_cast<char>('0' + random() % 2);
    set_flags(digits.c_str());
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
  const std::string before =
      "; written by hand\r\n"
      "\r\n"
      "[Fonts]\r\n"
      "face = Tahoma\r\n"
      "\r\n"
      "[Mail]\r\n"
      "; my accounts\r\n"
      "use_alert=0\r\n" +
      complete("5") +
      "\r\n"
      "[Zeta]\r\n"
      "; last\r\n"
      "x=1";
  write(before);
  ASSERT_TRUE(load_config());
  ASSERT_TRUE(save_config());
  // The account read from index 5 is saved as the first one.
  EXPECT_EQ(read(),
            "; written by hand\r\n\r\n[Fonts]\r\nface = Tahoma\r\n\r\n[Mail]\r\n; my accounts\r\n"
            "use_alert=0\r\nuse_section=0\r\nuse_icon=1\r\nuse_sound=1\r\nuse_disable=1\r\n"
            "use_header=1\r\naccttype(0)=0\r\naddress(0)=u@h\r\nusername(0)=u\r\n"
            "password(0)=031039\r\nmailbox(0)=INBOX\r\nunseen(0)=0\r\nhostname(0)=h\r\n"
            "client(0)=\r\narguments(0)=\r\ndisplay(0)=u@h\r\nport(0)=143\r\nattempt(0)=5\r\n"
            "ssl(0)=0\r\n\r\n[Zeta]\r\n; last\r\nx=1\r\n");
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
  std::filesystem::create_directory(dir_.path() + "real");
  const std::string real = dir_.path() + "real/mail.ini";
  test_support::write_file(real, "[Other]\r\nk=v\r\n");
  ::chmod(real.c_str(), 0644);
  std::filesystem::create_symlink("real/mail.ini", dir_.path() + "middle.ini");
  std::filesystem::create_symlink(dir_.path() + "middle.ini", path());
  set_flags("111111");
  ASSERT_TRUE(save_config());
  EXPECT_TRUE(std::filesystem::is_symlink(path()));
  EXPECT_TRUE(std::filesystem::is_symlink(dir_.path() + "middle.ini"));
  EXPECT_EQ(ini_file(test_support::read_file(real)).section("Other"),
            (std::vector<ini_file::key_value>{{"k", "v"}}));
  EXPECT_EQ(ini_file(test_support::read_file(real)).section("Mail").size(), 6u);
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

}  // namespace
