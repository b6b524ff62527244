// The desktop front end lives in a module next to the program and is
// loaded only when a display answers; this is how the program finds it.
#pragma once
#include <functional>
#include <string>

#include "platform/EventLoop.h"

namespace ovlar {

// Hands the program what a signal (by its number) is to do.
using SignalBinder = std::function<void(std::function<void(int signo)>)>;
// The module's entry: runs the bridge on the desktop, returns the exit status.
using DesktopEntry = int (*)(int argc, char** argv, EventLoop* loop, SignalBinder* onSignal);

constexpr const char* kDesktopModule = "libovlar-desktop.so";
constexpr const char* kDesktopEntry = "OvlarRunDesktop";

// The entry of the module beside the program, or nullptr with the reason.
DesktopEntry LoadDesktopModule(std::string& why);

}  // namespace ovlar
