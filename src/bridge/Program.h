// The run of the one bridge of the process, from start-up to the orderly
// shutdown, and the exit status it ends with. Process start only.
#pragma once
#include <functional>

#include "platform/Desktop.h"
#include "platform/EventLoop.h"

namespace ovlar {

// The event loop itself failed (a platform call such as epoll_wait): not 1
// (a setting) or 2 (the command line), so that a service manager restarts.
constexpr int kExitLoopFailed = 3;

// Start-up on the desktop given, then run, which turns the loop until the
// application ends, then the orderly shutdown. onSignal is set to the
// bridge's signal handler while it lives. Returns the exit status: 0, 1
// when start-up could not build a working bridge, kExitLoopFailed when run
// raised (said in the log and on the terminal before the shutdown).
int RunBridge(EventLoop& loop, Desktop& desktop, const std::function<void()>& run,
              std::function<void(int)>& onSignal);

}  // namespace ovlar
