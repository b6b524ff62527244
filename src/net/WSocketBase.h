// TCustomWSocket: a non-blocking IPv4 UDP or TCP socket, client or server,
// or an IPv6-only one when Addr is an IPv6 address (names stay IPv4),
// whose every outcome arrives as an event from the one event loop; failures
// go to OnError when assigned, else raise ESocketException. Owned by its
// creator; event-loop thread only. Handlers must not destroy the component
// they are called from (use ReleaseLater or CloseDelayed); a debug build
// stops in the destructor of one that does.
#pragma once
#include <netinet/in.h>

#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "net/DatagramQueue.h"
#include "net/SockAddr.h"
#include "net/WSockbuf.h"
#include "net/WSocketResolve.h"
#include "platform/CallbackDepth.h"
#include "platform/EventLoop.h"
#include "platform/SocketNotifier.h"

namespace ovlar {

enum TSocketState {
  wsInvalidState, wsOpened, wsBound, wsConnecting, wsConnected, wsAccepting, wsListening, wsClosed
};
enum TSocketSendFlags { wsSendNormal = 0, wsSendUrgent = 1 };
enum TSocketLingerOnOff { wsLingerOff, wsLingerOn, wsLingerNoSet };
enum TWSocketOption : uint32_t { wsoNoReceiveLoop = 1 };
using TWSocketOptions = uint32_t;

class TCustomWSocket {
 public:
  using TNotify = std::function<void(TCustomWSocket* Sender)>;
  using TErrorNotify = std::function<void(TCustomWSocket* Sender, uint16_t Error)>;
  // A failure and why: the Windows Sockets number (0 for one that has
  // none, such as a refused setting) and the text an exception would carry.
  using TSocketError = std::function<void(TCustomWSocket* Sender, int32_t Error, const std::string& Msg)>;

  // Events; an empty one is skipped.
  TErrorNotify OnDataAvailable, OnDataSent, OnSessionAvailable, OnSessionConnected, OnSessionClosed,
      OnDnsLookupDone;
  std::function<void(TCustomWSocket* Sender, int32_t BytesSent)> OnSendData;
  std::function<void(TCustomWSocket* Sender, TSocketState OldState, TSocketState NewState)> OnChangeState;
  TSocketError OnError;
  std::function<void(TCustomWSocket* Sender, const std::exception& E, bool& CanClose)> OnBgException;

  // Plain fields, settable in any state.
  std::string Name;
  int Tag = 0;
  bool MultiThreaded = false;
  TWSocketOptions ComponentOptions = 0;
  int32_t FlushTimeout = 60;
  TSocketLingerOnOff LingerOnOff = wsLingerOn;
  int32_t LingerTimeout = 0;

  explicit TCustomWSocket(EventLoop& loop);
  virtual ~TCustomWSocket();
  TCustomWSocket(const TCustomWSocket&) = delete;
  TCustomWSocket& operator=(const TCustomWSocket&) = delete;

  // Properties whose setters refuse unless the state is wsClosed.
  const std::string& Addr() const { return addr_; }
  void SetAddr(const std::string& value);
  const std::string& Port() const { return port_; }
  virtual void SetPort(const std::string& value);
  const std::string& Proto() const { return proto_; }
  virtual void SetProto(const std::string& value);
  const std::string& LocalAddr() const { return localAddr_; }
  void SetLocalAddr(const std::string& value);
  const std::string& LocalPort() const { return localPort_; }
  void SetLocalPort(const std::string& value);
  TSocketSendFlags SendFlags();
  void SetSendFlags(TSocketSendFlags value);

  std::string PeerAddr();
  std::string PeerPort();
  const std::string& DnsResult() const { return dnsResult_; }
  const std::vector<std::string>& DnsResultList() const { return dnsResultList_; }
  TSocketState State() const { return state_; }
  int32_t ReadCount() const { return readCount_; }
  virtual int32_t RcvdCount();
  int32_t LastError() const { return lastError_; }
  int HSocket() const { return socket_; }
  bool AllSent() const { return allSent_; }
  int LastAccepted() const { return lastAccepted_; }

  virtual void Connect();
  virtual void Listen();
  virtual void Close();
  virtual void Abort();
  void CloseDelayed();
  // Destroys the component from the event loop, after the current event.
  static void ReleaseLater(std::unique_ptr<TCustomWSocket> socket);
  virtual int Send(const void* data, int length);
  int SendStr(const std::string& text) { return Send(text.data(), static_cast<int>(text.size())); }
  virtual int SendTo(const sockaddr_in& to, int toLength, const void* data, int length);
  virtual int Receive(void* buffer, int size);
  virtual int ReceiveFrom(void* buffer, int size, sockaddr_in& from, int& fromLength);
  // The same for any address family; from is left invalid for a family
  // other than IPv4 and IPv6.
  int SendTo(const TSockAddr& to, const void* data, int length);
  int ReceiveFrom(void* buffer, int size, TSockAddr& from);
  // The datagrams waiting, up to the queue's batch, in one call; as
  // ReceiveFrom, the count or -1 with LastError.
  int ReceiveBatch(TDatagramQueue& queue);
  virtual std::string ReceiveStr();
  virtual int Accept();
  virtual void Dup(int handle);
  virtual void Shutdown(int how);
  virtual void Pause();
  virtual void Resume();
  virtual void Flush();
  virtual int GetPeerName(sockaddr_in& name, int& nameLength);
  virtual void DnsLookup(const std::string& hostName);
  virtual void ReverseDnsLookup(const std::string& hostAddr);
  virtual void CancelDnsLookup();
  // A request that raises inside the background guard, for tests.
  void PostTestException();

