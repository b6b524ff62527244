// The service manager's notify protocol, as systemd defines it for
// sd_notify, without the library: each state ("READY=1", "STATUS=...",
// "WATCHDOG=1", "STOPPING=1") is one datagram to the unix socket that
// $NOTIFY_SOCKET names, a path or, after '@', an abstract name. Outside a
// service manager the variable is not set and nothing is sent. Sends never
// block the loop. Event-loop thread only.
#pragma once
#include <sys/socket.h>
#include <sys/un.h>

#include <cstdint>
#include <string>

namespace ovlar {

class TServiceNotify {
 public:
  // What the service manager put in the environment: NOTIFY_SOCKET,
  // WATCHDOG_USEC and WATCHDOG_PID.
  static TServiceNotify FromEnvironment();
  // socketName as NOTIFY_SOCKET holds it ("" for none); watchdogUsec 0 for
  // no watchdog.
  TServiceNotify(const std::string& socketName, int64_t watchdogUsec);
  ~TServiceNotify();
  TServiceNotify(TServiceNotify&& other) noexcept;
  TServiceNotify& operator=(TServiceNotify&&) = delete;
  TServiceNotify(const TServiceNotify&) = delete;
  TServiceNotify& operator=(const TServiceNotify&) = delete;

  // A socket name was given. A name that cannot be a unix socket address
  // (too long, neither a path nor '@') leaves it inactive, with Fault() set.
  bool Active() const { return length_ != 0; }
  const std::string& SocketName() const { return name_; }
  const std::string& Fault() const { return fault_; }
  // Milliseconds between two WATCHDOG=1: half the manager's timeout, so that
  // one late tick is no restart; 0 without a watchdog.
  int64_t WatchdogIntervalMs() const { return Active() ? watchdogMs_ : 0; }
  // Sends one state; 0 when it left (or nothing is to be sent), else the
  // errno of the failing call (socket or sendto).
  int Send(const std::string& state);

 private:
  std::string name_;
  std::string fault_;
  sockaddr_un address_{};
  socklen_t length_ = 0;
  int64_t watchdogMs_ = 0;
  int fd_ = -1;
};

}  // namespace ovlar
