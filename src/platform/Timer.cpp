#include "platform/Timer.h"

namespace ovlar {

TTimer::TTimer(EventLoop& loop, int64_t intervalMs, std::function<void()> onTimer)
    : OnTimer(std::move(onTimer)), loop_(loop), interval_(intervalMs) {
  Restart();
}

TTimer::~TTimer() { Stop(); }

void TTimer::SetInterval(int64_t ms) {
  if (ms == interval_) return;
  interval_ = ms;
  Restart();
}

void TTimer::SetEnabled(bool value) {
  if (value == enabled_) return;
  enabled_ = value;
  Restart();
}

void TTimer::Stop() {
  if (id_ != 0) loop_.StopTimer(id_);
  id_ = 0;
}

void TTimer::Restart() {
  if (id_ != 0 && enabled_ && interval_ > 0 && loop_.RestartTimer(id_, interval_)) return;
  Stop();
  if (enabled_ && interval_ > 0) id_ = loop_.StartTimer(interval_, [this] { Tick(); });
}

void TTimer::Tick() {
  // The handler may destroy this timer: run a copy and touch nothing after.
  auto handler = OnTimer;
  if (handler) handler();
}

}  // namespace ovlar
