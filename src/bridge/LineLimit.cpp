#include "bridge/LineLimit.h"

namespace ovlar {

bool TLineLimit::Allow(const std::string& sender, TDrop reason, int64_t nowMs) {
  auto key = std::make_pair(sender, reason);
  if (pairs_.count(key) == 0 && pairs_.size() >= kSenders) key.first = kOthers;
  Pair& pair = pairs_[key];
  const int64_t second = nowMs / 1000;
  if (pair.second != second) {
    pair.second = second;
    pair.logged = 0;
  }
  if (pair.logged < kPerSecond) {
    ++pair.logged;
    return true;
  }
  if (pair.held++ == 0) pair.heldSince = nowMs;
  return false;
}

std::vector<std::string> TLineLimit::Summaries(int64_t nowMs) {
  std::vector<std::string> lines;
  for (const auto& [key, pair] : pairs_) {
    if (pair.held == 0) continue;
    // Whole seconds, rounded up: "in the last 0 s" would read as nothing.
    const int64_t seconds = (nowMs - pair.heldSince + 999) / 1000;
    const std::string from = key.first == kOthers ? "other hosts" : key.first;
    lines.push_back("... " + std::to_string(pair.held) + " more from (" + from + ") in the last " +
                    std::to_string(seconds < 1 ? 1 : seconds) + " s (" + DropText(key.second) + ")");
  }
  pairs_.clear();
  return lines;
}

}  // namespace ovlar
