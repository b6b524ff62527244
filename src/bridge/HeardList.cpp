#include "bridge/HeardList.h"

namespace ovlar {

namespace {

std::string Key(const std::string& call, int32_t port, THeardDirection direction) {
  return call + '\0' + std::to_string(port) + '\0' + std::to_string(static_cast<int>(direction));
}

}  // namespace

void THeardList::Heard(const std::string& call, int32_t port, THeardDirection direction, std::time_t when) {
  if (call.empty() || capacity_ == 0) return;
  const std::string key = Key(call, port, direction);
  auto found = index_.find(key);
  if (found != index_.end()) {
    entries_.splice(entries_.begin(), entries_, found->second);
  } else {
    if (entries_.size() >= capacity_) {
      const THeard& oldest = entries_.back();
      index_.erase(Key(oldest.Call, oldest.Port, oldest.Direction));
      entries_.pop_back();
    }
    entries_.push_front({call, port, direction, 0, 0});
    index_.emplace(key, entries_.begin());
  }
  THeard& entry = entries_.front();
  ++entry.Frames;
  entry.Last = when;
}

}  // namespace ovlar
