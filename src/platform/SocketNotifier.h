// Readiness notifications for one socket with the timing of Windows Sockets'
// asynchronous select, on top of the level-triggered loop: read is announced
// once and again only after the owner receives (Reenable(FD_READ)); write
// once when the socket becomes usable and again only after a send that
// would block; accept again after each accept; connect-complete and close
// once each. Close comes only once nothing the peer sent before it is left
// to read, so an owner that reads on every read notification gets it all.
// Every notification names its socket and carries a Windows Sockets error
// code; ones posted for an earlier socket are dropped.
// Owned by a socket component; event-loop thread only. The handler must not
// destroy the notifier (a debug build stops when it does).
#pragma once
#include <cassert>
#include <cstdint>
#include <functional>
#include <memory>

#include "platform/CallbackDepth.h"
#include "platform/EventLoop.h"

namespace ovlar {

enum class SocketKind { Datagram, Stream, ConnectedStream, Listening };

class SocketNotifier {
 public:
  using Handler = std::function<void(int socket, uint32_t event, uint16_t error)>;

  explicit SocketNotifier(EventLoop& loop) : loop_(loop) {}
  ~SocketNotifier() {
    assert(callbacks_.Idle() && "a socket was destroyed by its own handler");
    Unselect();
  }
  SocketNotifier(const SocketNotifier&) = delete;
  SocketNotifier& operator=(const SocketNotifier&) = delete;

  // Registers the socket for the FD_ events in mask; write is announced at
  // once for a socket that is already usable (datagram or connected).
  void Select(int socket, SocketKind kind, uint32_t mask, Handler handler);
  // Forgets the socket; call before closing it.
  void Unselect();
  // Re-arms one event after the call that Windows Sockets re-enables it on:
  // a receive (FD_READ), a send that would block (FD_WRITE), an accept
  // (FD_ACCEPT), a connect that was started (FD_CONNECT).
  void Reenable(uint32_t event);
  // Delivers a notification of the owner's own through the loop, unless the
  // socket has changed by then.
  void Post(uint32_t event, uint16_t error);
  EventLoop& Loop() { return loop_; }

 private:
  void OnReady(const PollEvent& ev);
  void OnDatagramReady(const PollEvent& ev);
  bool OnConnectDone();
  void OnStreamReady(const PollEvent& ev);
  // The peer has closed: close once nothing is left to read; true when it came.
  bool CloseWhenRead();
  void Deliver(uint32_t event, uint16_t error);
  void UpdateInterest();
  uint16_t TakeSocketError() const;

  EventLoop& loop_;
  CallbackDepth callbacks_;
  int socket_ = -1;
  uint32_t mask_ = 0;
  Handler handler_;
  bool stream_ = true;
  bool listening_ = false;
  bool readArmed_ = false;
  bool writeArmed_ = false;
  bool acceptArmed_ = false;
  bool connectPending_ = false;
  bool closeDone_ = false;
  // The peer sends no more (peerGone_), or the connection is down both ways
  // (hungUp_): its close waits until what it sent has been read.
  bool peerGone_ = false;
  bool hungUp_ = false;
  // Registered with the loop. A closed peer makes a socket poll ready on
  // every turn, so while nothing is armed the socket is not polled at all.
  bool watched_ = false;
  // Replaced at every Select: posted notifications hold the old one weakly.
  std::shared_ptr<int> generation_;
};

}  // namespace ovlar
