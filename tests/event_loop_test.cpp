#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "SocketTestUtil.h"
#include "platform/EventLoop.h"
#include "platform/Timer.h"

namespace ovlar {
namespace {

class LoopTest : public ::testing::Test {
 protected:
  // Moves the test clock and lets the loop see it.
  void Advance(int64_t ms) {
    clock_.Advance(ms);
    loop_.RunOnce(0);
  }
  ManualClock clock_;
  EventLoop loop_{&clock_};
  std::vector<std::string> fired_;
};

TEST_F(LoopTest, TimerRunsFromCreationAndRepeats) {
  TTimer timer(loop_, 60000, [&] { fired_.push_back("t"); });
  Advance(59999);
  EXPECT_TRUE(fired_.empty());
  Advance(1);
  EXPECT_EQ(fired_.size(), 1u);
  Advance(60000);
  EXPECT_EQ(fired_.size(), 2u);
}

TEST_F(LoopTest, SameIntervalOrEnablingAnEnabledTimerKeepsTheCountdown) {
  TTimer timer(loop_, 1000, [&] { fired_.push_back("t"); });
  Advance(600);
  timer.SetInterval(1000);
  timer.SetEnabled(true);
  Advance(400);
  EXPECT_EQ(fired_.size(), 1u);
}

TEST_F(LoopTest, NewIntervalOrReEnablingStartsANewCountdown) {
  TTimer timer(loop_, 1000, [&] { fired_.push_back("t"); });
  Advance(600);
  timer.SetInterval(2000);
  Advance(1999);
  EXPECT_TRUE(fired_.empty());
  Advance(1);
  EXPECT_EQ(fired_.size(), 1u);
  timer.SetEnabled(false);
  Advance(5000);
  EXPECT_EQ(fired_.size(), 1u);
  timer.SetEnabled(true);
  Advance(1999);
  EXPECT_EQ(fired_.size(), 1u);
  Advance(1);
  EXPECT_EQ(fired_.size(), 2u);
}

TEST_F(LoopTest, TimerMayStopOrDestroyItselfInItsOwnTick) {
  TTimer stopper(loop_, 100, nullptr);
  stopper.OnTimer = [&] {
    fired_.push_back("stop");
    stopper.SetEnabled(false);
  };
  auto selfish = std::make_unique<TTimer>(loop_, 100, nullptr);
  selfish->OnTimer = [&] {
    fired_.push_back("free");
    selfish.reset();
  };
  Advance(100);
  Advance(100);
  Advance(100);
  EXPECT_EQ(fired_, (std::vector<std::string>{"stop", "free"}));
  EXPECT_EQ(selfish, nullptr);
}

TEST_F(LoopTest, ATimerStoppedByAnEarlierOneInTheSameTurnDoesNotFire) {
  std::unique_ptr<TTimer> second;
  TTimer first(loop_, 100, [&] {
    fired_.push_back("first");
    second.reset();
  });
  second = std::make_unique<TTimer>(loop_, 100, [&] { fired_.push_back("second"); });
  Advance(100);
  EXPECT_EQ(fired_, std::vector<std::string>{"first"});
}

TEST_F(LoopTest, TicksMissedWhileBusyCoalesce) {
  TTimer timer(loop_, 1000, [&] { fired_.push_back("t"); });
  Advance(5500);
  EXPECT_EQ(fired_.size(), 1u);
  Advance(999);
  EXPECT_EQ(fired_.size(), 1u);
  Advance(1);
  EXPECT_EQ(fired_.size(), 2u);
}

TEST_F(LoopTest, IntervalZeroNeverTicks) {
  TTimer timer(loop_, 0, [&] { fired_.push_back("t"); });
  Advance(100000);
  EXPECT_TRUE(fired_.empty());
}

TEST_F(LoopTest, PostedWorkRunsInOrderOnALaterTurn) {
  loop_.Post([&] {
    fired_.push_back("a");
    loop_.Post([&] { fired_.push_back("c"); });
  });
  loop_.Post([&] { fired_.push_back("b"); });
  EXPECT_TRUE(fired_.empty());
  loop_.RunOnce(0);
  EXPECT_EQ(fired_, (std::vector<std::string>{"a", "b"}));
  loop_.RunOnce(0);
  EXPECT_EQ(fired_, (std::vector<std::string>{"a", "b", "c"}));
}

// Turn-end work comes after the turn's posted work, what it adds in the
// same turn; given outside a turn it ends the next one, which then does not
// wait. Timers started or restarted inside a turn count from the turn's time.
TEST_F(LoopTest, TurnEndWorkEndsTheTurnAndTimersCountFromTheTurnsTime) {
  loop_.AtTurnEnd([&] { fired_.push_back("early end"); });
  loop_.RunOnce(-1);
  EXPECT_EQ(fired_, (std::vector<std::string>{"early end"}));
  std::unique_ptr<TTimer> timer;
  loop_.Post([&] {
    fired_.push_back("posted");
    loop_.AtTurnEnd([&] {
      fired_.push_back("end 1");
      loop_.AtTurnEnd([&] { fired_.push_back("end 3"); });
    });
    loop_.AtTurnEnd([&] { fired_.push_back("end 2"); });
    loop_.Post([&] { fired_.push_back("next turn"); });
    clock_.Advance(300);  // a slow handler
    timer = std::make_unique<TTimer>(loop_, 1000, [&] { fired_.push_back("tick"); });
  });
  loop_.RunOnce(0);
  EXPECT_EQ(fired_, (std::vector<std::string>{"early end", "posted", "end 1", "end 2", "end 3"}));
  loop_.RunOnce(0);
  EXPECT_EQ(fired_.back(), "next turn");
  Advance(700);
  EXPECT_EQ(fired_.back(), "tick") << "1000 ms from the turn's start, not from the clock read late in it";
}

TEST_F(LoopTest, QuitBeforeRunReturnsAtOnce) {
  loop_.Quit();
  loop_.Run();
  EXPECT_TRUE(loop_.Quitting());
}

TEST_F(LoopTest, WorkFromAnotherThreadWakesTheLoop) {
  std::thread worker([&] { loop_.PostFromAnyThread([&] { fired_.push_back("w"); loop_.Quit(); }); });
  loop_.Run();
  worker.join();
  EXPECT_EQ(fired_, std::vector<std::string>{"w"});
}

TEST_F(LoopTest, DescriptorReadinessAndUnwatchInsideTheHandler) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  int calls = 0;
  loop_.WatchFd(fds[0], true, false, [&](const PollEvent& ev) {
    ++calls;
    EXPECT_TRUE(ev.readable);
    loop_.UnwatchFd(fds[0]);
  });
  ASSERT_EQ(write(fds[1], "x", 1), 1);
  loop_.RunOnce(1000);
  loop_.RunOnce(0);
  EXPECT_EQ(calls, 1);
  close(fds[0]);
  close(fds[1]);
}

// Counts what the loop asks of its poller and hands out scripted events.
class CountingPoller : public Poller {
 public:
  void Update(int fd, bool read, bool write, bool fresh) override {
    if (fd == failing) throw std::system_error(EBADF, std::system_category(), "epoll_ctl");
    calls.push_back("update " + std::to_string(fd) + (read ? " r" : "") + (write ? " w" : "") +
                    (fresh ? " fresh" : ""));
  }
  void Remove(int fd) override { calls.push_back("remove " + std::to_string(fd)); }
  std::vector<PollEvent> Wait(int) override { return std::exchange(ready, {}); }
  int Descriptor() const override { return -1; }

