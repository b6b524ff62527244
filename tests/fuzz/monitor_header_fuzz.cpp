// Monitor texts from AGWPE (frame kinds 'U', 'I', 'S', 'T') taken apart by
// TL2::GetHeader, and the input's first seven bytes read as an AX.25
// address by FCallSign and CallSSID, as the route cache reads them.
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "FuzzSupport.h"
#include "agwpe/AGWL2.h"

namespace ovlar {
namespace {

void CheckHeader(const TMonitorHeader& h) {
  // PIDs CD and CC join the first two lines with a CR, after the cut.
  const size_t joined = h.Pid == "CD" || h.Pid == "CC" ? 1 : 0;
  FUZZ_CHECK(h.Info.size() <= 256 + joined, "the information is cut to 256 characters");
  FUZZ_CHECK(h.NR >= 0 && h.NS >= 0 && h.Len >= 0, "sequence numbers and length are never negative");
  if (h.FrameType == "UI" || h.FrameType == "I") {
    FUZZ_CHECK(!h.Info.empty(), "a UI or I frame always has information, a CR at least");
  } else {
    // A text that could not be read gives the single CR whatever its type.
    FUZZ_CHECK(h.Info.empty() || h.Info == "\r", "only UI and I frames carry information");
  }
}

void CheckAddress(TL2& l2, const std::string& field) {
  std::string call;
  if (!l2.FCallSign(field, call)) {
    FUZZ_CHECK(field.size() < 7 && call.empty(), "only a short address field is refused, with no call");
    return;
  }
  FUZZ_CHECK(call.size() <= 9, "six characters, '-' and two digits at most");
  const int ssid = (static_cast<uint8_t>(field[6]) >> 1) & 15;
  const std::string base = call.substr(0, call.size() - (ssid == 0 ? 0 : ssid < 10 ? 2 : 3));
  // A character of the call itself may be a '-' only in a field no station
  // sends; then CallSSID may refuse the text, as it says it does.
  if (base.find('-') != std::string::npos) {
    try {
      TL2::CallSSID(call);
    } catch (const std::invalid_argument&) {
    }
    return;
  }
  FUZZ_CHECK(TL2::CallSSID(call) == ssid, "CallSSID reads back the SSID FCallSign wrote");
}

}  // namespace
}  // namespace ovlar

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace ovlar;
  // The log first, so that it outlives the client, which logs as it goes.
  static TLog& log = fuzz::NullLog();
  static TL2 l2(fuzz::Loop());
  l2.Logger = &log;
  const std::string text = fuzz::Bytes(data, size);
  CheckHeader(l2.GetHeader(text));
  CheckAddress(l2, text.substr(0, 7));
  return 0;
}
