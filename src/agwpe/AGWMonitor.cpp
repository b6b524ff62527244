// Monitor texts from AGWPE taken apart, and AX.25 address fields as text.
#include <stdexcept>

#include "agwpe/AGWL2.h"
#include "support/AX25Address.h"
#include "support/ReqLib32.h"

namespace ovlar {

namespace {

constexpr size_t kMaxInfo = 256;

// All digits, as a number; anything else counts as 0. Too large throws.
int32_t NumberOrZero(const std::string& word) { return IsNumeric(word) ? StrToInt(word) : 0; }

bool OneOf(const std::string& word, std::initializer_list<const char*> list) {
  for (const char* w : list) {
    if (word == w) return true;
  }
  return false;
}

// The stated length, or 0 with no information when it is not a number.
void TakeLength(TMonitorHeader& h, const std::string& n) {
  if (IsNumeric(n)) {
    h.Len = StrToInt(n);
  } else {
    h.Len = 0;
    h.Info.clear();
  }
}

// " 1:Fm FROM To TO Via DIGIS <": the port must be there.
void ReadAddresses(std::string& s, TMonitorHeader& h) {
  std::string portPart = SplitAt(s, ':');
  if (NextWord(portPart).empty()) throw std::invalid_argument("no port");
  NextWord(s);
  h.From = NextWord(s);
  NextWord(s);
  h.To = NextWord(s);
  std::string t = SplitAt(s, '<');
  if (UpperText(t).find("VIA ") != std::string::npos) {
    NextWord(t);
    h.Via = t;
    if (!h.Via.empty()) h.Via = ReplaceChar(RemoveChar(h.Via, ' '), ',', " ");
  }
}

// "RR P R3": the receive number, after an optional poll marker.
void ReadSupervisory(std::string& s, TMonitorHeader& h) {
  std::string w = NextWord(s);
  if (w.empty()) return;
  if (w[0] == 'P') {
    w = NextWord(s);
    if (w.empty()) throw std::invalid_argument("no word after the poll marker");
  }
  if (w[0] == 'R' && w.size() >= 2 && w[1] >= '0' && w[1] <= '9') h.NR = w[1] - '0';
}

// "pid=F0 Len=5 >"
void ReadUIFields(std::string& s, TMonitorHeader& h) {
  SplitAt(s, '=');
  h.Pid = SplitAt(s, '>');
  std::string n = "0";
  if (h.Pid.find("Len=") != std::string::npos) {
    std::string rest = h.Pid;
    h.Pid = NextWord(rest);
    SplitAt(rest, '=');
    n = NextWord(rest);
  }
  TakeLength(h, n);
}

// "R1 S2 pid=F0 Len=5 >"
void ReadIFields(std::string& s, TMonitorHeader& h) {
  SplitAt(s, 'R');
  h.NR = NumberOrZero(NextWord(s));
  SplitAt(s, 'S');
  h.NS = NumberOrZero(NextWord(s));
  SplitAt(s, '=');
  h.Pid = NextWord(s);
  SplitAt(s, '=');
  TakeLength(h, NextWord(s));
}

// The information after the header line, cut as its protocol needs.
void ReadInfo(std::string& s, TMonitorHeader& h) {
  if (!s.empty()) {
    SplitAt(s, '\r');
    h.Info = s;
  } else {
    h.Info.clear();
  }
  if (h.Info.size() > kMaxInfo) h.Info.resize(kMaxInfo);
  const bool withInfo = h.FrameType == "UI" || h.FrameType == "I";
  if (!withInfo) h.Info.clear();
  if (h.Pid == "CD" || h.Pid == "CC") {
    std::string line = SplitAt(h.Info, '\r');
    const std::string first = SplitAt(line, '\n');
    h.Info = first + "\r" + SplitAt(line, '\n');
  }
  if (h.Pid == "CF") {
    std::string line = SplitAt(h.Info, '\r');
    h.Info = SplitAt(line, '\n');
  }
  if (!h.Info.empty() && h.Info.back() == '\0') h.Info.pop_back();
  if (withInfo && h.Info.empty()) {
    h.Len = 1;
    // One character, not a one-character literal: GCC 12 at -O3 takes that
    // copy for an overlapping one (a false -Wrestrict); the same below.
    h.Info.assign(1, '\r');
  }
}

}  // namespace

TMonitorHeader TL2::GetHeader(const std::string& data) {
  TMonitorHeader h;
  try {
    std::string s = data;
    Log(4, "{L2} GetHeader ->" + data);
    Dump(5, data);
    ReadAddresses(s, h);
    h.FrameType = NextWord(s);
    if (OneOf(h.FrameType, {"UA", "FRMR", "DISC", "DM", "SABM"})) return h;
    if (OneOf(h.FrameType, {"RR", "RNR", "REJ"})) {
      ReadSupervisory(s, h);
      return h;
    }
    if (h.FrameType == "UI") ReadUIFields(s, h);
    if (h.FrameType == "I") ReadIFields(s, h);
    ReadInfo(s, h);
  } catch (...) {
    Log(1, " Exception on module GetHeader");
    h.Info.assign(1, '\r');
    h.Len = 1;
  }
  return h;
}

bool TL2::FCallSign(const std::string& address, std::string& result) {
  result.clear();
  try {
    if (address.size() < 7) {
      Log(1, "{L2} ERROR Corrupted Call received at FCallSign");
      if (Logger) Logger->DumpText(1, address);
      return false;
    }
    result = AX25CallSign(address, 0);
    return true;
  } catch (...) {
    Log(1, "{L2} Exception on module FCallSign");
    result.clear();
    return false;
  }
}

int32_t TL2::CallSSID(const std::string& callsign) {
  std::string rest = callsign;
  SplitAt(rest, '-');
  return rest.empty() ? 0 : StrToInt(rest);
}

}  // namespace ovlar
