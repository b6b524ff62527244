#include "net/ScktComp.h"

#include <fcntl.h>
#include <sys/socket.h>

#include <algorithm>
#include <cassert>
#include <cstring>
#include <strings.h>

#include "net/WSocketResolve.h"
#include "platform/Burst.h"
#include "platform/WinSock.h"

namespace ovlar {

namespace {

constexpr size_t kStreamPiece = 4096;
// The largest single write of a turn's gathered bytes. The system takes a
// first write into an idle connection whole, up to 64 KiB whatever its send
// buffer; that much in flight towards a peer that reads a little at a time
// sends the connection into retransmission back-off, a crawl for seconds.
constexpr size_t kGatherPiece = 4096;

[[noreturn]] void RaiseWinSockError(int code, const std::string& api) {
  throw ESocketError("Windows socket error: " + WSocketErrorDesc(code) + " (" + std::to_string(code) + "), on API '" +
                     api + "'");
}

// Would-block counts as success; any other failure raises.
void CheckSocketResult(int result, const std::string& api) {
  if (result != SOCKET_ERROR) return;
  const int code = WSAGetLastError();
  if (code != WSAEWOULDBLOCK) RaiseWinSockError(code, api);
}

}  // namespace

// ---- Connection object ----

TCustomWinSocket::TCustomWinSocket(EventLoop& loop) : loop_(loop), notifier_(loop) {
  remote_.sin_family = AF_INET;
}

TCustomWinSocket::~TCustomWinSocket() {
  assert(callbacks_.Idle() && "a handler destroyed the connection it was called from");
  OnSocketEvent = nullptr;
  OnErrorEvent = nullptr;
  if (lookup_ != 0) loop_.Resolver().Cancel(lookup_);
  if (connected_) WriteGatheredNow();
  ReleaseSocket();
}

std::string TCustomWinSocket::RemoteAddress() const { return wsock::InetNtoa(remote_.sin_addr.s_addr); }

void TCustomWinSocket::Event(TSocketEvent event) {
  const CallbackDepth::Scope running(callbacks_);
  if (OnSocketEvent) OnSocketEvent(this, event);
}

void TCustomWinSocket::Error(TErrorEvent event, int32_t& code) {
  const CallbackDepth::Scope running(callbacks_);
  if (OnErrorEvent) OnErrorEvent(this, event, code);
}

void TCustomWinSocket::SetNotifications(uint32_t mask) {
  mask_ = mask;
  if (socket_ != INVALID_SOCKET && lookupState_ == Lookup::Idle && mask_ != 0) {
    notifier_.Select(socket_, connected_ ? SocketKind::ConnectedStream : SocketKind::Stream, mask_,
                     [this](int s, uint32_t e, uint16_t err) { OnNotify(s, e, err); });
  }
}

void TCustomWinSocket::ReleaseSocket() {
  if (socket_ == INVALID_SOCKET) return;
  notifier_.Unselect();
  wsock::CloseSocket(socket_);
  socket_ = INVALID_SOCKET;
}

void TCustomWinSocket::Open(const std::string& host, const std::string& address, const std::string& service,
                            int32_t port, bool blocking) {
  if (connected_) throw ESocketError("Socket already open");
  // A socket left behind by a failed attempt or a reset is of no more use.
  ReleaseSocket();
  if (lookup_ != 0) loop_.Resolver().Cancel(lookup_);
  lookup_ = 0;
  lookupState_ = Lookup::Idle;
  socket_ = wsock::Socket(SOCK_STREAM, IPPROTO_TCP);
  if (socket_ == INVALID_SOCKET) throw ESocketError("Can't create new socket");
  try {
    if (blocking) {
      OpenBlocking(host, address, service, port);
      return;
    }
    Event(seLookup);
    if (!host.empty()) {
      lookupService_ = service;
      lookupPort_ = port;
      lookupState_ = Lookup::Address;
      lookup_ = loop_.Resolver().Start(AsyncResolver::Kind::Host, host, "",
                                       [this](AsyncResolver::Handle, const LookupResult& r) { OnLookupDone(r); });
      return;
    }
    if (address.empty()) throw ESocketError("No address specified");
    remote_.sin_addr.s_addr = wsock::InetAddr(address);
    ServiceStep(service, port);
  } catch (...) {
    Disconnect(socket_);
    throw;
  }
}

void TCustomWinSocket::ServiceStep(const std::string& service, int32_t port) {
  if (!service.empty()) {
    lookupState_ = Lookup::Service;
    lookup_ = loop_.Resolver().Start(AsyncResolver::Kind::Service, service, "tcp",
                                     [this](AsyncResolver::Handle, const LookupResult& r) { OnLookupDone(r); });
    return;
  }
  remote_.sin_port = htons(static_cast<uint16_t>(port));
  ConnectStep();
}

void TCustomWinSocket::ConnectStep() {
  lookupState_ = Lookup::Idle;
  SetNotifications(mask_);
  Event(seConnecting);
  const int result = wsock::Connect(socket_, remote_);
  if (result == 0 || WSAGetLastError() == WSAEWOULDBLOCK) notifier_.Reenable(FD_CONNECT);
  CheckSocketResult(result, "connect");
}

void TCustomWinSocket::OpenBlocking(const std::string& host, const std::string& address, const std::string& service,
                                    int32_t port) {
  if (!host.empty()) {
    const LookupResult r = AsyncResolver::LookupHost(host);
    remote_.sin_addr.s_addr = r.error == 0 ? r.addresses.front() : 0;
  } else {
    if (address.empty()) throw ESocketError("No address specified");
    remote_.sin_addr.s_addr = wsock::InetAddr(address);
  }
  uint16_t number = static_cast<uint16_t>(port);
  if (!service.empty()) number = AsyncResolver::LookupService(service, "tcp").port;
  remote_.sin_port = htons(number);
  const int flags = fcntl(socket_, F_GETFL);
  fcntl(socket_, F_SETFL, flags & ~O_NONBLOCK);
  Event(seConnecting);
  CheckSocketResult(wsock::Connect(socket_, remote_), "connect");
  connected_ = true;
  Event(seConnect);
}

void TCustomWinSocket::OnLookupDone(const LookupResult& result) {
  lookup_ = 0;
  try {
    if (result.error != 0) {
      // The disconnect's handlers may ask why.
      WSASetLastError(result.error);
      Disconnect(socket_);
      RaiseWinSockError(result.error, "ASync Lookup");
    }
    if (lookupState_ == Lookup::Address) {
      remote_.sin_addr.s_addr = result.addresses.front();
      ServiceStep(lookupService_, lookupPort_);
    } else {
      remote_.sin_port = htons(result.port);
      lookupService_.clear();
      lookupPort_ = 0;
      ConnectStep();
    }
  } catch (const std::exception& e) {
    if (socket_ != INVALID_SOCKET && !connected_) Disconnect(socket_);
    // Nobody up the stack could take it: the application's catch does.
    loop_.ReportFailure(e);
  }
}

void TCustomWinSocket::Disconnect(int socket) {
  if (lookup_ != 0) {
    loop_.Resolver().Cancel(lookup_);
    lookup_ = 0;
  }
  lookupState_ = Lookup::Idle;
  if (socket == INVALID_SOCKET || socket != socket_) return;
  if (connected_) WriteGatheredNow();
  Event(seDisconnect);
  notifier_.Unselect();
  const int result = wsock::CloseSocket(socket_);
  socket_ = INVALID_SOCKET;
  std::memset(&remote_, 0, sizeof remote_);
  remote_.sin_family = AF_INET;
  connected_ = false;
  queued_.clear();
  queuedOffset_ = 0;
  streamPending_ = false;
  CheckSocketResult(result, "closesocket");
}

void TCustomWinSocket::CancelAttempt() {
  if (lookup_ != 0) loop_.Resolver().Cancel(lookup_);
  lookup_ = 0;
  lookupState_ = Lookup::Idle;
  if (connected_) return;
  // Unselecting drops whatever the attempt has already posted.
  ReleaseSocket();
  std::memset(&remote_, 0, sizeof remote_);
  remote_.sin_family = AF_INET;
}

void TCustomWinSocket::OnNotify(int socket, uint32_t event, uint16_t error) {
  try {
    HandleNotify(socket, event, error);
  } catch (const std::exception& e) {
    loop_.ReportFailure(e);
  }
}

void TCustomWinSocket::HandleNotify(int socket, uint32_t event, uint16_t error) {
  if (error != 0) {
    const TErrorEvent kind = event == FD_READ      ? eeReceive
                             : event == FD_WRITE   ? eeSend
                             : event == FD_ACCEPT  ? eeAccept
                             : event == FD_CONNECT ? eeConnect
                             : event == FD_CLOSE   ? eeDisconnect
                                                   : eeGeneral;
    int32_t code = error;
    Error(kind, code);
    if (code != 0) throw ESocketError("Asynchronous socket error " + std::to_string(code));
    return;
  }
  switch (event) {
    case FD_READ:
      if (socket == socket_) Event(seRead);
      break;
    case FD_WRITE:
      if (socket == socket_) WriteReady();
      break;
    case FD_CONNECT:
      connected_ = true;
      Event(seConnect);
      break;
    case FD_CLOSE:
      Disconnect(socket);
      break;
    default:
      break;
  }
}

void TCustomWinSocket::WriteReady() {
  if (Queued() == 0) {
    Event(seWrite);
    return;
  }
  if (!SendQueued() || Queued() != 0) return;
  if (streamPending_) {
    streamPending_ = false;
    if (closeAfterSending_) {
      Disconnect(socket_);
      return;
    }
  }
  Event(seWrite);
}

// Sends queued bytes until the platform would block; false after a failure.
bool TCustomWinSocket::SendQueued(size_t largest) {
  while (Queued() != 0) {
    const size_t piece = std::min(streamPending_ ? std::min(Queued(), kStreamPiece) : Queued(), largest);
    const int sent = wsock::Send(socket_, queued_.data() + queuedOffset_, piece, 0);
    if (sent < 0) {
      int32_t code = WSAGetLastError();
      if (code == WSAEWOULDBLOCK) {
        notifier_.Reenable(FD_WRITE);
        return true;
      }
      Error(eeSend, code);
      Disconnect(socket_);
      if (code != 0) RaiseWinSockError(code, "send");
      return false;
    }
    queuedOffset_ += static_cast<size_t>(sent);
  }
  EmptyBuffer(queued_);
  queuedOffset_ = 0;
  return true;
}

int TCustomWinSocket::SendBytes(const void* buffer, int count) {
  if (!connected_ || count <= 0) return 0;
  if (Queued() + static_cast<size_t>(count) > kMaxQueued) return 0;
  const bool idle = Queued() == 0;
  queued_.append(static_cast<const char*>(buffer), static_cast<size_t>(count));
  // Earlier bytes still waiting go first; the write notification sends them.
  if (!idle || gatherPending_) return count;
  // Outside a turn (start-up, a caller that waits without turning the
  // loop) nothing would come to write them: they go now.
  if (GatherWrites && loop_.InTurn()) {
    gatherPending_ = true;
    loop_.AtTurnEnd([this, alive = std::weak_ptr<char>(alive_)] {
      if (!alive.expired()) SendGathered();
    });
    return count;
  }
  if (!SendQueued()) return 0;
  return count;
}

void TCustomWinSocket::WriteGatheredNow() {
  if (!gatherPending_) return;
  gatherPending_ = false;
  // Written without gathering they would be out already: a close keeps them.
  while (Queued() != 0) {
    const int sent = wsock::Send(socket_, queued_.data() + queuedOffset_, Queued(), 0);
    if (sent <= 0) return;
    queuedOffset_ += static_cast<size_t>(sent);
  }
}

void TCustomWinSocket::SendGathered() {
  gatherPending_ = false;
  if (!connected_ || Queued() == 0) return;
  // Nobody up the stack to hand a failure to: the error event has told the
  // owner, and the loop's last catch hears the rest.
  try {
    SendQueued(kGatherPiece);
  } catch (const std::exception& e) {
    loop_.ReportFailure(e);
  }
}

bool TCustomWinSocket::SendStream(std::string stream, bool closeAfterSending) {
  if (!connected_ || streamPending_ || Queued() != 0) return false;
  queued_ = std::move(stream);
  queuedOffset_ = 0;
  streamPending_ = true;
  closeAfterSending_ = closeAfterSending;
  WriteReady();
  return true;
}

int TCustomWinSocket::ReceiveBytes(void* buffer, int count) {
  if (!connected_) return 0;
  if (count == -1) {
    unsigned long waiting = 0;
    wsock::BytesWaiting(socket_, &waiting);
    if (waiting == 0) notifier_.Reenable(FD_READ);
    return static_cast<int>(std::min<unsigned long>(waiting, INT32_MAX));
  }
  const int result = wsock::Recv(socket_, buffer, static_cast<size_t>(std::max(count, 0)), 0);
  notifier_.Reenable(FD_READ);
  if (result < 0) {
    int32_t code = WSAGetLastError();
    if (code == WSAEWOULDBLOCK) return -1;
    Error(eeReceive, code);
    Disconnect(socket_);
    if (code != 0) RaiseWinSockError(code, "recv");
  }
  return result;
}

std::string TCustomWinSocket::ReceiveString(int limit) {
  // With a limit the receive itself says how much there was: no query first.
  const int waiting = limit < INT32_MAX ? limit : ReceiveBytes(nullptr, -1);
  if (waiting <= 0) return {};
  std::string data(static_cast<size_t>(waiting), '\0');
  const int n = ReceiveBytes(data.data(), waiting);
  data.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return data;
}

void TClientWinSocket::SetClientType(TClientType value) {
  if (value == clientType_) return;
  if (Connected()) throw ESocketError("Can't change value while socket is active");
  clientType_ = value;
  SetNotifications(value == ctBlocking ? 0 : FD_READ | FD_WRITE | FD_CONNECT | FD_CLOSE);
}

// ---- Component ----

TClientSocket::TClientSocket(EventLoop& loop) : socket_(loop) {
  socket_.OnSocketEvent = [this](TCustomWinSocket* s, TSocketEvent e) { DoEvent(s, e); };
  socket_.OnErrorEvent = [this](TCustomWinSocket* s, TErrorEvent e, int32_t& code) {
    const CallbackDepth::Scope running(callbacks_);
    if (OnError) OnError(this, s, e, code);
  };
}

TClientSocket::~TClientSocket() {
  assert(callbacks_.Idle() && "a handler destroyed the client socket it was called from");
  socket_.OnSocketEvent = nullptr;
  socket_.OnErrorEvent = nullptr;
}

void TClientSocket::DoEvent(TCustomWinSocket* socket, TSocketEvent event) {
  const TSocketNotifyEvent* handler = nullptr;
  switch (event) {
    case seLookup: handler = &OnLookup; break;
    case seConnecting: handler = &OnConnecting; break;
    case seConnect:
      active_ = true;
      handler = &OnConnect;
      break;
    case seDisconnect:
      active_ = false;
      handler = &OnDisconnect;
      break;
    case seListen: active_ = true; break;
    case seWrite: handler = &OnWrite; break;
    case seRead: handler = &OnRead; break;
    default: break;
  }
  const CallbackDepth::Scope running(callbacks_);
  if (handler && *handler) (*handler)(this, socket);
}

void TClientSocket::SetActive(bool value) {
  // Left pending, an attempt would come up after its owner has let go.
  if (!value && !socket_.Connected()) {
    socket_.CancelAttempt();
    return;
  }
  if (value == active_ || value == socket_.Connected()) return;
  if (socket_.Connected()) {
    socket_.Disconnect(socket_.SocketHandle());
  } else {
    socket_.Open(host_, address_, service_, port_, socket_.ClientType() == ctBlocking);
  }
}

void TClientSocket::SetText(std::string& field, const std::string& value) {
  if (strcasecmp(field.c_str(), value.c_str()) == 0 && field.size() == value.size()) return;
  if (active_) throw ESocketError("Can't change value while socket is active");
  field = value;
}

void TClientSocket::SetAddress(const std::string& value) { SetText(address_, value); }
void TClientSocket::SetHost(const std::string& value) { SetText(host_, value); }
void TClientSocket::SetService(const std::string& value) { SetText(service_, value); }

void TClientSocket::SetPort(int32_t value) {
  if (value == port_) return;
  if (active_) throw ESocketError("Can't change value while socket is active");
  port_ = value;
}

}  // namespace ovlar
