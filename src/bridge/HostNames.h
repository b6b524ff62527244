// The host names of the configuration (the node's address, ACCEPT entries),
// looked up in the background through the event loop's resolver at
// start-up and every ten minutes after: their IPv4 addresses, or their IPv6
// ones when they have none. A failed lookup keeps the last good answer.
// Dotted quads and IPv6 addresses are taken as they are, without a
// lookup. Owned by TForm1, which outlives it; event-loop thread only;
// lookups still pending at destruction are cancelled.
#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "net/SockAddr.h"
#include "platform/EventLoop.h"
#include "platform/Timer.h"
#include "support/Log.h"

namespace ovlar {

// A text that has to be looked up: neither empty nor an address.
bool IsHostName(const std::string& text);
// A text that can name a host at all: an address the platform's parser
// takes ("127.1" too), an IPv6 address (plainly or in brackets), or labels of letters, digits, '-' and '_' (1 to 63
// each, 253 in all, one final dot allowed) whose last label is not only
// digits. Whether the name exists is for the lookup to say.
bool IsHostText(const std::string& text);

class THostNames {
 public:
  static constexpr int64_t kRefreshMs = 600000;

  THostNames(EventLoop& loop, TLog* log);
  ~THostNames();
  THostNames(const THostNames&) = delete;
  THostNames& operator=(const THostNames&) = delete;

  // Called on the loop thread whenever a name's addresses change.
  std::function<void(const std::string& name)> OnChange;

  // A host to know; the same text twice is one host.
  void Add(const std::string& host);
  // The first lookups, and the timer for the later ones.
  void Start();
  // True once the host has addresses: an address at once, a name after
  // its first good answer.
  bool Known(const std::string& host) const;
  // True once the host's first answer, good or not, is in.
  bool Answered(const std::string& host) const;
  // Port 0; empty while not known.
  const std::vector<TSockAddr>& Addresses(const std::string& host) const;
  // Whether any host known has an IPv6 address.
  bool AnyIPv6() const;
  bool Empty() const { return hosts_.empty(); }

 private:
  struct Host {
    std::vector<TSockAddr> addresses;
    AsyncResolver::Handle pending = 0;
    bool answered = false;
  };
  void LookUpAll();
  void LookUp(const std::string& name, Host& host);
  void Answered(const std::string& name, const LookupResult& result);
  void Log(const std::string& text) {
    if (log_) log_->WriteLog(1, text);
  }

  EventLoop& loop_;
  TLog* log_;
  std::map<std::string, Host> hosts_;
  std::unique_ptr<TTimer> timer_;
};

// Addresses without ports, separated by ", ".
std::string AddressList(const std::vector<TSockAddr>& addresses);

}  // namespace ovlar