  std::vector<std::string> calls;
  std::vector<PollEvent> ready;
  int failing = -1;
};

class FakePollerTest : public ::testing::Test {
 protected:
  FakePollerTest() {
    auto poller = std::make_unique<CountingPoller>();
    poller_ = poller.get();
    loop_ = std::make_unique<EventLoop>(&clock_, std::move(poller));
    loop_->RunOnce(0);  // the loop's own wake-up descriptor
    poller_->calls.clear();
  }
  EventLoop::FdHandler Note(const std::string& name) {
    return [this, name](const PollEvent&) { fired_.push_back(name); };
  }

  ManualClock clock_;
  CountingPoller* poller_;
  std::unique_ptr<EventLoop> loop_;
  std::vector<std::string> fired_;
};

TEST_F(FakePollerTest, ANumberReusedWithinOneEventIsRegisteredAnewAndHearsNothingOfTheOld) {
  loop_->WatchFd(7, true, false, Note("old 7"));
  loop_->WatchFd(8, true, false, [this](const PollEvent&) {
    fired_.push_back("8");
    // The socket on 7 is closed and a new one gets its number.
    loop_->UnwatchFd(7);
    loop_->WatchFd(7, false, true, Note("new 7"));
  });
  loop_->RunOnce(0);
  std::sort(poller_->calls.begin(), poller_->calls.end());
  EXPECT_EQ(poller_->calls, (std::vector<std::string>{"update 7 r fresh", "update 8 r fresh"}));
  poller_->calls.clear();
  poller_->ready = {{8, true, false, false, false, false}, {7, true, false, false, false, false}};
  loop_->RunOnce(0);
  EXPECT_EQ(fired_, std::vector<std::string>{"8"}) << "the event polled for the old socket is dropped";
  loop_->RunOnce(0);
  EXPECT_EQ(poller_->calls, std::vector<std::string>{"update 7 w fresh"});
}

TEST_F(FakePollerTest, ASocketOpenedAndClosedWithinOneEventCostsNoPollerCall) {
  loop_->WatchFd(8, true, false, [this](const PollEvent&) {
    loop_->WatchFd(9, true, false, Note("9"));
    loop_->UpdateFd(9, true, true);
    loop_->UnwatchFd(9);
    loop_->WatchFd(10, true, false, Note("10"));
    loop_->UpdateFd(10, true, true);
  });
  loop_->RunOnce(0);
  poller_->calls.clear();
  poller_->ready = {{8, true, false, false, false, false}};
  loop_->RunOnce(0);
  loop_->RunOnce(0);
  EXPECT_EQ(poller_->calls, std::vector<std::string>{"update 10 r w fresh"});
}

TEST_F(FakePollerTest, ARefusedRegistrationIsRaisedAfterTheOthersAreApplied) {
  poller_->failing = 5;
  loop_->WatchFd(5, true, false, Note("5"));
  loop_->WatchFd(6, true, false, Note("6"));
  EXPECT_THROW(loop_->RunOnce(0), std::system_error);
  EXPECT_EQ(poller_->calls, std::vector<std::string>{"update 6 r fresh"});
  poller_->ready = {{6, true, false, false, false, false}};
  loop_->RunOnce(0);
  EXPECT_EQ(fired_, std::vector<std::string>{"6"}) << "the loop goes on after the failure";
}

TEST(LoopErrors, WatchingAClosedDescriptorIsRaised) {
  EventLoop loop;
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  close(fds[0]);
  close(fds[1]);
  loop.WatchFd(fds[0], true, false, [](const PollEvent&) {});
  EXPECT_THROW(loop.RunOnce(0), std::system_error);
}

#ifndef NDEBUG
TEST(LoopNesting, ATurnInsideATurnStopsADebugBuildUnlessAllowed) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EventLoop loop;
  int nested = 0;
  loop.Post([&] {
    const EventLoop::NestedTurns allowed(loop);
    loop.RunOnce(0);
    ++nested;
  });
  loop.RunOnce(0);
  EXPECT_EQ(nested, 1);
  loop.Post([&] { loop.RunOnce(0); });
  EXPECT_DEATH(loop.RunOnce(0), "NestedTurns");
}
#endif

