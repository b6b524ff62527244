// The frame cutter: the TCP byte stream from AGWPE into 36-byte headers and
// their data parts, each complete frame decoded in arrival order.
#include "agwpe/AGWL2.h"
#include "support/ReqLib32.h"

namespace ovlar {

namespace {

uint8_t Byte(const std::string& s, size_t i) { return static_cast<uint8_t>(s[i]); }

}  // namespace

bool TL2::Store(const std::string& chunk) {
  try {
    RxBlock_.Buffer += chunk;
    for (;;) {
      if (RxBlock_.Waiting) {
        if (!FragFrame()) return false;
      } else {
        if (RxBlock_.Buffer.size() < kAGWHeaderSize) return true;
        const std::string header = RxBlock_.Buffer.substr(0, kAGWHeaderSize);
        RxBlock_.Buffer.erase(0, kAGWHeaderSize);
        RxBlock_.Data.clear();
        RxBlock_.FramePort = static_cast<uint8_t>(Byte(header, 0) + 1);
        RxBlock_.Kind = header[4];
        RxBlock_.FramePID = Byte(header, 6);
        RxBlock_.CallFrom = CutAtNul(header.substr(8, 10));
        RxBlock_.CallTo = CutAtNul(header.substr(18, 10));
        RxBlock_.DataLen = Byte(header, 28) + 256 * Byte(header, 29);
        if (RxBlock_.DataLen == 0) {
          RxBlock_.Waiting = false;
          Decode(RxBlock_.FramePort, RxBlock_.FramePID, RxBlock_.Kind, RxBlock_.CallFrom, RxBlock_.CallTo, 0, "");
        } else if (!FragFrame()) {
          return false;
        }
      }
      if (RxBlock_.Buffer.empty()) {
        // A large burst may have grown the buffer far; give that back.
        if (RxBlock_.Buffer.capacity() > 64 * 1024) std::string().swap(RxBlock_.Buffer);
        return true;
      }
    }
  } catch (...) {
    Log(1, "{L2} Exception on module Store");
    return false;
  }
}

bool TL2::FragFrame() {
  try {
    const auto length = static_cast<size_t>(RxBlock_.DataLen);
    if (RxBlock_.Buffer.size() < length) {
      RxBlock_.Waiting = true;
      return false;
    }
    RxBlock_.Data = RxBlock_.Buffer.substr(0, length);
    RxBlock_.Buffer.erase(0, length);
    RxBlock_.Waiting = false;
    Decode(RxBlock_.FramePort, RxBlock_.FramePID, RxBlock_.Kind, RxBlock_.CallFrom, RxBlock_.CallTo,
           RxBlock_.DataLen, RxBlock_.Data);
    return true;
  } catch (...) {
    Log(1, "{L2} Exception on module FragFrame");
    return false;
  }
}

}  // namespace ovlar
