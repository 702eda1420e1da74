// The private-profile file: reading a section and replacing it while the
// rest of the file stays as it was.
#include "ini_file.h"

#include <gtest/gtest.h>

namespace {

typedef std::vector<ini_file::key_value> keys;

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
    EXPECT_EQ(ini_file(c.text).section("Mail"), c.expected) << c.text;
  }
}

TEST(IniFile, LongLinesAndBinaryBytesAreReadWhole) {
  const std::string long_value(100000, 'v');
  EXPECT_EQ(ini_file("[Mail]\r\nx=" + long_value + "\r\n").section("Mail"),
            (keys{{"x", long_value}}));

  std::string binary;
  for (int i = 0; i < 4096; ++i) binary += static_cast<char>((i * 37) & 0xFF);
  ini_file file(binary);
  file.replace_section("Mail", {{"a", "1"}});
  EXPECT_EQ(ini_file(file.text()).section("Mail"), (keys{{"a", "1"}}));
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
  };
  for (const auto& c : cases) {
    ini_file file(c.before);
    file.replace_section("Mail", {{"n", "v"}});
    EXPECT_EQ(file.text(), c.after) << c.name;
  }
}

TEST(IniFile, LineBreaksInValuesCannotStartNewLines) {
  ini_file file;
  file.replace_section("Mail", {{"display(0)", "a\r\nport(0)=1\n[Other]"}, {"b", "\nx\r"}});
  EXPECT_EQ(file.section("Mail"), (keys{{"display(0)", "a  port(0)=1 [Other]"}, {"b", " x "}}));
  EXPECT_EQ(file.section("Other"), keys{});
}

TEST(IniFile, WrittenValuesReadBackAsGiven) {
  const keys values = {{"a", ""},       {"b", " lead"}, {"c", "trail\t"}, {"d", "\"q\""},
                       {"e", "\""},     {"f", "\"\""},  {"g", "\" x \""}, {"h", "in side"},
                       {"i", "\"half"}, {"j", "x\"\"y"}};
  ini_file file;
  file.replace_section("Mail", values);
  EXPECT_EQ(ini_file(file.text()).section("Mail"), values) << file.text();
}

TEST(IniFile, EmptyReplacementLeavesTheHeader) {
  ini_file file("[Mail]\r\na=1\r\n[Other]\r\nk=1\r\n");
  file.replace_section("Mail", {});
  EXPECT_EQ(file.text(), "[Mail]\r\n[Other]\r\nk=1\r\n");
}

}  // namespace
