// The AGWPE client behind the engine interface: TL2 does the work under its
// own names; this adapter passes its link and raw-frame events on and turns
// each raw frame to send into one 'K' frame. Owns the TL2; event-loop
// thread only.
#pragma once
#include <memory>

#include "agwpe/AGWL2.h"
#include "engine/Engine.h"

namespace ovlar {

class TAGWEngine : public TEngine {
 public:
  explicit TAGWEngine(EventLoop& loop);
  ~TAGWEngine() override;

  // The client itself, for its settings and the owner's log lines.
  TL2& L2() { return *l2_; }
  const TL2& L2() const { return *l2_; }

  void Open() override { l2_->Open(); }
  void Close() override { l2_->Close(); }
  TSendResult SendRaw(int32_t port, const std::string& data) override;
  int32_t PortCount() const override { return l2_->PortCount(); }
  int32_t LoopbackPort() const override { return l2_->LoopbackFound() ? l2_->LoopbackPort() : 0; }
  std::vector<std::string> Heard(int32_t port) const override;
  std::string CallSign() const override { return l2_->CallSign(); }
  std::string Peer() const override { return l2_->Peer(); }
  std::string ErrorText() const override { return l2_->ErrorText(); }
  const char* Kind() const override { return "AGWPE"; }

 private:
  std::unique_ptr<TL2> l2_;
};

}  // namespace ovlar
