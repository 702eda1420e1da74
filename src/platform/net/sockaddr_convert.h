// Conversions between the socket layer's types and the system's, the same on
// both back ends. Include after the system's socket headers.
#pragma once

#include <cstring>
#include <string>
#include <vector>

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

// What the resolver answers for no host name, not passive, and a decimal
// port: the loopback address of each family asked for, IPv6 first. Asking
// the resolver costs a dozen system calls, as it looks at every local
// address to sort two fixed ones. False for a service name, which only the
// resolver knows.
inline bool LoopbackAddresses(const std::string& service, Family family,
                              std::vector<Address>* out) {
  if (service.empty() || service.size() > 5 ||
      service.find_first_not_of("0123456789") != std::string::npos) {
    return false;
  }
  const unsigned long port = std::stoul(service);
  if (port > 65535) return false;
  out->clear();
  if (family != Family::kIPv4) {
    sockaddr_in6 v6{};
    v6.sin6_family = AF_INET6;
    v6.sin6_port = htons(static_cast<uint16_t>(port));
    v6.sin6_addr.s6_addr[15] = 1;  // ::1
    out->emplace_back();
    FromSockaddr(reinterpret_cast<const sockaddr*>(&v6), sizeof v6, &out->back());
  }
  if (family != Family::kIPv6) {
    sockaddr_in v4{};
    v4.sin_family = AF_INET;
    v4.sin_port = htons(static_cast<uint16_t>(port));
    v4.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    out->emplace_back();
    FromSockaddr(reinterpret_cast<const sockaddr*>(&v4), sizeof v4, &out->back());
  }
  return true;
}

}  // namespace platform::net
