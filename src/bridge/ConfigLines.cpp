#include "bridge/ConfigLines.h"

#include "bridge/StartupFaults.h"
#include "net/WSocketResolve.h"
#include "support/ReqLib32.h"

namespace ovlar {

std::optional<StaticRoute> ReadRouteLine(const std::string& line, TLog& log) {
  std::string value = line;
  std::string callsign = UpperText(SplitAt(value, '='));
  std::string suffix = callsign;
  const std::string base = SplitAt(suffix, '-');
  // "N0CALL-0" and "N0CALL" are the same station.
  const int32_t ssid = suffix.empty() ? 0 : StrToInt(suffix);
  if (ssid == 0) callsign = base;
  const std::string port = NextWord(value);
  log.WriteLog(1, "Create: Load Route (" + port + ":" + callsign + ")");
  if (!IsNumeric(port)) return std::nullopt;
  const int32_t number = StrToInt(port);
  if (number < 1 || number > 99) return std::nullopt;
  return StaticRoute{number, callsign};
}

std::string ReadXNetPortHost(const std::string& line) {
  std::string value = line;
  SplitAt(value, '=');
  for (int field = 0; field < 3; ++field) SplitAt(value, ',');
  return TrimBlanks(SplitAt(value, ','));
}

std::optional<TXNet> ReadXNetPortLine(const std::string& line, int taken, TLog& log) {
  std::string value = line;
  const std::string label = SplitAt(value, '=');
  const std::string agw = SplitAt(value, ',');
  const std::string local = SplitAt(value, ',');
  const std::string remote = SplitAt(value, ',');
  const std::string host = ReadXNetPortHost(line);
  log.WriteLog(1, "Create: XNet Port(" + label + ") AGW(" + agw + ") LocalUDP(" + local + ") RemoteUDP(" + remote +
                      ")");
  if (!IsNumeric(agw) || !IsNumeric(local) || !IsNumeric(remote)) {
    log.WriteLog(1, "Create: Invalid Parameters, entry ignored");
    return std::nullopt;
  }
  if (taken >= kXNetEntries) {
    log.WriteLog(1, "Create: Port Entries exceed maximum, entry ignored");
    return std::nullopt;
  }
  return TXNet{StrToInt(agw), StrToInt(local), StrToInt(remote), "UDP Port", host, label};
}

std::string XNetEntryFault(const TXNet& entry) {
  // Past 255 the engine's one-byte port field would wrap onto another radio.
  if (entry.AGWPort < 1 || entry.AGWPort > TStartupFaults::kMaxRadioPort) {
    return "holds a radio port out of range (1 to " + std::to_string(TStartupFaults::kMaxRadioPort) + ")";
  }
  if (entry.LocalUDP > TStartupFaults::kMaxPort || entry.RemoteUDP > TStartupFaults::kMaxPort) {
    return "holds a UDP port too large (at most " + std::to_string(TStartupFaults::kMaxPort) + ")";
  }
  // Nothing can be sent to port 0.
  if (entry.RemoteUDP == 0) return "holds a remote UDP port too small (at least 1)";
  return {};
}

}  // namespace ovlar
