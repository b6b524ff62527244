// TCustomLineWSocket: the line layer above the SOCKS layer. With line mode
// off it changes nothing. Owned by its creator; event-loop thread only.
#pragma once
#include <cstddef>
#include <string>

#include "net/WSocketSocks.h"

namespace ovlar {

// Line mode: received bytes are collected until LineEnd, and OnDataAvailable
// fires once per complete line, which Receive and ReceiveStr then return.
// A line that outgrows kMaxLine raises OnLineTooLong and is dropped.
class TCustomLineWSocket : public TCustomSocksWSocket {
 public:
  static constexpr size_t kMaxLine = 65536;
  std::string LineEnd = "\r\n";
  bool LineEcho = false;
  bool LineEdit = false;
  TNotify OnLineTooLong;

  using TCustomSocksWSocket::TCustomSocksWSocket;
  bool LineMode() const { return lineMode_; }
  virtual void SetLineMode(bool value);
  int32_t RcvdCount() override;
  int Receive(void* buffer, int size) override;
  std::string ReceiveStr() override;

 protected:
  bool TriggerDataAvailable(uint16_t error) override;
  // Backspace and delete take back the last character, on screen too.
  virtual void EditLine(const std::string& received);

 private:
  bool lineMode_ = false;
  std::string lineBuffer_;
  std::string line_;
  bool lineReady_ = false;
};

}  // namespace ovlar
