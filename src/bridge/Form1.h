// The bridge's main object. Start-up reads OVLAR.INI, writes the log's
// parameter block and builds the bridge: the AGWPE client, the UDP client
// and listeners, the timers, the cache and the notification icon. Then it
// forwards raw frames from AGWPE to the XNet node and AXIP datagrams from
// the node to AGWPE, supervises the AGWPE link, and shuts down in a fixed
// order. Owns everything it creates; talks to the desktop only through
// Desktop. Event-loop thread only.
#pragma once
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <netinet/in.h>
#include <unistd.h>

#include "agwpe/AGWEngine.h"
#include "bridge/AboutDlg.h"
#include "bridge/AcceptList.h"
#include "bridge/Cache.h"
#include "bridge/ConfigLines.h"
#include "bridge/Counters.h"
#include "bridge/HeardList.h"
#include "bridge/KeptSockets.h"
#include "bridge/LineLimit.h"
#include "bridge/HostNames.h"
#include "bridge/ServiceState.h"
#include "bridge/StartupFaults.h"
#include "bridge/StatusServer.h"
#include "net/WSocket.h"
#include "platform/Desktop.h"
#include "platform/EventLoop.h"
#include "platform/IniFile.h"
#include "platform/Timer.h"
#include "support/Log.h"

namespace ovlar {

enum : uint8_t { kModeDirect = 0, kModeCache = 1, kModeMap = 2 };
inline constexpr const char* kProduct = "Ovlar 1.00.00";

class TForm1 {
 public:
  static constexpr int kSendBuffer = 5101;
  static constexpr int kReceiveBuffer = 5121;

  TForm1(EventLoop& loop, Desktop& desktop);
  ~TForm1();  // FormDestroy; the members' order takes down what it left
  TForm1(const TForm1&) = delete;
  TForm1& operator=(const TForm1&) = delete;

  // Set before FormCreate, the engine start-up uses in place of the AGWPE
  // client it would configure: a stand-in for tests and fuzzing.
  std::function<std::unique_ptr<TEngine>(EventLoop& loop)> EngineFactory;

  // The whole start-up. A setting or listener that leaves the bridge unable
  // to work ends it as the MAP configuration error does: one line on stderr
  // and in the log, then the orderly shutdown, and ConfigError() is true.
  void FormCreate();

  // User interface.
  void WMTrayIcon(int mouseEvent);
  void AboutClick();
  void HelpClick();
  void ExitClick();
  // Shutdown without the question: it was asked already, or a signal said so.
  void Shutdown();
  // The event loop has failed for good: why, in the log and on the
  // terminal, and the icon removed; the orderly shutdown follows.
  void LoopFailed(const std::string& why);

  // Link supervision, for whichever engine the bridge talks to.
  void AGWUp(TEngine* sender);
  void AGWDown(TEngine* sender);
  void OnAGWError(TEngine* sender);
  void OnPort(TEngine* sender);
  void RetryOut();
  void ShowActivity();
  void ActivityDone();

  // Forwarding.
  void OnKissBefore(TEngine* sender, int32_t port, const std::string& data);
  void OnDataAvailable(TCustomWSocket* sender, uint16_t error);
  void OnInError(TCustomWSocket* sender, int32_t error, const std::string& msg);
  void OnOutError(TCustomWSocket* sender, int32_t error, const std::string& msg);
  // One datagram of 1 to kReceiveBuffer bytes as a listener received it:
  // checked, then handed to the engine. The part after the socket read.
  void OnDatagram(TCustomWSocket* listener, const char* bytes, size_t count, const TSockAddr& from);

  // The callsign route cache.
  void UpdateCache(int32_t port, const std::string& data, uint8_t fixed);
  int32_t GetCache(const std::string& data);
  TCache* Isrt(int32_t port, const std::string& call, uint8_t fixed);
  void Dlte(const TCache* entry);

