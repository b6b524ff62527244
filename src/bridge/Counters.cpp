#include "bridge/Counters.h"

#include <cstdio>

namespace ovlar {

namespace {

const char* const kDropTexts[kDropReasons] = {"not ready",        "port out of range or not mapped",
                                              "CRC wrong",        "too long or cut",
                                              "not accepted",     "no connection to the engine",
                                              "send failed",      "engine link full",
                                              "port not at the engine"};

const char* const kDropLabels[kDropReasons] = {"not_ready",    "not_mapped", "bad_crc",     "bad_length",
                                               "not_accepted", "no_engine",  "send_failed", "engine_full",
                                               "no_engine_port"};

std::string WallTime(std::time_t t) {
  if (t == 0) return "never";
  std::tm local{};
  localtime_r(&t, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

std::string Totals(const char* name, const TDirection& d) {
  return std::string(name) + " " + std::to_string(d.Forwarded) + " forwarded " + std::to_string(d.Dropped()) +
         " dropped";
}

}  // namespace

const char* DropText(TDrop reason) { return kDropTexts[static_cast<size_t>(reason)]; }
const char* DropLabel(TDrop reason) { return kDropLabels[static_cast<size_t>(reason)]; }

std::string DurationText(int64_t ms) {
  const int64_t minutes = ms < 0 ? 0 : ms / 60000;
  const int64_t days = minutes / 1440;
  char text[48];
  if (days > 0) {
    std::snprintf(text, sizeof text, "%lldd%02lldh%02lldm", static_cast<long long>(days),
                  static_cast<long long>(minutes / 60 % 24), static_cast<long long>(minutes % 60));
  } else {
    std::snprintf(text, sizeof text, "%lldh%02lldm", static_cast<long long>(minutes / 60),
                  static_cast<long long>(minutes % 60));
  }
  return text;
}

uint64_t TDirection::Dropped() const {
  uint64_t sum = 0;
  for (uint64_t n : Drops) sum += n;
  return sum;
}

void TCounters::Forwarded(TDirection& direction, size_t bytes) {
  ++direction.Forwarded;
  direction.Bytes += bytes;
  direction.LastFrame = std::time(nullptr);
}

void TCounters::LinkUp(int64_t nowMs) {
  if (linkUp_) return;
  linkUp_ = true;
  linkSince_ = nowMs;
  ++LinkUps;
}

void TCounters::LinkDown(int64_t nowMs) {
  if (!linkUp_) return;
  linkUp_ = false;
  linkSince_ = nowMs;
  ++LinkDowns;
}

std::string TCounters::LinkText(int64_t nowMs) const {
  return std::string(linkUp_ ? "link up " : "link down ") + DurationText(nowMs - linkSince_);
}

std::vector<std::string> TCounters::StatusLines(int64_t nowMs) const {
  std::vector<std::string> lines;
  lines.push_back("Status: " + Totals("radio->IP", RadioToIp) + ", " + Totals("IP->radio", IpToRadio) + ", " +
                  LinkText(nowMs) + ", " + std::to_string(LinkUps) + " ups " + std::to_string(LinkDowns) +
                  " downs, bytes radio->IP " + std::to_string(RadioToIp.Bytes) + " IP->radio " +
                  std::to_string(IpToRadio.Bytes) + ", last frame radio->IP " + WallTime(RadioToIp.LastFrame) +
                  " IP->radio " + WallTime(IpToRadio.LastFrame));
  const std::pair<const char*, const TDirection*> directions[] = {{"radio->IP", &RadioToIp}, {"IP->radio", &IpToRadio}};
  for (const auto& [name, d] : directions) {
    for (size_t r = 0; r < kDropReasons; ++r) {
      if (d->Drops[r] == 0) continue;
      lines.push_back("Status: " + std::string(name) + " " + std::to_string(d->Drops[r]) + " dropped, " +
                      kDropTexts[r]);
    }
  }
  return lines;
}

std::string TCounters::Summary(int64_t nowMs) const {
  return "R>I " + std::to_string(RadioToIp.Forwarded) + " fwd " + std::to_string(RadioToIp.Dropped()) + " drop, I>R " +
         std::to_string(IpToRadio.Forwarded) + " fwd " + std::to_string(IpToRadio.Dropped()) + " drop, " +
         LinkText(nowMs);
}

}  // namespace ovlar
