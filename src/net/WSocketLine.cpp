// The line layer: data handed on a line at a time.
#include <algorithm>
#include <cstring>

#include "net/WSocketLine.h"
#include "platform/WinSock.h"

namespace ovlar {

namespace {
constexpr int kReadPiece = 4096;
}

void TCustomLineWSocket::SetLineMode(bool value) {
  if (value == lineMode_) return;
  lineMode_ = value;
  // Bytes collected for a line that never ended are data like any other.
  if (!value && !lineBuffer_.empty()) {
    line_ = lineBuffer_;
    lineBuffer_.clear();
    lineReady_ = true;
  }
}

void TCustomLineWSocket::EditLine(const std::string& received) {
  for (char c : received) {
    if (LineEdit && (c == '\b' || c == '\x7F')) {
      if (!lineBuffer_.empty()) {
        lineBuffer_.pop_back();
        if (LineEcho) SendStr("\b \b");
      }
      continue;
    }
    lineBuffer_ += c;
    if (LineEcho) SendStr(std::string(1, c));
  }
}

bool TCustomLineWSocket::TriggerDataAvailable(uint16_t error) {
  if (SocksNegotiating()) return TCustomSocksWSocket::TriggerDataAvailable(error);
  if (!lineMode_) {
    // Whatever line mode left behind goes first.
    if (lineReady_) {
      const bool handled = TCustomSocksWSocket::TriggerDataAvailable(error);
      lineReady_ = !line_.empty();
      return handled;
    }
    return TCustomSocksWSocket::TriggerDataAvailable(error);
  }
  for (;;) {
    char buf[kReadPiece];
    const int n = DoRecv(buf, sizeof buf, 0);
    if (n <= 0) break;
    EditLine(std::string(buf, static_cast<size_t>(n)));
    if (n < kReadPiece) break;
  }
  bool handled = false;
  for (size_t end; !LineEnd.empty() && (end = lineBuffer_.find(LineEnd)) != std::string::npos;) {
    line_ = lineBuffer_.substr(0, end + LineEnd.size());
    lineBuffer_.erase(0, end + LineEnd.size());
    lineReady_ = true;
    handled = TCustomSocksWSocket::TriggerDataAvailable(error) || handled;
    // A line the handler did not take is dropped: the next one follows.
    lineReady_ = false;
    line_.clear();
    if (!lineMode_) break;
  }
  if (lineBuffer_.size() > kMaxLine) {
    lineBuffer_.clear();
    Fire(OnLineTooLong, this);
  }
  return true;
}

int32_t TCustomLineWSocket::RcvdCount() {
  if (lineReady_) return static_cast<int32_t>(line_.size());
  if (lineMode_) return 0;
  return TCustomSocksWSocket::RcvdCount();
}

int TCustomLineWSocket::Receive(void* buffer, int size) {
  if (!lineReady_) {
    if (lineMode_) return 0;
    return TCustomSocksWSocket::Receive(buffer, size);
  }
  const size_t n = std::min(line_.size(), static_cast<size_t>(std::max(size, 0)));
  std::memcpy(buffer, line_.data(), n);
  line_.erase(0, n);
  if (line_.empty() && !lineMode_) lineReady_ = false;
  return static_cast<int>(n);
}

std::string TCustomLineWSocket::ReceiveStr() {
  if (!lineReady_) return lineMode_ ? std::string() : TCustomSocksWSocket::ReceiveStr();
  std::string line;
  line.swap(line_);
  if (!lineMode_) lineReady_ = false;
  return line;
}

}  // namespace ovlar
