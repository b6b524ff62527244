// What the bridge forwarded and dropped in each direction, and how the
// AGWPE link went: the figures behind the icon's tip, the headless state
// line and the log's Status lines. Plain counters owned by TForm1;
// event-loop thread only. Times of the link are loop milliseconds, times
// of the last frames wall-clock seconds.
#pragma once
#include <array>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace ovlar {

// Why a frame or datagram was not forwarded.
enum class TDrop : uint8_t {
  NotReady,
  NotMapped,
  BadCrc,
  BadLength,
  NotAccepted,
  NoEngine,
  SendFailed,    // the system refused the datagram to the node
  EngineFull,    // the engine stopped reading and its link is full
  NoEnginePort,  // the engine has no such radio port
};
constexpr size_t kDropReasons = 9;

struct TDirection {
  uint64_t Forwarded = 0;
  uint64_t Bytes = 0;
  std::array<uint64_t, kDropReasons> Drops{};
  std::time_t LastFrame = 0;  // 0: none yet

  uint64_t Dropped() const;
};

class TCounters {
 public:
  explicit TCounters(int64_t startMs) : linkSince_(startMs) {}

  TDirection RadioToIp;
  TDirection IpToRadio;
  uint64_t LinkUps = 0;
  uint64_t LinkDowns = 0;

  void Forwarded(TDirection& direction, size_t bytes);
  void Dropped(TDirection& direction, TDrop reason) { ++direction.Drops[static_cast<size_t>(reason)]; }
  void LinkUp(int64_t nowMs);
  void LinkDown(int64_t nowMs);
  bool IsLinkUp() const { return linkUp_; }
  // Loop milliseconds of the link's last change, or of the start.
  int64_t LinkSince() const { return linkSince_; }

  // The "Status:" line with the totals, then one line per drop reason
  // that happened.
  std::vector<std::string> StatusLines(int64_t nowMs) const;
  // The same totals, short enough for a tool tip or a terminal line.
  std::string Summary(int64_t nowMs) const;

 private:
  std::string LinkText(int64_t nowMs) const;

  int64_t linkSince_;
  bool linkUp_ = false;
};

// "2h13m", "3d04h05m": a duration in loop milliseconds.
std::string DurationText(int64_t ms);
// The drop reason as the Status lines name it.
const char* DropText(TDrop reason);
// The drop reason as a metric label value names it (snake case).
const char* DropLabel(TDrop reason);

}  // namespace ovlar
