// The frame cutter: the TCP byte stream from AGWPE into 36-byte headers and
// their data parts, each complete frame decoded in arrival order. Cut bytes
// are only counted while a chunk is worked through and dropped once at its
// end, so a burst of many frames costs time in proportion to its bytes.
#include "agwpe/AGWL2.h"
#include "platform/Burst.h"
#include "support/HexStr.h"
#include "support/ReqLib32.h"

namespace ovlar {

namespace {

constexpr int64_t kFrameWaitMs = 60000;

// Only for positions the caller has checked: a header is complete before it is read.
uint8_t ByteAtUnchecked(const std::string& s, size_t i) { return static_cast<uint8_t>(s[i]); }

uint32_t Le32(const std::string& s, size_t at) {
  uint32_t value = 0;
  for (size_t i = 4; i-- > 0;) value = value << 8 | ByteAtUnchecked(s, at + i);
  return value;
}

bool Letter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// What makes the header at `at` impossible as a frame; empty when it is not.
// Engines write the port as a 32-bit number below 256 and the kind as a
// letter, so anything else means the stream has lost its frame boundaries.
std::string Impossible(const std::string& b, size_t at) {
  const uint32_t length = Le32(b, at + 28);
  if (length > kMaxAGWData) {
    return "data length (" + std::to_string(length) + ") over the limit of " + std::to_string(kMaxAGWData);
  }
  if (!Letter(b[at + 4])) return "data kind (" + ByteToHex(ByteAtUnchecked(b, at + 4)) + ") not a letter";
  if (Le32(b, at) > 0xFF) {
    std::string field;
    for (size_t i = 0; i < 4; ++i) field += ByteToHex(ByteAtUnchecked(b, at + i));
    return "port field (" + field + ") not a port number";
  }
  return {};
}

}  // namespace

bool TL2::Store(const std::string& chunk) {
  try {
    RxBlock_.Buffer += chunk;
    size_t cut = 0;
    bool complete = true;
    while (complete) {
      if (!RxBlock_.Waiting) {
        if (RxBlock_.Buffer.size() - cut < kAGWHeaderSize) break;
        const std::string why = Impossible(RxBlock_.Buffer, cut);
        if (!why.empty()) {
          ProtocolError(why);
          return false;
        }
        TakeHeader(cut);
        cut += kAGWHeaderSize;
      }
      complete = FragFrame(cut);
      // A handler that dropped the connection took the stream with it.
      if (cut > RxBlock_.Buffer.size()) return false;
    }
    RxBlock_.Buffer.erase(0, cut);
    if (RxBlock_.Buffer.empty()) EmptyBuffer(RxBlock_.Buffer);
    return complete;
  } catch (...) {
    Log(1, "{L2} Exception on module Store");
    return false;
  }
}

void TL2::TakeHeader(size_t at) {
  const std::string& b = RxBlock_.Buffer;
  RxBlock_.Data.clear();
  RxBlock_.FramePort = static_cast<uint8_t>(ByteAtUnchecked(b, at) + 1);
  RxBlock_.Kind = b[at + 4];
  RxBlock_.FramePID = ByteAtUnchecked(b, at + 6);
  RxBlock_.CallFrom = CutAtNul(b.substr(at + 8, 10));
  RxBlock_.CallTo = CutAtNul(b.substr(at + 18, 10));
  RxBlock_.DataLen = static_cast<int32_t>(Le32(b, at + 28));
}

bool TL2::FragFrame(size_t& cut) {
  try {
    const auto length = static_cast<size_t>(RxBlock_.DataLen);
    if (RxBlock_.Buffer.size() - cut < length) {
      // An engine writes a frame whole; data that does not follow its header
      // within a minute belongs to a header that was never one.
      if (!RxBlock_.Waiting) {
        if (!FrameTimer_) FrameTimer_ = std::make_unique<TTimer>(loop_, kFrameWaitMs, [this] { FrameOverdue(); });
        FrameTimer_->SetEnabled(false);
        FrameTimer_->SetEnabled(true);
      }
      RxBlock_.Waiting = true;
      return false;
    }
    if (FrameTimer_) FrameTimer_->SetEnabled(false);
    RxBlock_.Data = RxBlock_.Buffer.substr(cut, length);
    cut += length;
    RxBlock_.Waiting = false;
    Decode(RxBlock_.FramePort, RxBlock_.FramePID, RxBlock_.Kind, RxBlock_.CallFrom, RxBlock_.CallTo,
           RxBlock_.DataLen, RxBlock_.Data);
    return true;
  } catch (...) {
    Log(1, "{L2} Exception on module FragFrame");
    return false;
  }
}

void TL2::FrameOverdue() {
  try {
    if (FrameTimer_) FrameTimer_->SetEnabled(false);
    if (!RxBlock_.Waiting || !Active_) return;
    ProtocolError("frame of " + std::to_string(RxBlock_.DataLen) + " bytes, kind [" + std::string(1, RxBlock_.Kind) +
                  "], incomplete after " + std::to_string(kFrameWaitMs / 1000) + " s");
  } catch (...) {
    Log(1, "{L2} Exception on module FrameOverdue");
  }
}

void TL2::ProtocolError(const std::string& what) {
  Log(1, "{L2} Protocol error from AGWPE: " + what + ", connection dropped");
  if (FrameTimer_) FrameTimer_->SetEnabled(false);
  RxBlock_ = AGWCB{};
  // The disconnect reports the loss of the link like any other, so the
  // owner reconnects as it would after one.
  ClientSocket_->SetActive(false);
}

}  // namespace ovlar
