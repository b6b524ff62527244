// A KISS TNC behind the engine interface: the link carries the bytes, the
// decoder cuts them into frames, and every data frame on a port the
// settings give the TNC is heard there. Radio port N is KISS port N-1.
// The port count is what the settings say, as KISS has no query; there is
// no loopback port and no heard list. Owns its link and decoder; uses, but
// does not own, the log its owner assigns. Event-loop thread only.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "engine/Engine.h"
#include "kiss/KissFrame.h"
#include "kiss/KissLink.h"
#include "support/Log.h"

namespace ovlar {

class TKissEngine : public TEngine {
 public:
  // KISS carries a port in four bits.
  static constexpr int32_t kMaxPorts = 16;

  TLog* Logger = nullptr;

  // ports: 1 to kMaxPorts. maxFrame: the longest frame, type byte
  // included, the owner can carry; a longer one is dropped whole.
  TKissEngine(std::unique_ptr<TKissLink> link, int32_t ports, size_t maxFrame);
  ~TKissEngine() override;

  void Open() override;
  void Close() override;
  TSendResult SendRaw(int32_t port, const std::string& data) override;
  int32_t PortCount() const override { return ports_; }
  int32_t LoopbackPort() const override { return 0; }
  std::vector<std::string> Heard(int32_t) const override { return {}; }
  std::string CallSign() const override { return "OVLAR-0"; }
  std::string Peer() const override { return link_->Peer(); }
  std::string ErrorText() const override { return errorText_; }
  const char* Kind() const override { return "KISS"; }

 private:
  void Opened();
  void Closed(bool failed, const std::string& reason);
  void Frame(const std::string& frame);
  void Fault(TKissDecoder::TFault fault, size_t bytes, uint8_t after);
  void Drop(TEngineDrop why, const std::string& what);
  void Log(uint8_t level, const std::string& text) const {
    if (Logger) Logger->WriteLog(level, text);
  }

  std::unique_ptr<TKissLink> link_;
  const int32_t ports_;
  TKissDecoder decoder_;
  bool up_ = false;
  std::string errorText_;
};

}  // namespace ovlar
