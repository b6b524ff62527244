// The byte pipe to a KISS TNC: a TCP connection or a serial device. It
// opens, carries bytes both ways and tells when it ends, with the system's
// reason; the KISS engine frames what passes. Owned by the engine;
// event-loop thread only. Events come from the loop's descriptor events and
// from Open when it fails at once; Close and Write fire none.
#pragma once
#include <cstddef>
#include <functional>
#include <string>

#include "engine/Engine.h"

namespace ovlar {

class TKissLink {
 public:
  // Event slots; an empty one is skipped.
  std::function<void()> OnOpened;
  std::function<void(const std::string& bytes)> OnRead;
  // The link ended or never came up. failed: by an error rather than the
  // peer's orderly close; reason: the system's text and number.
  std::function<void(bool failed, const std::string& reason)> OnClosed;
  // A line the owner logs: a platform call that failed without ending the link.
  std::function<void(const std::string& line)> OnNote;

  TKissLink() = default;
  virtual ~TKissLink() = default;
  TKissLink(const TKissLink&) = delete;
  TKissLink& operator=(const TKissLink&) = delete;

  // Starts opening; one under way or open is left as it is.
  virtual void Open() = 0;
  // Ends the link or the attempt; nothing is reported of it.
  virtual void Close() = 0;
  // Sent when the bytes were written or queued in order behind earlier ones.
  virtual TSendResult Write(const std::string& bytes) = 0;
  virtual bool IsOpen() const = 0;
  // As the settings name it: "127.0.0.1:8001", "/dev/ttyUSB0".
  virtual std::string Peer() const = 0;

 protected:
  void Note(const std::string& line) const {
    if (OnNote) OnNote(line);
  }
};

}  // namespace ovlar
