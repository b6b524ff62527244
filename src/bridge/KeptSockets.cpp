#include "bridge/KeptSockets.h"

namespace ovlar {

TWSocket& TKeptSockets::For(const std::string& node, int32_t port, const TSockAddr& to) {
  Kept* kept = nullptr;
  for (Kept& k : kept_) {
    if (k.port == port && k.node == node) kept = &k;
  }
  if (!kept) {
    auto socket = std::make_unique<TWSocket>(loop_);
    socket->OnError = onError_;
    kept = &kept_.emplace_back(Kept{node, port, to, std::move(socket)});
  }
  TWSocket& socket = *kept->socket;
  if (socket.State() == wsConnected && kept->to == to) return socket;
  if (socket.State() != wsClosed) socket.Close();
  kept->to = to;
  // Closing forgets the settings: give them again.
  socket.SetProto("udp");
  socket.SetAddr(to.HostText());
  socket.SetPort(std::to_string(to.Port()));
  socket.ComponentOptions = wsoNoReceiveLoop;
  socket.Connect();
  return socket;
}

bool TKeptSockets::Send(const std::string& node, int32_t port, const TSockAddr& to, const std::string& datagram) {
  TWSocket& socket = For(node, port, to);
  // A failed Connect has already been reported through OnError.
  if (socket.State() != wsConnected) return false;
  // A datagram the system cannot take yet stays queued, in order, and goes
  // with the next write notification.
  return socket.Send(datagram.data(), static_cast<int>(datagram.size())) > 0;
}

}  // namespace ovlar
