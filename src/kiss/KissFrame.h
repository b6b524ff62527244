// KISS framing, both ways. KissEncode wraps one frame for the TNC;
// TKissDecoder cuts the byte stream from the TNC into frames. A frame here
// is the type byte (port in the high nibble, command in the low) followed
// by the payload, unescaped. The decoder holds at most one frame of the
// longest length it was given, whatever arrives, and takes each byte once.
// Plain objects; event-loop thread only. Callbacks may Reset or End the
// decoder; the bytes of the chunk that follow are then not decoded.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace ovlar {

constexpr char kFend = '\xC0';
constexpr char kFesc = '\xDB';
constexpr char kTfend = '\xDC';
constexpr char kTfesc = '\xDD';

// FEND, the frame with FEND and FESC escaped, FEND.
std::string KissEncode(const std::string& frame);

class TKissDecoder {
 public:
  // What the decoder could not hand on as a frame.
  enum class TFault : uint8_t {
    Outside,    // bytes before the first FEND, not part of any frame
    BadEscape,  // FESC followed by neither TFEND nor TFESC
    TooLong,    // longer than the longest frame taken
    Cut,        // a frame the stream's end broke off
  };
  // A complete frame, never empty.
  std::function<void(const std::string& frame)> OnFrame;
  // bytes: how many the fault covered; after: the byte that broke an escape.
  std::function<void(TFault fault, size_t bytes, uint8_t after)> OnFault;

  // maxFrame: the longest frame (type byte included) handed on.
  explicit TKissDecoder(size_t maxFrame) : maxFrame_(maxFrame) {}

  void Feed(const char* bytes, size_t count);
  void Feed(const std::string& bytes) { Feed(bytes.data(), bytes.size()); }
  // The stream has ended: a frame begun is reported as cut, bytes outside
  // a frame as such. The decoder then waits for a first FEND again.
  void End();
  // Forgets everything, reporting nothing.
  void Reset();

  size_t MaxFrame() const { return maxFrame_; }
  // Bytes held for the frame under way.
  size_t Buffered() const { return frame_.size(); }

 private:
  enum class TState : uint8_t { Hunting, InFrame, Escaped };

  // False when a callback reset the decoder.
  bool Take(char c);
  bool FrameEnd();
  void Append(char c);
  void Spoil(TFault fault, uint8_t after);
  void Clear();
  bool Fault(TFault fault, size_t bytes, uint8_t after);

  const size_t maxFrame_;
  TState state_ = TState::Hunting;
  // Bytes of the frame or run of outside bytes under way, held or not.
  size_t length_ = 0;
  std::string frame_;
  // Set once the frame under way cannot be handed on: why, and the byte.
  bool spoilt_ = false;
  TFault spoiltBy_ = TFault::TooLong;
  uint8_t spoiltAfter_ = 0;
  // Changed by Reset and End: a callback that called them ends the chunk.
  uint64_t generation_ = 0;
};

}  // namespace ovlar
