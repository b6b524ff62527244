#include "bridge/ServiceState.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace ovlar {

TServiceState::TServiceState(EventLoop& loop, TServiceNotify notify, LogLine log)
    : notify_(std::move(notify)), log_(std::move(log)) {
  if (notify_.WatchdogIntervalMs() > 0) {
    watchdog_ = std::make_unique<TTimer>(loop, notify_.WatchdogIntervalMs(), [this] { Send("WATCHDOG=1"); });
  }
}

std::string TServiceState::Fault() const {
  if (notify_.Fault().empty()) return "";
  return "NOTIFY_SOCKET \"" + notify_.SocketName() + "\" " + notify_.Fault() + ": the service manager is not told";
}

void TServiceState::Status(const std::string& text) {
  std::string line = text;
  std::replace(line.begin(), line.end(), '\n', ' ');
  Send("STATUS=" + line);
}

void TServiceState::Stopping() {
  if (stopping_) return;
  stopping_ = true;
  Send("STOPPING=1");
}

void TServiceState::Send(const std::string& state) {
  const int error = notify_.Send(state);
  if (error == 0 || error == lastError_) {
    lastError_ = error;
    return;
  }
  lastError_ = error;
  const std::string name = state.substr(0, state.find('='));
  log_("Service: " + name + " not sent to \"" + notify_.SocketName() + "\": " + std::strerror(error) + " (" +
       std::to_string(error) + ")");
}

}  // namespace ovlar
