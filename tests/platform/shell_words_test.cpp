// How the POSIX back end turns an argument text into a program's words.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/posix/window_system.h"

namespace {

using words = std::vector<std::string>;

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
}

TEST(ShellWords, UnfinishedTextIsRefused) {
  for (const char* text : {"'open", "\"open", "a 'b", "trailing\\", "\"esc\\\""}) {
    SCOPED_TRACE(text);
    words out;
    EXPECT_FALSE(platform::posix::split_words(text, &out));
  }
}

}  // namespace
