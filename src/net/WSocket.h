// TWSocket: the socket component the program uses, the base with all its
// layers (SOCKS, line mode, synchronous waiting); with their defaults the
// layers change nothing. Owned by its creator; event-loop thread only.
#pragma once
#include "net/WSocketSync.h"

namespace ovlar {

class TWSocket : public TCustomSyncWSocket {
 public:
  using TCustomSyncWSocket::TCustomSyncWSocket;
};

}  // namespace ovlar
