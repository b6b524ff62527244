// How often the lines of a datagram from a refused host, or of a bad
// datagram, reach the log: a flood of them must not push the log's history
// out of both its generations. Per sender address and drop reason the
// datagrams of the first kPerSecond in each second are logged; the others
// are only counted, and Summaries gives one line per sender and reason
// that had any. Past kSenders pairs the rest share one, "other hosts", so
// that spoofed senders cannot grow it. Owned by TForm1; event-loop thread
// only.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "bridge/Counters.h"

namespace ovlar {

class TLineLimit {
 public:
  static constexpr int kPerSecond = 5;
  static constexpr size_t kSenders = 256;

  // True when the lines of this datagram may be written; false when it is
  // only counted. sender: the address without its port.
  bool Allow(const std::string& sender, TDrop reason, int64_t nowMs);
  // "... 19995 more from (127.0.0.2) in the last 60 s (not accepted)", one
  // per pair with datagrams not logged since the last call, which starts
  // the count afresh.
  std::vector<std::string> Summaries(int64_t nowMs);

 private:
  struct Pair {
    int64_t second = -1;  // the second the logged ones are counted in
    int logged = 0;
    uint64_t held = 0;  // not logged since the last summaries
    int64_t heldSince = 0;
  };
  // The sender of the pair that stands for every other host: no address.
  static constexpr const char* kOthers = "";

  std::map<std::pair<std::string, TDrop>, Pair> pairs_;
};

}  // namespace ovlar
