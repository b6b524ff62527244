#include "bridge/HostNames.h"

#include <algorithm>

#include "net/WSocketResolve.h"
#include "platform/WinSock.h"

namespace ovlar {

namespace {

// What a lookup found, as addresses.
std::vector<TSockAddr> AddressesOf(const LookupResult& result) {
  std::vector<TSockAddr> found;
  if (result.error == 0) {
    for (uint32_t a : result.addresses) found.push_back(TSockAddr::V4(a, 0));
  }
  if (found.empty()) {
    for (const in6_addr& a : result.addresses6) found.push_back(TSockAddr::V6(a, 0));
  }
  return found;
}

bool Before(const TSockAddr& a, const TSockAddr& b) {
  if (a.Family() != b.Family()) return a.Family() < b.Family();
  return a.HostText() < b.HostText();
}

}  // namespace

bool IsHostName(const std::string& text) {
  return !text.empty() && !WSocketIsDottedIP(text) && !IsIPv6Text(TrimBlanks(text));
}

bool IsHostText(const std::string& text) {
  if (WSocketIsDottedIP(text) || IsIPv6Text(text)) return true;
  if (text.empty() || text.find_first_of(" \t") != std::string::npos) return false;
  if (wsock::InetAddr(text) != INADDR_NONE) return true;
  std::string name = text;
  if (name.back() == '.') name.pop_back();
  if (name.empty() || name.size() > 253) return false;
  std::string label;
  for (size_t i = 0; i <= name.size(); ++i) {
    if (i < name.size() && name[i] != '.') {
      const char c = name[i];
      const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
      if (!ok) return false;
      label += c;
      continue;
    }
    if (label.empty() || label.size() > 63) return false;
    if (i == name.size() && label.find_first_not_of("0123456789") == std::string::npos) return false;
    label.clear();
  }
  return true;
}

std::string AddressList(const std::vector<TSockAddr>& addresses) {
  std::string text;
  for (const TSockAddr& a : addresses) text += (text.empty() ? "" : ", ") + a.HostText();
  return text;
}

THostNames::THostNames(EventLoop& loop, TLog* log) : loop_(loop), log_(log) {}

THostNames::~THostNames() {
  for (auto& [name, host] : hosts_) {
    if (host.pending != 0) loop_.Resolver().Cancel(host.pending);
  }
}

void THostNames::Add(const std::string& host) {
  if (hosts_.count(host) != 0) return;
  Host& entry = hosts_[host];
  if (IsHostName(host)) {
    // Once started, a host added late is looked up at once.
    if (timer_) LookUp(host, entry);
    return;
  }
  const std::string address = TrimBlanks(host);
  entry.addresses.push_back(TSockAddr::Parse(address).value_or(TSockAddr::V4(wsock::InetAddr(address), 0)));
  entry.answered = true;
}

void THostNames::Start() {
  LookUpAll();
  timer_ = std::make_unique<TTimer>(loop_, kRefreshMs, [this] { LookUpAll(); });
}

bool THostNames::Known(const std::string& host) const {
  auto it = hosts_.find(host);
  return it != hosts_.end() && !it->second.addresses.empty();
}

bool THostNames::Answered(const std::string& host) const {
  auto it = hosts_.find(host);
  return it != hosts_.end() && it->second.answered;
}

const std::vector<TSockAddr>& THostNames::Addresses(const std::string& host) const {
  static const std::vector<TSockAddr> none;
  auto it = hosts_.find(host);
  return it == hosts_.end() ? none : it->second.addresses;
}

bool THostNames::AnyIPv6() const {
  for (const auto& [name, host] : hosts_) {
    for (const TSockAddr& a : host.addresses) {
      if (a.Family() == AF_INET6) return true;
    }
  }
  return false;
}

void THostNames::LookUpAll() {
  for (auto& [name, host] : hosts_) LookUp(name, host);
}

void THostNames::LookUp(const std::string& name, Host& host) {
  // A lookup still out from last time is waited for, not doubled.
  if (!IsHostName(name) || host.pending != 0) return;
  const std::string key = name;
  host.pending = loop_.Resolver().Start(AsyncResolver::Kind::Node, TrimBlanks(name), "",
                                        [this, key](AsyncResolver::Handle, const LookupResult& result) {
                                          Answered(key, result);
                                        });
}

void THostNames::Answered(const std::string& name, const LookupResult& result) {
  Host& host = hosts_[name];
  host.pending = 0;
  host.answered = true;
  std::vector<TSockAddr> after = AddressesOf(result);
  if (after.empty()) {
    Log("<AXIP> Host(" + name + ") not resolved, Error(" + std::to_string(result.error) + "), " +
        (host.addresses.empty() ? std::string("no address yet") : "keeping (" + AddressList(host.addresses) + ")"));
    return;
  }
  // Round-robin answers come in any order; only a new set is news.
  std::vector<TSockAddr> before = host.addresses;
  std::sort(before.begin(), before.end(), Before);
  std::vector<TSockAddr> sorted = after;
  std::sort(sorted.begin(), sorted.end(), Before);
  if (before == sorted) return;
  host.addresses = std::move(after);
  Log("<AXIP> Host(" + name + ") resolved to (" + AddressList(host.addresses) + ")");
  if (OnChange) OnChange(name);
}

}  // namespace ovlar
