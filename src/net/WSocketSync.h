// TCustomSyncWSocket: waiting in place, above the line layer. Its waits run
// nested turns of the event loop. Owned by its creator; event-loop thread only.
#pragma once
#include <functional>
#include <string>

#include "net/WSocketLine.h"

namespace ovlar {

// Waiting in place: pumps the event loop until a flag is set, a time limit
// passes or the application ends.
class TCustomSyncWSocket : public TCustomLineWSocket {
 public:
  static constexpr int kWaitFailed = 12001;

  using TCustomLineWSocket::TCustomLineWSocket;
  // 0 once doneFlag is set; 12001 after timeoutMs or when the application
  // is ending.
  virtual int WaitUntilReady(const bool& doneFlag, int timeoutMs);
  // Runs proc, then waits for doneFlag.
  virtual int Synchronize(const std::function<void()>& proc, bool& doneFlag, int timeoutMs);
  // A name lookup that returns when it is done: 0, 12001, or its error.
  int DnsLookupSync(const std::string& hostName, int timeoutMs);
  bool QuitSeen() const { return quitSeen_; }

 protected:
  void TriggerDnsLookupDone(uint16_t error) override;

 private:
  bool quitSeen_ = false;
  bool dnsDone_ = false;
  uint16_t dnsError_ = 0;
};

}  // namespace ovlar
