// What the fuzz targets share: the check that aborts on a broken promise
// (libFuzzer keeps the input as a crash; the replaying build fails its
// test; unlike assert() it holds in every build type), one event loop on a
// clock that never moves, and a log that formats every line at the highest
// level and writes it to /dev/null, so that the logging code is fuzzed too.
#pragma once
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/Clock.h"
#include "platform/EventLoop.h"
#include "support/Log.h"

#define FUZZ_CHECK(condition, what)                                                                   \
  do {                                                                                                \
    if (!(condition)) {                                                                               \
      std::fprintf(stderr, "%s:%d: fuzz check failed: %s (%s)\n", __FILE__, __LINE__, what, #condition); \
      std::abort();                                                                                   \
    }                                                                                                 \
  } while (0)

namespace ovlar::fuzz {

inline std::string Bytes(const uint8_t* data, size_t size) { return {reinterpret_cast<const char*>(data), size}; }

// Timers may be started on it; it never runs, so none fires.
inline EventLoop& Loop() {
  static ManualClock clock;
  static EventLoop loop(&clock);
  return loop;
}

inline TLog& NullLog() {
  static TLog log;
  static const bool enabled = [] {
    log.LogFileName = "/dev/null";
    log.TraceLevel = 5;
    log.SetEnabled(true);
    return log.Enabled();
  }();
  FUZZ_CHECK(enabled, "/dev/null opened for the log");
  return log;
}

}  // namespace ovlar::fuzz
