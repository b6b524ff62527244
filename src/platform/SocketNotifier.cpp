#include "platform/SocketNotifier.h"

#include <sys/ioctl.h>
#include <sys/socket.h>

#include "platform/WinSock.h"

namespace ovlar {

void SocketNotifier::Select(int socket, SocketKind kind, uint32_t mask, Handler handler) {
  Unselect();
  socket_ = socket;
  mask_ = mask;
  handler_ = std::move(handler);
  generation_ = std::make_shared<int>(socket);
  stream_ = kind != SocketKind::Datagram;
  listening_ = kind == SocketKind::Listening;
  const bool connected = kind == SocketKind::Datagram || kind == SocketKind::ConnectedStream;
  readArmed_ = (mask & FD_READ) != 0 && !listening_;
  acceptArmed_ = (mask & FD_ACCEPT) != 0 && listening_;
  writeArmed_ = (mask & FD_WRITE) != 0 && connected;
  connectPending_ = false;
  closeDone_ = false;
  peerGone_ = hungUp_ = false;
  loop_.WatchFd(socket, false, false, [this](const PollEvent& ev) { OnReady(ev); });
  watched_ = true;
  UpdateInterest();
}

void SocketNotifier::Unselect() {
  if (socket_ >= 0 && watched_) loop_.UnwatchFd(socket_);
  watched_ = false;
  socket_ = -1;
  generation_.reset();
  handler_ = nullptr;
}

void SocketNotifier::Reenable(uint32_t event) {
  if (socket_ < 0 || closeDone_) return;
  if (event == FD_READ) readArmed_ = (mask_ & FD_READ) != 0;
  if (event == FD_WRITE) writeArmed_ = (mask_ & FD_WRITE) != 0;
  if (event == FD_ACCEPT) acceptArmed_ = (mask_ & FD_ACCEPT) != 0;
  if (event == FD_CONNECT) connectPending_ = true;
  UpdateInterest();
}

void SocketNotifier::Post(uint32_t event, uint16_t error) {
  if (socket_ < 0) return;
  std::weak_ptr<int> generation = generation_;
  loop_.Post([this, generation, event, error] {
    if (!generation.expired()) Deliver(event, error);
  });
}

void SocketNotifier::UpdateInterest() {
  if (socket_ < 0 || closeDone_) return;
  const bool read = readArmed_ || acceptArmed_;
  const bool write = writeArmed_ || connectPending_;
  // A hung-up socket polls ready whatever the interest, one whose peer has
  // closed as long as it is read: waiting for the owner, poll nothing.
  const bool quiet = peerGone_ && !read && (!write || hungUp_);
  if (quiet) {
    if (watched_) loop_.UnwatchFd(socket_);
    watched_ = false;
    return;
  }
  if (!watched_) {
    loop_.WatchFd(socket_, read, write, [this](const PollEvent& ev) { OnReady(ev); });
    watched_ = true;
    return;
  }
  loop_.UpdateFd(socket_, read, write);
}

uint16_t SocketNotifier::TakeSocketError() const {
  int err = 0;
  socklen_t len = sizeof err;
  getsockopt(socket_, SOL_SOCKET, SO_ERROR, &err, &len);
  return static_cast<uint16_t>(WSAErrorFromErrno(err));
}

void SocketNotifier::Deliver(uint32_t event, uint16_t error) {
  // The handler may close the socket or select another, which replaces
  // handler_: the call runs on copies.
  Handler handler = handler_;
  const int socket = socket_;
  const CallbackDepth::Scope running(callbacks_);
  if (handler) handler(socket, event, error);
}

void SocketNotifier::OnReady(const PollEvent& ev) {
  if (!stream_) {
    OnDatagramReady(ev);
    return;
  }
  if (connectPending_ && (ev.writable || ev.hangup || ev.error) && !OnConnectDone()) return;
  OnStreamReady(ev);
}

// A handler may end this registration; each step below checks before going on.
void SocketNotifier::OnDatagramReady(const PollEvent& ev) {
  const std::weak_ptr<int> generation = generation_;
  // An ICMP error on a datagram socket is not an event: clear it, or the
  // level-triggered poll would report it forever.
  if (ev.error || ev.hangup) TakeSocketError();
  if (readArmed_ && ev.readable) {
    readArmed_ = false;
    UpdateInterest();
    Deliver(FD_READ, 0);
  }
  if (!generation.expired() && writeArmed_ && ev.writable) {
    writeArmed_ = false;
    UpdateInterest();
    Deliver(FD_WRITE, 0);
  }
}

// False when nothing more of this readiness may be handled.
bool SocketNotifier::OnConnectDone() {
  const std::weak_ptr<int> generation = generation_;
  connectPending_ = false;
  const uint16_t error = TakeSocketError();
  if (error != 0) {
    // A failed connect leaves a dead socket that polls as hung up forever.
    readArmed_ = writeArmed_ = false;
    closeDone_ = true;
    loop_.UnwatchFd(socket_);
    watched_ = false;
    Deliver(FD_CONNECT, error);
    return false;
  }
  writeArmed_ = (mask_ & FD_WRITE) != 0;
  UpdateInterest();
  if (mask_ & FD_CONNECT) Deliver(FD_CONNECT, 0);
  return !generation.expired();
}

void SocketNotifier::OnStreamReady(const PollEvent& ev) {
  const std::weak_ptr<int> generation = generation_;
  auto alive = [&] { return !generation.expired(); };
  if (acceptArmed_ && ev.readable) {
    acceptArmed_ = false;
    UpdateInterest();
    Deliver(FD_ACCEPT, 0);
    return;
  }
  if (listening_ || closeDone_) return;
  peerGone_ = peerGone_ || ev.peerClosed || ev.hangup || ev.error;
  hungUp_ = hungUp_ || ev.hangup || ev.error;

  // Only a peer that has closed makes the waiting bytes matter: no query
  // per read otherwise.
  unsigned long waiting = 0;
  if (ev.readable && peerGone_) wsock::BytesWaiting(socket_, &waiting);
  if (readArmed_ && ev.readable && (!peerGone_ || waiting > 0)) {
    readArmed_ = false;
    UpdateInterest();
    Deliver(FD_READ, 0);
    if (!alive()) return;
  }
  if (writeArmed_ && ev.writable && !hungUp_) {
    writeArmed_ = false;
    UpdateInterest();
    Deliver(FD_WRITE, 0);
    if (!alive()) return;
  }
  if (peerGone_ && !CloseWhenRead()) UpdateInterest();
}

bool SocketNotifier::CloseWhenRead() {
  if (closeDone_) return true;
  unsigned long waiting = 0;
  // A socket the kernel no longer answers for has nothing left to give.
  if ((mask_ & FD_READ) != 0 && wsock::BytesWaiting(socket_, &waiting) == 0 && waiting > 0) return false;
  closeDone_ = true;
  readArmed_ = writeArmed_ = false;
  const uint16_t error = TakeSocketError();
  if (watched_) loop_.UnwatchFd(socket_);
  watched_ = false;
  if (mask_ & FD_CLOSE) Deliver(FD_CLOSE, error);
  return true;
}

}  // namespace ovlar
