// MD5 against the test suite of RFC 1321 and the APOP example of RFC 1939.
#include "md5.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct Vector {
  std::string input;
  const char* digest;
};

TEST(MD5, Rfc1321TestSuite) {
  const Vector kSuite[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (const Vector& v : kSuite) EXPECT_EQ(MD5Hex(v.input), v.digest) << v.input;
  // A view without data, which memcpy must never see.
  EXPECT_EQ(MD5Hex(std::string_view()), "d41d8cd98f00b204e9800998ecf8427e");
}

TEST(MD5, PaddingBoundaries) {
  // Lengths where the length field just fits, just does not, and a block is
  // exactly full; digests from Python's hashlib.
  const Vector kBoundaries[] = {
      {std::string(55, 'a'), "ef1772b6dff9a122358552954ad0df65"},
      {std::string(56, 'a'), "3b0c8ac703f828b04c6c197006d17218"},
      {std::string(63, 'a'), "b06521f39153d618550606be297466d5"},
      {std::string(64, 'a'), "014842d480b571495a4a0363793f7367"},
      {std::string(65, 'a'), "c743a45e0d2e6a95cb859adae0248435"},
      {std::string(1000000, 'a'), "7707d6ae4e027c70eea2a935c2296f21"},
  };
  for (const Vector& v : kBoundaries) EXPECT_EQ(MD5Hex(v.input), v.digest) << v.input.size();
}

TEST(MD5, ApopExampleOfRfc1939) {
  EXPECT_EQ(MD5Hex("<1896.697170952@dbc.mtview.ca.us>tanstaaf"),
            "c4c9334bac560ecc979e58001b3e22fb");
}

TEST(MD5, BytesAboveSeven) {
  EXPECT_EQ(MD5Hex(std::string("\xff\x00\x80", 3)), "60cdccd4000580a3c394b8ad6ea9b899");
}

}  // namespace
