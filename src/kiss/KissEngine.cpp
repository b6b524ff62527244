#include "kiss/KissEngine.h"

#include <algorithm>

#include "support/HexStr.h"

namespace ovlar {

namespace {

const char* FaultText(TKissDecoder::TFault fault) {
  switch (fault) {
    case TKissDecoder::TFault::Outside: return "bytes outside a frame";
    case TKissDecoder::TFault::BadEscape: return "frame with a bad escape";
    case TKissDecoder::TFault::TooLong: return "frame too long";
    case TKissDecoder::TFault::Cut: return "frame cut off by the link's end";
  }
  return "bad bytes";
}

}  // namespace

TKissEngine::TKissEngine(std::unique_ptr<TKissLink> link, int32_t ports, size_t maxFrame)
    : link_(std::move(link)), ports_(std::clamp(ports, int32_t{1}, kMaxPorts)), decoder_(maxFrame) {
  link_->OnOpened = [this] { Opened(); };
  link_->OnRead = [this](const std::string& bytes) { decoder_.Feed(bytes); };
  link_->OnClosed = [this](bool failed, const std::string& reason) { Closed(failed, reason); };
  link_->OnNote = [this](const std::string& line) { Log(1, line); };
  decoder_.OnFrame = [this](const std::string& frame) { Frame(frame); };
  decoder_.OnFault = [this](TKissDecoder::TFault fault, size_t bytes, uint8_t after) { Fault(fault, bytes, after); };
}

// The link's destructor fires nothing of ours.
TKissEngine::~TKissEngine() {
  link_->OnOpened = nullptr;
  link_->OnRead = nullptr;
  link_->OnClosed = nullptr;
  link_->OnNote = nullptr;
  link_.reset();
}

void TKissEngine::Open() {
  if (link_->IsOpen()) return;
  Log(1, "{KISS} Opening TNC(" + link_->Peer() + ")");
  link_->Open();
}

void TKissEngine::Close() {
  Log(1, "{KISS} TNC Closed " + link_->Peer());
  link_->Close();
  decoder_.Reset();
  if (!up_) return;
  up_ = false;
  errorText_ = "connection closed";
  if (FOnDown) FOnDown(this);
}

void TKissEngine::Opened() {
  Log(1, "{KISS} Connected with TNC(" + link_->Peer() + ") Ports(" + std::to_string(ports_) + ")");
  // Bytes of an earlier link belong to no frame here.
  decoder_.Reset();
  up_ = true;
  errorText_.clear();
  if (FOnUp) FOnUp(this);
  // Without a port query the settings give the count: frames may flow now.
  if (up_ && FOnPorts) FOnPorts(this);
}

void TKissEngine::Closed(bool failed, const std::string& reason) {
  // What came before the end is forwarded; a frame it broke off is told.
  decoder_.End();
  const bool wasUp = up_;
  up_ = false;
  errorText_ = reason;
  Log(1, "{KISS} " + std::string(wasUp ? "Disconnected from" : "No link with") + " TNC(" + link_->Peer() +
             "): " + reason);
  if (failed) {
    if (FOnError) FOnError(this);
  } else if (FOnDown) {
    FOnDown(this);
  }
}

void TKissEngine::Frame(const std::string& frame) {
  const auto type = static_cast<uint8_t>(frame[0]);
  const int32_t kissPort = type >> 4;
  const std::string where = " on KISS port " + std::to_string(kissPort);
  if ((type & 0x0F) != 0) {
    return Drop(TEngineDrop::NotMapped,
                "command " + std::to_string(type & 0x0F) + where + ": only data frames are forwarded");
  }
  if (kissPort >= ports_) {
    return Drop(TEngineDrop::NotMapped,
                "data frame" + where + ": the TNC has " + std::to_string(ports_) + " port(s) in the settings");
  }
  if (frame.size() == 1) return Drop(TEngineDrop::Malformed, "empty data frame" + where);
  if (Logger && Logger->Wanted(5)) {
    Log(5, "{KISS} Frame" + where + " Len(" + std::to_string(frame.size() - 1) + ")");
  }
  if (FOnHeard) FOnHeard(this, kissPort + 1, frame);
}

void TKissEngine::Fault(TKissDecoder::TFault fault, size_t bytes, uint8_t after) {
  std::string what = std::string(FaultText(fault)) + " (" + std::to_string(bytes) + " bytes)";
  if (fault == TKissDecoder::TFault::BadEscape) what += ", FESC followed by " + ByteToHex(after);
  Drop(TEngineDrop::Malformed, what);
}

void TKissEngine::Drop(TEngineDrop why, const std::string& what) {
  Log(3, "{KISS} Dropped " + what);
  if (FOnDropped) FOnDropped(this, why);
}

TSendResult TKissEngine::SendRaw(int32_t port, const std::string& data) {
  if (!up_) return TSendResult::LinkDown;
  if (port < 1 || port > ports_) return TSendResult::NoSuchPort;
  if (data.empty()) {
    Log(1, "{KISS} ERROR frame without its leading byte not sent");
    return TSendResult::Failed;
  }
  std::string frame = data;
  frame[0] = static_cast<char>((port - 1) << 4);
  return link_->Write(KissEncode(frame));
}

}  // namespace ovlar
