#include "net/WSocketResolve.h"

#include <netdb.h>

#include <map>
#include <utility>

#include "platform/AsyncResolver.h"
#include "platform/WinSock.h"

namespace ovlar {

namespace {

// Leading blanks, then decimal digits up to the first other character.
int DecimalPrefix(const std::string& text) {
  size_t i = text.find_first_not_of(' ');
  int64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > INT32_MAX) value = INT32_MAX;
  }
  return static_cast<int>(value);
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Systems without /etc/protocols still know these.
int WellKnownProto(const std::string& name) {
  static const std::map<std::string, int> known = {{"ip", 0}, {"icmp", 1}, {"tcp", 6}, {"udp", 17}};
  auto it = known.find(name);
  return it == known.end() ? -1 : it->second;
}

}  // namespace

std::string TrimBlanks(const std::string& text) {
  const size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

std::string Format(const char* pattern, const std::string& text, int number) {
  std::string out;
  bool textUsed = false;
  for (const char* p = pattern; *p; ++p) {
    if (p[0] == '%' && p[1] == 's' && !textUsed) {
      out += text;
      textUsed = true;
      ++p;
    } else if (p[0] == '%' && p[1] == 'd') {
      out += std::to_string(number);
      ++p;
    } else {
      out += *p;
    }
  }
  return out;
}

bool WSocketIsDottedIP(const std::string& text) {
  size_t i = text.find_first_not_of(' ');
  if (i == std::string::npos || text[i] == '.') return false;
  int dots = 0;
  int group = 0;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (IsDigit(c)) {
      group = group * 10 + (c - '0');
      if (group > 255) return false;
    } else if (c == '.') {
      if (++dots > 3 || i + 1 == text.size() || !IsDigit(text[i + 1])) return false;
      group = 0;
    } else if (c == ' ') {
      if (text.find_first_not_of(' ', i) != std::string::npos) return false;
      break;
    } else {
      return false;
    }
  }
  return dots == 3 && group <= 255;
}

uint32_t WSocketResolveHost(const std::string& text) {
  if (text.empty() || text.size() > 256) {
    throw ESocketException("WSocketResolveHost: '" + text + "' Invalid Hostname.");
  }
  const std::string name = TrimBlanks(text);
  if (WSocketIsDottedIP(text)) {
    const uint32_t addr = wsock::InetAddr(name);
    if (addr != INADDR_NONE || name == "255.255.255.255") return addr;
    throw ESocketException("WSocketResolveHost: '" + text + "' Invalid IP address.");
  }
  const LookupResult result = AsyncResolver::LookupHost(name);
  if (result.error != 0) {
    throw ESocketException(Format("WSocketResolveHost: Cannot convert host address '%s', Error #%d", text,
                                  result.error));
  }
  return result.addresses.front();
}

uint16_t WSocketResolvePort(const std::string& port, const std::string& proto) {
  if (port.empty() || port.size() >= 32) throw ESocketException("WSocketResolvePort: Invalid Port.");
  if (IsDigit(port[0])) return static_cast<uint16_t>(DecimalPrefix(port));
  // Loop thread only, like every socket call.
  static std::map<std::pair<std::string, std::string>, LookupResult> cache;
  const auto key = std::make_pair(TrimBlanks(port), TrimBlanks(proto));
  auto it = cache.find(key);
  if (it == cache.end()) it = cache.emplace(key, AsyncResolver::LookupService(key.first, key.second)).first;
  if (it->second.error != 0) {
    throw ESocketException(Format("WSocketResolvePort: Cannot convert port '%s', Error #%d", port, it->second.error));
  }
  return it->second.port;
}

int WSocketResolveProto(const std::string& proto) {
  if (proto.empty() || proto.size() >= 32) throw ESocketException("WSocketResolveProto: Invalid Protocol.");
  const std::string name = TrimBlanks(proto);
  if (!name.empty() && IsDigit(name[0])) return DecimalPrefix(name);
  static std::map<std::string, int> cache;
  auto it = cache.find(name);
  if (it == cache.end()) {
    protoent entry{};
    protoent* found = nullptr;
    char buffer[1024];
    getprotobyname_r(name.c_str(), &entry, buffer, sizeof buffer, &found);
    it = cache.emplace(name, found ? found->p_proto : WellKnownProto(name)).first;
  }
  if (it->second < 0) {
    throw ESocketException(Format("WSocketResolveProto: Cannot convert protocol '%s', Error #%d", name, WSANO_DATA));
  }
  return it->second;
}

}  // namespace ovlar
