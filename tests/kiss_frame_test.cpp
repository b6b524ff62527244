#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kiss/KissFrame.h"
#include "support/HexStr.h"

namespace ovlar {
namespace {

using namespace std::string_literals;
using Events = std::vector<std::string>;

// What a decoder reports, as readable lines: "frame 00 61" or "fault 1 3 78".
struct Recorder {
  explicit Recorder(size_t maxFrame = 8) : decoder(maxFrame) {
    decoder.OnFrame = [this](const std::string& f) {
      std::string line = "frame";
      for (char c : f) line += " " + ByteToHex(static_cast<uint8_t>(c));
      events.push_back(line);
    };
    decoder.OnFault = [this](TKissDecoder::TFault fault, size_t bytes, uint8_t after) {
      events.push_back("fault " + std::to_string(static_cast<int>(fault)) + " " + std::to_string(bytes) + " " +
                       ByteToHex(after));
    };
  }
  TKissDecoder decoder;
  Events events;
};

Events Decode(const std::string& stream, bool end = true) {
  Recorder r;
  r.decoder.Feed(stream);
  if (end) r.decoder.End();
  return r.events;
}

constexpr int kOutside = 0, kBadEscape = 1, kTooLong = 2, kCut = 3;
std::string Fault(int fault, size_t bytes, const char* after = "00") {
  return "fault " + std::to_string(fault) + " " + std::to_string(bytes) + " " + after;
}

struct Case {
  const char* name;
  std::string stream;
  Events events;
};

TEST(KissDecoder, CutsTheStreamIntoFrames) {
  const std::string fend(1, kFend);
  const Case cases[] = {
      {"one frame", "\xC0\x00" "ab\xC0"s, {"frame 00 61 62"}},
      {"FEND and FESC escaped", "\xC0\x00\xDB\xDC\xDB\xDD\xC0"s, {"frame 00 C0 DB"}},
      {"the type byte escaped: port 12", "\xC0\xDB\xDCx\xC0"s, {"frame C0 78"}},
      {"TFEND and TFESC alone are data", "\xC0\x00\xDC\xDD\xC0"s, {"frame 00 DC DD"}},
      {"a shared FEND between frames", "\xC0\x00" "a\xC0\x10" "b\xC0"s, {"frame 00 61", "frame 10 62"}},
      {"FENDs in a row are no frames", "\xC0\xC0\xC0\x00" "a\xC0\xC0\xC0"s, {"frame 00 61"}},
      {"bytes before the first FEND", "cmd:\xC0\x00" "a\xC0"s, {Fault(kOutside, 4), "frame 00 61"}},
      {"bytes with no FEND at all", "junk"s, {Fault(kOutside, 4)}},
      {"an escape of another byte", "\xC0\x00" "a\xDBxb\xC0\x00" "c\xC0"s, {Fault(kBadEscape, 4, "78"), "frame 00 63"}},
      {"an escape cut by FEND", "\xC0\x00" "a\xDB\xC0\x00" "c\xC0"s, {Fault(kBadEscape, 3, "C0"), "frame 00 63"}},
      {"an escape alone cut by FEND", "\xC0\xDB\xC0\x00" "c\xC0"s, {Fault(kBadEscape, 1, "C0"), "frame 00 63"}},
      {"the longest frame", "\xC0\x00" "1234567\xC0"s, {"frame 00 31 32 33 34 35 36 37"}},
      {"one byte longer", "\xC0\x00" "12345678\xC0\x00" "a\xC0"s, {Fault(kTooLong, 9), "frame 00 61"}},
      {"longer by escapes only", "\xC0\x00" "123456\xDB\xDC\xDB\xDD\xC0"s, {Fault(kTooLong, 9)}},
      {"a frame the end cuts", "\xC0\x00" "a\xC0\x00" "bc"s, {"frame 00 61", Fault(kCut, 3)}},
      {"a long frame the end cuts", "\xC0\x00" "123456789"s, {Fault(kTooLong, 10)}},
      {"nothing after the last FEND", "\xC0\x00" "a\xC0"s, {"frame 00 61"}},
  };
  for (const Case& c : cases) EXPECT_EQ(Decode(c.stream), c.events) << c.name;
}

TEST(KissDecoder, EverySplitGivesTheSameEvents) {
  const std::string stream =
      "junk\xC0\x00" "a\xDB\xDC\xC0\xC0\x10\xDB\xDD" "b\xC0\x0F" "c\xC0\x00\xDBz\xC0\x00" "123456789\xC0\x20" "d\xC0"s;
  const Events whole = Decode(stream);
  ASSERT_EQ(whole.size(), 7u);
  for (size_t i = 0; i <= stream.size(); ++i) {
    for (size_t j = i; j <= stream.size(); ++j) {
      Recorder r;
      r.decoder.Feed(stream.substr(0, i));
      r.decoder.Feed(stream.substr(i, j - i));
      r.decoder.Feed(stream.substr(j));
      r.decoder.End();
      ASSERT_EQ(r.events, whole) << "split at " << i << " and " << j;
    }
  }
}

TEST(KissDecoder, HoldsNoMoreThanOneFrameWhateverArrives) {
  Recorder r(5100);
  const std::string megabyte(1024 * 1024, 'x');
  r.decoder.Feed(megabyte + kFend);
  EXPECT_EQ(r.events.size(), 1024u * 1024 / 5100 + 1) << "a stream that never frames is told in pieces";
  r.events.clear();
  for (int i = 0; i < 8; ++i) r.decoder.Feed(megabyte);
  EXPECT_EQ(r.decoder.Buffered(), 0u) << "a frame too long is dropped as it grows, not kept";
  r.decoder.Feed(std::string(1, kFend) + '\0' + std::string(5099, 'y') + kFend);
  ASSERT_EQ(r.events.size(), 2u);
  EXPECT_EQ(r.events[0], Fault(kTooLong, 8u * 1024 * 1024));
  EXPECT_EQ(r.events[1].size(), std::string("frame 00").size() + 5099 * 3);
}

TEST(KissDecoder, ACallbackThatResetsEndsTheChunk) {
  Recorder r;
  r.decoder.OnFrame = [&](const std::string& f) {
    r.events.push_back(f);
    r.decoder.Reset();
  };
  r.decoder.Feed("\xC0\x00" "a\xC0\x00" "b\xC0"s);
  EXPECT_EQ(r.events, Events{std::string("\0a", 2)});
  // After a reset the decoder hunts for a FEND again.
  r.decoder.Feed("\x00" "c\xC0\x00" "d\xC0"s);
  ASSERT_EQ(r.events.size(), 3u);
  EXPECT_EQ(r.events[1], Fault(kOutside, 2));
}

TEST(KissEncode, EscapesWhatFramesAndRoundTrips) {
  std::string all;
  for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
  const std::string encoded = KissEncode(all);
  EXPECT_EQ(encoded.size(), 256u + 2 + 2);
  EXPECT_EQ(encoded.find(kFend, 1), encoded.size() - 1) << "no FEND inside the frame";
  EXPECT_EQ(KissEncode("\xC0\xDB"s), "\xC0\xDB\xDC\xDB\xDD\xC0"s);
  Recorder r(256);
  r.decoder.Feed(encoded + KissEncode(all));
  ASSERT_EQ(r.events.size(), 2u);
  EXPECT_EQ(r.events[0], r.events[1]);
  EXPECT_EQ(r.events[0].size(), std::string("frame").size() + 256 * 3);
}

}  // namespace
}  // namespace ovlar
