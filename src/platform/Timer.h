// A periodic timer with the semantics of a window timer: it runs from its
// creation; setting the same interval or enabling an enabled timer changes
// nothing; a new interval on a running timer or enabling a stopped one
// starts a new countdown; interval 0 means no ticks. Safe to stop, change or
// destroy from inside its own OnTimer. Event-loop thread only.
#pragma once
#include <cstdint>
#include <functional>

#include "platform/EventLoop.h"

namespace ovlar {

class TTimer {
 public:
  std::function<void()> OnTimer;

  explicit TTimer(EventLoop& loop, int64_t intervalMs = 1000, std::function<void()> onTimer = nullptr);
  ~TTimer();
  TTimer(const TTimer&) = delete;
  TTimer& operator=(const TTimer&) = delete;

  int64_t Interval() const { return interval_; }
  bool Enabled() const { return enabled_; }
  void SetInterval(int64_t ms);
  void SetEnabled(bool value);
  // Starts a new countdown of the current interval, as disabling and
  // enabling again would.
  void Restart();

 private:
  void Stop();
  void Tick();

  EventLoop& loop_;
  int64_t interval_;
  bool enabled_ = true;
  EventLoop::TimerId id_ = 0;
};

}  // namespace ovlar
