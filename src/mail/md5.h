// The MD5 message digest (RFC 1321), for the APOP login of RFC 1939. Not for
// anything that needs a secure hash.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

using TMD5Digest = std::array<uint8_t, 16>;

// The digest of the bytes.
TMD5Digest MD5Digest(std::string_view data);

// The digest written as 32 lower-case hexadecimal digits.
std::string MD5Hex(std::string_view data);
