// Runs the bridge on the Qt desktop until it is shut down; returns the
// program's exit status.
#pragma once
#include <functional>

#include "platform/EventLoop.h"

namespace ovlar {

int RunOnQt(int argc, char** argv, EventLoop& loop, const std::function<void(std::function<void(int)>)>& onSignal);

}  // namespace ovlar
