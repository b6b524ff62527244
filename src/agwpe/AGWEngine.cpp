#include "agwpe/AGWEngine.h"

namespace ovlar {

TAGWEngine::TAGWEngine(EventLoop& loop) : l2_(std::make_unique<TL2>(loop)) {
  l2_->FOnAGWUp = [this](TL2*) {
    if (FOnUp) FOnUp(this);
  };
  l2_->FOnAGWDown = [this](TL2*) {
    if (FOnDown) FOnDown(this);
  };
  l2_->FOnAGWError = [this](TL2*) {
    if (FOnError) FOnError(this);
  };
  l2_->FOnPort = [this](TL2*) {
    if (FOnPorts) FOnPorts(this);
  };
  l2_->FOnKiss = [this](TL2*, uint8_t port, const std::string& data) {
    if (FOnHeard) FOnHeard(this, port, data);
  };
}

// The client's destructor logs and fires nothing of ours.
TAGWEngine::~TAGWEngine() {
  l2_->FOnAGWUp = nullptr;
  l2_->FOnAGWDown = nullptr;
  l2_->FOnAGWError = nullptr;
  l2_->FOnPort = nullptr;
  l2_->FOnKiss = nullptr;
  l2_.reset();
}

TSendResult TAGWEngine::SendRaw(int32_t port, const std::string& data) {
  // A port the engine did not list is refused here: some engines transmit
  // such a frame on another radio than the one meant.
  if (port < 1 || port > l2_->PortCount()) return TSendResult::NoSuchPort;
  return l2_->SendKiss(port, data);
}

std::vector<std::string> TAGWEngine::Heard(int32_t port) const {
  if (port < 1 || port > kMaxPorts) return {};
  std::vector<std::string> heard;
  for (const std::string& entry : l2_->Ports(port).Heard) {
    if (!entry.empty()) heard.push_back(entry);
  }
  return heard;
}

}  // namespace ovlar
