#include <gtest/gtest.h>
#include <pthread.h>

#include <algorithm>
#include <csignal>
#include <vector>

#include "bridge/ProgramSignals.h"
#include "platform/EventLoop.h"

namespace ovlar {
namespace {

// What main does first: each signal that comes before the loop exists
// (raised to this thread, as one in the first moments of the process would
// be) waits and then arrives as an event, instead of ending the process.
TEST(ProgramSignals, ThoseBeforeTheLoopWaitForItAndArriveAsEvents) {
  sigset_t before;
  pthread_sigmask(SIG_SETMASK, nullptr, &before);
  BlockProgramSignals();
  for (int signo : ProgramSignals()) ASSERT_EQ(raise(signo), 0);
  std::vector<int> got;
  {
    EventLoop loop;
    loop.HandleSignals(ProgramSignals(), [&](int signo) {
      got.push_back(signo);
      if (got.size() == ProgramSignals().size()) loop.Quit();
    });
    loop.Run();
  }
  pthread_sigmask(SIG_SETMASK, &before, nullptr);
  std::vector<int> wanted = ProgramSignals();
  std::sort(got.begin(), got.end());
  std::sort(wanted.begin(), wanted.end());
  EXPECT_EQ(got, wanted);
}

}  // namespace
}  // namespace ovlar
