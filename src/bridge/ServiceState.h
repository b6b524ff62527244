// What the bridge tells the service manager that started it: ready once
// start-up is complete, the icon's summary as the service's status, a
// watchdog tick from the event loop (a hung loop misses it and is
// restarted), and the start of the shutdown. Nothing at all outside a
// service manager. A failed send is logged once per reason, never on every
// tick. Event-loop thread only.
#pragma once
#include <functional>
#include <memory>
#include <string>

#include "platform/EventLoop.h"
#include "platform/ServiceNotify.h"
#include "platform/Timer.h"

namespace ovlar {

class TServiceState {
 public:
  using LogLine = std::function<void(const std::string&)>;

  TServiceState(EventLoop& loop, TServiceNotify notify, LogLine log);
  TServiceState(const TServiceState&) = delete;
  TServiceState& operator=(const TServiceState&) = delete;

  // The start-up line for a NOTIFY_SOCKET that cannot be used; "" when it can
  // or none is set.
  std::string Fault() const;
  void Ready() { Send("READY=1"); }
  // One line; line ends in it would start a new state, so they become blanks.
  void Status(const std::string& text);
  // Once, however many ways the shutdown is reached.
  void Stopping();

 private:
  void Send(const std::string& state);

  TServiceNotify notify_;
  LogLine log_;
  std::unique_ptr<TTimer> watchdog_;
  bool stopping_ = false;
  int lastError_ = 0;
};

}  // namespace ovlar