  // For tests and the front ends.
  bool Ready() const { return FReady; }
  // Start-up could not build a working bridge: the program ends with status 1.
  bool ConfigError() const { return FConfigError; }
  uint8_t Mode() const { return FMode; }
  bool Recover() const { return FRecover; }
  bool Learn() const { return FLearn; }
  const TAcceptList& Accept() const { return FAcceptList; }
  const TCounters& Counters() const { return FCounters; }
  const THeardList& Heard() const { return FHeard; }
  // The status page's server; null without [STATUS] PORT.
  const TStatusServer* StatusServer() const { return FStatus.get(); }
  // Whether the link's failures and its coming back are told on stderr;
  // on when a person or the journal reads it there.
  void SetTerminal(bool on) { FTerminal = on; }
  // The Status lines at level 1: on SIGUSR1, every hour and at shutdown.
  void StatusReport();
  // A signal: SIGUSR1 asks for the Status lines, any other for Shutdown.
  void OnSignal(int signo);
  const std::array<TXNet, kXNetEntries + 1>& XNet() const { return FXNet; }
  TWSocket* Listener(int entry) const { return FSockets.at(static_cast<size_t>(entry)).get(); }
  const TCacheList& Cache() const { return FCache; }
  // The AGWPE client when the engine is AGWPE, else null.
  TL2* L2() const { return FL2; }
  TEngine* Engine() const { return FEngine.get(); }
  const TTimer* RetryTimer() const { return FRetryTimer.get(); }
  const TTimer* ActivityTimer() const { return hLED.get(); }
  TrayIcon Icon() const { return FIcon; }
  const TAboutDlg* AboutDlg() const { return hAboutDlg.get(); }

