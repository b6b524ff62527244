// TClientSocket: the non-blocking TCP client through which the AGWPE client
// talks to AGWPE. The connection object (TClientWinSocket) does the work and
// reports events and errors to the component; every event comes from the
// event loop, except OnLookup and OnConnecting, which fire while Active is
// being set; setting Active false calls off an attempt still pending, with
// no event. Handlers must not destroy the component or its connection
// object (a debug build stops when one does). Errors end in OnError,
// ESocketError, or both. Bytes that the
// platform does not take at once are kept and sent in order later.
// Owned by its creator; event-loop thread only.
#pragma once
#include <netinet/in.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

#include "platform/CallbackDepth.h"
#include "platform/EventLoop.h"
#include "platform/SocketNotifier.h"
#include "platform/WinSock.h"

namespace ovlar {

class ESocketError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum TClientType { ctNonBlocking, ctBlocking };
enum TErrorEvent { eeGeneral, eeSend, eeReceive, eeConnect, eeDisconnect, eeAccept };
enum TSocketEvent { seLookup, seConnecting, seConnect, seDisconnect, seListen, seAccept, seWrite, seRead };

class TCustomWinSocket {
 public:
  // More queued output than this means the peer has stopped reading: later
  // sends are refused whole rather than cut.
  static constexpr size_t kMaxQueued = 4 * 1024 * 1024;

  std::function<void(TCustomWinSocket* Socket, TSocketEvent Event)> OnSocketEvent;
  std::function<void(TCustomWinSocket* Socket, TErrorEvent ErrorEvent, int32_t& ErrorCode)> OnErrorEvent;
  int32_t Data = 0;
  // Bytes sent during one loop turn leave together at its end, in order,
  // in few writes: a burst of small frames then costs a write per turn,
  // not one each. Never later than the turn; outside a turn, at once.
  bool GatherWrites = false;

  explicit TCustomWinSocket(EventLoop& loop);
  virtual ~TCustomWinSocket();
  TCustomWinSocket(const TCustomWinSocket&) = delete;
  TCustomWinSocket& operator=(const TCustomWinSocket&) = delete;

  bool Connected() const { return connected_; }
  int SocketHandle() const { return socket_; }
  std::string RemoteAddress() const;
  int RemotePort() const { return ntohs(remote_.sin_port); }
  size_t Queued() const { return queued_.size() - queuedOffset_; }

  // Bytes accepted (sent now or queued), 0 when not connected or refused.
  int SendBytes(const void* buffer, int count);
  int SendString(const std::string& text) { return SendBytes(text.data(), static_cast<int>(text.size())); }
  // count -1: the bytes waiting. Else bytes received, -1 when none can be.
  int ReceiveBytes(void* buffer, int count);
  // The bytes waiting, at most limit of them: a reader that takes a slice
  // per notification lets the loop serve other sockets in between.
  std::string ReceiveString(int limit = INT32_MAX);
  // Sends the bytes in pieces on write notifications; optionally disconnects
  // once they are all out.
  bool SendStream(std::string stream, bool closeAfterSending = false);

  void Open(const std::string& host, const std::string& address, const std::string& service, int32_t port,
            bool blocking);
  void Disconnect(int socket);
  // Calls off an attempt that is still looking up or connecting: no event
  // comes of it, now or later. A connection that is up is not touched.
  void CancelAttempt();

 protected:
  void Event(TSocketEvent event);
  void Error(TErrorEvent event, int32_t& code);
  void SetNotifications(uint32_t mask);

 private:
  enum class Lookup { Idle, Address, Service };
  void OpenBlocking(const std::string& host, const std::string& address, const std::string& service, int32_t port);
  void ServiceStep(const std::string& service, int32_t port);
  void ConnectStep();
  void OnLookupDone(const LookupResult& result);
  void OnNotify(int socket, uint32_t event, uint16_t error);
  void HandleNotify(int socket, uint32_t event, uint16_t error);
  void WriteReady();
  bool SendQueued(size_t largest = SIZE_MAX);
  // The turn-end write of what GatherWrites held back.
  void SendGathered();
  // Before a close: what the turn held back, as far as the system takes it.
  void WriteGatheredNow();
  void ReleaseSocket();

  EventLoop& loop_;
  CallbackDepth callbacks_;
  SocketNotifier notifier_;
  int socket_ = -1;
  bool connected_ = false;
  sockaddr_in remote_{};
  uint32_t mask_ = FD_READ | FD_WRITE | FD_CONNECT | FD_CLOSE;
  Lookup lookupState_ = Lookup::Idle;
  AsyncResolver::Handle lookup_ = 0;
  std::string lookupService_;
  int32_t lookupPort_ = 0;
  std::string queued_;
  size_t queuedOffset_ = 0;
  bool streamPending_ = false;
  bool closeAfterSending_ = false;
  bool gatherPending_ = false;
  // Outlives nothing: the turn-end write checks the socket is still there.
  std::shared_ptr<char> alive_ = std::make_shared<char>();
};

class TClientWinSocket : public TCustomWinSocket {
 public:
  using TCustomWinSocket::TCustomWinSocket;
  TClientType ClientType() const { return clientType_; }
  void SetClientType(TClientType value);

 private:
  TClientType clientType_ = ctNonBlocking;
};

class TClientSocket {
 public:
  using TSocketNotifyEvent = std::function<void(TClientSocket* Sender, TCustomWinSocket* Socket)>;
  TSocketNotifyEvent OnLookup, OnConnecting, OnConnect, OnDisconnect, OnRead, OnWrite;
  std::function<void(TClientSocket* Sender, TCustomWinSocket* Socket, TErrorEvent ErrorEvent, int32_t& ErrorCode)>
      OnError;
  std::string Name;
  int Tag = 0;

  explicit TClientSocket(EventLoop& loop);
  ~TClientSocket();
  TClientSocket(const TClientSocket&) = delete;
  TClientSocket& operator=(const TClientSocket&) = delete;

  bool Active() const { return active_; }
  void SetActive(bool value);
  const std::string& Address() const { return address_; }
  void SetAddress(const std::string& value);
  const std::string& Host() const { return host_; }
  void SetHost(const std::string& value);
  const std::string& Service() const { return service_; }
  void SetService(const std::string& value);
  int32_t Port() const { return port_; }
  void SetPort(int32_t value);
  TClientType ClientType() const { return socket_.ClientType(); }
  void SetClientType(TClientType value) { socket_.SetClientType(value); }
  TClientWinSocket& Socket() { return socket_; }

 private:
  void SetText(std::string& field, const std::string& value);
  void DoEvent(TCustomWinSocket* socket, TSocketEvent event);

  CallbackDepth callbacks_;
  bool active_ = false;
  int32_t port_ = 0;
  std::string address_;
  std::string host_;
  std::string service_;
  TClientWinSocket socket_;
};

}  // namespace ovlar
