// Bytes from a KISS TNC, to the decoder: whole, and in pieces whose size
// the input's length chooses. Frames and faults come out the same either
// way, no frame is empty or longer than the limit, the decoder never holds
// more than one frame, and every frame it hands on survives being encoded
// and decoded again unchanged.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "kiss/KissFrame.h"

namespace ovlar {
namespace {

struct TEvent {
  bool frame;
  std::string bytes;
  int fault;
  size_t count;
  uint8_t after;
  bool operator==(const TEvent&) const = default;
};

struct TRecorder {
  explicit TRecorder(size_t limit) : decoder(limit) {
    decoder.OnFrame = [this](const std::string& frame) {
      FUZZ_CHECK(!frame.empty() && frame.size() <= decoder.MaxFrame(), "a frame is never empty nor too long");
      events.push_back({true, frame, 0, 0, 0});
    };
    decoder.OnFault = [this](TKissDecoder::TFault fault, size_t bytes, uint8_t after) {
      FUZZ_CHECK(bytes > 0, "a fault covers some bytes");
      events.push_back({false, {}, static_cast<int>(fault), bytes, after});
    };
  }
  void Feed(const std::string& text, size_t piece) {
    for (size_t at = 0; at < text.size(); at += piece) {
      decoder.Feed(text.data() + at, std::min(piece, text.size() - at));
      FUZZ_CHECK(decoder.Buffered() <= decoder.MaxFrame(), "at most one frame is held");
    }
    decoder.End();
    FUZZ_CHECK(decoder.Buffered() == 0, "nothing is held after the end");
  }
  TKissDecoder decoder;
  std::vector<TEvent> events;
};

void RoundTrip(const std::string& frame, size_t limit) {
  TRecorder again(limit);
  again.Feed(KissEncode(frame), 1 + frame.size() % 7);
  FUZZ_CHECK(again.events.size() == 1 && again.events[0].frame && again.events[0].bytes == frame,
             "an encoded frame decodes to itself");
}

void Check(const std::string& text, size_t limit) {
  TRecorder whole(limit);
  whole.Feed(text, text.size() + 1);
  TRecorder cut(limit);
  cut.Feed(text, text.size() % 13 + 1);
  FUZZ_CHECK(whole.events == cut.events, "pieces decode as the whole does");
  for (const TEvent& e : whole.events) {
    if (e.frame) RoundTrip(e.bytes, limit);
  }
}

}  // namespace
}  // namespace ovlar

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text = ovlar::fuzz::Bytes(data, size);
  // A limit as large as a datagram's frame, and a small one that short
  // inputs reach too.
  ovlar::Check(text, 65536);
  ovlar::Check(text, 16);
  return 0;
}
