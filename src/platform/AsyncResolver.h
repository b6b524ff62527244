// Background host and service lookups. Each lookup runs on a thread of its
// own, up to kThreads at once (more wait their turn), so a slow name never
// holds back another. Each completion is delivered on the event-loop thread,
// matched to its request, unless the request was cancelled before; a lookup
// still out after kTimeoutMs is answered WSATRY_AGAIN and its late answer
// dropped. Destruction never waits for a lookup in flight: the threads hold
// only the shared state, never the resolver, and post nothing once it is
// gone. Owned by the EventLoop; Start and Cancel are for the loop thread only.
#pragma once
#include <netinet/in.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace ovlar {

class EventLoop;

// What a lookup found; fields are added for new kinds of answer, so
// callers read the ones they know and ignore the rest.
struct LookupResult {
  int error = 0;                       // Windows Sockets number, 0 on success
  std::vector<uint32_t> addresses;     // IPv4, network order (forward lookups)
  // Node lookups of a name without IPv4 addresses: its IPv6 ones. error
  // still says the name has no IPv4 address, so a caller that knows only
  // IPv4 reads the answer as before.
  std::vector<in6_addr> addresses6;
  std::string name;                    // official host name (reverse lookups)
  uint16_t port = 0;                   // host order (service lookups)
};

class AsyncResolver {
 public:
  enum class Kind { Host, Address, Service, Node };
  using Handle = uint64_t;
  using Done = std::function<void(Handle, const LookupResult&)>;
  using HostLookup = std::function<LookupResult(const std::string& name)>;

  static constexpr int kThreads = 8;
  static constexpr int64_t kTimeoutMs = 10000;

  explicit AsyncResolver(EventLoop& loop);
  ~AsyncResolver();
  AsyncResolver(const AsyncResolver&) = delete;
  AsyncResolver& operator=(const AsyncResolver&) = delete;

  // Host: text is a name. Address: text is a dotted quad. Service: text is
  // a service name looked up for protocol `proto` (any when empty). Node:
  // a name as Host, and its IPv6 addresses when it has no IPv4 one.
  Handle Start(Kind kind, const std::string& text, const std::string& proto, Done done);
  // True when the request was still pending; its completion is then dropped.
  bool Cancel(Handle handle);

  // Takes the place of the system's host lookup (LookupHost) for the
  // background lookups, so that tests control the answers. It runs on a
  // lookup thread, possibly after the resolver and its loop are gone, so it
  // must own what it uses. An empty function restores the system's.
  void SetHostLookup(HostLookup lookup);

  // The blocking lookups themselves, also used directly by blocking callers.
  static LookupResult LookupHost(const std::string& name);
  // IPv4 first, so that a peer gaining IPv6 does not move a link; IPv6
  // only for a name that has no IPv4 address.
  static LookupResult LookupNodeHost(const std::string& name);
  static LookupResult LookupAddress(const std::string& dotted);
  static LookupResult LookupService(const std::string& name, const std::string& proto);

  struct Shared;

 private:
  struct Pending {
    Done done;
    uint64_t timer;
  };
  void Deliver(Handle handle, const LookupResult& result);

  EventLoop& loop_;
  Handle next_ = 1;
  std::unordered_map<Handle, Pending> pending_;  // loop thread only
  std::shared_ptr<Shared> shared_;
};

}  // namespace ovlar