 protected:
  virtual void ResetToDefaults();
  virtual void InternalClose(bool shutdownFirst, uint16_t error);
  virtual bool TriggerDataAvailable(uint16_t error);
  virtual void TriggerSessionAvailable(uint16_t error);
  virtual void TriggerSessionConnected(uint16_t error);
  virtual void TriggerSessionClosed(uint16_t error);
  virtual void TriggerDataSent(uint16_t error);
  virtual void TriggerChangeState(TSocketState oldState, TSocketState newState);
  virtual void TriggerDnsLookupDone(uint16_t error);
  virtual void TriggerError(int32_t error, const std::string& msg);
  virtual int DoRecv(void* buffer, int size, int flags);
  virtual void HandleBackGroundException(const std::exception& e);
  // The error path: OnError when assigned (and the caller goes on), else
  // raise. error: the Windows Sockets number behind the text, if any.
  void RaiseException(const std::string& text, int32_t error = 0);
  void SocketError(const std::string& operation);
  void ChangeState(TSocketState newState);
  void ProcessEvent(uint32_t event, uint16_t error);
  EventLoop& Loop() { return loop_; }
  bool Destroying() const { return destroying_; }
  // Calls an event's handler, when assigned, counted as running.
  template <class Event, class... Args>
  void Fire(const Event& event, Args&&... args) {
    if (!event) return;
    const CallbackDepth::Scope running(callbacks_);
    event(std::forward<Args>(args)...);
  }

 private:
  // The rule of Addr, Port and Proto: the same text changes nothing, any
  // other is refused unless closed; true when the text was taken.
  bool AssignText(std::string& field, bool& assigned, bool& resolved, const std::string& value, const char* name);
  // Protocol, port, the local port when asked, and address, each only once
  // per assignment; a failure takes the error path as "operation: ...".
  bool Resolve(const char* operation, bool localPort);
  bool BindLocal();
  bool BindLocal6();
  // A socket of the address's family, non-blocking; INVALID_SOCKET with
  // the error set when the system refuses.
  int NewSocket();
  int SendDatagram(const char* data, int count);
  void SetLingerOption();
  void Register(uint32_t mask, SocketKind kind);
  void OnNotify(int socket, uint32_t event, uint16_t error);
  void ReceiveLoop(uint16_t error);
  void TryToSend();
  void AppendToSendBuffer(const char* data, int length);
  void DeleteBufferedData() { buffers_.clear(); }
  // Refuses an empty text, cancels a pending lookup and clears the results.
  bool BeginLookup(const std::string& text);
  void OnLookupDone(AsyncResolver::Handle handle, const LookupResult& result, bool reverse);
  // Runs a loop-delivered callback inside the background-exception guard.
  template <class F>
  void Guarded(F&& work);
  // Posts work that is dropped when the component is gone by then.
  void PostRequest(std::function<void()> work);

  EventLoop& loop_;
  CallbackDepth callbacks_;
  SocketNotifier notifier_;
  std::string dnsResult_;
  std::vector<std::string> dnsResultList_;
  int lastAccepted_ = -1;
  std::deque<TBuffer> buffers_;
  int sendFlags_ = 0;
  int32_t lastError_ = 0;
  AsyncResolver::Handle lookup_ = 0;
  uint32_t selectMask_ = 0;
  SocketKind selectKind_ = SocketKind::Stream;
  int socket_ = -1;
  std::string addr_;
  bool addrResolved_ = false;
  bool addrAssigned_ = false;
  int protoNumber_ = 6;
  bool protoAssigned_ = true;
  bool protoResolved_ = false;
  bool localPortResolved_ = false;
  std::string proto_ = "tcp";
  std::string port_;
  bool portAssigned_ = false;
  bool portResolved_ = false;
  uint16_t portNumber_ = 0;
  std::string localPort_ = "0";
  uint16_t localPortNumber_ = 0;
  std::string localAddr_ = "0.0.0.0";
  enum class SocketType { Stream, Datagram };
  SocketType socketType_ = SocketType::Stream;
  bool allSent_ = true;
  int32_t readCount_ = 0;
  bool paused_ = false;
  bool closeInvoked_ = false;
  TSocketState state_ = wsClosed;
  bool destroying_ = false;
  sockaddr_in remote_{};
  // The remote address when Addr is an IPv6 one (v6_).
  TSockAddr remote6_;
  bool v6_ = false;
  std::shared_ptr<char> alive_ = std::make_shared<char>();
};

}  // namespace ovlar
