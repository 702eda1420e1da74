// Conversions between the socket layer's types and the system's, the same on
// both back ends. Include after the system's socket headers.
#pragma once

#include <cstring>

#include "platform/net/sockets.h"

namespace platform::net {

inline int ToFamily(Family f) {
  switch (f) {
    case Family::kIPv4:
      return AF_INET;
    case Family::kIPv6:
      return AF_INET6;
    case Family::kAny:
      break;
  }
  return AF_UNSPEC;
}

// Copies a system address into `out`; 10014 (bad address) when it does not
// fit.
inline int FromSockaddr(const sockaddr* sa, size_t len, Address* out) {
  if (len > out->storage.size()) return 10014;
  out->family = sa->sa_family == AF_INET6 ? Family::kIPv6 : Family::kIPv4;
  out->length = static_cast<int>(len);
  std::memcpy(out->storage.data(), sa, len);
  return 0;
}

}  // namespace platform::net
