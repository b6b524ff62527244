// TCustomWSocket: a non-blocking IPv4 UDP or TCP socket, client or server,
// whose every outcome arrives as an event from the one event loop; failures
// go to OnError when assigned, else raise ESocketException. Owned by its
// creator; event-loop thread only. Handlers must not destroy the component
// they are called from: use ReleaseLater or CloseDelayed.
#pragma once
#include <netinet/in.h>

#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "net/WSockbuf.h"
#include "net/WSocketResolve.h"
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

  // Events; an empty one is skipped.
  TErrorNotify OnDataAvailable, OnDataSent, OnSessionAvailable, OnSessionConnected, OnSessionClosed,
      OnDnsLookupDone;
  std::function<void(TCustomWSocket* Sender, int32_t BytesSent)> OnSendData;
  std::function<void(TCustomWSocket* Sender, TSocketState OldState, TSocketState NewState)> OnChangeState;
  TNotify OnError;
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
  virtual void TriggerError();
  virtual int DoRecv(void* buffer, int size, int flags);
  virtual void HandleBackGroundException(const std::exception& e);
  // The error path: OnError when assigned (and the caller goes on), else raise.
  void RaiseException(const std::string& text);
  void SocketError(const std::string& operation);
  void ChangeState(TSocketState newState);
  void ProcessEvent(uint32_t event, uint16_t error);
  EventLoop& Loop() { return loop_; }
  bool Destroying() const { return destroying_; }

 private:
  // The rule of Addr, Port and Proto: the same text changes nothing, any
  // other is refused unless closed; true when the text was taken.
  bool AssignText(std::string& field, bool& assigned, bool& resolved, const std::string& value, const char* name);
  // Protocol, port, the local port when asked, and address, each only once
  // per assignment; a failure takes the error path as "operation: ...".
  bool Resolve(const char* operation, bool localPort);
  bool BindLocal();
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
  int socketType_ = 1;  // 1 stream, 2 datagram
  bool allSent_ = true;
  int32_t readCount_ = 0;
  bool paused_ = false;
  bool closeInvoked_ = false;
  TSocketState state_ = wsClosed;
  bool destroying_ = false;
  sockaddr_in remote_{};
  std::shared_ptr<char> alive_ = std::make_shared<char>();
};

// The layers between the socket and the published class. With their
// defaults (no SOCKS server, line mode off) they change nothing.

// Error codes of OnSocksError.
enum : int {
  socksProtocolError = 20001,
  socksVersionError = 20002,
  socksAuthMethodError = 20003,
  socksGeneralFailure = 20004,
  socksConnectionNotAllowed = 20005,
  socksNetworkUnreachable = 20006,
  socksHostUnreachable = 20007,
  socksConnectionRefused = 20008,
  socksTtlExpired = 20009,
  socksUnknownCommand = 20010,
  socksUnknownAddressType = 20011,
  socksUnassignedError = 20012,
  socksDataReceiveError = 20014,
  socksAuthenticationFailed = 20015,
  socksRejectedOrFailed = 20016,
  socksHostResolutionFailed = 20017,
};

// A TCP client through a SOCKS 4, 4A or 5 proxy: Connect reaches the proxy,
// negotiates, and only then reports the session as connected.
class TCustomSocksWSocket : public TCustomWSocket {
 public:
  enum TSocksAuthentication { socksNoAuthentication, socksAuthenticateUsercode };
  enum TSocksAuthState { socksAuthStart, socksAuthSuccess, socksAuthFailure, socksAuthNotRequired };
  std::string SocksUsercode;
  std::string SocksPassword;
  TSocksAuthentication SocksAuthentication = socksNoAuthentication;
  TErrorNotify OnSocksConnected;
  std::function<void(TCustomWSocket* Sender, int Error, const std::string& Msg)> OnSocksError;
  std::function<void(TCustomWSocket* Sender, TSocksAuthState AuthState)> OnSocksAuthState;

  using TCustomWSocket::TCustomWSocket;
  const std::string& SocksServer() const { return socksServer_; }
  virtual void SetSocksServer(const std::string& value);
  const std::string& SocksPort() const { return socksPort_; }
  virtual void SetSocksPort(const std::string& value);
  const std::string& SocksLevel() const { return socksLevel_; }
  void SetSocksLevel(const std::string& value);

  void Connect() override;
  void Listen() override;

 protected:
  void ResetToDefaults() override;
  void TriggerSessionConnected(uint16_t error) override;
  bool TriggerDataAvailable(uint16_t error) override;
  virtual void TriggerSocksConnected(uint16_t error);
  virtual void TriggerSocksError(int error, const std::string& msg);
  // True while the proxy's answers are being read.
  bool SocksNegotiating() const { return phase_ != Phase::None && phase_ != Phase::Done; }

 private:
  enum class Phase { None, Connecting, Greeting, Auth, Request, Done };
  // The rule of the SOCKS settings: refused unless closed; true when taken.
  bool SetClosedOnly(std::string& field, const std::string& value, const char* what);
  void SendGreeting();
  void SendAuth();
  void SendRequest();
  // Reads at most what the current reply still lacks; true when complete.
  bool ReadReply(size_t need);
  void OnReply();
  void Fail(int error, const std::string& msg);
  bool Level4() const { return socksLevel_ == "4" || socksLevel_ == "4A" || socksLevel_ == "4a"; }

  std::string socksServer_;
  std::string socksPort_;
  std::string socksLevel_ = "5";
  Phase phase_ = Phase::None;
  std::string targetAddr_;
  std::string targetPort_;
  std::string reply_;
};

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

// Waiting in place: pumps the event loop until a flag is set, a time limit
// passes or the application ends.
class TCustomSyncWSocket : public TCustomLineWSocket {
 public:
  static constexpr int kWaitFailed = 12001;

  using TCustomLineWSocket::TCustomLineWSocket;
  // 0 once doneFlag is set; 12001 after timeoutMs or when the application
  // is ending.
  virtual int WaitUntilReady(const bool& doneFlag, int timeoutMs);
  // Runs proc, then waits for doneFlag.
  virtual int Synchronize(const std::function<void()>& proc, bool& doneFlag, int timeoutMs);
  // A name lookup that returns when it is done: 0, 12001, or its error.
  int DnsLookupSync(const std::string& hostName, int timeoutMs);
  bool QuitSeen() const { return quitSeen_; }

 protected:
  void TriggerDnsLookupDone(uint16_t error) override;

 private:
  bool quitSeen_ = false;
  bool dnsDone_ = false;
  uint16_t dnsError_ = 0;
};

class TWSocket : public TCustomSyncWSocket {
 public:
  using TCustomSyncWSocket::TCustomSyncWSocket;
};

}  // namespace ovlar
