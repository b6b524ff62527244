#include "bridge/Form1.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <stdexcept>

#include "bridge/Program.h"
#include "bridge/SettingChecks.h"
#include "bridge/StartupFaults.h"
#include "platform/IniFile.h"
#include "platform/ServiceEnvironment.h"
#include "platform/WinSock.h"
#include "support/ReqLib32.h"

namespace ovlar {

namespace {

// YES, TRUE or ON in any case; anything else is off.
bool SwitchOn(const std::string& text) {
  const std::string upper = UpperText(text);
  return upper == "YES" || upper == "TRUE" || upper == "ON";
}

// ": " and what the failure being handled says; nothing for one that says
// nothing. Only inside a catch block.
std::string CaughtText() {
  try {
    throw;
  } catch (const std::exception& e) {
    return std::string(": ") + e.what();
  } catch (...) {
    return "";
  }
}

}  // namespace

std::string TForm1::Param(const std::string& name) { return PadRight("      " + name, 19, ' '); }

TForm1::TForm1(EventLoop& loop, Desktop& desktop)
    : loop_(loop),
      desktop_(desktop),
      // Under a service manager stderr is the journal: the link's notices
      // are worth a line there as on a terminal.
      FTerminal(isatty(STDERR_FILENO) == 1 || IsJournalStream(std::getenv("JOURNAL_STREAM"), STDERR_FILENO)) {}

TForm1::~TForm1() { FormDestroy(); }

// ---- Start-up ----

void TForm1::FormCreate() {
  try {
    std::vector<std::string> routes;
    std::vector<std::string> ports;
    TStartupFaults faults;
    const std::string iniPath = WorkingDirectoryFile("OVLAR.INI");
    const IniFile ini(iniPath);
    const std::string notRead = "OVLAR.INI: \"" + iniPath + "\" not read: " + ini.ErrorText();
    // A file that is there but unreadable is a mistake to name, not a
    // station without settings.
    if (ini.Error() != 0 && ini.Error() != ENOENT) faults.Fault(notRead);
    ReadSettings(ini, faults, routes, ports);
    CheckSettings(faults);

    CreateLog(CheckLogFile(faults, FLogFile, iniPath));
    WriteParameters(ports);
    CreateServiceState();
    // Without the file only the MAP configuration error can follow; this says why.
    if (ini.Error() == ENOENT) Notify(notRead);
    if (!FLog->Fault().empty()) Notify(FLog->Fault());
    for (const std::string& warning : faults.Warnings()) Notify(warning);
    if (faults.Failed()) return StartFailed(faults.First());

    FRetryTimer = std::make_unique<TTimer>(loop_, kRetryOutMs, [this] { RetryOut(); });
    CreateL2();
    CreateUDPClient();
    CreateHostNames();
    if (FMode != kModeMap) {
      FXNet[1] = TXNet{FDefPort, 93, 93, "UDP Port", "", "XNET"};
      FSockets[1] = CreateListener(FXNetPort);
      const std::string port = std::to_string(FXNetPort);
      if (!Listening(*FSockets[1], "XNET", "PORT", port)) return;
      Log("<Create> UDP Listener Created");
    }
    hLED = std::make_unique<TTimer>(loop_, kActivityMs, [this] { ActivityDone(); });
    CreateStatusTimers();
    if (FMode != kModeMap) {
      if (!routes.empty() && !LoadRoutes(routes)) return;
    } else if (!ports.empty()) {
      if (!LoadXNetPorts(ports)) return;
    } else {
      desktop_.MessageBox("XNet Port Configuration not found", "Configuration Error!", MsgButtons::Ok);
      if (FService) FService->Status("XNet Port Configuration not found");
      FConfigError = true;
      ExitClick();
      return;
    }
    if (AnyNodeIPv6()) OpenIPv6Listeners();
    if (!CreateStatusServer()) return;
    CreateDesktopObjects();
    // Listeners open, the engine's connection under way.
    if (FService) FService->Ready();
  } catch (...) {
    Log("Create: Exception" + CaughtText());
  }
}

void TForm1::CreateLog(bool usable) {
  FLog = std::make_unique<TLog>();
  FLog->LogFileName = FLogFile;
  FLog->TraceLevel = FTrace;
  FLog->MaxSize = int64_t{FLogSize} * 1024;
  // A LOGFILE refused is never opened: it may be OVLAR.INI or a FIFO.
  if (usable) FLog->SetEnabled(true);
  // What a socket met in an event and could hand to nobody.
  loop_.SetFailureHandler([this](const std::exception& e) { Log(std::string("Run: Exception: ") + e.what()); });
}

void TForm1::Notify(const std::string& line) {
  Log("Create: " + line);
  desktop_.Notice("ovlar: " + line);
}

void TForm1::CreateServiceState() {
  FService = std::make_unique<TServiceState>(loop_, TServiceNotify::FromEnvironment(),
                                             [this](const std::string& line) { Log(line); });
  if (!FService->Fault().empty()) Notify(FService->Fault());
}

void TForm1::StartFailed(const std::string& why) {
  Notify(why);
  // What `systemctl status` shows of a start that failed.
  if (FService) FService->Status(why);
  FConfigError = true;
  ExitClick();
}

void TForm1::ReadSettings(const IniFile& ini, TStartupFaults& faults, std::vector<std::string>& routes,
                          std::vector<std::string>& ports) {
  const int64_t maxPort = TStartupFaults::kMaxPort;
  // DEFPORT and XNET PORT work in DIRECT and CACHE mode only; MAP leaves them unused.
  // Under a service manager the log has a folder of its own.
  FLogFile = LogFileBelow(ini.ReadString("OVLAR", "LOGFILE", "OVLAR.LOG"), std::getenv("LOGS_DIRECTORY"));
  ReadEngineSettings(ini, faults);
  FMode = static_cast<uint8_t>(std::min(faults.Number(ini, "OVLAR", "MODE", kModeMap), int32_t{kModeMap}));
  FTrace = faults.Number(ini, "OVLAR", "TRACE", 0);
  FLogSize = faults.Number(ini, "OVLAR", "LOGSIZE", 10240);
  FRecover = SwitchOn(ini.ReadString("OVLAR", "RECOVER", "YES"));
  // A KISS TNC has no loopback port: what is heard there is always a station's.
  FLearn = FKiss || SwitchOn(ini.ReadString("OVLAR", "LEARN", "NO"));
  // A KISS bridge leaves [AGW] unread: a section kept from before is no fault.
  if (!FKiss) {
    FAGWAddress = ini.ReadString("AGW", "ADDRESS", "127.0.0.1");
    FAGWHostName = ini.ReadString("AGW", "HOSTNAME", "");
    FAGWLogin = ini.ReadString("AGW", "LOGIN", "");
    FAGWPassword = ini.ReadString("AGW", "PASSW", "");
    FAGWPort = faults.Within(ini, "AGW", "PORT", 8000, 1, maxPort);
  }
  const char* const engine = FKiss ? "KISS" : "AGW";
  FDefPort = FMode == kModeMap ? faults.Number(ini, engine, "DEFPORT", 1)
                               : faults.Within(ini, engine, "DEFPORT", 1, 1, TStartupFaults::kMaxRadioPort);
  FXNetHost = ini.ReadString("XNET", "HOST", "");
  FXNetAddress = ini.ReadString("XNET", "ADDRESS", "127.0.0.1");
  FXNetAccept = ini.ReadString("XNET", "ACCEPT", "");
  FXNetPort = faults.Within(ini, "XNET", "PORT", 93, FMode == kModeMap ? 0 : 1, maxPort);
  FRadioPort = faults.Number(ini, "XNET", "RADIOPORT", 1);
  FChannels = faults.Number(ini, "XNET", "CHANNELS", 1);
  FKeepSocket = SwitchOn(ini.ReadString("XNET", "KEEPSOCKET", "NO"));
  FSymmetric = SwitchOn(ini.ReadString("XNET", "SYMMETRIC", "NO"));
  FFollow = SwitchOn(ini.ReadString("XNET", "FOLLOW", "NO"));
  if (FFollow && TAcceptList(FXNetAccept, FXNetAddress).Empty()) {
    faults.Fault(TStartupFaults::Line("XNET", "FOLLOW", ini.ReadString("XNET", "FOLLOW", ""),
                                      "needs an ACCEPT list: without one anybody could redirect the station's "
                                      "traffic"));
  }
  if (FSymmetric && FKeepSocket) {
    faults.Warn(TStartupFaults::Line("XNET", "KEEPSOCKET", ini.ReadString("XNET", "KEEPSOCKET", ""),
                                     "has no effect: SYMMETRIC is on, datagrams leave from the listeners"));
  }
  FStatusPort = faults.Number(ini, "STATUS", "PORT", 0, maxPort);
  FStatusAddress = ini.ReadString("STATUS", "ADDRESS", "127.0.0.1");
  routes = ini.ReadSectionValues("ROUTES");
  ports = ini.ReadSectionValues("XNET.PORT");
}

void TForm1::CheckSettings(TStartupFaults& faults) const {
  // The client connects to ADDRESS as the platform parses it; a name there
  // never worked, and ADDRESS is not used at all when HOSTNAME is set.
  if (!FKiss && FAGWHostName.empty() && wsock::InetAddr(FAGWAddress) == INADDR_NONE) {
    faults.Fault(TStartupFaults::Line("AGW", "ADDRESS", FAGWAddress,
                                      "is not an IPv4 address (a host name belongs in HOSTNAME)"));
  }
  // A name that fails to resolve may resolve later; one that cannot exist never will.
  if (!IsHostText(FXNetAddress)) {
    faults.Fault(TStartupFaults::Line("XNET", "ADDRESS", FXNetAddress, "is neither an IPv4 address nor a host name"));
  }
  CheckAccept(faults, FXNetAccept, FXNetAddress);
  CheckEngineSettings(faults);
  if (FStatusPort != 0 && wsock::InetAddr(FStatusAddress) == INADDR_NONE) {
    faults.Fault(TStartupFaults::Line("STATUS", "ADDRESS", FStatusAddress, "is not an IPv4 address"));
  }
}

void TForm1::WriteParameters(const std::vector<std::string>& ports) {
  Log("Create: Starting Ovlar Version 1.00.00");
  Log("Create: Parameters");
  Log("  General");
  Log(Param("LOGFILE:") + FLogFile);
  Log(Param("TRACE:") + std::to_string(FTrace));
  Log(Param("RECOVER:") + BoolText(FRecover));
  Log(Param("MODE:") + std::to_string(FMode));
  if (FLearn) Log(Param("LEARN:") + BoolText(FLearn));
  WriteEngineParameters();
  Log("  XNet");
  Log(Param("HOST:") + FXNetHost);
  Log(Param("ADDRESS:") + FXNetAddress);
  if (!FXNetAccept.empty()) Log(Param("ACCEPT:") + FXNetAccept);
  if (FKeepSocket) Log(Param("KEEPSOCKET:") + BoolText(FKeepSocket));
  if (FSymmetric) Log(Param("SYMMETRIC:") + BoolText(FSymmetric));
  if (FFollow) Log(Param("FOLLOW:") + BoolText(FFollow));
  // Only entries with a node of their own: a table without any logs as it always did.
  for (const std::string& line : FMode == kModeMap ? ports : std::vector<std::string>{}) {
    const std::string host = ReadXNetPortHost(line);
    std::string label = line;
    label = SplitAt(label, '=');
    if (!host.empty()) Log(Param("HOST(" + label + "):") + host);
  }
  if (FMode != kModeMap) {
    Log(Param("PORT:") + std::to_string(FXNetPort));
    Log(Param("RADIOPORT") + std::to_string(FRadioPort));
    Log(Param("CHANNELS") + std::to_string(FChannels));
  }
  if (FStatusPort != 0) {
    Log("  Status");
    Log(Param("ADDRESS:") + FStatusAddress);
    Log(Param("PORT:") + std::to_string(FStatusPort));
  }
}

void TForm1::CreateL2() {
  FEngine = EngineFactory ? EngineFactory(loop_) : FKiss ? CreateKissEngine() : CreateAGWEngine();
  FEngine->FOnDropped = [this](TEngine*, TEngineDrop why) { EngineDropped(why); };
  FEngine->FOnUp = [this](TEngine* s) { AGWUp(s); };
  FEngine->FOnDown = [this](TEngine* s) { AGWDown(s); };
  FEngine->FOnError = [this](TEngine* s) { OnAGWError(s); };
  FEngine->FOnPorts = [this](TEngine* s) { OnPort(s); };
  FEngine->FOnHeard = [this](TEngine* s, int32_t port, const std::string& data) { OnKissBefore(s, port, data); };
  FEngine->Open();
  Log("<Create> L2 Object Created");
}

std::unique_ptr<TEngine> TForm1::CreateAGWEngine() {
  auto engine = std::make_unique<TAGWEngine>(loop_);
  FL2 = &engine->L2();
  FL2->Logger = FLog.get();
  FL2->SetCallSign("OVLAR-0");
  if (!FAGWHostName.empty()) FL2->HostName = FAGWHostName;
  FL2->SetAddress(FAGWAddress);
  FL2->SetTCPPort(FAGWPort);
  FL2->SetMonitor("N");
  FL2->RawMonitor = true;
  FL2->PollPorts = true;
  FL2->User = FAGWLogin;
  FL2->Password = FAGWPassword;
  return engine;
}

void TForm1::CreateUDPClient() {
  FUDPClient = std::make_unique<TWSocket>(loop_);
  FUDPClient->OnError = [this](TCustomWSocket* s, int32_t e, const std::string& m) { OnOutError(s, e, m); };
  FUDPClient->SetProto("udp");
  FUDPClient->SetAddr(FXNetAddress);
  FUDPClient->SetPort(std::to_string(FXNetPort));
  FUDPClient->ComponentOptions = wsoNoReceiveLoop;
  if (FKeepSocket && !FSymmetric) {
    FKeptSockets = std::make_unique<TKeptSockets>(
        loop_, [this](TCustomWSocket* s, int32_t e, const std::string& m) { OnOutError(s, e, m); });
  }
  Log("<Create> UDP Client Created");
}

void TForm1::CreateHostNames() {
  FHostNames = std::make_unique<THostNames>(loop_, FLog.get());
  FAcceptList = TAcceptList(FXNetAccept, FXNetAddress);
  if (FAcceptList.Empty()) Log("<Create> AXIP datagrams accepted from any host");
  FHostNames->Add(FXNetAddress);
  for (const std::string& host : FAcceptList.Hosts()) FHostNames->Add(host);
  FHostNames->OnChange = [this](const std::string&) {
    if (AnyNodeIPv6()) OpenIPv6Listeners();
  };
  FHostNames->Start();
}

bool TForm1::AddNodeHost(const std::string& host) {
  // As for XNET ADDRESS: a name that fails may resolve later, one that cannot exist never will.
  if (!IsHostText(host)) return false;
  FHostNames->Add(host);
  FAcceptList.AddNode(host);
  return true;
}

std::unique_ptr<TWSocket> TForm1::CreateListener(int32_t localPort, const std::string& address) {
  auto socket = std::make_unique<TWSocket>(loop_);
  socket->OnDataAvailable = [this](TCustomWSocket* s, uint16_t error) { OnDataAvailable(s, error); };
  socket->OnError = [this](TCustomWSocket* s, int32_t e, const std::string& m) { OnInError(s, e, m); };
  socket->SetProto("udp");
  socket->SetPort(std::to_string(localPort));
  socket->SetAddr(address);
  socket->ComponentOptions = wsoNoReceiveLoop;
  socket->Listen();
  return socket;
}

bool TForm1::Listening(const TWSocket& socket, const std::string& section, const std::string& key,
                       const std::string& value) {
  if (socket.State() == wsConnected) return true;
  StartFailed(TStartupFaults::Line(section, key, value,
                                   "UDP listener on port " + socket.Port() +
                                       " not opened: " + SystemErrorText(socket.LastError())));
  return false;
}

bool TForm1::LoadRoutes(const std::vector<std::string>& routes) {
  for (const std::string& line : routes) {
    std::string value = line;
    const std::string key = SplitAt(value, '=');
    try {
      if (auto route = ReadRouteLine(line, *FLog)) Isrt(route->Port, route->CallSign, 1);
    } catch (const std::out_of_range&) {
      StartFailed(TStartupFaults::Line("ROUTES", key, value, "holds a number too large (at most 2147483647)"));
      return false;
    } catch (const std::invalid_argument&) {
      StartFailed(TStartupFaults::Line("ROUTES", key, value, "has an SSID that is not a number"));
      return false;
    }
  }
  return true;
}

bool TForm1::LoadXNetPorts(const std::vector<std::string>& ports) {
  int taken = 0;
  for (const std::string& line : ports) {
    std::string value = line;
    const std::string key = SplitAt(value, '=');
    std::optional<TXNet> entry;
    try {
      entry = ReadXNetPortLine(line, taken, *FLog);
    } catch (const std::out_of_range&) {
      StartFailed(TStartupFaults::Line("XNET.PORT", key, value, "holds a number too large (at most 2147483647)"));
      return false;
    }
    if (!entry) continue;
    // A radio port 0 would end the table there and hide the entries after it.
    if (const std::string why = XNetEntryFault(*entry); !why.empty()) {
      StartFailed(TStartupFaults::Line("XNET.PORT", key, value, why));
      return false;
    }
    if (!entry->Host.empty() && !AddNodeHost(entry->Host)) {
      StartFailed(TStartupFaults::Line("XNET.PORT", key, value,
                                       "holds a host that is neither an IPv4 address nor a host name"));
      return false;
    }
    ++taken;
    FXNet[taken] = *entry;
    FSockets[taken] = CreateListener(entry->LocalUDP);
    if (!Listening(*FSockets[taken], "XNET.PORT", key, value)) return false;
    std::string local = value;
    SplitAt(local, ',');
    Log("<Create> UDP Listener Port(" + SplitAt(local, ',') + ") Created");
  }
  return true;
}

void TForm1::CreateDesktopObjects() {
  desktop_.SetPopupMenu({{"About", [this] { AboutClick(); }},
                         {"Help", [this] { HelpClick(); }},
                         {"Shutdown", [this] { ExitClick(); }}});
  desktop_.SetApplicationTitle(kProduct);
  FIcon = TrayIcon::XUnknown;
  FIconAdded = desktop_.AddTrayIcon(FIcon, kProduct, [this](int mouseEvent) { WMTrayIcon(mouseEvent); });
  hAboutDlg = std::make_unique<TAboutDlg>(desktop_);
  hAboutDlg->Title = "AXIP-AGWPE Bridge for the AGWPE";
  hAboutDlg->ProductName = kProduct;
  hAboutDlg->CopyRight = "(C) 2001 Ovlar Author, N0CALL";
  hAboutDlg->Programmer = "Free software for radio amateurs";
  hAboutDlg->WebSite = "";
  hAboutDlg->LoadIcon(WorkingDirectoryFile("OVLAR.ICO"));
  desktop_.SetApplicationIcon(hAboutDlg->Icon());
  desktop_.SetMainWindowCaption("Ovlar Version 1.00.00");
  desktop_.HideMainWindow();
}

// ---- User interface ----

void TForm1::WMTrayIcon(int mouseEvent) {
  try {
    if (mouseEvent == kRightButtonDown) desktop_.PopupMenuAtCursor();
  } catch (...) {
    Log("<L2> Exception on module WMTrayIcon");
  }
}

void TForm1::AboutClick() {
  try {
    if (hAboutDlg) hAboutDlg->Execute();
  } catch (...) {
    Log("<L2> Exception on module AboutClick");
  }
}

void TForm1::HelpClick() {
  try {
    desktop_.OpenDocument("file://" + WorkingDirectoryFile("OVLAR.HTM"));
  } catch (...) {
    Log("<L2> Exception on module HelpClick");
  }
}

void TForm1::ExitClick() {
  if (!FConfigError &&
      desktop_.MessageBox("Do you really want to exit?", "Warning!", MsgButtons::OkCancel) != MsgResult::Ok) {
    return;
  }
  Shutdown();
}

void TForm1::Shutdown() {
  if (FService) FService->Stopping();
  if (FIconAdded) desktop_.DeleteTrayIcon();
  FIconAdded = false;
  desktop_.Terminate();
}

void TForm1::LoopFailed(const std::string& why) {
  const std::string line =
      "The event loop failed: " + why + "; shutting down, exit status " + std::to_string(kExitLoopFailed);
  Log("Run: " + line);
  desktop_.Notice("ovlar: " + line);
  if (FService) FService->Status(line);
  if (FIconAdded) desktop_.DeleteTrayIcon();
  FIconAdded = false;
}

// ---- Shutdown ----

void TForm1::FormDestroy() {
  try {
    FDestroying = true;
    if (FService) FService->Stopping();
    loop_.SetFailureHandler(nullptr);
    FReady = false;
    while (!FCache.Empty()) {
      const size_t before = FCache.Size();
      Dlte(&FCache.Head());
      if (FCache.Size() == before) break;
    }
    if (FLimitTimer) {
      FLimitTimer.reset();
      LimitSummaries();
    }
    if (FStatusTimer) {
      FStatusTimer.reset();
      FTipTimer.reset();
      StatusReport();
    }
    Log("Destroy: Shut-Down Requested");
    if (FStatus) {
      FStatus.reset();
      Log("Destroy: Status Page Closed");
    }
    if (FEngine) {
      FEngine->Close();
      FL2 = nullptr;
      FEngine.reset();
      Log("Destroy: L2 Object Destroyed");
    }
    if (FUDPClient) {
      FUDPClient.reset();
      FKeptSockets.reset();
      Log("Destroy: UDP Client Object Destroyed");
    }
    if (hLED) {
      hLED->SetEnabled(false);
      hLED.reset();
    }
    if (FRetryTimer) {
      FRetryTimer->SetEnabled(false);
      FRetryTimer.reset();
      Log("Destroy: Retry-Out Timer Object Destroyed");
    }
    FHostNames.reset();
    Log("Destroy: ShutDown Completed");
    FService.reset();
    if (FLog) FLog->SetEnabled(false);
    FLog.reset();
  } catch (...) {
    Log("Destroy: Exception on Module Destroy" + CaughtText());
  }
}

}  // namespace ovlar
