#include "bridge/ProgramSignals.h"

#include <pthread.h>

#include <csignal>

namespace ovlar {

const std::vector<int>& ProgramSignals() {
  static const std::vector<int> signals{SIGTERM, SIGINT, SIGHUP, SIGUSR1};
  return signals;
}

void BlockProgramSignals() {
  sigset_t mask;
  sigemptyset(&mask);
  for (int signo : ProgramSignals()) sigaddset(&mask, signo);
  // Cannot fail with a valid how and set.
  pthread_sigmask(SIG_BLOCK, &mask, nullptr);
}

}  // namespace ovlar
