#include "net/WSocketBase.h"

#include <sys/socket.h>

#include <algorithm>
#include <cassert>
#include <cstring>

#include "platform/WinSock.h"

namespace ovlar {

namespace {

constexpr int kDrainSize = 1024;

}  // namespace



TCustomWSocket::TCustomWSocket(EventLoop& loop) : loop_(loop), notifier_(loop) { ResetToDefaults(); }

TCustomWSocket::~TCustomWSocket() {
  assert(callbacks_.Idle() && "a handler destroyed the socket it was called from: use ReleaseLater");
  destroying_ = true;
  try {
    CancelDnsLookup();
  } catch (...) {
  }
  try {
    if (state_ != wsClosed) InternalClose(true, 0);
  } catch (...) {
  }
  // A failed Connect or Listen may leave a handle in a closed state.
  if (socket_ != INVALID_SOCKET) {
    notifier_.Unselect();
    wsock::CloseSocket(socket_);
  }
}

// ---- Properties ----

bool TCustomWSocket::AssignText(std::string& field, bool& assigned, bool& resolved, const std::string& value,
                                const char* name) {
  if (assigned && value == field) return false;
  if (state_ != wsClosed) {
    RaiseException(std::string("Cannot change ") + name + " if not closed");
    return false;
  }
  field = TrimBlanks(value);
  assigned = !field.empty();
  resolved = false;
  return true;
}

void TCustomWSocket::SetAddr(const std::string& value) { AssignText(addr_, addrAssigned_, addrResolved_, value, "Addr"); }

void TCustomWSocket::SetPort(const std::string& value) { AssignText(port_, portAssigned_, portResolved_, value, "Port"); }

void TCustomWSocket::SetProto(const std::string& value) {
  AssignText(proto_, protoAssigned_, protoResolved_, value, "Proto");
}

void TCustomWSocket::SetLocalPort(const std::string& value) {
  if (state_ != wsClosed) {
    RaiseException("Cannot change LocalPort if not closed");
    return;
  }
  localPort_ = value;
  localPortResolved_ = false;
}

void TCustomWSocket::SetLocalAddr(const std::string& value) {
  if (state_ != wsClosed) {
    RaiseException("Cannot change LocalAddr if not closed");
    return;
  }
  const uint32_t addr = wsock::InetAddr(value.empty() ? "0.0.0.0" : value);
  if (addr == INADDR_NONE) RaiseException("SetLocalAddr(): Invalid IP address");
  localAddr_ = wsock::InetNtoa(addr);
}

TSocketSendFlags TCustomWSocket::SendFlags() {
  if (sendFlags_ == 0) return wsSendNormal;
  if (sendFlags_ == 1) return wsSendUrgent;
  RaiseException("Invalid internal SendFlags");
  return wsSendNormal;
}

void TCustomWSocket::SetSendFlags(TSocketSendFlags value) {
  switch (value) {
    case wsSendNormal: sendFlags_ = 0; break;
    case wsSendUrgent: sendFlags_ = 1; break;
    default: RaiseException("Invalid SendFlags");
  }
}

std::string TCustomWSocket::PeerAddr() {
  if (state_ != wsConnected) return "error";
  sockaddr_in peer{};
  if (wsock::GetPeerName(socket_, &peer) != 0) {
    SocketError("GetPeerName");
    return "error";
  }
  return wsock::InetNtoa(peer.sin_addr.s_addr);
}

std::string TCustomWSocket::PeerPort() {
  if (state_ != wsConnected) return "error";
  sockaddr_in peer{};
  if (wsock::GetPeerName(socket_, &peer) != 0) {
    SocketError("GetPeerPort");
    return "error";
  }
  return std::to_string(ntohs(peer.sin_port));
}

int TCustomWSocket::GetPeerName(sockaddr_in& name, int& nameLength) {
  if (state_ != wsConnected) return -1;
  const int result = wsock::GetPeerName(socket_, &name);
  if (result == 0) nameLength = static_cast<int>(sizeof name);
  return result;
}

int32_t TCustomWSocket::RcvdCount() {
  unsigned long count = 0;
  if (wsock::BytesWaiting(socket_, &count) != 0) {
    SocketError("ioctlSocket");
    return -1;
  }
  return static_cast<int32_t>(std::min<unsigned long>(count, INT32_MAX));
}

// ---- Error path ----

void TCustomWSocket::RaiseException(const std::string& text, int32_t error) {
  if (OnError) {
    TriggerError(error, text);
    return;
  }
  throw ESocketException(text);
}

void TCustomWSocket::SocketError(const std::string& operation) {
  const int code = WSAGetLastError();
  const std::string text =
      "Error " + std::to_string(code) + " in function " + operation + "\r\n" + WSocketErrorDesc(code);
  if (code == WSAECONNRESET || code == WSAENOTCONN) {
    if (socket_ != INVALID_SOCKET) {
      notifier_.Unselect();
      wsock::CloseSocket(socket_);
      socket_ = INVALID_SOCKET;
    }
    ChangeState(wsClosed);
  }
  lastError_ = code;
  RaiseException(text, code);
}

void TCustomWSocket::ChangeState(TSocketState newState) {
  const TSocketState oldState = state_;
  state_ = newState;
  TriggerChangeState(oldState, newState);
}

// ---- Triggers ----

bool TCustomWSocket::TriggerDataAvailable(uint16_t error) {
  if (!OnDataAvailable) return false;
  Fire(OnDataAvailable, this, error);
  return true;
}
void TCustomWSocket::TriggerSessionAvailable(uint16_t error) { Fire(OnSessionAvailable, this, error); }
void TCustomWSocket::TriggerSessionConnected(uint16_t error) { Fire(OnSessionConnected, this, error); }
void TCustomWSocket::TriggerSessionClosed(uint16_t error) { Fire(OnSessionClosed, this, error); }
void TCustomWSocket::TriggerDataSent(uint16_t error) { Fire(OnDataSent, this, error); }
void TCustomWSocket::TriggerChangeState(TSocketState oldState, TSocketState newState) {
  Fire(OnChangeState, this, oldState, newState);
}
void TCustomWSocket::TriggerDnsLookupDone(uint16_t error) { Fire(OnDnsLookupDone, this, error); }
void TCustomWSocket::TriggerError(int32_t error, const std::string& msg) { Fire(OnError, this, error, msg); }

// ---- Reset and close ----

void TCustomWSocket::ResetToDefaults() {
  std::memset(&remote_, 0, sizeof remote_);
  remote_.sin_family = AF_INET;
  remote6_ = TSockAddr();
  v6_ = false;
  addrAssigned_ = addrResolved_ = false;
  portAssigned_ = portResolved_ = false;
  proto_ = "tcp";
  protoAssigned_ = true;
  protoResolved_ = false;
  protoNumber_ = 6;
  socketType_ = SocketType::Stream;
  // One character, not a one-character literal: GCC 12 at -O3 takes that
  // copy for an overlapping one (a false -Wrestrict).
  localPort_.assign(1, '0');
  localPortResolved_ = false;
  localAddr_ = "0.0.0.0";
  LingerOnOff = wsLingerOn;
  LingerTimeout = 0;
  socket_ = INVALID_SOCKET;
  state_ = wsClosed;
  allSent_ = true;
  paused_ = false;
  readCount_ = 0;
  closeInvoked_ = false;
  FlushTimeout = 60;
}

void TCustomWSocket::Close() { InternalClose(true, 0); }

void TCustomWSocket::InternalClose(bool shutdownFirst, uint16_t error) {
  if (socket_ == INVALID_SOCKET) {
    if (state_ != wsClosed) {
      ChangeState(wsClosed);
      ResetToDefaults();
    }
    return;
  }
  if (state_ == wsClosed) return;
  // A datagram socket has no sending side to shut down.
  if (shutdownFirst && socketType_ == SocketType::Stream) wsock::Shutdown(socket_, SHUT_WR);
  notifier_.Unselect();
  const int handle = socket_;
  socket_ = INVALID_SOCKET;
  if (wsock::CloseSocket(handle) != 0 && WSAGetLastError() != WSANOTINITIALISED) {
    lastError_ = WSAGetLastError();
    SocketError("Disconnect (closesocket)");
    return;
  }
  ChangeState(wsClosed);
  if (!destroying_ && !closeInvoked_) {
    closeInvoked_ = true;
    TriggerSessionClosed(error);
  }
  try {
    ResetToDefaults();
  } catch (...) {
  }
}

void TCustomWSocket::Abort() {
  try {
    CancelDnsLookup();
  } catch (...) {
  }
  DeleteBufferedData();
  if (socketType_ == SocketType::Stream && state_ == wsConnected) {
    LingerOnOff = wsLingerOff;
    SetLingerOption();
  }
  InternalClose(false, 0);
}

void TCustomWSocket::Shutdown(int how) {
  if (socket_ != INVALID_SOCKET) wsock::Shutdown(socket_, how);
}

void TCustomWSocket::PostRequest(std::function<void()> work) {
  std::weak_ptr<char> alive = alive_;
  loop_.Post([this, alive, work = std::move(work)] {
    if (!alive.expired()) Guarded(work);
  });
}

void TCustomWSocket::CloseDelayed() {
  PostRequest([this] { Close(); });
}

void TCustomWSocket::ReleaseLater(std::unique_ptr<TCustomWSocket> socket) {
  if (!socket) return;
  EventLoop& loop = socket->loop_;
  std::shared_ptr<TCustomWSocket> doomed(std::move(socket));
  loop.Post([doomed]() mutable { doomed.reset(); });
}

void TCustomWSocket::PostTestException() {
  PostRequest([] { throw ESocketException("Test exception in WSocket"); });
}

// ---- Background guard and notifications ----

template <class F>
void TCustomWSocket::Guarded(F&& work) {
  try {
    work();
  } catch (const std::exception& e) {
    HandleBackGroundException(e);
  }
}

void TCustomWSocket::HandleBackGroundException(const std::exception& e) {
  bool canClose = true;
  if (OnBgException) {
    try {
      Fire(OnBgException, this, e, canClose);
    } catch (...) {
    }
  } else {
    // Nobody here wants it: the application's catch, rather than silence.
    loop_.ReportFailure(e);
  }
  if (canClose) {
    try {
      Abort();
    } catch (...) {
    }
  }
}

void TCustomWSocket::Register(uint32_t mask, SocketKind kind) {
  selectMask_ = mask;
  selectKind_ = kind;
  notifier_.Select(socket_, kind, mask, [this](int s, uint32_t event, uint16_t error) { OnNotify(s, event, error); });
}

void TCustomWSocket::OnNotify(int socket, uint32_t event, uint16_t error) {
  if (socket != socket_ || paused_) return;
  Guarded([&] { ProcessEvent(event, error); });
}

void TCustomWSocket::ProcessEvent(uint32_t event, uint16_t error) {
  if (event & FD_CONNECT) {
    ChangeState(wsConnected);
    TriggerSessionConnected(error);
    if (error != 0 && state_ != wsClosed) Close();
  }
  if (event & FD_READ) ReceiveLoop(error);
  if (event & FD_WRITE) {
    TryToSend();
    if (allSent_) TriggerDataSent(error);
  }
  if (event & FD_ACCEPT) TriggerSessionAvailable(error);
  if ((event & FD_CLOSE) && state_ != wsConnecting) {
    ReceiveLoop(0);
    if (!closeInvoked_) {
      closeInvoked_ = true;
      TriggerSessionClosed(error);
    }
    if (state_ != wsClosed) Close();
  }
}

void TCustomWSocket::ReceiveLoop(uint16_t error) {
  try {
    for (;;) {
      lastError_ = 0;
      if (!TriggerDataAvailable(error)) {
        char drain[kDrainSize];
        if (DoRecv(drain, sizeof drain, 0) < 0 && lastError_ == WSAEWOULDBLOCK) {
          lastError_ = 0;
          return;
        }
      }
      if ((ComponentOptions & wsoNoReceiveLoop) || lastError_ != 0 || socket_ == INVALID_SOCKET) return;
      unsigned long waiting = 0;
      if (wsock::BytesWaiting(socket_, &waiting) != 0) {
        lastError_ = WSAGetLastError();
        return;
      }
      if (waiting == 0) return;
    }
  } catch (...) {
    // What escapes the data handler is dropped, as the receive loop always did.
  }
}

// ---- Receiving ----

int TCustomWSocket::DoRecv(void* buffer, int size, int flags) {
  const int result = wsock::Recv(socket_, buffer, static_cast<size_t>(std::max(size, 0)), flags);
  if (result < 0) lastError_ = WSAGetLastError();
  notifier_.Reenable(FD_READ);
  return result;
}

int TCustomWSocket::Receive(void* buffer, int size) {
  const int result = DoRecv(buffer, size, 0);
  if (result > 0) readCount_ += result;
  return result;
}

int TCustomWSocket::ReceiveFrom(void* buffer, int size, sockaddr_in& from, int& fromLength) {
  socklen_t len = static_cast<socklen_t>(std::clamp<int>(fromLength, 0, sizeof from));
  const int result = wsock::RecvFrom(socket_, buffer, static_cast<size_t>(std::max(size, 0)), 0, &from, &len);
  notifier_.Reenable(FD_READ);
  if (result < 0) {
    lastError_ = WSAGetLastError();
    return result;
  }
  fromLength = static_cast<int>(len);
  readCount_ += result;
  return result;
}

int TCustomWSocket::ReceiveFrom(void* buffer, int size, TSockAddr& from) {
  sockaddr_storage raw{};
  socklen_t len = sizeof raw;
  const int result = wsock::RecvFrom(socket_, buffer, static_cast<size_t>(std::max(size, 0)), 0, &raw, &len);
  notifier_.Reenable(FD_READ);
  if (result < 0) {
    lastError_ = WSAGetLastError();
    return result;
  }
  from = TSockAddr::From(raw, len).value_or(TSockAddr());
  readCount_ += result;
  return result;
}

int TCustomWSocket::ReceiveBatch(TDatagramQueue& queue) {
  const int result = queue.Fill(socket_);
  notifier_.Reenable(FD_READ);
  if (result < 0) {
    lastError_ = WSAGetLastError();
    return result;
  }
  for (size_t i = 0; i < queue.Count(); ++i) {
    readCount_ += static_cast<int32_t>(std::min(queue.At(i).length, queue.Capacity()));
  }
  return result;
}

std::string TCustomWSocket::ReceiveStr() {
  const int32_t count = RcvdCount();
  if (count <= 0) return {};
  std::string data(static_cast<size_t>(count), '\0');
  const int n = Receive(data.data(), count);
  data.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return data;
}

// ---- Sending ----

void TCustomWSocket::AppendToSendBuffer(const char* data, int length) {
  if (socketType_ == SocketType::Datagram) {
    // One Send is one datagram, whatever its length: a chunk of its own.
    const int size = std::max(length, static_cast<int>(TBuffer::kDefaultSize));
    int unread = 0;
    if (buffers_.empty() || buffers_.back().Peek(unread) != nullptr) {
      buffers_.emplace_back(size);
    } else {
      buffers_.back().SetSize(size);
    }
    buffers_.back().Write(data, length);
    return;
  }
  if (buffers_.empty()) buffers_.emplace_back(TBuffer::kDefaultSize);
  int done = buffers_.back().Write(data, length);
  while (done < length) {
    buffers_.emplace_back(TBuffer::kDefaultSize);
    done += buffers_.back().Write(data + done, length - done);
  }
}

int TCustomWSocket::Send(const void* data, int length) {
  if (state_ != wsConnected) {
    WSASetLastError(WSAENOTCONN);
    SocketError("Send");
    return -1;
  }
  if (length <= 0) return 0;
  allSent_ = false;
  AppendToSendBuffer(static_cast<const char*>(data), length);
  TryToSend();
  if (allSent_) notifier_.Post(FD_WRITE, 0);
  return length;
}

void TCustomWSocket::TryToSend() {
  if (socket_ == INVALID_SOCKET || buffers_.empty()) return;
  for (;;) {
    int count = 0;
    const char* data = buffers_.front().Peek(count);
    if (count == 0) {
      if (buffers_.size() == 1) {
        allSent_ = true;
        return;
      }
      buffers_.pop_front();
      continue;
    }
    const int result = socketType_ == SocketType::Datagram
                           ? SendDatagram(data, count)
                           : wsock::Send(socket_, data, static_cast<size_t>(count), sendFlags_);
    if (result > 0) Fire(OnSendData, this, result);
    if (result == 0) return;
    if (result < 0) {
      const int code = WSAGetLastError();
      if (code == WSAEWOULDBLOCK) {
        notifier_.Reenable(FD_WRITE);
        return;
      }
      if (code == WSAEINVAL || code == WSAENOTSOCK || code == WSAECONNABORTED || code == WSAECONNRESET ||
          code == WSAENOTCONN) {
        closeInvoked_ = true;
        Close();
        TriggerSessionClosed(static_cast<uint16_t>(code));
        return;
      }
      // A datagram the network refuses for good would block every later one.
      if (socketType_ == SocketType::Datagram) buffers_.front().Remove(count);
      SocketError("TryToSend failed");
      return;
    }
    if (buffers_.empty()) return;
    buffers_.front().Remove(result);
    if (result < count) return;
  }
}

int TCustomWSocket::SendTo(const sockaddr_in& to, int, const void* data, int length) {
  return SendTo(TSockAddr::V4(to.sin_addr.s_addr, ntohs(to.sin_port)), data, length);
}

int TCustomWSocket::SendTo(const TSockAddr& to, const void* data, int length) {
  const int result =
      wsock::SendTo(socket_, data, static_cast<size_t>(std::max(length, 0)), sendFlags_, to.Raw(), to.Length());
  if (result < 0) lastError_ = WSAGetLastError();
  if (result > 0) Fire(OnSendData, this, result);
  return result;
}

void TCustomWSocket::Flush() {
  const EventLoop::NestedTurns nested(loop_);
  while (socket_ != INVALID_SOCKET && !allSent_) {
    TryToSend();
    if (!allSent_ && socket_ != INVALID_SOCKET) loop_.RunOnce(100);
  }
}

// ---- Connect and listen ----

bool TCustomWSocket::Resolve(const char* operation, bool localPort) {
  try {
    if (!protoResolved_) {
      protoNumber_ = WSocketResolveProto(proto_);
      socketType_ = protoNumber_ == IPPROTO_UDP ? SocketType::Datagram : SocketType::Stream;
      protoResolved_ = true;
    }
    if (!portResolved_) {
      portNumber_ = WSocketResolvePort(port_, proto_);
      remote_.sin_port = htons(portNumber_);
      portResolved_ = true;
    }
    if (localPort && !localPortResolved_) {
      localPortNumber_ = WSocketResolvePort(localPort_, proto_);
      localPortResolved_ = true;
    }
    if (!addrResolved_) {
      // An IPv6 address is taken as written; names stay IPv4, as they were.
      v6_ = IsIPv6Text(addr_);
      if (v6_) {
        remote6_ = TSockAddr::Parse(addr_).value_or(TSockAddr());
      } else {
        remote_.sin_addr.s_addr = WSocketResolveHost(addr_);
      }
      addrResolved_ = true;
    }
    if (v6_) remote6_.SetPort(portNumber_);
  } catch (const ESocketException& e) {
    RaiseException(std::string(operation) + ": " + e.what());
    return false;
  }
  return true;
}

int TCustomWSocket::NewSocket() {
  const int s = wsock::Socket(v6_ ? AF_INET6 : AF_INET, socketType_ == SocketType::Datagram ? SOCK_DGRAM : SOCK_STREAM,
                              protoNumber_);
  if (s == INVALID_SOCKET || !v6_) return s;
  // IPv6 only: beside it an IPv4 socket may hold the same port.
  const int on = 1;
  if (wsock::SetOption(s, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on) == 0) return s;
  const int code = WSAGetLastError();
  wsock::CloseSocket(s);
  WSASetLastError(code);
  return INVALID_SOCKET;
}

int TCustomWSocket::SendDatagram(const char* data, int count) {
  const size_t length = static_cast<size_t>(count);
  return v6_ ? wsock::SendTo(socket_, data, length, sendFlags_, remote6_.Raw(), remote6_.Length())
             : wsock::SendTo(socket_, data, length, sendFlags_, remote_);
}

bool TCustomWSocket::BindLocal6() {
  TSockAddr local = TSockAddr::Parse(localAddr_).value_or(TSockAddr());
  if (local.Family() != AF_INET6) local = TSockAddr::V6(in6addr_any, 0);
  local.SetPort(localPortNumber_);
  sockaddr_storage bound{};
  socklen_t length = 0;
  if (wsock::Bind(socket_, local.Raw(), local.Length()) != 0) {
    const int code = WSAGetLastError();
    RaiseException(Format("winsock.bind failed, error #%d", "", code), code);
    return false;
  }
  if (wsock::GetSockName(socket_, &bound, &length) != 0) {
    const int code = WSAGetLastError();
    RaiseException(Format("winsock.getsockname failed, error #%d", "", code), code);
    return false;
  }
  localPortNumber_ = TSockAddr::From(bound, length).value_or(local).Port();
  localPort_ = std::to_string(localPortNumber_);
  return true;
}

bool TCustomWSocket::BindLocal() {
  if (v6_) return BindLocal6();
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(localPortNumber_);
  local.sin_addr.s_addr = WSocketResolveHost(localAddr_);
  if (wsock::Bind(socket_, local) != 0) {
    const int code = WSAGetLastError();
    RaiseException(Format("winsock.bind failed, error #%d", "", code), code);
    return false;
  }
  if (wsock::GetSockName(socket_, &local) != 0) {
    const int code = WSAGetLastError();
    RaiseException(Format("winsock.getsockname failed, error #%d", "", code), code);
    return false;
  }
  localPortNumber_ = ntohs(local.sin_port);
  localPort_ = std::to_string(localPortNumber_);
  return true;
}

void TCustomWSocket::SetLingerOption() {
  if (LingerOnOff == wsLingerNoSet) return;
  if (socket_ == INVALID_SOCKET) {
    RaiseException("Cannot set linger option at this time");
    return;
  }
  linger value{};
  value.l_onoff = LingerOnOff == wsLingerOn ? 1 : 0;
  value.l_linger = LingerTimeout;
  if (wsock::SetOption(socket_, SOL_SOCKET, SO_LINGER, &value, sizeof value) != 0) {
    SocketError("setsockopt(SO_LINGER)");
  }
}

void TCustomWSocket::Connect() {
  if (socket_ != INVALID_SOCKET && state_ != wsClosed) {
    RaiseException("Connect: Socket already in use");
    return;
  }
  if (!portAssigned_) {
    RaiseException("Connect: No Port Specified");
    return;
  }
  if (!addrAssigned_) {
    RaiseException("Connect: No IP Address Specified");
    return;
  }
  if (!protoAssigned_) {
    RaiseException("Connect: No Protocol Specified");
    return;
  }
  if (!Resolve("connect", true)) return;
  DeleteBufferedData();
  socket_ = NewSocket();
  if (socket_ == INVALID_SOCKET) {
    SocketError("Connect (socket)");
    return;
  }
  ChangeState(wsOpened);
  const int on = 1;
  if (socketType_ == SocketType::Datagram) {
    if (!BindLocal()) return;
    if (!v6_ && remote_.sin_addr.s_addr == INADDR_NONE &&
        wsock::SetOption(socket_, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0) {
      SocketError("setsockopt(SO_BROADCAST)");
      return;
    }
  } else {
    if ((localPortNumber_ != 0 || localAddr_ != "0.0.0.0") && !BindLocal()) return;
    SetLingerOption();
    if (wsock::SetOption(socket_, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on) != 0) {
      SocketError("setsockopt(SO_KEEPALIVE)");
      return;
    }
    if (wsock::SetOption(socket_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0) {
      SocketError("setsockopt(SO_REUSEADDR)");
      return;
    }
  }
  Register(FD_READ | FD_WRITE | FD_ACCEPT | FD_CONNECT | FD_CLOSE,
           socketType_ == SocketType::Datagram ? SocketKind::Datagram : SocketKind::Stream);
  if (socketType_ == SocketType::Datagram) {
    ChangeState(wsConnected);
    TriggerSessionConnected(0);
    return;
  }
  const int connected =
      v6_ ? wsock::Connect(socket_, remote6_.Raw(), remote6_.Length()) : wsock::Connect(socket_, remote_);
  if (connected == 0 || WSAGetLastError() == WSAEWOULDBLOCK) {
    notifier_.Reenable(FD_CONNECT);
    ChangeState(wsConnecting);
    return;
  }
  lastError_ = WSAGetLastError();
  SocketError("Connect");
}

void TCustomWSocket::Listen() {
  const char* missing = !portAssigned_    ? "listen: port not assigned"
                        : !protoAssigned_ ? "listen: protocol not assigned"
                        : !addrAssigned_  ? "listen: address not assigned"
                                          : nullptr;
  if (missing) {
    WSASetLastError(WSAEINVAL);
    SocketError(missing);
    return;
  }
  if (!Resolve("listen", false)) return;
  DeleteBufferedData();
  socket_ = NewSocket();
  if (socket_ == INVALID_SOCKET) {
    SocketError("socket");
    return;
  }
  // Connections this server closed linger in TIME_WAIT on its port; without
  // the option a restarted server could not bind it for a minute or more.
  // On this platform it never lets two listeners share a port.
  const int on = 1;
  if (socketType_ == SocketType::Stream &&
      wsock::SetOption(socket_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0) {
    SocketError("setsockopt(SO_REUSEADDR)");
    return;
  }
  const int bound = v6_ ? wsock::Bind(socket_, remote6_.Raw(), remote6_.Length()) : wsock::Bind(socket_, remote_);
  if (bound != 0) {
    SocketError("Bind");
    // The state is still wsClosed here, so Close alone would keep the handle.
    if (socket_ != INVALID_SOCKET) {
      wsock::CloseSocket(socket_);
      socket_ = INVALID_SOCKET;
    }
    Close();
    return;
  }
  ChangeState(wsBound);
  if (socketType_ == SocketType::Datagram) {
    ChangeState(wsListening);
    ChangeState(wsConnected);
    TriggerSessionConnected(0);
  } else {
    if (wsock::Listen(socket_, 5) != 0) {
      SocketError("Listen");
      return;
    }
    ChangeState(wsListening);
  }
  Register(FD_READ | FD_WRITE | FD_ACCEPT | FD_CLOSE,
           socketType_ == SocketType::Datagram ? SocketKind::Datagram : SocketKind::Listening);
}

int TCustomWSocket::Accept() {
  if (state_ != wsListening) {
    WSASetLastError(WSAEINVAL);
    SocketError("not a listening socket");
    return INVALID_SOCKET;
  }
  const int handle = wsock::Accept(socket_, &remote_);
  notifier_.Reenable(FD_ACCEPT);
  if (handle == INVALID_SOCKET) {
    SocketError("Accept");
    return INVALID_SOCKET;
  }
  lastAccepted_ = handle;
  return handle;
}

void TCustomWSocket::Dup(int handle) {
  if (handle == 0 || handle == INVALID_SOCKET) {
    WSASetLastError(WSAEINVAL);
    SocketError("Dup");
    return;
  }
  if (state_ != wsClosed) {
    notifier_.Unselect();
    const int old = socket_;
    socket_ = INVALID_SOCKET;
    if (old != INVALID_SOCKET && wsock::CloseSocket(old) != 0) {
      SocketError("Dup (closesocket)");
      return;
    }
    ChangeState(wsClosed);
  }
  socket_ = handle;
  socketType_ = SocketType::Stream;
  SetLingerOption();
  Register(FD_READ | FD_WRITE | FD_CONNECT | FD_CLOSE, SocketKind::ConnectedStream);
  ChangeState(wsConnected);
}

void TCustomWSocket::Pause() {
  paused_ = true;
  notifier_.Unselect();
}

void TCustomWSocket::Resume() {
  paused_ = false;
  if (socket_ != INVALID_SOCKET) Register(selectMask_, selectKind_ == SocketKind::Stream && state_ == wsConnected
                                                          ? SocketKind::ConnectedStream
                                                          : selectKind_);
}

// ---- Name lookups ----

bool TCustomWSocket::BeginLookup(const std::string& text) {
  if (text.empty()) {
    RaiseException("DNS lookup: invalid host name.");
    TriggerDnsLookupDone(WSAEINVAL);
    return false;
  }
  if (lookup_ != 0) loop_.Resolver().Cancel(lookup_);
  lookup_ = 0;
  dnsResult_.clear();
  dnsResultList_.clear();
  return true;
}

void TCustomWSocket::DnsLookup(const std::string& hostName) {
  if (!BeginLookup(hostName)) return;
  const uint32_t addr = wsock::InetAddr(hostName);
  if (addr != INADDR_NONE) {
    dnsResult_ = wsock::InetNtoa(addr);
    TriggerDnsLookupDone(0);
    return;
  }
  lookup_ = loop_.Resolver().Start(AsyncResolver::Kind::Host, hostName, "",
                                   [this](AsyncResolver::Handle h, const LookupResult& r) { OnLookupDone(h, r, false); });
}

void TCustomWSocket::ReverseDnsLookup(const std::string& hostAddr) {
  if (!BeginLookup(hostAddr)) return;
  const std::string dotted = wsock::InetNtoa(wsock::InetAddr(hostAddr));
  lookup_ = loop_.Resolver().Start(AsyncResolver::Kind::Address, dotted, "",
                                   [this](AsyncResolver::Handle h, const LookupResult& r) { OnLookupDone(h, r, true); });
}

void TCustomWSocket::OnLookupDone(AsyncResolver::Handle handle, const LookupResult& result, bool reverse) {
  if (handle != lookup_) return;
  lookup_ = 0;
  Guarded([&] {
    if (result.error == 0) {
      if (reverse) {
        dnsResultList_.push_back(result.name);
      } else {
        for (uint32_t a : result.addresses) dnsResultList_.push_back(wsock::InetNtoa(a));
      }
      if (!dnsResultList_.empty()) dnsResult_ = dnsResultList_.front();
    }
    TriggerDnsLookupDone(static_cast<uint16_t>(result.error));
  });
}

void TCustomWSocket::CancelDnsLookup() {
  if (lookup_ == 0) return;
  const bool cancelled = loop_.Resolver().Cancel(lookup_);
  lookup_ = 0;
  if (!cancelled) {
    WSASetLastError(WSAEINVAL);
    SocketError("WSACancelAsyncRequest");
    return;
  }
  if (!destroying_) TriggerDnsLookupDone(WSAEINTR);
}

}  // namespace ovlar
