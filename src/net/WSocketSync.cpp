// The synchronous layer: waiting in place while the event loop runs.
#include <algorithm>

#include "net/WSocketSync.h"

namespace ovlar {

int TCustomSyncWSocket::WaitUntilReady(const bool& doneFlag, int timeoutMs) {
  const int64_t deadline = Loop().Now() + timeoutMs;
  const EventLoop::NestedTurns nested(Loop());
  while (!doneFlag) {
    if (Loop().Quitting()) {
      // The end of the application is left for the loop's owner to carry
      // out; the wait only notes it.
      quitSeen_ = true;
      return kWaitFailed;
    }
    const int64_t left = deadline - Loop().Now();
    if (left <= 0) return kWaitFailed;
    Loop().RunOnce(static_cast<int>(std::min<int64_t>(left, 100)));
  }
  return 0;
}

int TCustomSyncWSocket::Synchronize(const std::function<void()>& proc, bool& doneFlag, int timeoutMs) {
  doneFlag = false;
  proc();
  return WaitUntilReady(doneFlag, timeoutMs);
}

int TCustomSyncWSocket::DnsLookupSync(const std::string& hostName, int timeoutMs) {
  const int result = Synchronize([&] { DnsLookup(hostName); }, dnsDone_, timeoutMs);
  return result != 0 ? result : dnsError_;
}

void TCustomSyncWSocket::TriggerDnsLookupDone(uint16_t error) {
  dnsError_ = error;
  dnsDone_ = true;
  TCustomLineWSocket::TriggerDnsLookupDone(error);
}

}  // namespace ovlar
