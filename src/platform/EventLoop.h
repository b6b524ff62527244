// The program's one event loop: descriptor readiness, periodic timers,
// posted work and termination signals, all dispatched on the thread that
// calls Run. Everything but PostFromAnyThread is for that thread only.
// Callbacks may stop timers, unwatch descriptors or post work, including
// their own, while they run; the loop never calls a stopped one again.
//
// One turn (RunOnce) has three phases, always in this order:
//   1. I/O: pending interest changes reach the poller, the loop waits (no
//      longer than the next timer or posted work allows), then calls the
//      handler of every descriptor that became ready.
//   2. Timers: every timer due at the turn's time, earliest deadline first;
//      a tick missed while the loop was busy is not repeated.
//   3. Posted work: what was posted before this phase began, in order;
//      work posted by that work waits for the next turn.
//   4. Turn end: what AtTurnEnd was given during the turn, in order, and
//      what that adds, until none is left; writes gathered over the turn
//      leave here, never later.
// Turns do not nest, with two exceptions that exist to wait in place: the
// synchronous wait of the socket layer and a socket's Flush run nested
// turns inside a handler, under a NestedTurns scope. Any other turn started
// from inside a turn is a fault, and debug builds stop on it. A modal box
// of the desktop keeps the loop turning only when it was not opened from
// inside a turn (see the Qt front end's pump).
// A failing platform call of the loop (eventfd, signalfd, epoll_ctl,
// epoll_wait) raises std::system_error: from the constructor, from
// HandleSignals, or out of RunOnce, where a handler running nested turns
// catches it with the rest of its failures and Run's caller sees the rest.
#pragma once
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/AsyncResolver.h"
#include "platform/Clock.h"
#include "platform/Poller.h"

namespace ovlar {

class EventLoop {
 public:
  using Callback = std::function<void()>;
  using FdHandler = std::function<void(const PollEvent&)>;
  using TimerId = uint64_t;

  // Without a clock the loop uses the monotonic system clock; without a
  // poller, epoll.
  explicit EventLoop(Clock* clock = nullptr, std::unique_ptr<Poller> poller = nullptr);
  ~EventLoop();
  EventLoop(const EventLoop&) = delete;
  EventLoop& operator=(const EventLoop&) = delete;

  // Time at the start of the current turn, in monotonic milliseconds.
  int64_t Now() const { return now_; }

  // Level-triggered interest; a new Watch replaces the handler, and events
  // polled for an earlier registration of the same fd are dropped. Changes
  // reach the poller only when the loop next waits, so a socket opened and
  // closed within one event costs no poller calls.
  void WatchFd(int fd, bool read, bool write, FdHandler handler);
  void UpdateFd(int fd, bool read, bool write);
  void UnwatchFd(int fd);

  // Periodic timer whose first tick comes intervalMs after this call.
  TimerId StartTimer(int64_t intervalMs, Callback callback);
  void StopTimer(TimerId id);
  // A new countdown for a running timer, without a new registration;
  // false when the timer is not running.
  bool RestartTimer(TimerId id, int64_t intervalMs);

  // Runs on a later turn, in posting order.
  void Post(Callback callback);
  // Runs once at the end of this turn (of the next one when called outside
  // a turn), after its posted work.
  void AtTurnEnd(Callback callback) { turnEnd_.push_back(std::move(callback)); }
  // Whether a turn is running (a handler, a timer, posted work).
  bool InTurn() const { return depth_ > 0; }
  // The same from another thread; wakes the loop.
  void PostFromAnyThread(Callback callback);

  // Blocks the signals for this thread and delivers them as loop events.
  // Call before any other thread is started.
  void HandleSignals(const std::vector<int>& signos, std::function<void(int)> handler);

  // Turns until Quit; returns at once if Quit was called before.
  void Run();
  void Quit() { quit_ = true; }
  bool Quitting() const { return quit_; }
  // One turn: waits at most maxWaitMs (-1: until something is due).
  void RunOnce(int maxWaitMs);
  // How long the loop may sleep before a timer or posted work is due; -1
  // when nothing is. For a loop that drives this one.
  int NextTimeoutMs() const { return PollTimeout(-1); }
  // Background name lookups whose completions arrive on this loop.
  AsyncResolver& Resolver();
  // The application's last catch: a failure that a component met while
  // handling an event and could hand to nobody up its stack goes here. The
  // program logs it; without a handler it is dropped.
  void SetFailureHandler(std::function<void(const std::exception&)> handler) { failureHandler_ = std::move(handler); }
  void ReportFailure(const std::exception& e) const {
    if (failureHandler_) failureHandler_(e);
  }
  // Readable while the loop has work; lets another loop drive this one,
  // which calls ApplyChanges before it waits on it.
  int Descriptor() const { return poller_->Descriptor(); }
  void ApplyChanges();

  // Allows the turns run while it lives, from inside the current turn.
  class NestedTurns {
   public:
    explicit NestedTurns(EventLoop& loop) : loop_(loop), saved_(loop.nestedAt_) { loop.nestedAt_ = loop.depth_; }
    ~NestedTurns() { loop_.nestedAt_ = saved_; }
    NestedTurns(const NestedTurns&) = delete;
    NestedTurns& operator=(const NestedTurns&) = delete;

   private:
    EventLoop& loop_;
    int saved_;
  };

 private:
  struct Watch {
    FdHandler handler;
    bool active = true;
  };
  struct Timer {
    int64_t interval;
    int64_t deadline;
    Callback callback;
    bool active = true;
  };

  struct Interest {
    bool read;
    bool write;
    bool watched;
    bool fresh;  // watched anew: the descriptor may be a new one
  };

  int PollTimeout(int maxWaitMs) const;
  void DispatchFds(int timeoutMs);
  void FireTimers();
  void RunPosted();
  void RunTurnEnd();
  void DrainWakeups();
  // The turn's time inside a turn; the clock's outside one (start-up).
  int64_t TimeForTimers();

  std::unique_ptr<SteadyClock> ownClock_;
  Clock* clock_;
  std::unique_ptr<Poller> poller_;
  int64_t now_;
  bool quit_ = false;
  int depth_ = 0;     // turns running now, nested ones included
  int nestedAt_ = 0;  // the depth from which a nested turn may start
  std::unordered_map<int, std::shared_ptr<Watch>> watches_;
  std::unordered_map<int, Interest> changes_;
  std::unordered_set<int> registered_;  // what the poller has been given
  std::map<TimerId, std::shared_ptr<Timer>> timers_;
  TimerId nextTimer_ = 1;
  std::deque<Callback> posted_;
  std::deque<Callback> turnEnd_;
  int wakeFd_ = -1;
  std::mutex foreignMutex_;
  std::deque<Callback> foreign_;
  int signalFd_ = -1;
  std::function<void(int)> signalHandler_;
  std::function<void(const std::exception&)> failureHandler_;
  // Last member: it stops its lookup threads' posts before the loop goes.
  std::unique_ptr<AsyncResolver> resolver_;
};

}  // namespace ovlar
