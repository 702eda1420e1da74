// MD5 against the test suite of RFC 1321, the APOP example of RFC 1939, bytes
// above 0x7F, and lengths where the length field just fits, just does not,
// and a block is exactly full (digests from Python's hashlib).
#include "md5.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <utility>

namespace {

TEST(MD5, KnownDigests) {
  const std::pair<std::string, const char*> kVectors[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
      {"<1896.697170952@dbc.mtview.ca.us>tanstaaf", "c4c9334bac560ecc979e58001b3e22fb"},
      {std::string("\xff\x00\x80", 3), "60cdccd4000580a3c394b8ad6ea9b899"},
      {std::string(55, 'a'), "ef1772b6dff9a122358552954ad0df65"},
      {std::string(56, 'a'), "3b0c8ac703f828b04c6c197006d17218"},
      {std::string(63, 'a'), "b06521f39153d618550606be297466d5"},
      {std::string(64, 'a'), "014842d480b571495a4a0363793f7367"},
      {std::string(65, 'a'), "c743a45e0d2e6a95cb859adae0248435"},
      {std::string(1000000, 'a'), "7707d6ae4e027c70eea2a935c2296f21"},
  };
  for (const auto& [input, digest] : kVectors) {
    EXPECT_EQ(MD5Hex(input), digest) << input.substr(0, 80) << " (" << input.size() << " bytes)";
  }
  // A view without data, which memcpy must never see.
  EXPECT_EQ(MD5Hex(std::string_view()), "d41d8cd98f00b204e9800998ecf8427e");
}

}  // namespace
