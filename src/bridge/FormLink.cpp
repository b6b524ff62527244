// Supervision of the AGWPE link: when frames may be forwarded, when the
// link is reopened, and what the notification icon shows.
#include "bridge/Form1.h"
#include "support/ReqLib32.h"

namespace ovlar {

void TForm1::ShowIcon(TrayIcon icon) {
  FIcon = icon;
  if (FIconAdded) desktop_.ModifyTrayIcon(icon);
}

void TForm1::AGWUp(TEngine* sender) {
  try {
    Log("<L2> Event <OnAGWUp> AGWPE(" + sender->CallSign() + ")");
  } catch (...) {
    Log("<L2> Exception on module AGWUp");
  }
}

void TForm1::LinkNotice(const std::string& state) {
  if (!FTerminal || FDestroying || !FEngine) return;
  const std::string line = std::string("ovlar: ") + FEngine->Kind() + " " + FEngine->Peer() + ": " + state;
  if (line == FLinkNotice) return;
  FLinkNotice = line;
  desktop_.Notice(line);
}

void TForm1::LinkLost(const char* event, const std::string& reason) {
  Log(std::string("<L2> Event <") + event + "> AGWPE(" + (FEngine ? FEngine->CallSign() : std::string()) + ")");
  FReady = false;
  FCounters.LinkDown(loop_.Now());
  ShowIcon(TrayIcon::XUnknown);
  if (FRecover && FRetryTimer) {
    FRetryTimer->SetInterval(kRetryOutMs);
    FRetryTimer->SetEnabled(true);
  }
  // Without RECOVER the retry-out timer still runs once from start-up.
  const std::string seconds = std::to_string(kRetryOutMs / 1000) + " s";
  LinkNotice(reason + (FRecover                                  ? ", retrying in " + seconds
                       : FRetryTimer && FRetryTimer->Enabled() ? ", retried once within " + seconds + " (RECOVER is off)"
                                                               : ", not retried (RECOVER is off)"));
}

void TForm1::AGWDown(TEngine*) {
  try {
    LinkLost("OnAGWDown", FEngine ? FEngine->ErrorText() : std::string("connection closed"));
  } catch (...) {
    Log("<L2> Exception on module AGWDown");
  }
}

void TForm1::OnAGWError(TEngine*) {
  try {
    LinkLost("OnAGWError", FEngine ? FEngine->ErrorText() : std::string("socket error"));
  } catch (...) {
    Log("<L2> Exception on module OnAGWError");
  }
}

void TForm1::OnPort(TEngine* sender) {
  try {
    Log("<L2> Event <OnPort> AGWPE(" + sender->CallSign() + ")");
    // Whoever saw the link fail sees it back; a first start says nothing.
    if (!FReady && !FLinkNotice.empty()) LinkNotice("link up");
    FReady = true;
    FCounters.LinkUp(loop_.Now());
    if (FIcon != TrayIcon::XOff) ShowIcon(TrayIcon::XOn);
    if (FMode != kModeCache || !(sender->LoopbackPort() != 0 || FLearn)) return;
    // Only 16 ports have heard lists, whatever count the engine reported.
    const int32_t ports = std::min(sender->PortCount(), int32_t{kMaxPorts});
    for (int32_t i = 1; i <= ports; ++i) {
      if (i == sender->LoopbackPort()) continue;
      for (const std::string& heard : sender->Heard(i)) {
        std::string line = ReplaceChar(heard, '\t', " ");
        const std::string call = UpperText(NextWord(line));
        const std::string where = std::to_string(i) + ":" + call;
        if (Isrt(i, call, 0)) {
          Log("<L2> OnPort: Cache entry for (" + where + ") created or updated", 4);
        } else {
          Log("<L2> OnPort: Unable to create cache entry for (" + where + ")", 4);
        }
      }
    }
  } catch (...) {
    Log("<L2> Exception on module OnPort");
  }
}

void TForm1::RetryOut() {
  try {
    if (FRetryTimer) FRetryTimer->SetEnabled(false);
    if (FEngine) FEngine->Open();
  } catch (...) {
    Log("<L2> Exception on module RetryOut");
  }
}

void TForm1::ShowActivity() {
  // Stop, interval, start: a new one-second countdown, kept in place.
  if (hLED) {
    hLED->SetInterval(kActivityMs);
    if (hLED->Enabled()) {
      hLED->Restart();
    } else {
      hLED->SetEnabled(true);
    }
  }
  ShowIcon(TrayIcon::XOff);
}

void TForm1::ActivityDone() {
  try {
    if (hLED) hLED->SetEnabled(false);
    // Green means frames can go; a blink with the link down ends grey.
    ShowIcon(FReady ? TrayIcon::XOn : TrayIcon::XUnknown);
  } catch (...) {
    Log("<L2> Exception on module ActivityDone");
  }
}

}  // namespace ovlar
