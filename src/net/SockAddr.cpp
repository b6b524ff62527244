#include "net/SockAddr.h"

#include <arpa/inet.h>

#include <cstring>

#include "platform/WinSock.h"

namespace ovlar {

namespace {

// The text inside brackets, or the text itself.
std::string Unbracketed(const std::string& text) {
  if (text.size() >= 2 && text.front() == '[' && text.back() == ']') return text.substr(1, text.size() - 2);
  return text;
}

bool ParseV6(const std::string& text, in6_addr& address) {
  const std::string inner = Unbracketed(text);
  return inner.find(':') != std::string::npos && inet_pton(AF_INET6, inner.c_str(), &address) == 1;
}

}  // namespace

bool IsIPv6Text(const std::string& text) {
  in6_addr address{};
  return ParseV6(text, address);
}

TSockAddr TSockAddr::V4(uint32_t address, uint16_t port) {
  TSockAddr a;
  auto* v4 = reinterpret_cast<sockaddr_in*>(&a.raw_);
  v4->sin_family = AF_INET;
  v4->sin_addr.s_addr = address;
  v4->sin_port = htons(port);
  a.length_ = sizeof(sockaddr_in);
  return a;
}

TSockAddr TSockAddr::V6(const in6_addr& address, uint16_t port) {
  if (IN6_IS_ADDR_V4MAPPED(&address)) {
    uint32_t v4 = 0;
    std::memcpy(&v4, &address.s6_addr[12], sizeof v4);
    return V4(v4, port);
  }
  TSockAddr a;
  auto* v6 = reinterpret_cast<sockaddr_in6*>(&a.raw_);
  v6->sin6_family = AF_INET6;
  v6->sin6_addr = address;
  v6->sin6_port = htons(port);
  a.length_ = sizeof(sockaddr_in6);
  return a;
}

std::optional<TSockAddr> TSockAddr::From(const sockaddr_storage& raw, socklen_t length) {
  if (raw.ss_family == AF_INET && length >= static_cast<socklen_t>(sizeof(sockaddr_in))) {
    const auto& v4 = reinterpret_cast<const sockaddr_in&>(raw);
    return V4(v4.sin_addr.s_addr, ntohs(v4.sin_port));
  }
  if (raw.ss_family == AF_INET6 && length >= static_cast<socklen_t>(sizeof(sockaddr_in6))) {
    const auto& v6 = reinterpret_cast<const sockaddr_in6&>(raw);
    return V6(v6.sin6_addr, ntohs(v6.sin6_port));
  }
  return std::nullopt;
}

std::optional<TSockAddr> TSockAddr::Parse(const std::string& text, uint16_t port) {
  in6_addr v6{};
  if (ParseV6(text, v6)) return V6(v6, port);
  // inet_addr's own failure value is also the broadcast address.
  const uint32_t v4 = wsock::InetAddr(text);
  if (v4 != INADDR_NONE || text == "255.255.255.255") return V4(v4, port);
  return std::nullopt;
}

uint16_t TSockAddr::Port() const {
  if (Family() == AF_INET) return ntohs(reinterpret_cast<const sockaddr_in&>(raw_).sin_port);
  if (Family() == AF_INET6) return ntohs(reinterpret_cast<const sockaddr_in6&>(raw_).sin6_port);
  return 0;
}

void TSockAddr::SetPort(uint16_t port) {
  if (Family() == AF_INET) reinterpret_cast<sockaddr_in&>(raw_).sin_port = htons(port);
  if (Family() == AF_INET6) reinterpret_cast<sockaddr_in6&>(raw_).sin6_port = htons(port);
}

std::string TSockAddr::HostText() const {
  if (Family() == AF_INET) return wsock::InetNtoa(reinterpret_cast<const sockaddr_in&>(raw_).sin_addr.s_addr);
  if (Family() != AF_INET6) return "";
  char text[INET6_ADDRSTRLEN];
  const auto& v6 = reinterpret_cast<const sockaddr_in6&>(raw_);
  return inet_ntop(AF_INET6, &v6.sin6_addr, text, sizeof text) ? text : "";
}

std::string TSockAddr::Text() const {
  const std::string host = HostText();
  return (Family() == AF_INET6 ? "[" + host + "]" : host) + ":" + std::to_string(Port());
}

TSockAddr TSockAddr::For(int family) const {
  if (family != AF_INET6 || Family() != AF_INET) return *this;
  in6_addr mapped{};
  mapped.s6_addr[10] = 0xFF;
  mapped.s6_addr[11] = 0xFF;
  std::memcpy(&mapped.s6_addr[12], &reinterpret_cast<const sockaddr_in&>(raw_).sin_addr.s_addr, 4);
  // V6 would turn it back into IPv4: build it here.
  TSockAddr a;
  auto* v6 = reinterpret_cast<sockaddr_in6*>(&a.raw_);
  v6->sin6_family = AF_INET6;
  v6->sin6_addr = mapped;
  v6->sin6_port = htons(Port());
  a.length_ = sizeof(sockaddr_in6);
  return a;
}

bool TSockAddr::SameHost(const TSockAddr& other) const {
  if (Family() != other.Family()) return false;
  if (Family() == AF_INET) {
    return reinterpret_cast<const sockaddr_in&>(raw_).sin_addr.s_addr ==
           reinterpret_cast<const sockaddr_in&>(other.raw_).sin_addr.s_addr;
  }
  if (Family() == AF_INET6) {
    return std::memcmp(&reinterpret_cast<const sockaddr_in6&>(raw_).sin6_addr,
                       &reinterpret_cast<const sockaddr_in6&>(other.raw_).sin6_addr, sizeof(in6_addr)) == 0;
  }
  return length_ == other.length_;
}

}  // namespace ovlar
