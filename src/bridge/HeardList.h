// The heard list: which stations the bridge forwarded frames of, on which
// radio port and in which direction, how many and when last, the most
// recent first. Bounded: at the limit the entry heard longest ago makes
// room, so a flood of invented callsigns costs no more memory than the
// limit and real stations come back at the top as soon as they are heard.
// Event-loop thread only.
#pragma once
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <list>
#include <string>
#include <unordered_map>

namespace ovlar {

enum class THeardDirection : uint8_t { RadioToIp, IpToRadio };

struct THeard {
  std::string Call;
  int32_t Port = 0;
  THeardDirection Direction = THeardDirection::RadioToIp;
  uint64_t Frames = 0;
  std::time_t Last = 0;
};

class THeardList {
 public:
  static constexpr size_t kCapacity = 1000;

  explicit THeardList(size_t capacity = kCapacity) : capacity_(capacity) {}

  // One frame of the station; an empty callsign (a frame too short to
  // name one) is not listed.
  void Heard(const std::string& call, int32_t port, THeardDirection direction, std::time_t when);
  // The most recently heard first.
  const std::list<THeard>& Entries() const { return entries_; }
  size_t Size() const { return entries_.size(); }

 private:
  size_t capacity_;
  std::list<THeard> entries_;
  std::unordered_map<std::string, std::list<THeard>::iterator> index_;
};

}  // namespace ovlar
