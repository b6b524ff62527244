// Which packet engine the bridge talks to: the AGWPE client, or a KISS TNC
// over TCP or on a serial device. Its settings, their checks, its block of
// the log's parameters, and the engine itself.
#include <netinet/in.h>

#include "bridge/Form1.h"
#include "kiss/KissEngine.h"
#include "kiss/KissSerialLink.h"
#include "kiss/KissTcpLink.h"
#include "platform/WinSock.h"
#include "support/ReqLib32.h"

namespace ovlar {

void TForm1::ReadEngineSettings(const IniFile& ini, TStartupFaults& faults) {
  const std::string engine = ini.ReadString("OVLAR", "ENGINE", "AGW");
  const std::string kind = UpperText(engine);
  FKiss = kind == "KISS";
  if (kind != "AGW" && !FKiss) {
    faults.Fault(TStartupFaults::Line("OVLAR", "ENGINE", engine, "is neither AGW nor KISS"));
  }
  // The [KISS] keys mean nothing to an AGWPE bridge, which leaves them unread.
  if (!FKiss) return;
  FKissAddress = ini.ReadString("KISS", "ADDRESS", "127.0.0.1");
  FKissHostName = ini.ReadString("KISS", "HOSTNAME", "");
  FKissPort = faults.Within(ini, "KISS", "PORT", 8001, 1, TStartupFaults::kMaxPort);
  FKissDevice = ini.ReadString("KISS", "DEVICE", "");
  FKissSpeed = faults.Number(ini, "KISS", "SPEED", 9600);
  FKissPorts = faults.Within(ini, "KISS", "PORTS", 1, 1, TKissEngine::kMaxPorts);
}

void TForm1::CheckEngineSettings(TStartupFaults& faults) const {
  if (!FKiss) return;
  if (!FKissDevice.empty()) {
    if (!KissSpeedSupported(FKissSpeed)) {
      faults.Fault(TStartupFaults::Line("KISS", "SPEED", std::to_string(FKissSpeed),
                                        "is not a serial speed (300, 600, 1200, 2400, 4800, 9600, 19200, 38400, "
                                        "57600, 115200, 230400, 460800 or 921600)"));
    }
  } else if (FKissHostName.empty() && wsock::InetAddr(FKissAddress) == INADDR_NONE) {
    // As for [AGW]: ADDRESS is taken as the platform parses it.
    faults.Fault(TStartupFaults::Line("KISS", "ADDRESS", FKissAddress,
                                      "is not an IPv4 address (a host name belongs in HOSTNAME)"));
  }
  // A default port the TNC does not have would drop every frame sent to it.
  if (FMode != kModeMap && FDefPort > FKissPorts) {
    faults.Fault(TStartupFaults::Line("KISS", "DEFPORT", std::to_string(FDefPort),
                                      "is beyond the TNC's PORTS (" + std::to_string(FKissPorts) + ")"));
  }
}

void TForm1::WriteEngineParameters() {
  if (!FKiss) {
    Log("  AGWPE");
    Log(Param("HOST:") + FAGWHostName);
    Log(Param("ADDRESS:") + FAGWAddress);
    Log(Param("PORT:") + std::to_string(FAGWPort));
    Log(Param("LOGIN:") + FAGWLogin);
    Log(Param("PASSWORD:") + MaskedPassword(FAGWPassword));
    Log(Param("DEFAULT PORT:") + std::to_string(FDefPort));
    return;
  }
  Log("  KISS");
  if (!FKissDevice.empty()) {
    Log(Param("DEVICE:") + FKissDevice);
    Log(Param("SPEED:") + std::to_string(FKissSpeed));
  } else {
    Log(Param("HOST:") + FKissHostName);
    Log(Param("ADDRESS:") + FKissAddress);
    Log(Param("PORT:") + std::to_string(FKissPort));
  }
  Log(Param("PORTS:") + std::to_string(FKissPorts));
  Log(Param("DEFAULT PORT:") + std::to_string(FDefPort));
}

std::unique_ptr<TEngine> TForm1::CreateKissEngine() {
  std::unique_ptr<TKissLink> link;
  if (!FKissDevice.empty()) {
    link = std::make_unique<TKissSerialLink>(loop_, FKissDevice, FKissSpeed);
  } else {
    link = std::make_unique<TKissTcpLink>(loop_, FKissHostName, FKissAddress, FKissPort);
  }
  // The longest frame a datagram to the node can hold, with the type byte.
  auto engine = std::make_unique<TKissEngine>(std::move(link), FKissPorts, size_t{kSendBuffer} - 1);
  engine->Logger = FLog.get();
  return engine;
}

void TForm1::EngineDropped(TEngineDrop why) {
  DropRadio(why == TEngineDrop::NotMapped ? TDrop::NotMapped : TDrop::BadLength);
}

}  // namespace ovlar
