#include "platform/Clock.h"

#include <chrono>

namespace ovlar {

int64_t SteadyClock::NowMs() const {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace ovlar
