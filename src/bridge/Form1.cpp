#include "bridge/Form1.h"

#include <algorithm>

#include "platform/IniFile.h"
#include "support/ReqLib32.h"

namespace ovlar {

namespace {

constexpr int64_t kRetryOutMs = 60000;

// Numeric settings fall back to their default when they are not all digits.
int32_t NumericOr(const std::string& text, int32_t def) { return IsNumeric(text) ? StrToInt(text) : def; }

// Parameter names padded so that the values line up in one column.
std::string Param(const std::string& name) { return PadRight("      " + name, 19, ' '); }

}  // namespace

TForm1::TForm1(EventLoop& loop, Desktop& desktop) : loop_(loop), desktop_(desktop) {}

TForm1::~TForm1() { FormDestroy(); }

void TForm1::FormCreate() {
  try {
    std::vector<std::string> routes;
    std::vector<std::string> ports;
    FStaticRoutes.clear();
    FXNet = {};
    ReadSettings(routes, ports);

    FLog = std::make_unique<TLog>();
    FLog->LogFileName = FLogFile;
    FLog->TraceLevel = FTrace;
    FLog->SetEnabled(true);
    WriteParameters();

    FRetryTimer = std::make_unique<TTimer>(loop_, kRetryOutMs, [this] { RetryOut(); });

    if (FMode != kModeMap) {
      FXNet[1] = TXNet{FDefPort, 93, 93, "UDP Port"};
      if (!routes.empty()) LoadRoutes(routes);
    } else if (!ports.empty()) {
      LoadXNetPorts(ports);
    } else {
      desktop_.MessageBox("XNet Port Configuration not found", "Configuration Error!", MsgButtons::Ok);
      FConfigError = true;
      ExitClick();
      return;
    }
  } catch (...) {
    Log("Create: Exception");
  }
}

void TForm1::ReadSettings(std::vector<std::string>& routes, std::vector<std::string>& ports) {
  const IniFile ini(WorkingDirectoryFile("OVLAR.INI"));
  FLogFile = ini.ReadString("OVLAR", "LOGFILE", "OVLAR.LOG");
  FMode = static_cast<uint8_t>(std::min(NumericOr(ini.ReadString("OVLAR", "MODE", "2"), kModeMap), int32_t{kModeMap}));
  FTrace = NumericOr(ini.ReadString("OVLAR", "TRACE", "0"), 0);
  const std::string recover = UpperText(ini.ReadString("OVLAR", "RECOVER", "YES"));
  FRecover = recover == "YES" || recover == "TRUE" || recover == "ON";
  FAGWAddress = ini.ReadString("AGW", "ADDRESS", "127.0.0.1");
  FAGWHostName = ini.ReadString("AGW", "HOSTNAME", "");
  FAGWLogin = ini.ReadString("AGW", "LOGIN", "");
  FAGWPassword = ini.ReadString("AGW", "PASSW", "");
  FAGWPort = NumericOr(ini.ReadString("AGW", "PORT", "8000"), 8000);
  FDefPort = NumericOr(ini.ReadString("AGW", "DEFPORT", "1"), 1);
  FXNetHost = ini.ReadString("XNET", "HOST", "");
  FXNetAddress = ini.ReadString("XNET", "ADDRESS", "127.0.0.1");
  FXNetPort = NumericOr(ini.ReadString("XNET", "PORT", "93"), 93);
  FRadioPort = NumericOr(ini.ReadString("XNET", "RADIOPORT", "1"), 1);
  FChannels = NumericOr(ini.ReadString("XNET", "CHANNELS", "1"), 1);
  routes = ini.ReadSectionValues("ROUTES");
  ports = ini.ReadSectionValues("XNET.PORT");
}

void TForm1::WriteParameters() {
  Log("Create: Starting Ovlar Version 1.00.00");
  Log("Create: Parameters");
  Log("  General");
  Log(Param("LOGFILE:") + FLogFile);
  Log(Param("TRACE:") + std::to_string(FTrace));
  Log(Param("RECOVER:") + BoolText(FRecover));
  Log(Param("MODE:") + std::to_string(FMode));
  Log("  AGWPE");
  Log(Param("HOST:") + FAGWHostName);
  Log(Param("ADDRESS:") + FAGWAddress);
  Log(Param("PORT:") + std::to_string(FAGWPort));
  Log(Param("LOGIN:") + FAGWLogin);
  Log(Param("PASSWORD:") + FAGWPassword);
  Log(Param("DEFAULT PORT:") + std::to_string(FDefPort));
  Log("  XNet");
  Log(Param("HOST:") + FXNetHost);
  Log(Param("ADDRESS:") + FXNetAddress);
  if (FMode != kModeMap) {
    Log(Param("PORT:") + std::to_string(FXNetPort));
    Log(Param("RADIOPORT") + std::to_string(FRadioPort));
    Log(Param("CHANNELS") + std::to_string(FChannels));
  }
}

void TForm1::LoadRoutes(const std::vector<std::string>& routes) {
  for (const std::string& line : routes) {
    if (auto route = ReadRouteLine(line, *FLog)) FStaticRoutes.push_back(*route);
  }
}

void TForm1::LoadXNetPorts(const std::vector<std::string>& ports) {
  int taken = 0;
  for (const std::string& line : ports) {
    if (auto entry = ReadXNetPortLine(line, taken, *FLog)) FXNet[++taken] = *entry;
  }
}

void TForm1::RetryOut() {
  if (FRetryTimer) FRetryTimer->SetEnabled(false);
}

void TForm1::ExitClick() {
  if (!FConfigError &&
      desktop_.MessageBox("Do you really want to exit?", "Warning!", MsgButtons::OkCancel) != MsgResult::Ok) {
    return;
  }
  desktop_.Terminate();
}

void TForm1::FormDestroy() {
  try {
    FReady = false;
    Log("Destroy: Shut-Down Requested");
    if (FRetryTimer) {
      FRetryTimer.reset();
      Log("Destroy: Retry-Out Timer Object Destroyed");
    }
    Log("Destroy: ShutDown Completed");
    if (FLog) FLog->SetEnabled(false);
    FLog.reset();
  } catch (...) {
    Log("Destroy: Exception on Module Destroy");
  }
}

}  // namespace ovlar
