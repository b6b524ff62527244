// A KISS TNC on a serial port, a USB adapter or a pseudo-terminal: the
// device opened non-blocking, raw 8N1 at the given speed, and watched by
// the event loop like a socket. A device that is missing, fails to read or
// hangs up (an adapter pulled out) ends the link with the system's reason.
// Owns its descriptor; event-loop thread only.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "kiss/KissLink.h"
#include "platform/EventLoop.h"

namespace ovlar {

// Whether the serial port can be set to this many bits per second.
bool KissSpeedSupported(int64_t bitsPerSecond);

class TKissSerialLink : public TKissLink {
 public:
  // More waiting for the device than this means it has stopped taking
  // bytes (flow control held): later writes are refused whole.
  static constexpr size_t kMaxQueued = 64 * 1024;

  TKissSerialLink(EventLoop& loop, std::string device, int64_t speed);
  ~TKissSerialLink() override;

  void Open() override;
  void Close() override;
  TSendResult Write(const std::string& bytes) override;
  bool IsOpen() const override { return state_ == TState::Open; }
  std::string Peer() const override { return device_; }

 private:
  enum class TState : uint8_t { Idle, Opening, Open };

  // The system's text for a failed call: "tcsetattr: Input/output error (5)".
  static std::string CallFailed(const char* call, int error);
  // False, with the reason, when the descriptor cannot be made a raw line.
  bool MakeRaw(std::string& reason) const;
  void OnReady(const PollEvent& ev);
  // False once the link has ended.
  bool ReadSome(const PollEvent& ev);
  // False once the link has ended.
  bool Flush();
  void Lost(const std::string& reason);
  void Release();

  EventLoop& loop_;
  const std::string device_;
  const int64_t speed_;
  int fd_ = -1;
  TState state_ = TState::Idle;
  std::string queued_;
  // A write failure ends the link on a later turn, as Write fires nothing.
  std::shared_ptr<int> alive_;
};

}  // namespace ovlar
