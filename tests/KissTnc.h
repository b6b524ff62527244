// A scripted KISS TNC on loopback TCP: it decodes what its client sends
// with the bridge's own decoder and sends whatever bytes a test gives it.
#pragma once
#include <string>
#include <vector>

#include "LoopTcpServer.h"
#include "kiss/KissFrame.h"

namespace ovlar::test {

class KissTnc : public LoopTcpServer {
 public:
  explicit KissTnc(EventLoop& loop) : LoopTcpServer(loop) {
    decoder_.OnFrame = [this](const std::string& frame) { frames_.push_back(frame); };
  }
  // Frames from the client, type byte first; and every byte it sent.
  const std::vector<std::string>& Frames() const { return frames_; }
  const std::string& Bytes() const { return bytes_; }
  // A data frame for a KISS port, escaped.
  void Data(int kissPort, const std::string& frame) const {
    SendRaw(KissEncode(std::string(1, static_cast<char>(kissPort << 4)) + frame));
  }

 private:
  void OnClient() override { decoder_.Reset(); }
  void Received(const char* bytes, size_t count) override {
    bytes_.append(bytes, count);
    decoder_.Feed(bytes, count);
  }

  TKissDecoder decoder_{1 << 16};
  std::vector<std::string> frames_;
  std::string bytes_;
};

}  // namespace ovlar::test