 private:
  void ReadSettings(const IniFile& ini, TStartupFaults& faults, std::vector<std::string>& routes,
                    std::vector<std::string>& ports);
  // The addresses and the ACCEPT list: what start-up refuses beyond the numbers.
  void CheckSettings(TStartupFaults& faults) const;
  // The log; not opened when LOGFILE was refused.
  void CreateLog(bool usable);
  // A start-up finding, in the log and on stderr.
  void Notify(const std::string& line);
  // A finding that ends start-up: the line, then the shutdown without question.
  void StartFailed(const std::string& why);
  // False, after StartFailed naming the key, when the listener did not open.
  bool Listening(const TWSocket& socket, const std::string& section, const std::string& key,
                 const std::string& value);
  // A parameter's name, padded so that the values line up in one column.
  static std::string Param(const std::string& name);
  void WriteParameters(const std::vector<std::string>& ports);
  // [OVLAR] ENGINE and, for a KISS TNC, the [KISS] section.
  void ReadEngineSettings(const IniFile& ini, TStartupFaults& faults);
  void CheckEngineSettings(TStartupFaults& faults) const;
  // The AGWPE block of the parameters, or the KISS block in its place.
  void WriteEngineParameters();
  void CreateL2();
  std::unique_ptr<TEngine> CreateAGWEngine();
  std::unique_ptr<TEngine> CreateKissEngine();
  // What the engine dropped of what it received, counted as the bridge's own drops.
  void EngineDropped(TEngineDrop why);
  void CreateUDPClient();
  void CreateHostNames();
  void CreateStatusTimers();
  // [STATUS]: the status page's server, when a port is set; false when it
  // could not listen, after StartFailed.
  bool CreateStatusServer();
  // A forwarded frame's source station, for the heard list.
  void HeardFrame(THeardDirection direction, int32_t port, const std::string& frame);
  void ShowTip();
  void DropRadio(TDrop reason) { FCounters.Dropped(FCounters.RadioToIp, reason); }
  void DropIp(TDrop reason) { FCounters.Dropped(FCounters.IpToRadio, reason); }
  // Hands a frame to AGWPE for a radio port, counted and monitored.
  bool Transmit(int32_t port, const std::string& data);
  // The node host of a table entry (in DIRECT and CACHE entry 1): its HOST,
  // else XNET ADDRESS; and the node's UDP port for it.
  const std::string& NodeHost(int entry) const;
  int32_t NodePort(int entry) const;
  // Where the entry's datagrams go now: the followed sender, else the
  // host's latest address; nothing while a name has had no good answer.
  std::optional<TSockAddr> NodeAddress(int entry) const;
  // The sender's verdict; drops a datagram from elsewhere with its line.
  bool Accepted(const TSockAddr& from);
  std::unique_ptr<TWSocket> CreateListener(int32_t localPort, const std::string& address = "0.0.0.0");
  // The listeners take IPv6 datagrams too once a node has an IPv6 address.
  bool AnyNodeIPv6() const;
  void OpenIPv6Listeners();
  // The listener of an entry that sends to and hears from that family;
  // null for IPv6 while there is none.
  TWSocket* ListenerFor(int entry, int family) const;
  // A table entry's own node host, looked up and accepted as XNET ADDRESS
  // is; false when the text cannot name a host.
  bool AddNodeHost(const std::string& host);
  // False when a line ended start-up.
  bool LoadRoutes(const std::vector<std::string>& routes);
  bool LoadXNetPorts(const std::vector<std::string>& ports);
  void CreateDesktopObjects();
  // Tells the service manager, when one started the program, how it goes.
  void CreateServiceState();
  void FormDestroy();
  // Whether a dynamic cache entry heard on this port may route a frame.
  bool LearnedCounts(int32_t heardPort) const;
  void LinkLost(const char* event, const std::string& reason);
  // The link's state for a person at the terminal, when it changed.
  void LinkNotice(const std::string& state);
  void ShowIcon(TrayIcon icon);
  // False, with the drop counted, when the datagram for the entry's node did not leave.
  bool SendDatagram(const std::string& datagram, int entry);
  // SYMMETRIC: from the entry's listener, so that both ways use one port pair.
  bool SendFromListener(int entry, const TSockAddr& to, const std::string& datagram);
  // The outcome of a frame handed to the engine, counted; true when sent.
  bool Transmitted(int32_t port, TSendResult result, size_t bytes);
  // One datagram of a listener's batch, or its failed receive (null).
  void TakeDatagram(TCustomWSocket* sender, uint16_t error, const TDatagramQueue::TDatagram* datagram);
  void ReadDatagram(TCustomWSocket* sender, uint16_t error, const TDatagramQueue::TDatagram* datagram);
  // A drop of a bad datagram or of one from a refused host: its lines are limited.
  void DropBad(TDrop reason);
  // The lines that say how many such datagrams were not logged.
  void LimitSummaries();
  // False, with the drop counted and logged, for a read that gave no datagram of a length to take.
  bool ReceivedWhole(TCustomWSocket* sender, int count, int32_t waiting);
  bool Checked(const char* bytes, size_t count, const TSockAddr& from, std::string& data);
  // FOLLOW: the entry's node is now where this datagram came from.
  void Follow(TCustomWSocket* listener, const TSockAddr& from);
  // The entry whose listener this is (1 in DIRECT and CACHE); 0 for none.
  int EntryOf(const TCustomWSocket* listener) const;
  void DeliverCached(const std::string& data);
  void DeliverMapped(TCustomWSocket* sender, const std::string& data);
  void Deliver(int32_t port, const std::string& data);
  // The part of UpdateCache and GetCache that finds the key station and the
  // frame type; false when the operation ends there.
  bool CacheFront(const char* op, const std::string& data, bool source, std::string& key, std::string& type);
  void Log(const std::string& text, uint8_t level = 1) {
    if (FLog) FLog->WriteLog(level, text);
  }
  bool Tracing(uint8_t level) const { return FLog && FLog->Wanted(level); }
  void Dump(const std::string& bytes, uint8_t level) {
    if (FLog) FLog->DumpText(level, bytes);
  }

  // Retry-out of the AGWPE link, and how long the icon shows activity.
  static constexpr int64_t kRetryOutMs = 60000;
  static constexpr int64_t kActivityMs = 1000;

  EventLoop& loop_;
  Desktop& desktop_;

