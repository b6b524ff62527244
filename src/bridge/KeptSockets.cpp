#include "bridge/KeptSockets.h"

namespace ovlar {

TWSocket& TKeptSockets::For(const std::string& address, int32_t port) {
  Kept* kept = nullptr;
  for (Kept& k : kept_) {
    if (k.port == port) kept = &k;
  }
  if (!kept) {
    auto socket = std::make_unique<TWSocket>(loop_);
    socket->OnError = onError_;
    kept = &kept_.emplace_back(Kept{port, address, std::move(socket)});
  }
  TWSocket& socket = *kept->socket;
  if (socket.State() == wsConnected && kept->address == address) return socket;
  if (socket.State() != wsClosed) socket.Close();
  kept->address = address;
  // Closing forgets the settings: give them again.
  socket.SetProto("udp");
  socket.SetAddr(address);
  socket.SetPort(std::to_string(port));
  socket.ComponentOptions = wsoNoReceiveLoop;
  socket.Connect();
  return socket;
}

bool TKeptSockets::Send(const std::string& address, int32_t port, const std::string& datagram) {
  TWSocket& socket = For(address, port);
  // A failed Connect has already been reported through OnError.
  if (socket.State() != wsConnected) return false;
  // A datagram the system cannot take yet stays queued, in order, and goes
  // with the next write notification.
  return socket.Send(datagram.data(), static_cast<int>(datagram.size())) > 0;
}

}  // namespace ovlar
