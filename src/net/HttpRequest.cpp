#include "net/HttpRequest.h"

#include <algorithm>
#include <cstring>

namespace ovlar {

namespace {

// The characters of a method or header name (RFC 9110 token).
bool TokenChar(char c) {
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
  return c != '\0' && std::strchr("!#$%&'*+-.^_`|~", c) != nullptr;
}

bool Token(const std::string& text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (!TokenChar(c)) return false;
  }
  return true;
}

// A target holds visible ASCII only.
bool Visible(const std::string& text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) <= 0x20 || static_cast<unsigned char>(c) >= 0x7F) return false;
  }
  return !text.empty();
}

}  // namespace

size_t THttpRequest::Feed(const char* data, size_t length) {
  size_t used = 0;
  while (used < length && state_ == TState::Reading) {
    const size_t room = std::min(length - used, maxHead_ - taken_);
    const void* end = std::memchr(data + used, '\n', room);
    const size_t n = end ? static_cast<size_t>(static_cast<const char*>(end) - (data + used)) + 1 : room;
    line_.append(data + used, n);
    used += n;
    taken_ += n;
    if (end) {
      line_.pop_back();
      if (!line_.empty() && line_.back() == '\r') line_.pop_back();
      Line(line_);
      line_.clear();
    }
    // Decided at the limit: a head that has not ended there never will.
    if (state_ == TState::Reading && taken_ >= maxHead_) state_ = TState::TooLarge;
  }
  return used;
}

void THttpRequest::Line(const std::string& line) {
  if (!started_) {
    // Blank lines before the request line are tolerated, as RFC 9112 asks.
    if (line.empty()) return;
    started_ = true;
    if (!RequestLine(line)) state_ = TState::Bad;
    return;
  }
  if (line.empty()) {
    state_ = TState::Complete;
    return;
  }
  // A header line is "name:value"; a folded one (leading blank) is refused.
  const size_t colon = line.find(':');
  if (colon == std::string::npos || !Token(line.substr(0, colon))) state_ = TState::Bad;
}

bool THttpRequest::RequestLine(const std::string& line) {
  const size_t sp1 = line.find(' ');
  if (sp1 == std::string::npos) return false;
  const size_t sp2 = line.find(' ', sp1 + 1);
  if (sp2 == std::string::npos || line.find(' ', sp2 + 1) != std::string::npos) return false;
  method_ = line.substr(0, sp1);
  std::string target = line.substr(sp1 + 1, sp2 - sp1 - 1);
  const std::string version = line.substr(sp2 + 1);
  if (!Token(method_) || !Visible(target)) return false;
  if (version.size() != 8 || version.compare(0, 7, "HTTP/1.") != 0 || version[7] < '0' || version[7] > '9') {
    return false;
  }
  minor_ = version[7] == '0' ? 0 : 1;
  // The absolute form (through a proxy) names the same path after the host.
  if (target.size() > 7 && (target.compare(0, 7, "http://") == 0 || target.compare(0, 7, "HTTP://") == 0)) {
    const size_t slash = target.find('/', 7);
    target = slash == std::string::npos ? "/" : target.substr(slash);
  }
  const size_t question = target.find('?');
  path_ = target.substr(0, question);
  query_ = question == std::string::npos ? std::string() : target.substr(question + 1);
  return true;
}

}  // namespace ovlar
