// The two list sections of OVLAR.INI: ROUTES lines become static routes and
// XNET.PORT lines become XNet port table entries. Each reader logs what it
// read and throws on numbers that do not fit 32 bits.
#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "support/Log.h"

namespace ovlar {

constexpr int kXNetEntries = 10;

// One entry of the XNet port table; AGWPort 0 marks the end of the used part.
struct TXNet {
  int32_t AGWPort = 0;
  int32_t LocalUDP = 0;
  int32_t RemoteUDP = 0;
  std::string Name;
  // The node host of this entry; empty: XNET ADDRESS.
  std::string Host;
  // The line's key, for the log.
  std::string Label;
};

struct StaticRoute {
  int32_t Port;
  std::string CallSign;
};

// "CALLSIGN=PORT": a route for ports 1 to 99, nothing for any other port.
std::optional<StaticRoute> ReadRouteLine(const std::string& line, TLog& log);
// The HOST field of an XNET.PORT line, without blanks around it; empty when there is none.
std::string ReadXNetPortHost(const std::string& line);
// "NAME=AGW,LOCALUDP,REMOTEUDP[,HOST]": an entry unless invalid or `taken`
// is full; HOST as written, without blanks around it, and not yet checked.
std::optional<TXNet> ReadXNetPortLine(const std::string& line, int taken, TLog& log);
// Why an entry cannot work, as the end of a start-up fault line; empty when
// it can. Its local UDP port may be 0: one the system picks.
std::string XNetEntryFault(const TXNet& entry);

}  // namespace ovlar
