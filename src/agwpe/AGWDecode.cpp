// The decoder: every frame from AGWPE becomes log lines, port-table updates
// and events. Each stage guards itself, so one bad frame never stops the
// stream.
#include <stdexcept>

#include "agwpe/AGWL2.h"
#include "support/HexStr.h"
#include "support/ReqLib32.h"

namespace ovlar {

namespace {

constexpr int64_t kPollMs = 60000;

uint8_t Byte(const std::string& s, size_t i) { return static_cast<uint8_t>(s.at(i)); }

bool Contains(const std::string& text, const char* what) { return text.find(what) != std::string::npos; }

// The remote call follows the first four words of a connection message.
std::string RemoteCall(const std::string& data) {
  std::string rest = data;
  for (int i = 0; i < 4; ++i) NextWord(rest);
  return SplitAt(rest, '\r');
}

std::string FirstLine(const std::string& data) {
  std::string copy = data;
  return SplitAt(copy, '\r');
}

}  // namespace

void TL2::Decode(uint8_t port, uint8_t cPid, char kind, std::string szFrom, std::string szTo, int32_t length,
                 const std::string& data) {
  const std::string k(1, kind);
  try {
    const std::string args = !Tracing(4) ? std::string()
                                          : "Port(" + std::to_string(port) + ") Kind[" + k + "] {" + ByteToHex(cPid) +
                                                "} <" + szFrom + "> <" + szTo + "> Len(" + std::to_string(length) +
                                                ") + DATA";
    if (!Tracing(4)) {
      // Nothing of the frame line would be written.
    } else if (kind == 'H' || kind == 'G' || kind == 'g') {
      Log(5, "{L2} Obj(" + CallSign_ + ") Decode Args " + args);
    } else if (kind == 'I' || kind == 'U' || kind == 'S' || kind == 'T') {
      Log(4, "{L2} Obj(" + CallSign_ + ") Decode Args " + args);
    } else if (kind == 'K') {
      Log(4, "{L2} Decode KISS Obj(" + CallSign_ + ") Port(" + std::to_string(port) + ") Kind[" + k + "] Len(" +
                 std::to_string(length) + ") + RAW AX.25 Frame");
    } else {
      Log(4, "{L2} Decode Args Obj(" + CallSign_ + ") " + args);
    }
    if (kind == 'I' || kind == 'S' || kind == 'T') {
      Log(4, "AGWMessage <" + k + ">");
      Dump(5, data);
    }
    szTo = UpperText(szTo);
    szFrom = UpperText(szFrom);
    if (FOnFrame) FOnFrame(this, port, cPid, kind, szFrom, szTo, data);
  } catch (...) {
    Log(1, "{L2} Exception on Module TL2.Decode (Initial)");
    return;
  }

  // Each stage: its work, and the line that reports its failure.
  auto stage = [this](const std::string& line, auto&& work) {
    try {
      work();
    } catch (...) {
      Log(1, line);
    }
  };

  switch (kind) {
    case 'K':
      stage("{L2} Exception on Module TL2.Decode (FrameK)", [&] {
        Log(5, "AGW Message <K>");
        Dump(5, data);
        if (FOnKiss) FOnKiss(this, port, data);
      });
      break;
    case 'H':
      stage("{L2} Exception on Module TL2.Decode (FrameH)", [&] {
        std::string from = szFrom;
        if (!NextWord(from).empty()) ParseHeard(port, data);
      });
      break;
    case 'g':
      stage("{L2} Exception on Module TL2.Decode (Frameg)", [&] {
        ParseParam(port, data);
        Fire("FOnParameter", FOnParameter);
      });
      break;
    case 'G':
      stage("{L2} Exception on Module TL2.Decode (FrameG)", [&] {
        Log(3, "{L2} Frame <G>");
        Dump(4, data);
        ParsePort(data);
        Log(4, "{L2} Port Information Parsed");
        Fire("FOnPort", FOnPort);
      });
      break;
    case 'R':
      stage("{L2} Exception on Module TL2.Decode (FrameR)", [&] {
        if (data.size() < 8) return;
        VersionMajor_ = Byte(data, 0) + 256 * Byte(data, 1);
        VersionMinor_ = Byte(data, 4) + 256 * Byte(data, 5);
        Fire("FOnVersion", FOnVersion, VersionMajor_, VersionMinor_);
      });
      break;
    case 'y':
      stage("{L2} Exception on Module TL2.Decode (Framey)", [&] {
        if (data.size() < 4) return;
        const auto count = static_cast<uint16_t>(Byte(data, 0) + 256 * Byte(data, 1));
        if (port >= 1 && port <= kMaxPorts) Ports_[port - 1].Frames = Byte(data, 0);
        Fire("FOnPortFrames", FOnPortFrames, port, count);
      });
      break;
    case 'X':
      stage("{L2} Exception on Module TL2.Decode (FrameX)", [&] {
        if (FOnRegister) FOnRegister(this, szFrom, data);
        Registered_ = Byte(data, 0) == 1;
      });
      break;
    case 'x':
      stage("{L2} Exception on Module TL2.Decode (Framex)", [&] {
        if (FOnUnregister) FOnUnregister(this, szFrom, data);
        Registered_ = Byte(data, 0) != 1;
      });
      break;
    case 'C':
      stage("{L2} Exception on Module TL2.Decode (FrameC)", [&] { DecodeConnect(port, szFrom, szTo, data); });
      break;
    case 'd':
      stage("{L2} Exception on Module TL2.Decode (Framed)", [&] { DecodeDisconnect(port, szFrom, szTo, data); });
      break;
    case 'D':
      try {
        if (FOnData) {
          Log(4, "{L2} About to convert cPid <FOnData>");
          Dump(4, std::string(1, static_cast<char>(cPid)));
          Fire("FOnData", FOnData, port, szFrom, szTo, cPid, data);
        }
      } catch (...) {
        Log(1, "{L2} Exception on Module TL2.Decode (FrameD) L2(" + CallSign_ + ")");
        Log(1, "{L2} szFrom=" + szFrom + " szTo=" + szTo + " Data=" + data);
      }
      break;
    case 'U':
      stage("{L2} Exception on Module TL2.Decode (FrameU)", [&] { DecodeUI(port, data); });
      break;
    case 'I':
    case 'S':
    case 'T':
      stage("{L2} Exception on Module TL2.Decode (FrameTSI) Kind{" + k + "}",
            [&] { DecodeMonitor(port, cPid, kind, szFrom, szTo, data); });
      break;
    default:
      break;
  }
}

void TL2::DecodeConnect(uint8_t port, const std::string& from, const std::string& to, const std::string& data) {
  const std::string call = RemoteCall(data);
  const std::string text = FirstLine(data);
  if (Contains(data, "CONNECTED To")) {
    Log(4, "{L2} Connect (his) String->" + data);
    Fire("FOnHisConnect", FOnHisConnect, port, call, text);
    if (FOnConnect) FOnConnect(this, port, call, text);
    if (FOnConnectCalls) FOnConnectCalls(this, port, from, to, text);
  }
  if (Contains(data, "CONNECTED With")) {
    Log(4, "{L2} Connect (my) String->" + data);
    Fire("FOnMyConnect", FOnMyConnect, port, call, text);
    if (FOnConnect) FOnConnect(this, port, call, text);
    if (FOnConnectCalls) FOnConnectCalls(this, port, from, to, text);
  }
}

void TL2::DecodeDisconnect(uint8_t port, const std::string& from, const std::string& to, const std::string& data) {
  if (!Contains(data, "DISCONNECTED")) return;
  const std::string text = FirstLine(data);
  if (Contains(data, "RETRYOUT")) {
    Log(4, "{L2} Disconnect (retryout) String->" + data);
    const std::string call = RemoteCall(data);
    Fire("FOnRetryOut", FOnRetryOut, port, call, text);
    Fire("FOnDisconnect", FOnDisconnect, port, call, text);
  } else if (Contains(data, "From")) {
    Log(4, "{L2} Disconnect (his) String->" + data);
    const std::string call = RemoteCall(data);
    Dump(4, call);
    Fire("FOnHisDisconnect", FOnHisDisconnect, port, call, text);
    Fire("FOnDisconnect", FOnDisconnect, port, call, text);
  } else if (Contains(data, "With")) {
    Log(4, "{L2} Disconnect (my) String->" + data);
    Fire("FOnMyDisconnect", FOnMyDisconnect, port, to, text);
    Fire("FOnDisconnect", FOnDisconnect, port, to, text);
  } else {
    return;
  }
  if (FOnDisconnectCalls) FOnDisconnectCalls(this, port, from, to, text);
}

void TL2::DecodeUI(uint8_t port, const std::string& data) {
  TMonitorHeader h;
  try {
    h = GetHeader(data);
  } catch (...) {
    Log(1, "{L2} Exception on Module TL2.Decode.FrameU(GetHeader)");
    return;
  }
  uint8_t bPid = 0;
  try {
    bPid = HexToByte(h.Pid);
  } catch (...) {
    Log(1, "{L2} Exception on Module TL2.Decode.FrameU(bPid<-)");
    return;
  }
  try {
    Fire("FOnDataUI", FOnDataUI, port, h.From, h.To, bPid, h.Info);
  } catch (...) {
    Log(1, "{L2} Exception on Module TL2.Decode.FrameU(OnDataUI Event)");
  }
}

void TL2::DecodeMonitor(uint8_t port, uint8_t cPid, char kind, const std::string& from, const std::string& to,
                        const std::string& data) {
  const TMonitorHeader h = GetHeader(data);
  auto on = [this](char letter) { return Monitor_.find(letter) != std::string::npos; };
  auto monitor = [&] {
    if (FOnMonitor) FOnMonitor(this, port, from, to, cPid, data);
  };
  auto iframe = [&] {
    monitor();
    Fire("FOnIFrame", FOnIFrame, port, h.From, h.To, h.Via, h.FrameType, h.Pid, h.NR, h.NS, h.Len, h.Info);
  };
  auto sframe = [&](int32_t nr) {
    monitor();
    Fire("FOnSFrame", FOnSFrame, port, from, to, h.Via, h.FrameType, nr);
  };
  const std::string& type = h.FrameType;
  if (kind == 'I') {
    if (type == "I" && on('I')) iframe();
  } else if (kind == 'S') {
    const bool control =
        type == "RR" || type == "UA" || type == "REJ" || type == "DM" || type == "DISC" || type == "SABM";
    if (control && on('S')) sframe(h.NR);
  } else if (type == "I" && on('I')) {
    iframe();
  } else {
    if (type == "UI" && on('U')) {
      monitor();
      Fire("FOnUIFrame", FOnUIFrame, port, h.From, h.To, h.Via, h.FrameType, h.Pid, h.Len, h.Info);
    }
    if ((type == "RR" || type == "RNR" || type == "REJ") && on('S')) {
      sframe(h.NR);
    } else if ((type == "SABM" || type == "UA" || type == "DISC" || type == "DM") && on('C')) {
      sframe(0);
    }
  }
}

void TL2::ParsePort(const std::string& data) {
  try {
    std::string rest = data;
    const std::string count = SplitAt(rest, ';');
    if (!IsNumeric(count)) return;
    PortCount_ = StrToInt(count);
    // The table holds 16 ports; details of any further port could not be kept.
    for (int i = 1; i <= PortCount_ && i <= kMaxPorts; ++i) {
      PCB& entry = Ports_[static_cast<size_t>(i - 1)];
      entry.Description = CutAtNul(SplitAt(rest, ';'));
      const std::string n = std::to_string(i);
      Log(5, "{L2} <ParsePort> Port(" + n + ") " + entry.Description);
      const std::string upper = UpperText(entry.Description);
      if (Contains(upper, "LOOPBACK")) {
        LoopbackFound_ = true;
        LoopbackPort_ = i;
        Log(5, "{L2} <ParsePort> Port " + n + " detected as a LoopBack");
      }
      if (Contains(upper, "AXIP")) {
        AxipFound_ = true;
        AxipPort_ = i;
        Log(5, "{L2} <ParsePort> Port " + n + " detected as a AXIP");
      }
      entry.Present = true;
      entry.Heard = {};
      for (char request : {'H', 'g', 'y'}) Write(static_cast<uint8_t>(i), 0, request, "", "", 0, "");
    }
    if (PollPorts) {
      if (!PollTimer_) PollTimer_ = std::make_unique<TTimer>(loop_, kPollMs, [this] { PollTick(); });
      PollTimer_->SetEnabled(false);
      PollTimer_->SetInterval(kPollMs);
      PollTimer_->SetEnabled(true);
    }
  } catch (...) {
    Log(1, "{L2} Exception on module ParsePort");
  }
}

void TL2::ParseParam(uint8_t port, const std::string& data) {
  try {
    if (port < 1 || port > kMaxPorts) return;
    if (data.size() < 11) throw std::length_error("short port parameters");
    PCB& entry = Ports_[port - 1];
    for (size_t i = 0; i < entry.Params.size(); ++i) entry.Params[i] = Byte(data, i);
    entry.ParamValue = Byte(data, 8) + 256u * Byte(data, 9) + 65536u * Byte(data, 10);
  } catch (...) {
    Log(1, "{L2} Exception on module ParseParam");
  }
}

void TL2::ParseHeard(uint8_t port, const std::string& data) {
  try {
    if (port < 1 || port > kMaxPorts) return;
    for (std::string& slot : Ports_[port - 1].Heard) {
      if (slot.empty()) {
        slot = CutAtNul(data);
        return;
      }
    }
  } catch (...) {
    Log(1, "{L2} Exception on module ParseHeard");
  }
}

}  // namespace ovlar
