#include "SyscallCount.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>
#include <vector>

namespace bench {

namespace {

// What a bridge, a relay or ax25ipd may call per frame or per turn.
const char* const kCalls[] = {"epoll_wait", "epoll_pwait", "epoll_ctl", "poll",     "ppoll",     "select",
                              "pselect6",   "recvmmsg",    "recvfrom",  "recvmsg",  "read",      "ioctl",
                              "write",      "writev",      "sendto",    "sendmsg",  "sendmmsg",  "socket",
                              "bind",       "getsockname", "connect",   "close",    "setsockopt", "clock_gettime"};

}  // namespace

bool PerfInstalled() { return std::system("perf stat -e raw_syscalls:sys_enter -- true >/dev/null 2>&1") == 0; }

std::map<std::string, uint64_t> CountSyscalls(pid_t pid, const std::function<void()>& run) {
  std::string events;
  for (const char* call : kCalls) events += std::string(events.empty() ? "" : ",") + "syscalls:sys_enter_" + call;
  char file[] = "/tmp/ovlar-bench-perf-XXXXXX";
  const int fd = mkstemp(file);
  if (fd >= 0) close(fd);
  const std::string pidText = std::to_string(pid);
  const pid_t perf = fork();
  if (perf == 0) {
    execlp("perf", "perf", "stat", "-x,", "-o", file, "-e", events.c_str(), "-p", pidText.c_str(), nullptr);
    _exit(127);
  }
  // perf needs a moment to attach; calls before it are not the run's.
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  run();
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  kill(perf, SIGINT);
  waitpid(perf, nullptr, 0);
  std::map<std::string, uint64_t> counts;
  std::ifstream in(file);
  std::string line;
  const std::string prefix = "syscalls:sys_enter_";
  // "count,unit,event,..." per event; comments and blank lines besides.
  while (std::getline(in, line)) {
    const size_t first = line.find(',');
    const size_t second = first == std::string::npos ? first : line.find(',', first + 1);
    if (second == std::string::npos) continue;
    const std::string event = line.substr(second + 1, line.find(',', second + 1) - second - 1);
    if (event.rfind(prefix, 0) != 0) continue;
    const uint64_t n = std::strtoull(line.substr(0, first).c_str(), nullptr, 10);
    if (n > 0) counts[event.substr(prefix.size())] = n;
  }
  unlink(file);
  return counts;
}

}  // namespace bench
