// The UDP client sockets of KEEPSOCKET: one per node host and destination
// port, opened at the first datagram for it and kept, so that each
// datagram costs one send and leaves from one fixed source port. A socket
// whose address is no longer current, or that an error closed, is opened
// anew at its next datagram. Owned by TForm1; event-loop thread only.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "net/WSocket.h"
#include "platform/EventLoop.h"

namespace ovlar {

class TKeptSockets {
 public:
  TKeptSockets(EventLoop& loop, TCustomWSocket::TSocketError onError) : loop_(loop), onError_(std::move(onError)) {}

  // False when the datagram did not leave (an error, reported through the
  // error event, stopped it).
  // One socket per node host and port as configured; `to` is where that
  // node is now.
  bool Send(const std::string& node, int32_t port, const TSockAddr& to, const std::string& datagram);
  // Closes and releases every socket.
  void Clear() { kept_.clear(); }
  size_t Count() const { return kept_.size(); }

 private:
  struct Kept {
    std::string node;
    int32_t port;
    TSockAddr to;  // as given, for the comparison at each datagram
    std::unique_ptr<TWSocket> socket;
  };
  TWSocket& For(const std::string& node, int32_t port, const TSockAddr& to);

  EventLoop& loop_;
  TCustomWSocket::TSocketError onError_;
  // Few: destinations come from the configuration only.
  std::vector<Kept> kept_;
};

}  // namespace ovlar
