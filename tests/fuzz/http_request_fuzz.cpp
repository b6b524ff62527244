// HTTP request heads as a client may send them, to the status page's
// reader: whole, and in pieces whose size the input's length chooses. The
// reader decides the same either way, never takes more than its limit,
// and what it reports of a complete head is well formed.
#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzSupport.h"
#include "net/HttpRequest.h"

namespace ovlar {
namespace {

using TState = THttpRequest::TState;

bool Visible(const std::string& text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (static_cast<unsigned char>(c) <= 0x20 || static_cast<unsigned char>(c) >= 0x7F) return false;
  }
  return true;
}

void Check(const std::string& text, size_t limit) {
  THttpRequest whole(limit);
  const size_t used = whole.Feed(text.data(), text.size());
  FUZZ_CHECK(used <= text.size() && used <= limit, "the reader takes at most the input and its limit");
  switch (whole.State()) {
    case TState::Reading: FUZZ_CHECK(used == text.size() && used < limit, "it waits only below its limit"); break;
    case TState::TooLarge: FUZZ_CHECK(used == limit, "too large means the limit was reached"); break;
    case TState::Complete:
      FUZZ_CHECK(Visible(whole.Method()), "a complete head has a method");
      FUZZ_CHECK(whole.Path().find('?') == std::string::npos, "the query is not part of the path");
      FUZZ_CHECK(whole.Path().empty() || Visible(whole.Path()), "the path is visible ASCII");
      FUZZ_CHECK(whole.MinorVersion() == 0 || whole.MinorVersion() == 1, "HTTP/1.0 or HTTP/1.1");
      break;
    case TState::Bad: break;
  }

  THttpRequest cut(limit);
  const size_t piece = text.size() % 13 + 1;
  size_t usedCut = 0;
  for (size_t at = 0; at < text.size() && cut.State() == TState::Reading; at += piece) {
    const size_t n = std::min(piece, text.size() - at);
    const size_t took = cut.Feed(text.data() + at, n);
    FUZZ_CHECK(took <= n, "a piece is taken at most whole");
    usedCut += took;
  }
  FUZZ_CHECK(cut.State() == whole.State(), "pieces decide as the whole does");
  FUZZ_CHECK(usedCut == used, "pieces take what the whole takes");
  if (whole.State() == TState::Complete) {
    FUZZ_CHECK(cut.Method() == whole.Method() && cut.Path() == whole.Path() && cut.Query() == whole.Query(),
               "pieces read the same request");
  }
}

}  // namespace
}  // namespace ovlar

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text = ovlar::fuzz::Bytes(data, size);
  ovlar::Check(text, ovlar::THttpRequest::kMaxHead);
  // A small limit reaches the too-large path with short inputs too.
  ovlar::Check(text, 64);
  return 0;
}
