#include "kiss/KissFrame.h"

namespace ovlar {

std::string KissEncode(const std::string& frame) {
  std::string out;
  out.reserve(frame.size() * 2 + 2);
  out += kFend;
  for (const char c : frame) {
    if (c == kFend) {
      out += kFesc;
      out += kTfend;
    } else if (c == kFesc) {
      out += kFesc;
      out += kTfesc;
    } else {
      out += c;
    }
  }
  out += kFend;
  return out;
}

void TKissDecoder::Feed(const char* bytes, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    if (!Take(bytes[i])) return;
  }
}

bool TKissDecoder::Take(char c) {
  switch (state_) {
    case TState::Hunting:
      if (c == kFend) {
        const size_t run = length_;
        state_ = TState::InFrame;
        Clear();
        return run == 0 || Fault(TFault::Outside, run, 0);
      }
      // A stream that never frames is told in pieces, not kept quiet.
      if (++length_ < maxFrame_) return true;
      length_ = 0;
      return Fault(TFault::Outside, maxFrame_, 0);
    case TState::InFrame:
      if (c == kFend) return FrameEnd();
      if (c == kFesc) {
        state_ = TState::Escaped;
      } else {
        Append(c);
      }
      return true;
    case TState::Escaped:
      state_ = TState::InFrame;
      if (c == kTfend) {
        Append(kFend);
      } else if (c == kTfesc) {
        Append(kFesc);
      } else {
        Spoil(TFault::BadEscape, static_cast<uint8_t>(c));
        // The escape stood for a byte of the frame, even one that FEND cuts
        // off, so that a spoilt frame never covers nothing.
        ++length_;
        // FEND still ends the frame: the next one is not lost with this one.
        if (c == kFend) return FrameEnd();
      }
      return true;
  }
  return true;
}

// Two FENDs in a row are no frame: TNCs put one before and after each.
bool TKissDecoder::FrameEnd() {
  const size_t length = length_;
  const bool spoilt = spoilt_;
  const TFault fault = spoiltBy_;
  const uint8_t after = spoiltAfter_;
  std::string frame;
  frame.swap(frame_);
  Clear();
  if (spoilt) return Fault(fault, length, after);
  if (length == 0 || !OnFrame) return true;
  const uint64_t generation = generation_;
  OnFrame(frame);
  return generation == generation_;
}

void TKissDecoder::Append(char c) {
  ++length_;
  if (spoilt_) return;
  if (length_ > maxFrame_) {
    Spoil(TFault::TooLong, 0);
    return;
  }
  frame_ += c;
}

void TKissDecoder::Spoil(TFault fault, uint8_t after) {
  if (spoilt_) return;
  spoilt_ = true;
  spoiltBy_ = fault;
  spoiltAfter_ = after;
  std::string().swap(frame_);
}

void TKissDecoder::Clear() {
  length_ = 0;
  frame_.clear();
  spoilt_ = false;
  spoiltAfter_ = 0;
}

bool TKissDecoder::Fault(TFault fault, size_t bytes, uint8_t after) {
  if (!OnFault) return true;
  const uint64_t generation = generation_;
  OnFault(fault, bytes, after);
  return generation == generation_;
}

void TKissDecoder::End() {
  const TState state = state_;
  const size_t length = length_;
  const bool spoilt = spoilt_;
  const TFault fault = spoiltBy_;
  const uint8_t after = spoiltAfter_;
  Reset();
  if (length == 0) return;
  if (state == TState::Hunting) {
    Fault(TFault::Outside, length, 0);
  } else {
    Fault(spoilt ? fault : TFault::Cut, length, after);
  }
}

void TKissDecoder::Reset() {
  ++generation_;
  state_ = TState::Hunting;
  Clear();
  std::string().swap(frame_);
}

}  // namespace ovlar
