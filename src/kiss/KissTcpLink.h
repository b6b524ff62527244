// A KISS TNC reached over TCP (direwolf's KISS port, a network modem): the
// project's TCP client socket, resolved and connected as the AGWPE client's
// is. Owns its socket; event-loop thread only.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "kiss/KissLink.h"
#include "net/ScktComp.h"

namespace ovlar {

class TKissTcpLink : public TKissLink {
 public:
  // host: a name to look up; when empty, address is used as it stands.
  TKissTcpLink(EventLoop& loop, std::string host, std::string address, int32_t port);
  ~TKissTcpLink() override;

  void Open() override;
  void Close() override;
  TSendResult Write(const std::string& bytes) override;
  bool IsOpen() const override { return state_ == TState::Open; }
  std::string Peer() const override;

 private:
  enum class TState : uint8_t { Idle, Connecting, Open };

  void Connected();
  void Disconnected();
  void Failed(int32_t code, const std::string& what);
  void Read(TCustomWinSocket* socket);
  // Drops a socket an error left connected, reporting nothing.
  void Drop();
  void SetNoDelay();

  EventLoop& loop_;
  std::unique_ptr<TClientSocket> socket_;
  const std::string host_;
  const std::string address_;
  const int32_t port_;
  TState state_ = TState::Idle;
  // Set while Write hands bytes to the socket: a failure found there is
  // reported on a later turn, as Write fires nothing.
  bool writing_ = false;
  std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

}  // namespace ovlar
