// The callsign route cache: on which radio port each station was heard, or
// is routed by configuration. Entries keep their insertion order; a station
// may have entries on several ports. Learned entries are capped so that a
// flood of invented callsigns cannot eat the memory of a long-running
// bridge; at the cap the learned entry heard least recently makes room, so
// a real station is still learned after a flood. Static entries stay.
// Event-loop thread only.
#pragma once
#include <cstdint>
#include <ctime>
#include <list>
#include <string>
#include <unordered_map>
#include <vector>

namespace ovlar {

struct TCache {
  int32_t HeardPort = 0;
  std::string Station;
  uint8_t Fixed = 0;
  std::time_t Heard = 0;  // wall clock: entered, or last heard when learned
};

class TCacheList {
 public:
  using Entry = std::list<TCache>::iterator;
  static constexpr size_t kMaxLearned = 10000;

  bool Empty() const { return entries_.empty(); }
  size_t Size() const { return entries_.size(); }
  const TCache& Head() const { return entries_.front(); }
  // Every entry, in insertion order.
  const std::list<TCache>& Entries() const { return entries_; }
  // The entry (station, port), or nullptr. Finding a learned entry counts
  // as hearing its station again.
  TCache* Find(const std::string& station, int32_t port);
  // Appends a new entry; a learned one at the cap first evicts the learned
  // entry heard least recently.
  TCache* Append(int32_t port, const std::string& station, uint8_t fixed);
  // The entries of one station, in insertion order.
  std::vector<const TCache*> OfStation(const std::string& station) const;
  // Unlinks and frees the entry; false when it is not in the list.
  bool Remove(const TCache* entry);

 private:
  std::list<TCache> entries_;
  std::unordered_map<std::string, std::vector<Entry>> byStation_;
  // Learned entries, the one heard least recently first, and where each
  // stands in that order.
  std::list<Entry> heard_;
  std::unordered_map<const TCache*, std::list<Entry>::iterator> heardAt_;
};

// The type of an AX.25 frame from its control byte; empty when unclassified.
std::string FrameType(uint8_t control);

}  // namespace ovlar
