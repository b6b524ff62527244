// Monotonic milliseconds for the event loop. The loop reads its clock once
// per turn; tests drive a ManualClock so that no test waits for real time.
#pragma once
#include <cstdint>

namespace ovlar {

class Clock {
 public:
  virtual ~Clock() = default;
  virtual int64_t NowMs() const = 0;
};

class SteadyClock : public Clock {
 public:
  int64_t NowMs() const override;
};

class ManualClock : public Clock {
 public:
  int64_t NowMs() const override { return now_; }
  void Advance(int64_t ms) { now_ += ms; }

 private:
  int64_t now_ = 0;
};

}  // namespace ovlar
