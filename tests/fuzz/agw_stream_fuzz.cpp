// The byte stream from AGWPE through TL2's frame cutter and decoder. The
// input is the stream; it is stored whole, a byte at a time and in pieces
// whose sizes the stream itself chooses. Every way of cutting must decode
// the same frames, fire the same events with the same arguments and leave
// the same state; nothing may escape Store, and what TL2 keeps of the
// stream is never more than it was given.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "FuzzSupport.h"
#include "agwpe/AGWL2.h"

namespace ovlar {
namespace {

void Field(std::string& out, const std::string& text) { out += std::to_string(text.size()) + ':' + text; }
template <class Number>
void Field(std::string& out, Number n) {
  out += std::to_string(+n);
}

// One line: the name and each argument, texts with their length so that
// any byte may be in them.
template <class... Args>
void Put(std::string& out, const char* name, const Args&... args) {
  out += name;
  ((out += '|', Field(out, args)), ...);
  out += '\n';
}

// Every event slot set, each writing its arguments to `out`.
void Record(TL2& l2, std::string& out) {
  auto as = [&out](const char* name) {
    return [&out, name](TL2*, const auto&... args) { Put(out, name, args...); };
  };
  l2.FOnFrame = as("frame");
  l2.FOnKiss = as("kiss");
  l2.FOnPort = as("port");
  l2.FOnParameter = as("parameter");
  l2.FOnVersion = as("version");
  l2.FOnPortFrames = as("portframes");
  l2.FOnRegister = as("register");
  l2.FOnUnregister = as("unregister");
  l2.FOnMyConnect = as("myconnect");
  l2.FOnHisConnect = as("hisconnect");
  l2.FOnConnect = as("connect");
  l2.FOnConnectCalls = as("connectcalls");
  l2.FOnRetryOut = as("retryout");
  l2.FOnMyDisconnect = as("mydisconnect");
  l2.FOnHisDisconnect = as("hisdisconnect");
  l2.FOnDisconnect = as("disconnect");
  l2.FOnDisconnectCalls = as("disconnectcalls");
  l2.FOnData = as("data");
  l2.FOnDataUI = as("dataui");
  l2.FOnMonitor = as("monitor");
  l2.FOnIFrame = as("iframe");
  l2.FOnUIFrame = as("uiframe");
  l2.FOnSFrame = as("sframe");
}

std::string State(const TL2& l2) {
  std::string out;
  const AGWCB& rx = l2.RxBlock();
  Put(out, "rx", rx.Buffer, rx.Waiting, rx.Data, rx.FramePort, rx.FramePID, rx.Kind, rx.CallFrom, rx.CallTo,
      rx.DataLen);
  Put(out, "l2", l2.PortCount(), l2.VersionMajor(), l2.VersionMinor(), l2.Registered(), l2.LoopbackFound(),
      l2.LoopbackPort(), l2.AxipFound(), l2.AxipPort(), l2.PollTimer() != nullptr);
  for (int port = 1; port <= kMaxPorts; ++port) {
    const PCB& p = l2.Ports(port);
    Put(out, "entry", p.Description, p.Present, std::string(p.Params.begin(), p.Params.end()), p.ParamValue,
        p.Frames);
    for (const std::string& heard : p.Heard) Put(out, "heard", heard);
  }
  return out;
}

// A header no engine writes makes TL2 drop the connection and clear its
// receive state, and a dropped connection brings no more bytes. Every
// header TL2 takes has a letter for its kind, so a kind of 0 once a whole
// header has arrived tells that the stream was given up.
bool StreamDropped(const TL2& l2, size_t stored) {
  return stored >= kAGWHeaderSize && l2.RxBlock().Kind == 0;
}

struct Outcome {
  std::string events;
  std::string state;
};

// The stream stored in pieces of the sizes `piece` gives, up to its end or
// until TL2 drops it.
Outcome Store(const std::string& stream, const std::function<size_t()>& piece, TLog* log) {
  Outcome outcome;
  TL2 l2(fuzz::Loop());
  l2.Logger = log;
  l2.SetCallSign("OVLAR-0");
  l2.SetMonitor("IUSC");
  l2.RawMonitor = true;
  l2.PollPorts = true;
  Record(l2, outcome.events);
  size_t stored = 0;
  while (stored < stream.size()) {
    const size_t n = std::min(piece(), stream.size() - stored);
    l2.Store(stream.substr(stored, n));
    stored += n;
    FUZZ_CHECK(l2.RxBlock().Buffer.size() <= stored, "TL2 keeps no more of the stream than it was given");
    if (StreamDropped(l2, stored)) break;
  }
  outcome.state = State(l2);
  return outcome;
}

// Piece sizes drawn from the stream's own hash: around a header's size, a
// few bytes, or long runs, so that every change of the input cuts it anew.
class Pieces {
 public:
  explicit Pieces(const std::string& stream) {
    for (const char c : stream) state_ = (state_ ^ static_cast<uint8_t>(c)) * 0x100000001B3ull;
  }
  size_t operator()() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 7;
    state_ ^= state_ << 17;
    const size_t r = static_cast<size_t>(state_ >> 8);
    switch (state_ & 3) {
      case 0: return 1 + r % 4;
      case 1: return kAGWHeaderSize - 3 + r % 7;
      case 2: return 1 + r % 64;
      default: return 1 + r % 512;
    }
  }

 private:
  uint64_t state_ = 0xCBF29CE484222325ull;
};

}  // namespace
}  // namespace ovlar

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace ovlar;
  const std::string stream = fuzz::Bytes(data, size);
  // Logging at the highest level in one of the runs: what it formats must
  // change nothing either.
  const Outcome whole = Store(stream, [] { return SIZE_MAX; }, &fuzz::NullLog());
  const Outcome bytes = Store(stream, [] { return size_t{1}; }, nullptr);
  FUZZ_CHECK(bytes.events == whole.events, "a byte at a time decodes what the whole stream does");
  FUZZ_CHECK(bytes.state == whole.state, "a byte at a time leaves the state the whole stream does");
  Pieces pieces(stream);
  const Outcome cut = Store(stream, std::ref(pieces), nullptr);
  FUZZ_CHECK(cut.events == whole.events, "pieces decode what the whole stream does");
  FUZZ_CHECK(cut.state == whole.state, "pieces leave the state the whole stream does");
  return 0;
}
