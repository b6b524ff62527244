#include "bridge/Monitor.h"

#include "bridge/Cache.h"
#include "support/AX25Address.h"

namespace ovlar {

namespace {

constexpr size_t kAddressSize = kAX25AddressSize;
constexpr size_t kMaxAddresses = 10;  // destination, source, eight digipeaters

// Types the cache leaves unclassified still have names worth showing.
std::string TypeName(uint8_t control) {
  const std::string type = FrameType(control);
  if (!type.empty()) return type;
  if ((control & 0x0F) == 0x0D) return "SREJ";
  switch (control & 0xEF) {
    case 0x6F: return "SABME";
    case 0xAF: return "XID";
    case 0xE3: return "TEST";
    default: return "?";
  }
}

}  // namespace

std::string MonitorLine(const char* direction, int32_t port, const std::string& frame) {
  std::string line = std::string("<MON> ") + direction + " [" + std::to_string(port) + "] ";
  // The address field ends at the first address whose last byte has bit 0 set.
  size_t count = 0;
  bool ended = false;
  while (!ended && count < kMaxAddresses && (count + 1) * kAddressSize <= frame.size()) {
    ended = (static_cast<uint8_t>(frame[count * kAddressSize + 6]) & 0x01) != 0;
    ++count;
  }
  const size_t control = count * kAddressSize;
  if (!ended || count < 2 || control >= frame.size()) return line + "malformed len " + std::to_string(frame.size());
  line += AX25CallSign(frame, kAddressSize) + ">" + AX25CallSign(frame, 0);
  for (size_t i = 2; i < count; ++i) {
    // Appended, not summed: GCC 12 at -O3 takes the sum's insert for an
    // overlapping copy (a false -Wrestrict).
    line.append(1, ',').append(AX25CallSign(frame, i * kAddressSize));
    if (static_cast<uint8_t>(frame[i * kAddressSize + 6]) & 0x80) line += "*";
  }
  const auto ctl = static_cast<uint8_t>(frame[control]);
  const std::string type = TypeName(ctl);
  // I and UI frames carry a PID byte before their information.
  const size_t header = control + 1 + ((type == "I" || type == "UI") ? 1 : 0);
  const size_t info = frame.size() > header ? frame.size() - header : 0;
  return line + " " + type + " len " + std::to_string(info);
}

}  // namespace ovlar
