#include "bridge/HostNames.h"

#include <algorithm>

#include "net/WSocketResolve.h"
#include "platform/WinSock.h"

namespace ovlar {

bool IsHostName(const std::string& text) { return !text.empty() && !WSocketIsDottedIP(text); }

bool IsHostText(const std::string& text) {
  if (WSocketIsDottedIP(text)) return true;
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

std::string DottedList(const std::vector<uint32_t>& addresses) {
  std::string text;
  for (uint32_t a : addresses) text += (text.empty() ? "" : ", ") + wsock::InetNtoa(a);
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
  entry.addresses.push_back(wsock::InetAddr(TrimBlanks(host)));
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

const std::vector<uint32_t>& THostNames::Addresses(const std::string& host) const {
  static const std::vector<uint32_t> none;
  auto it = hosts_.find(host);
  return it == hosts_.end() ? none : it->second.addresses;
}

void THostNames::LookUpAll() {
  for (auto& [name, host] : hosts_) LookUp(name, host);
}

void THostNames::LookUp(const std::string& name, Host& host) {
  // A lookup still out from last time is waited for, not doubled.
  if (!IsHostName(name) || host.pending != 0) return;
  const std::string key = name;
  host.pending = loop_.Resolver().Start(AsyncResolver::Kind::Host, TrimBlanks(name), "",
                                        [this, key](AsyncResolver::Handle, const LookupResult& result) {
                                          Answered(key, result);
                                        });
}

void THostNames::Answered(const std::string& name, const LookupResult& result) {
  Host& host = hosts_[name];
  host.pending = 0;
  host.answered = true;
  if (result.error != 0 || result.addresses.empty()) {
    Log("<AXIP> Host(" + name + ") not resolved, Error(" + std::to_string(result.error) + "), " +
        (host.addresses.empty() ? std::string("no address yet") : "keeping (" + DottedList(host.addresses) + ")"));
    return;
  }
  // Round-robin answers come in any order; only a new set is news.
  std::vector<uint32_t> before = host.addresses;
  std::vector<uint32_t> after = result.addresses;
  std::sort(before.begin(), before.end());
  std::sort(after.begin(), after.end());
  if (before == after) return;
  host.addresses = result.addresses;
  Log("<AXIP> Host(" + name + ") resolved to (" + DottedList(host.addresses) + ")");
  if (OnChange) OnChange(name);
}

}  // namespace ovlar
