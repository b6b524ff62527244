// The status documents of the bridge, made from a view of its figures: the
// page for a browser (HTML, self-contained, refreshing itself), the
// metrics for Prometheus (text exposition 0.0.4) and the same figures as
// JSON for scripts. Pure functions of the view.
#pragma once
#include <cstdint>
#include <ctime>
#include <string>

#include "bridge/Cache.h"
#include "bridge/Counters.h"
#include "bridge/HeardList.h"

namespace ovlar {

struct TStatusView {
  std::string Product;  // "Ovlar 1.00.00"
  std::string Mode;     // "DIRECT", "CACHE" or "MAP"
  std::time_t Now = 0;
  std::time_t Started = 0;
  int64_t UptimeMs = 0;
  bool LinkUp = false;
  std::time_t LinkSince = 0;
  uint64_t LinkUps = 0;
  uint64_t LinkDowns = 0;
  const TDirection* RadioToIp = nullptr;
  const TDirection* IpToRadio = nullptr;
  const THeardList* Heard = nullptr;
  const TCacheList* Cache = nullptr;  // shown when set (CACHE mode)
};

// At most this many rows of the heard list and of learned cache entries.
inline constexpr size_t kStatusRows = 100;
inline constexpr int kStatusRefreshSeconds = 10;

std::string StatusHtml(const TStatusView& view);
std::string StatusMetrics(const TStatusView& view);
std::string StatusJson(const TStatusView& view);

}  // namespace ovlar
