// The monitor line of a forwarded frame, in the form packet operators read
// every day: direction, radio port, source>destination,digipeaters (a
// repeated one marked *), frame type and information length, as in
// "<MON> R>I [1] N0CALL-1>XNET,WIDE1-1 UI len 42". Pure function.
#pragma once
#include <cstdint>
#include <string>

namespace ovlar {

// `direction` is "R>I" or "I>R"; `frame` the AX.25 frame without FCS.
std::string MonitorLine(const char* direction, int32_t port, const std::string& frame);

}  // namespace ovlar
