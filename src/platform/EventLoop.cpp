#include "platform/EventLoop.h"

#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <climits>
#include <exception>
#include <system_error>
#include <vector>

namespace ovlar {

namespace {

[[noreturn]] void RaiseErrno(const char* call) { throw std::system_error(errno, std::system_category(), call); }

}  // namespace

EventLoop::EventLoop(Clock* clock, std::unique_ptr<Poller> poller)
    : ownClock_(clock ? nullptr : std::make_unique<SteadyClock>()),
      clock_(clock ? clock : ownClock_.get()),
      poller_(poller ? std::move(poller) : Poller::Create()),
      now_(clock_->NowMs()) {
  // Without it, work posted from the resolver's threads would never wake the loop.
  wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (wakeFd_ < 0) RaiseErrno("eventfd");
  WatchFd(wakeFd_, true, false, [this](const PollEvent&) { DrainWakeups(); });
}

EventLoop::~EventLoop() {
  resolver_.reset();
  if (wakeFd_ >= 0) close(wakeFd_);
  if (signalFd_ >= 0) close(signalFd_);
}

void EventLoop::WatchFd(int fd, bool read, bool write, FdHandler handler) {
  auto& slot = watches_[fd];
  if (slot) slot->active = false;
  slot = std::make_shared<Watch>();
  slot->handler = std::move(handler);
  changes_[fd] = {read, write, true, true};
}

void EventLoop::UpdateFd(int fd, bool read, bool write) {
  if (watches_.count(fd) == 0) return;
  auto it = changes_.find(fd);
  const bool fresh = it != changes_.end() && it->second.fresh;
  changes_[fd] = {read, write, true, fresh};
}

void EventLoop::UnwatchFd(int fd) {
  auto it = watches_.find(fd);
  if (it == watches_.end()) return;
  it->second->active = false;
  watches_.erase(it);
  changes_[fd] = {false, false, false, false};
}

void EventLoop::ApplyChanges() {
  std::unordered_map<int, Interest> changes;
  changes.swap(changes_);
  // One refused descriptor must not keep the others from their interest:
  // all are applied, then the first failure is raised.
  std::exception_ptr failure;
  for (const auto& [fd, change] : changes) {
    try {
      if (change.watched) {
        poller_->Update(fd, change.read, change.write, change.fresh);
        registered_.insert(fd);
      } else if (registered_.erase(fd) != 0) {
        poller_->Remove(fd);
      }
    } catch (const std::system_error&) {
      if (!failure) failure = std::current_exception();
    }
  }
  if (failure) std::rethrow_exception(failure);
}

EventLoop::TimerId EventLoop::StartTimer(int64_t intervalMs, Callback callback) {
  now_ = TimeForTimers();
  auto timer = std::make_shared<Timer>();
  timer->interval = std::max<int64_t>(intervalMs, 1);
  timer->deadline = now_ + timer->interval;
  timer->callback = std::move(callback);
  const TimerId id = nextTimer_++;
  timers_[id] = std::move(timer);
  return id;
}

bool EventLoop::RestartTimer(TimerId id, int64_t intervalMs) {
  auto it = timers_.find(id);
  if (it == timers_.end()) return false;
  // Restarted per frame by the activity blink: no clock read per frame.
  now_ = TimeForTimers();
  it->second->interval = std::max<int64_t>(intervalMs, 1);
  it->second->deadline = now_ + it->second->interval;
  return true;
}

void EventLoop::StopTimer(TimerId id) {
  auto it = timers_.find(id);
  if (it == timers_.end()) return;
  it->second->active = false;
  timers_.erase(it);
}

AsyncResolver& EventLoop::Resolver() {
  if (!resolver_) resolver_ = std::make_unique<AsyncResolver>(*this);
  return *resolver_;
}

void EventLoop::Post(Callback callback) { posted_.push_back(std::move(callback)); }

void EventLoop::PostFromAnyThread(Callback callback) {
  {
    std::lock_guard<std::mutex> lock(foreignMutex_);
    foreign_.push_back(std::move(callback));
  }
  const uint64_t one = 1;
  [[maybe_unused]] ssize_t n = write(wakeFd_, &one, sizeof one);
}

void EventLoop::DrainWakeups() {
  uint64_t count;
  [[maybe_unused]] ssize_t n = read(wakeFd_, &count, sizeof count);
  std::deque<Callback> work;
  {
    std::lock_guard<std::mutex> lock(foreignMutex_);
    work.swap(foreign_);
  }
  for (auto& callback : work) callback();
}

void EventLoop::HandleSignals(const std::vector<int>& signos, std::function<void(int)> handler) {
  sigset_t mask;
  sigemptyset(&mask);
  for (int s : signos) sigaddset(&mask, s);
  pthread_sigmask(SIG_BLOCK, &mask, nullptr);
  const int fd = signalfd(signalFd_, &mask, SFD_NONBLOCK | SFD_CLOEXEC);
  if (fd < 0) RaiseErrno("signalfd");
  signalFd_ = fd;
  signalHandler_ = std::move(handler);
  WatchFd(signalFd_, true, false, [this](const PollEvent&) {
    signalfd_siginfo info;
    while (read(signalFd_, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
      if (signalHandler_) signalHandler_(static_cast<int>(info.ssi_signo));
    }
  });
}

int EventLoop::PollTimeout(int maxWaitMs) const {
  if (!posted_.empty() || !turnEnd_.empty() || quit_) return 0;
  int64_t wait = maxWaitMs < 0 ? INT_MAX : maxWaitMs;
  for (const auto& [id, timer] : timers_) wait = std::min(wait, std::max<int64_t>(timer->deadline - now_, 0));
  return wait == INT_MAX ? -1 : static_cast<int>(wait);
}

void EventLoop::DispatchFds(int timeoutMs) {
  ApplyChanges();
  const std::vector<PollEvent> events = poller_->Wait(timeoutMs);
  now_ = clock_->NowMs();
  // Pin each registration as it was when polled: a handler that closes one
  // socket must not see events meant for its predecessor on a reused fd.
  std::vector<std::pair<std::shared_ptr<Watch>, PollEvent>> ready;
  ready.reserve(events.size());
  for (const PollEvent& ev : events) {
    auto it = watches_.find(ev.fd);
    if (it != watches_.end()) ready.emplace_back(it->second, ev);
  }
  for (auto& [watch, ev] : ready) {
    if (watch->active) watch->handler(ev);
  }
}

void EventLoop::FireTimers() {
  std::vector<std::shared_ptr<Timer>> due;
  for (const auto& [id, timer] : timers_) {
    if (timer->deadline <= now_) due.push_back(timer);
  }
  std::stable_sort(due.begin(), due.end(), [](const auto& a, const auto& b) { return a->deadline < b->deadline; });
  for (auto& timer : due) {
    if (!timer->active) continue;
    // Ticks missed while the loop was busy coalesce into one, as window timers do.
    timer->deadline = now_ + timer->interval;
    Callback callback = timer->callback;
    callback();
  }
}

int64_t EventLoop::TimeForTimers() {
  // A timer may be started outside a turn (during start-up): read the clock then.
  return depth_ > 0 ? now_ : clock_->NowMs();
}

void EventLoop::RunTurnEnd() {
  while (!turnEnd_.empty()) {
    Callback callback = std::move(turnEnd_.front());
    turnEnd_.pop_front();
    callback();
  }
}

void EventLoop::RunPosted() {
  std::deque<Callback> work;
  work.swap(posted_);
  for (auto& callback : work) callback();
}

void EventLoop::RunOnce(int maxWaitMs) {
  assert((depth_ == 0 || depth_ == nestedAt_) && "a turn started inside a turn without NestedTurns");
  struct Depth {
    int& depth;
    explicit Depth(int& d) : depth(++d) {}
    ~Depth() { --depth; }
  } depth(depth_);
  DispatchFds(PollTimeout(maxWaitMs));
  FireTimers();
  RunPosted();
  RunTurnEnd();
}

void EventLoop::Run() {
  while (!quit_) RunOnce(-1);
}

}  // namespace ovlar
