// System calls a running process makes while the caller drives it, counted
// by perf from the kernel's tracepoints (no tracing of each call, so the
// process runs at nearly its own speed), per call name. Bench only; needs
// perf (Debian's linux-perf) and the right to attach to the process.
#pragma once
#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <map>
#include <string>

namespace bench {

bool PerfInstalled();
// The calls of pid made while run ran, by name ("recvmmsg"); empty when
// perf could not count.
std::map<std::string, uint64_t> CountSyscalls(pid_t pid, const std::function<void()>& run);

}  // namespace bench
