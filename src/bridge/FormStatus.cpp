// What a person watching the bridge sees of its counters: the icon's tip
// (and the headless state line), and the Status lines of the log.
#include <csignal>

#include "bridge/Form1.h"

namespace ovlar {

namespace {
constexpr int64_t kTipMs = 1000;
constexpr int64_t kStatusMs = 3600000;
}  // namespace

void TForm1::CreateStatusTimers() {
  FTipTimer = std::make_unique<TTimer>(loop_, kTipMs, [this] { ShowTip(); });
  FStatusTimer = std::make_unique<TTimer>(loop_, kStatusMs, [this] { StatusReport(); });
}

void TForm1::ShowTip() {
  try {
    const std::string tip = std::string(kProduct) + " - " + FCounters.Summary(loop_.Now());
    if (!FIconAdded || tip == FTip) return;
    FTip = tip;
    desktop_.SetTrayTip(tip);
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

void TForm1::OnSignal(int signo) {
  if (signo == SIGUSR1) {
    StatusReport();
  } else {
    Shutdown();
  }
}

}  // namespace ovlar
