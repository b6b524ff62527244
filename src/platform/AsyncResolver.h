// Background host and service lookups. The blocking lookups run on one
// worker thread; each completion is delivered on the event-loop thread,
// matched to its request, unless the request was cancelled before. Owned
// by the EventLoop; Start and Cancel are for the loop thread only.
#pragma once
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

namespace ovlar {

class EventLoop;

struct LookupResult {
  int error = 0;                       // Windows Sockets number, 0 on success
  std::vector<uint32_t> addresses;     // IPv4, network order (forward lookups)
  std::string name;                    // official host name (reverse lookups)
  uint16_t port = 0;                   // host order (service lookups)
};

class AsyncResolver {
 public:
  enum class Kind { Host, Address, Service };
  using Handle = uint64_t;
  using Done = std::function<void(Handle, const LookupResult&)>;
  using HostLookup = std::function<LookupResult(const std::string& name)>;

  explicit AsyncResolver(EventLoop& loop) : loop_(loop) {}
  ~AsyncResolver();

  // Host: text is a name. Address: text is a dotted quad. Service: text is
  // a service name looked up for protocol `proto` (any when empty).
  Handle Start(Kind kind, const std::string& text, const std::string& proto, Done done);
  // True when the request was still pending; its completion is then dropped.
  bool Cancel(Handle handle);

  // Takes the place of the system's host lookup (LookupHost) for the
  // background lookups, so that tests control the answers; it runs on the
  // worker thread. An empty function restores the system's.
  void SetHostLookup(HostLookup lookup);

  // The blocking lookups themselves, also used directly by blocking callers.
  static LookupResult LookupHost(const std::string& name);
  static LookupResult LookupAddress(const std::string& dotted);
  static LookupResult LookupService(const std::string& name, const std::string& proto);

 private:
  struct Job {
    Handle handle;
    Kind kind;
    std::string text;
    std::string proto;
  };
  void Work();

  EventLoop& loop_;
  Handle next_ = 1;
  std::unordered_map<Handle, Done> pending_;  // loop thread only
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Job> jobs_;
  bool stopping_ = false;
  HostLookup hostLookup_;  // guarded by mutex_
  std::thread worker_;
};

}  // namespace ovlar
