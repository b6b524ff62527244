// What a person watching the bridge sees of its counters: the icon's tip
// (and the headless state line), the Status lines of the log, and the
// status page with its heard list.
#include <csignal>
#include <ctime>

#include "bridge/Form1.h"
#include "platform/WinSock.h"
#include "support/AX25Address.h"

namespace ovlar {

namespace {
constexpr int64_t kTipMs = 1000;
constexpr int64_t kStatusMs = 3600000;
// How often the datagrams the log left out are counted up.
constexpr int64_t kLimitMs = 60000;
}  // namespace

void TForm1::CreateStatusTimers() {
  FTipTimer = std::make_unique<TTimer>(loop_, kTipMs, [this] { ShowTip(); });
  FStatusTimer = std::make_unique<TTimer>(loop_, kStatusMs, [this] { StatusReport(); });
  FLimitTimer = std::make_unique<TTimer>(loop_, kLimitMs, [this] { LimitSummaries(); });
}

void TForm1::ShowTip() {
  try {
    const std::string tip = std::string(kProduct) + " - " + FCounters.Summary(loop_.Now());
    if (tip == FTip) return;
    FTip = tip;
    if (FIconAdded) desktop_.SetTrayTip(tip);
    if (FService) FService->Status(tip);
  } catch (...) {
    Log("<L2> Exception on module ShowTip");
  }
}

void TForm1::StatusReport() {
  try {
    for (const std::string& line : FCounters.StatusLines(loop_.Now())) Log(line);
  } catch (...) {
    Log("<L2> Exception on module StatusReport");
  }
}

bool TForm1::CreateStatusServer() {
  if (FStatusPort == 0) return true;
  static const char* const kModeNames[] = {"DIRECT", "CACHE", "MAP"};
  TStatusServer::TSources sources{kProduct, kModeNames[FMode], &FCounters, &FHeard,
                                  FMode == kModeCache ? &FCache : nullptr};
  FStatus = std::make_unique<TStatusServer>(loop_, sources, [this](const std::string& line) { Log(line); });
  const std::string port = std::to_string(FStatusPort);
  if (!FStatus->Listen(FStatusAddress, FStatusPort)) {
    const int32_t code = FStatus->LastError();
    FStatus.reset();
    // An address this host does not have is the address's fault.
    const bool address = code == WSAEADDRNOTAVAIL;
    StartFailed(TStartupFaults::Line("STATUS", address ? "ADDRESS" : "PORT", address ? FStatusAddress : port,
                                     "TCP listener on " + FStatusAddress + " port " + port +
                                         " not opened: " + SystemErrorText(code)));
    return false;
  }
  Log("<Create> Status page on http://" + FStatusAddress + ":" + port + "/");
  return true;
}

void TForm1::HeardFrame(THeardDirection direction, int32_t port, const std::string& frame) {
  if (frame.size() < 2 * kAX25AddressSize) return;
  FHeard.Heard(AX25CallSign(frame, kAX25AddressSize), port, direction, std::time(nullptr));
}

void TForm1::OnSignal(int signo) {
  if (signo == SIGUSR1) {
    StatusReport();
  } else {
    Shutdown();
  }
}

}  // namespace ovlar
