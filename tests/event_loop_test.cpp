#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

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
