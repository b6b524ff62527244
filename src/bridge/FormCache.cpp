// The callsign route cache as the forwarding paths use it: learning the
// stations heard on each radio port, and choosing the port for a frame.
#include <ctime>

#include "bridge/Form1.h"
#include "support/AX25Address.h"
#include "support/HexStr.h"
#include "support/ReqLib32.h"

namespace ovlar {

namespace {
constexpr size_t kMinFrame = 16;     // port byte, two addresses, control
constexpr size_t kFirstAddrEnd = 14;  // 0-based: last byte of the source address
constexpr size_t kAddressSize = kAX25AddressSize;
}  // namespace

bool TForm1::CacheFront(const char* op, const std::string& data, bool source, std::string& key, std::string& type) {
  const std::string name = op;
  if (!FReady) {
    Log("<L2> " + name + ": Object not active, ignored");
    return false;
  }
  if (data.size() < kMinFrame) {
    Log("<L2> " + name + ": Malformed frame, ignored");
    return false;
  }
  const std::string from = AX25CallSign(data, 8);
  const std::string to = AX25CallSign(data, 1);
  Log("<L2> " + name + ": From(" + from + ") To(" + to + ")", 4);
  key = source ? from : to;
  if (TL2::CallSSID(key) == 0) {
    std::string copy = key;
    key = SplitAt(copy, '-');
    Log("<L2> " + name + ": SSID chopped now Call(" + key + ")", 4);
  }
  // The address field ends at the first address byte with bit 0 set.
  bool found = false;
  for (size_t p = kFirstAddrEnd; p + 1 < data.size(); p += kAddressSize) {
    if (static_cast<uint8_t>(data[p]) & 0x01) {
      const auto control = static_cast<uint8_t>(data[p + 1]);
      const std::string hex = ByteToHex(control);
      if (!source) Log("GetCache: Ctl Byte(" + hex + ")", 4);
      type = FrameType(control);
      Log(name + ": Ctl Byte(" + hex + ") Assigned(" + type + ")", 4);
      found = true;
      break;
    }
  }
  if (!found || type.empty()) {
    Log("<L2> " + name + ": Type <unknown>, ignored", 4);
    return false;
  }
  if (type == "UI") {
    Log("<L2> " + name + ": Type <UI>, ignored", 4);
    return false;
  }
  return true;
}

void TForm1::UpdateCache(int32_t port, const std::string& data, uint8_t fixed) {
  try {
    std::string key;
    std::string type;
    if (!CacheFront("UpdateCache", data, true, key, type)) return;
    if (!Isrt(port, key, fixed)) Log("<L2> UpdateCache: Unable to Insert new Cache entry");
  } catch (...) {
    Log("<L2> Exception on module UpdateCache");
  }
}

int32_t TForm1::GetCache(const std::string& data) {
  try {
    std::string key;
    std::string type;
    if (!CacheFront("GetCache", data, false, key, type)) {
      return FReady && data.size() >= kMinFrame ? 0 : FDefPort;
    }
    int hits = 0;
    int32_t candidate = 0;
    for (const TCache* entry : FCache.OfStation(key)) {
      Log("<L2> GetCache: Hit with Call(" + entry->Station + ") Port(" + std::to_string(entry->HeardPort) + ")", 3);
      if (entry->Fixed == 1) return entry->HeardPort;
      if (LearnedCounts(entry->HeardPort)) {
        ++hits;
        candidate = entry->HeardPort;
      }
    }
    if (hits == 0) {
      Log("<L2> GetCache: NO Hit with Call(" + key + ") Default Port(" + std::to_string(FDefPort) + ")", 3);
      return FDefPort;
    }
    if (hits == 1) {
      Log("<L2> GetCache: One Hit with Call(" + key + ") Default Port(" + std::to_string(candidate) + ")", 3);
      return candidate;
    }
    Log("<L2> GetCache: More than one Hit with Call(" + key + ") NUL Port", 3);
    return 0;
  } catch (...) {
    Log("<L2> Exception on module GetCache");
    return FDefPort;
  }
}

bool TForm1::LearnedCounts(int32_t heardPort) const {
  // What the loopback port hears was sent by the engine itself, never a
  // station's whereabouts.
  if (FEngine->LoopbackPort() != 0) return heardPort != FEngine->LoopbackPort();
  return FLearn;
}

TCache* TForm1::Isrt(int32_t port, const std::string& call, uint8_t fixed) {
  try {
    const std::string where = "Isrt: Call(" + std::to_string(port) + ":" + call + ")";
    if (TCache* hit = FCache.Find(call, port)) {
      Log(where + " Cache HIT", 4);
      if (hit->Fixed == 0) hit->Heard = std::time(nullptr);
      return hit;
    }
    TCache* entry = FCache.Append(port, call, fixed);
    if (entry) {
      entry->Heard = std::time(nullptr);
      Log(where + " Cache ISRT", 4);
    }
    return entry;
  } catch (...) {
    Log("<L2> Isrt: Exception on module Isrt");
    return nullptr;
  }
}

void TForm1::Dlte(const TCache* entry) {
  try {
    if (!entry) return;
    Log("<L2> Dlte: Deleting Entry(" + std::to_string(entry->HeardPort) + ":" + entry->Station + ")", 3);
    FCache.Remove(entry);
  } catch (...) {
    Log("<L2> Exception on Dlte");
  }
}

}  // namespace ovlar