// A lookup that waits until the test opens it, or 20 s at most, so a
// resolver that waited for it shows as a slow failure, not a hang. Shared
// with the lookup thread, which may outlive the loop.
struct Gate {
  std::mutex mutex;
  std::condition_variable changed;
  bool open = false;
  bool entered = false;
  bool returned = false;
  void Open() {
    std::lock_guard<std::mutex> lock(mutex);
    open = true;
    changed.notify_all();
  }
  bool Returned() {
    std::lock_guard<std::mutex> lock(mutex);
    return returned;
  }
  bool WaitEntered() {
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, std::chrono::seconds(20), [&] { return entered; });
  }
  static AsyncResolver::HostLookup SlowFor(const std::shared_ptr<Gate>& gate, const std::string& slow) {
    return [gate, slow](const std::string& name) {
      LookupResult result;
      result.addresses.push_back(name == slow ? 0x01010101 : 0x02020202);
      if (name != slow) return result;
      std::unique_lock<std::mutex> lock(gate->mutex);
      gate->entered = true;
      gate->changed.notify_all();
      gate->changed.wait_for(lock, std::chrono::seconds(20), [&] { return gate->open; });
      gate->returned = true;
      return result;
    };
  }
};

TEST_F(LoopTest, ASlowLookupHoldsBackNoOtherAndTimesOutAsFailed) {
  auto gate = std::make_shared<Gate>();
  loop_.Resolver().SetHostLookup(Gate::SlowFor(gate, "slow.test"));
  auto answer = [this](const std::string& name) {
    return [this, name](AsyncResolver::Handle, const LookupResult& r) {
      fired_.push_back(name + ":" + std::to_string(r.error) + ":" + std::to_string(r.addresses.size()));
    };
  };
  loop_.Resolver().Start(AsyncResolver::Kind::Host, "slow.test", "", answer("slow"));
  loop_.Resolver().Start(AsyncResolver::Kind::Host, "fast.test", "", answer("fast"));
  ASSERT_TRUE(test::RunUntil(loop_, [&] { return !fired_.empty(); }));
  EXPECT_EQ(fired_, std::vector<std::string>{"fast:0:1"});
  Advance(AsyncResolver::kTimeoutMs - 1);
  EXPECT_EQ(fired_.size(), 1u);
  Advance(1);
  EXPECT_EQ(fired_, (std::vector<std::string>{"fast:0:1", "slow:11002:0"}));
  // The late answer finds no one waiting for it.
  gate->Open();
  ASSERT_TRUE(test::RunUntil(loop_, [&] { return gate->Returned(); }));
  test::Settle(loop_);
  EXPECT_EQ(fired_.size(), 2u);
}

TEST(LoopResolver, TheLoopGoesWithoutWaitingForALookupInFlight) {
  auto gate = std::make_shared<Gate>();
  auto loop = std::make_unique<EventLoop>();
  loop->Resolver().SetHostLookup(Gate::SlowFor(gate, "slow.test"));
  bool answered = false;
  loop->Resolver().Start(AsyncResolver::Kind::Host, "slow.test", "",
                         [&](AsyncResolver::Handle, const LookupResult&) { answered = true; });
  ASSERT_TRUE(gate->WaitEntered());
  loop.reset();
  EXPECT_FALSE(gate->Returned());
  gate->Open();
  for (int i = 0; i < 2000 && !gate->Returned(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_TRUE(gate->Returned());
  EXPECT_FALSE(answered);
}

TEST(LoopSignals, TerminationSignalArrivesAsAnEvent) {
  EventLoop loop;
  int got = 0;
  loop.HandleSignals({SIGUSR1}, [&](int signo) {
    got = signo;
    loop.Quit();
  });
  ASSERT_EQ(kill(getpid(), SIGUSR1), 0);
  loop.Run();
  EXPECT_EQ(got, SIGUSR1);
}

}  // namespace
}  // namespace ovlar
