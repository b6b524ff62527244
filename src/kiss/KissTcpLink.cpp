#include "kiss/KissTcpLink.h"

#include <netinet/in.h>
#include <netinet/tcp.h>

#include "platform/WinSock.h"

namespace ovlar {

namespace {
// The most one read event takes: a burst from the TNC leaves turns of the
// loop to the node's datagrams and the timers in between.
constexpr int kReadSlice = 2 * 1024;
}  // namespace

TKissTcpLink::TKissTcpLink(EventLoop& loop, std::string host, std::string address, int32_t port)
    : loop_(loop),
      socket_(std::make_unique<TClientSocket>(loop)),
      host_(std::move(host)),
      address_(std::move(address)),
      port_(port) {
  socket_->OnConnect = [this](TClientSocket*, TCustomWinSocket*) { Connected(); };
  socket_->OnDisconnect = [this](TClientSocket*, TCustomWinSocket*) { Disconnected(); };
  socket_->OnRead = [this](TClientSocket*, TCustomWinSocket* s) { Read(s); };
  socket_->OnError = [this](TClientSocket*, TCustomWinSocket*, TErrorEvent, int32_t& code) {
    Failed(code, "");
    // Handled: the socket is not to raise it as well.
    code = 0;
  };
}

TKissTcpLink::~TKissTcpLink() {
  socket_->OnConnect = nullptr;
  socket_->OnDisconnect = nullptr;
  socket_->OnRead = nullptr;
  socket_->OnError = nullptr;
  state_ = TState::Idle;
  Drop();
}

void TKissTcpLink::Open() {
  if (state_ != TState::Idle) return;
  Drop();
  if (!host_.empty()) {
    socket_->SetHost(host_);
  } else {
    socket_->SetAddress(address_);
  }
  socket_->SetPort(port_);
  state_ = TState::Connecting;
  try {
    socket_->SetActive(true);
  } catch (const ESocketError& e) {
    Failed(WSAGetLastError(), e.what());
  }
}

void TKissTcpLink::Close() {
  state_ = TState::Idle;
  // A failure still to be reported belongs to the link that is closed.
  alive_ = std::make_shared<int>(0);
  Drop();
}

void TKissTcpLink::Drop() {
  // Idle by now: the disconnect this may cause is not reported.
  socket_->SetActive(false);
}

TSendResult TKissTcpLink::Write(const std::string& bytes) {
  if (state_ != TState::Open) return TSendResult::LinkDown;
  // A refusal leaves nothing of the bytes queued: the stream stays whole.
  writing_ = true;
  const int taken = socket_->Socket().SendString(bytes);
  writing_ = false;
  if (taken > 0) return TSendResult::Sent;
  return state_ == TState::Open ? TSendResult::LinkFull : TSendResult::LinkDown;
}

std::string TKissTcpLink::Peer() const { return (host_.empty() ? address_ : host_) + ":" + std::to_string(port_); }

void TKissTcpLink::Connected() {
  if (state_ != TState::Connecting) return;
  state_ = TState::Open;
  SetNoDelay();
  if (OnOpened) OnOpened();
}

// Every frame is to leave when it is written, not wait for the TNC's
// acknowledgement of the one before.
void TKissTcpLink::SetNoDelay() {
  const int on = 1;
  if (wsock::SetOption(socket_->Socket().SocketHandle(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) == 0) return;
  const int code = WSAGetLastError();
  Note("{KISS} ERROR TCP_NODELAY not set on the TNC connection: " + SystemErrorText(code) + " (" +
       std::to_string(code) + ")");
}

void TKissTcpLink::Disconnected() {
  if (state_ == TState::Idle) return;
  const bool wasOpen = state_ == TState::Open;
  state_ = TState::Idle;
  if (wasOpen) {
    if (OnClosed) OnClosed(false, "connection closed");
    return;
  }
  // Never connected: the name or service lookup failed.
  const int code = WSAGetLastError();
  if (OnClosed) OnClosed(true, (code != 0 ? SystemErrorText(code) : "no connection") + " (" + std::to_string(code) + ")");
}

void TKissTcpLink::Failed(int32_t code, const std::string& what) {
  if (state_ == TState::Idle) return;
  state_ = TState::Idle;
  const std::string text = code != 0 || what.empty() ? SystemErrorText(code) : what;
  const std::string reason = text + " (" + std::to_string(code) + ")";
  if (!writing_) {
    if (OnClosed) OnClosed(true, reason);
    return;
  }
  std::weak_ptr<int> alive = alive_;
  loop_.Post([this, alive, reason] {
    if (!alive.expired() && OnClosed) OnClosed(true, reason);
  });
}

void TKissTcpLink::Read(TCustomWinSocket* socket) {
  // What a broken connection still delivers belongs to no link.
  if (state_ != TState::Open) return;
  const std::string bytes = socket->ReceiveString(kReadSlice);
  if (!bytes.empty() && OnRead) OnRead(bytes);
}

}  // namespace ovlar
