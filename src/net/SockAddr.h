// TSockAddr: one UDP or TCP endpoint, IPv4 or IPv6, as the system's calls
// take it, with the text a log line shows ("192.0.2.1:93",
// "[2001:db8::1]:93"). An IPv4 address that reaches an IPv6 socket in its
// mapped form (::ffff:a.b.c.d) is kept as the IPv4 address it is, so one
// sender is one endpoint whichever socket heard it. A value type.
#pragma once
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdint>
#include <optional>
#include <string>

namespace ovlar {

class TSockAddr {
 public:
  TSockAddr() = default;
  // Network order.
  static TSockAddr V4(uint32_t address, uint16_t port);
  static TSockAddr V6(const in6_addr& address, uint16_t port);
  // What a receive call filled in; nothing for a family other than the two.
  static std::optional<TSockAddr> From(const sockaddr_storage& raw, socklen_t length);
  // An IPv4 address as the platform's parser takes it ("127.1" too), or an
  // IPv6 address, plainly or in brackets ("::1", "[::1]"); nothing else.
  static std::optional<TSockAddr> Parse(const std::string& text, uint16_t port = 0);

  bool Valid() const { return length_ != 0; }
  int Family() const { return raw_.ss_family; }
  uint16_t Port() const;  // host order
  void SetPort(uint16_t port);
  // The address alone: dotted, or IPv6 without brackets.
  std::string HostText() const;
  // Address and port: "a.b.c.d:p", "[v6]:p".
  std::string Text() const;
  // The form a socket of `family` sends to: an IPv4 address mapped for an
  // IPv6 socket, else as it is.
  TSockAddr For(int family) const;
  bool SameHost(const TSockAddr& other) const;
  bool operator==(const TSockAddr& other) const { return SameHost(other) && Port() == other.Port(); }
  bool operator!=(const TSockAddr& other) const { return !(*this == other); }

  const sockaddr* Raw() const { return reinterpret_cast<const sockaddr*>(&raw_); }
  socklen_t Length() const { return length_; }

 private:
  sockaddr_storage raw_{};
  socklen_t length_ = 0;
};

// Whether the text is an IPv6 address, plainly or in brackets.
bool IsIPv6Text(const std::string& text);

}  // namespace ovlar