  // Declared so that destruction, in reverse order, is safe by itself and
  // keeps FormDestroy's order: the listeners, then the AGWPE client, the UDP
  // client, the about box, the timers and the host names, whose events and
  // destructors call back into this object and log (~TL2 does); then the
  // cache and the settings they use; the log last of all.
  std::unique_ptr<TLog> FLog;
  // The service manager's view; null until the log is there.
  std::unique_ptr<TServiceState> FService;
  bool FReady = false;
  bool FRecover = true;
  // Learned cache entries count without a loopback port at the engine.
  bool FLearn = false;
  bool FConfigError = false;
  int32_t FDefPort = 1;
  uint8_t FMode = kModeMap;
  std::string FAGWAddress;
  int32_t FAGWPort = 8000;
  std::string FAGWHostName;
  std::string FAGWLogin;
  std::string FAGWPassword;
  // ENGINE=KISS: a KISS TNC in place of AGWPE. DEVICE set means a serial
  // TNC, else the TCP server at HOSTNAME or ADDRESS and PORT.
  bool FKiss = false;
  std::string FKissAddress;
  std::string FKissHostName;
  int32_t FKissPort = 8001;
  std::string FKissDevice;
  int32_t FKissSpeed = 9600;
  int32_t FKissPorts = 1;
  std::string FXNetHost;
  std::string FXNetAddress;
  std::string FXNetAccept;
  int32_t FXNetPort = 93;
  int32_t FRadioPort = 1;
  int32_t FChannels = 1;
  bool FKeepSocket = false;
  // Datagrams to the node leave from the listener of their destination.
  bool FSymmetric = false;
  // Datagrams to the node go where its last valid, accepted one came from.
  bool FFollow = false;
  std::string FStatusAddress;
  int32_t FStatusPort = 0;  // 0: no status page
  int32_t FTrace = 0;
  int32_t FLogSize = 10240;  // kilobytes; 0: no limit
  std::string FLogFile;
  bool FTerminal = false;
  bool FDestroying = false;
  // The link notice last shown; empty until a failure, and again once up.
  std::string FLinkNotice;
  TrayIcon FIcon = TrayIcon::XUnknown;
  bool FIconAdded = false;
  TAcceptList FAcceptList;
  TCounters FCounters{loop_.Now()};
  THeardList FHeard;
  // Set by OnOutError: the datagram being sent did not leave.
  bool FOutFailed = false;
  // Why the datagram being read was dropped as bad or refused, if it was.
  std::optional<TDrop> FTrouble;
  TLineLimit FLineLimit;
  // What a listener's readiness event read; there while no handler reads.
  std::unique_ptr<TDatagramQueue> FInQueue;
  // When "engine link full" was last logged, and the ports already named
  // as not at the engine: a stuck engine must not flood the log.
  int64_t FFullLoggedAt = -1;
  std::vector<int32_t> FMissingPorts;
  TCRC FCRC;
  // The tip as last shown: rewritten at most once a second, when it changed.
  std::string FTip;
  TCacheList FCache;
  // Index 0 unused so that entries keep their numbers 1 to 10.
  std::array<TXNet, kXNetEntries + 1> FXNet{};
  // FOLLOW: each entry's node as last heard; invalid until then.
  std::array<TSockAddr, kXNetEntries + 1> FFollowed{};
  std::unique_ptr<THostNames> FHostNames;
  std::unique_ptr<TTimer> FRetryTimer;
  std::unique_ptr<TTimer> FTipTimer;
  std::unique_ptr<TTimer> FStatusTimer;
  // Says every minute how many bad or refused datagrams were not logged.
  std::unique_ptr<TTimer> FLimitTimer;
  std::unique_ptr<TTimer> hLED;
  std::unique_ptr<TAboutDlg> hAboutDlg;
  std::unique_ptr<TWSocket> FUDPClient;
  // KEEPSOCKET: one kept socket per node port instead of FUDPClient.
  std::unique_ptr<TKeptSockets> FKeptSockets;
  std::unique_ptr<TEngine> FEngine;
  // The AGWPE client inside FEngine when the engine is AGWPE.
  TL2* FL2 = nullptr;
  // The listener of each entry; they live until the process ends.
  std::array<std::unique_ptr<TWSocket>, kXNetEntries + 1> FSockets;
  // Their IPv6 twins on the same ports, once a node has an IPv6 address.
  std::array<std::unique_ptr<TWSocket>, kXNetEntries + 1> FSockets6;
  // Reads the counters, the heard list and the cache above.
  std::unique_ptr<TStatusServer> FStatus;
};

}  // namespace ovlar
