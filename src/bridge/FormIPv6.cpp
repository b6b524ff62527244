// IPv6 beside IPv4 on the node side: each listener gets an IPv6-only twin
// on its port once any node host has an IPv6 address, written so or looked
// up; a station whose nodes are all IPv4 opens no IPv6 socket at all.
#include <netinet/in.h>

#include "bridge/Form1.h"
#include "platform/WinSock.h"

namespace ovlar {

bool TForm1::AnyNodeIPv6() const {
  if (!FHostNames) return false;
  const int entries = FMode == kModeMap ? kXNetEntries : 1;
  for (int i = 1; i <= entries && (i == 1 || FXNet[i].AGWPort != 0); ++i) {
    for (const TSockAddr& a : FHostNames->Addresses(NodeHost(i))) {
      if (a.Family() == AF_INET6) return true;
    }
  }
  return false;
}

void TForm1::OpenIPv6Listeners() {
  for (size_t i = 1; i < FSockets.size(); ++i) {
    if (!FSockets[i] || FSockets6[i]) continue;
    const int32_t number = FMode == kModeMap ? FXNet[i].LocalUDP : FXNetPort;
    const std::string port = std::to_string(number);
    auto socket = CreateListener(number, "::");
    if (socket->State() != wsConnected) {
      // The IPv4 side works on; what is sent to an IPv6 node is counted as not sent.
      Log("<Create> IPv6 UDP Listener Port(" + port + ") not opened: " + SystemErrorText(socket->LastError()) +
          " (" + std::to_string(socket->LastError()) + ")");
      continue;
    }
    FSockets6[i] = std::move(socket);
    Log("<Create> IPv6 UDP Listener Port(" + port + ") Created");
  }
}

TWSocket* TForm1::ListenerFor(int entry, int family) const {
  const size_t i = static_cast<size_t>(entry);
  return family == AF_INET6 ? FSockets6.at(i).get() : FSockets.at(i).get();
}

}  // namespace ovlar
