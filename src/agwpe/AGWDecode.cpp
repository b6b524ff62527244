// The decoder: every frame from AGWPE becomes log lines, port-table updates
// and events. Each stage guards itself, so one bad frame never stops the
// stream.
#include <stdexcept>
#include <utility>

#include "agwpe/AGWL2.h"
#include "support/HexStr.h"
#include "support/ReqLib32.h"

namespace ovlar {

namespace {

constexpr int64_t kPollMs = 60000;

// Out of range throws, which the stage's guard reports.
uint8_t ByteAtChecked(const std::string& s, size_t i) { return static_cast<uint8_t>(s.at(i)); }
// Little-endian, as AGWPE sends its numbers.
uint16_t Word16At(const std::string& s, size_t i) {
  return static_cast<uint16_t>(ByteAtChecked(s, i) + 256 * ByteAtChecked(s, i + 1));
}

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

// Each kind of frame: its handler and the name its failure line carries.
// 'D' reports its own failure (two lines); 'I', 'S' and 'T' add the kind.
struct TL2::FrameHandler {
  char kind;
  void (TL2::*handle)(const Frame&);
  const char* stage;
  bool withKind = false;
};

const TL2::FrameHandler TL2::kFrameHandlers[] = {
    {'K', &TL2::DecodeKiss, "(FrameK)"},
    {'H', &TL2::DecodeHeard, "(FrameH)"},
    {'g', &TL2::DecodeParam, "(Frameg)"},
    {'G', &TL2::DecodePort, "(FrameG)"},
    {'R', &TL2::DecodeVersion, "(FrameR)"},
    {'y', &TL2::DecodePortFrames, "(Framey)"},
    {'X', &TL2::DecodeRegister, "(FrameX)"},
    {'x', &TL2::DecodeUnregister, "(Framex)"},
    {'C', &TL2::DecodeConnect, "(FrameC)"},
    {'d', &TL2::DecodeDisconnect, "(Framed)"},
    {'D', &TL2::DecodeData, nullptr},
    {'U', &TL2::DecodeUI, "(FrameU)"},
    {'I', &TL2::DecodeMonitor, "(FrameTSI)", true},
    {'S', &TL2::DecodeMonitor, "(FrameTSI)", true},
    {'T', &TL2::DecodeMonitor, "(FrameTSI)", true},
};

void TL2::Decode(uint8_t port, uint8_t cPid, char kind, std::string szFrom, std::string szTo, int32_t length,
                 const std::string& data) {
  Frame frame{port, cPid, kind, std::move(szFrom), std::move(szTo), length, data};
  try {
    DecodeInitial(frame);
  } catch (...) {
    Log(1, "{L2} Exception on Module TL2.Decode (Initial)");
    return;
  }
  for (const FrameHandler& handler : kFrameHandlers) {
    if (handler.kind != kind) continue;
    if (!handler.stage) {
      (this->*handler.handle)(frame);
      return;
    }
    try {
      (this->*handler.handle)(frame);
    } catch (...) {
      std::string line = std::string("{L2} Exception on Module TL2.Decode ") + handler.stage;
      if (handler.withKind) line += std::string(" Kind{") + kind + "}";
      Log(1, line);
    }
    return;
  }
}

// The frame line, upper-cased calls and FOnFrame, for every kind.
void TL2::DecodeInitial(Frame& frame) {
  if (Tracing(4)) LogFrameLine(frame);
  if (frame.kind == 'I' || frame.kind == 'S' || frame.kind == 'T') {
    Log(4, "AGWMessage <" + std::string(1, frame.kind) + ">");
    Dump(5, frame.data);
  }
  frame.to = UpperText(frame.to);
  frame.from = UpperText(frame.from);
  if (FOnFrame) FOnFrame(this, frame.port, frame.pid, frame.kind, frame.from, frame.to, frame.data);
}

void TL2::LogFrameLine(const Frame& f) const {
  const std::string k(1, f.kind);
  const std::string port = std::to_string(f.port);
  const std::string len = std::to_string(f.length);
  if (f.kind == 'K') {
    Log(4, "{L2} Decode KISS Obj(" + CallSign_ + ") Port(" + port + ") Kind[" + k + "] Len(" + len +
               ") + RAW AX.25 Frame");
    return;
  }
  const std::string args = "Port(" + port + ") Kind[" + k + "] {" + ByteToHex(f.pid) + "} <" + f.from + "> <" +
                           f.to + "> Len(" + len + ") + DATA";
  if (f.kind == 'H' || f.kind == 'G' || f.kind == 'g') {
    Log(5, "{L2} Obj(" + CallSign_ + ") Decode Args " + args);
  } else if (f.kind == 'I' || f.kind == 'U' || f.kind == 'S' || f.kind == 'T') {
    Log(4, "{L2} Obj(" + CallSign_ + ") Decode Args " + args);
  } else {
    Log(4, "{L2} Decode Args Obj(" + CallSign_ + ") " + args);
  }
}

void TL2::DecodeKiss(const Frame& f) {
  Log(5, "AGW Message <K>");
  Dump(5, f.data);
  if (FOnKiss) FOnKiss(this, f.port, f.data);
}

void TL2::DecodeHeard(const Frame& f) {
  std::string from = f.from;
  if (!NextWord(from).empty()) ParseHeard(f.port, f.data);
}

void TL2::DecodeParam(const Frame& f) {
  ParseParam(f.port, f.data);
  Fire("FOnParameter", FOnParameter);
}

void TL2::DecodePort(const Frame& f) {
  Log(3, "{L2} Frame <G>");
  Dump(4, f.data);
  ParsePort(f.data);
  Log(4, "{L2} Port Information Parsed");
  Fire("FOnPort", FOnPort);
}

void TL2::DecodeVersion(const Frame& f) {
  if (f.data.size() < 8) return;
  VersionMajor_ = Word16At(f.data, 0);
  VersionMinor_ = Word16At(f.data, 4);
  Fire("FOnVersion", FOnVersion, VersionMajor_, VersionMinor_);
}

void TL2::DecodePortFrames(const Frame& f) {
  if (f.data.size() < 4) return;
  const uint16_t count = Word16At(f.data, 0);
  if (f.port >= 1 && f.port <= kMaxPorts) Ports_[f.port - 1].Frames = ByteAtChecked(f.data, 0);
  Fire("FOnPortFrames", FOnPortFrames, f.port, count);
}

void TL2::DecodeRegister(const Frame& f) {
  if (FOnRegister) FOnRegister(this, f.from, f.data);
  Registered_ = ByteAtChecked(f.data, 0) == 1;
}

void TL2::DecodeUnregister(const Frame& f) {
  if (FOnUnregister) FOnUnregister(this, f.from, f.data);
  Registered_ = ByteAtChecked(f.data, 0) != 1;
}

void TL2::DecodeData(const Frame& f) {
  try {
    if (!FOnData) return;
    Log(4, "{L2} About to convert cPid <FOnData>");
    Dump(4, std::string(1, static_cast<char>(f.pid)));
    Fire("FOnData", FOnData, f.port, f.from, f.to, f.pid, f.data);
  } catch (...) {
    Log(1, "{L2} Exception on Module TL2.Decode (FrameD) L2(" + CallSign_ + ")");
    Log(1, "{L2} szFrom=" + f.from + " szTo=" + f.to + " Data=" + f.data);
  }
}

void TL2::DecodeConnect(const Frame& f) {
  const uint8_t port = f.port;
  const std::string& from = f.from;
  const std::string& to = f.to;
  const std::string& data = f.data;
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

void TL2::DecodeDisconnect(const Frame& f) {
  const uint8_t port = f.port;
  const std::string& from = f.from;
  const std::string& to = f.to;
  const std::string& data = f.data;
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

void TL2::DecodeUI(const Frame& f) {
  const uint8_t port = f.port;
  TMonitorHeader h;
  try {
    h = GetHeader(f.data);
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

void TL2::DecodeMonitor(const Frame& f) {
  const uint8_t port = f.port;
  const uint8_t cPid = f.pid;
  const char kind = f.kind;
  const std::string& from = f.from;
  const std::string& to = f.to;
  const std::string& data = f.data;
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
    for (size_t i = 0; i < entry.Params.size(); ++i) entry.Params[i] = ByteAtChecked(data, i);
    entry.ParamValue = Word16At(data, 8) + 65536u * ByteAtChecked(data, 10);
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
