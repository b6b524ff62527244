// TL2: the client of AGWPE's TCP application interface. Logs in, asks for
// the port list, the version and raw frames, cuts the byte stream into
// frames, keeps the port table and turns every frame into events; sends raw
// AX.25 frames with SendKiss. Owns its TCP socket, its CRC calculator and
// its poll timer; uses, but does not own, the log its owner assigns.
// Event-loop thread only; events fire inside the socket's read event.
#pragma once
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "engine/Engine.h"
#include "net/ScktComp.h"
#include "platform/EventLoop.h"
#include "platform/Timer.h"
#include "support/L2CRC.h"
#include "support/Log.h"

namespace ovlar {

constexpr int MAXFRAME = 256;
constexpr int kAGWHeaderSize = 36;
constexpr int kMaxPorts = 16;
constexpr int kHeardSlots = 20;
// The longest data part the cutter takes; a header stating more is taken
// for a broken stream.
constexpr uint32_t kMaxAGWData = 1024 * 1024;
// The most one read event takes from AGWPE: the rest of a long burst waits
// for the next turn of the loop, after datagrams and timers had theirs. A
// listener takes one datagram a turn, so a turn is kept to a few dozen
// frames: node traffic of 1,000 datagrams/s still keeps up during a burst.
constexpr int kReadSlice = 2 * 1024;

// Receive state of the frame cutter.
struct AGWCB {
  std::string Buffer;
  bool Waiting = false;
  std::string Data;
  uint8_t FramePort = 0;
  uint8_t FramePID = 0;
  char Kind = 0;
  std::string CallFrom;
  std::string CallTo;
  int32_t DataLen = 0;
};

// One radio port as AGWPE reported it.
struct PCB {
  std::string Description;
  bool Present = false;
  std::array<uint8_t, 8> Params{};
  uint32_t ParamValue = 0;
  int32_t Frames = 0;
  std::array<std::string, kHeardSlots> Heard;
};

// A monitor text taken apart.
struct TMonitorHeader {
  std::string From, To, Via, FrameType, Pid;
  int32_t NR = 0, NS = 0, Len = 0;
  std::string Info;
};

class TL2 {
 public:
  using TNotify = std::function<void(TL2* Sender)>;
  using TLinkEvent = std::function<void(TL2* Sender, uint8_t Port, const std::string& Call, const std::string& Text)>;
  using TCallsEvent = std::function<void(TL2* Sender, uint8_t Port, const std::string& From, const std::string& To,
                                         const std::string& Text)>;
  using TDataEvent = std::function<void(TL2* Sender, uint8_t Port, const std::string& From, const std::string& To,
                                        uint8_t Pid, const std::string& Data)>;

  // Event slots; an empty one is skipped.
  TNotify FOnDestroy;
  TLinkEvent FOnMyConnect, FOnHisConnect, FOnConnect, FOnRetryOut, FOnMyDisconnect, FOnHisDisconnect, FOnDisconnect;
  TCallsEvent FOnConnectCalls, FOnDisconnectCalls;
  std::function<void(TL2* Sender, uint8_t Port, uint8_t Pid, char Kind, const std::string& From,
                     const std::string& To, const std::string& Data)>
      FOnFrame;
  TNotify FOnAGWUp, FOnAGWDown, FOnAGWError;
  std::function<void(TL2* Sender, const std::string& From, const std::string& Data)> FOnRegister, FOnUnregister;
  std::function<void(TL2* Sender, uint8_t Port, const std::string& From, const std::string& To, const std::string& Via,
                     const std::string& FrameType, const std::string& Pid, int32_t NR, int32_t NS, int32_t Len,
                     const std::string& Info)>
      FOnIFrame;
  std::function<void(TL2* Sender, uint8_t Port, const std::string& From, const std::string& To, const std::string& Via,
                     const std::string& FrameType, const std::string& Pid, int32_t Len, const std::string& Info)>
      FOnUIFrame;
  std::function<void(TL2* Sender, uint8_t Port, const std::string& From, const std::string& To, const std::string& Via,
                     const std::string& FrameType, int32_t NR)>
      FOnSFrame;
  TDataEvent FOnMonitor;
  std::function<void(TL2* Sender, uint8_t Port, const std::string& Data)> FOnKiss;
  std::function<void(TL2* Sender, int32_t Major, int32_t Minor)> FOnVersion;
  TNotify FOnPort;
  TNotify FOnParameter;
  std::function<void(TL2* Sender, uint8_t Port, uint16_t Count)> FOnPortFrames;
  TDataEvent FOnData, FOnDataUI;

  // Set directly by the owner.
  std::string HostName;
  bool RawMonitor = false;
  bool PollPorts = false;
  std::string User;
  std::string Password;
  TLog* Logger = nullptr;

  explicit TL2(EventLoop& loop);
  ~TL2();
  TL2(const TL2&) = delete;
  TL2& operator=(const TL2&) = delete;

  // Read by the owner.
  const std::string& Address() const { return Address_; }
  int32_t TCPPort() const { return TCPPort_; }
  const std::string& CallSign() const { return CallSign_; }
  const std::string& Monitor() const { return Monitor_; }
  bool Active() const { return Active_; }
  // The engine as the settings name it: host name or address, and port.
  std::string Peer() const;
  // Why the last connect or connection failed: a Windows Sockets number and
  // the system's text for it ("connection closed" for a link that was up);
  // 0 and empty before any failure.
  int32_t LastError() const { return LastError_; }
  const std::string& ErrorText() const { return ErrorText_; }
  bool Registered() const { return Registered_; }
  int32_t VersionMajor() const { return VersionMajor_; }
  int32_t VersionMinor() const { return VersionMinor_; }
  int32_t PortCount() const { return PortCount_; }
  bool LoopbackFound() const { return LoopbackFound_; }
  int32_t LoopbackPort() const { return LoopbackPort_; }
  bool AxipFound() const { return AxipFound_; }
  int32_t AxipPort() const { return AxipPort_; }
  // Ports 1 to 16; any other number is an error of the caller.
  const PCB& Ports(int port) const { return Ports_.at(static_cast<size_t>(port - 1)); }
  const AGWCB& RxBlock() const { return RxBlock_; }
  const TCRC& CRC() const { return *CRC_; }
  TClientSocket& ClientSocket() { return *ClientSocket_; }
  const TTimer* PollTimer() const { return PollTimer_.get(); }

  void Open();
  void Close();
  void SetAddress(const std::string& value);
  void SetTCPPort(int32_t value);
  void SetCallSign(const std::string& value);
  void SetMonitor(const std::string& value);

  // Sent when the frame was written or queued in order; otherwise why not:
  // no connection, the send queue full (AGWPE stopped reading), too long.
  TSendResult SendKiss(int32_t port, const std::string& frame);
  bool Write(uint8_t port, uint8_t pid, char kind, const std::string& from, const std::string& to, int32_t length,
             const std::string& data);
  bool Send(TCustomWinSocket* connection, uint8_t port, uint8_t pid, char kind, const std::string& from,
            const std::string& to, uint32_t iLen, const std::string& data);
  // False when the connection refused the bytes (none, or its queue full).
  bool SendAGW(const std::string& bytes);

  // The frame cutter: takes received bytes, decodes every complete frame.
  bool Store(const std::string& chunk);
  void Decode(uint8_t port, uint8_t cPid, char kind, std::string szFrom, std::string szTo, int32_t length,
              const std::string& data);
  void ParsePort(const std::string& data);
  void ParseParam(uint8_t port, const std::string& data);
  void ParseHeard(uint8_t port, const std::string& data);
  void PollTick();

  // Monitor texts and AX.25 addresses.
  TMonitorHeader GetHeader(const std::string& data);
  bool FCallSign(const std::string& address, std::string& result);
  static int32_t CallSSID(const std::string& callsign);

 private:
  void AGWConnect();
  void AGWDisc();
  void AGWError(int32_t& errorCode);
  // Logs the reason, then OnAGWError; what stands in for a reason without a number.
  void ConnectFailed(int32_t& errorCode, const std::string& what);
  void AGWRead(TCustomWinSocket* socket);
  void TakeHeader(size_t at);
  bool FragFrame(size_t& cut);
  void FrameOverdue();
  // Drops a connection whose byte stream cannot be cut any more.
  void ProtocolError(const std::string& what);
  void SetNoDelay();
  void Log(uint8_t level, const std::string& text) const;
  bool Tracing(uint8_t level) const { return Logger && Logger->Wanted(level); }
  void Dump(uint8_t level, const std::string& bytes) const;
  // "Fired Event <name>" at level 4 and the call, only when the slot is set.
  template <class Slot, class... Args>
  void Fire(const char* name, const Slot& slot, Args&&... args) {
    if (!slot) return;
    Log(4, std::string("{L2} Fired Event <") + name + ">");
    slot(this, std::forward<Args>(args)...);
  }
  void ClearPorts();
  void StopPollTimer();
  // One received frame as Decode hands it to the handler of its kind.
  struct Frame {
    uint8_t port;
    uint8_t pid;
    char kind;
    std::string from, to;
    int32_t length;
    const std::string& data;
  };
  struct FrameHandler;
  static const FrameHandler kFrameHandlers[];
  void DecodeInitial(Frame& frame);
  void LogFrameLine(const Frame& frame) const;
  void DecodeKiss(const Frame& frame);
  void DecodeHeard(const Frame& frame);
  void DecodeParam(const Frame& frame);
  void DecodePort(const Frame& frame);
  void DecodeVersion(const Frame& frame);
  void DecodePortFrames(const Frame& frame);
  void DecodeRegister(const Frame& frame);
  void DecodeUnregister(const Frame& frame);
  void DecodeConnect(const Frame& frame);
  void DecodeDisconnect(const Frame& frame);
  void DecodeData(const Frame& frame);
  void DecodeUI(const Frame& frame);
  void DecodeMonitor(const Frame& frame);

  EventLoop& loop_;
  std::unique_ptr<TClientSocket> ClientSocket_;
  std::string Address_;
  int32_t TCPPort_ = 8000;
  std::string CallSign_;
  AGWCB RxBlock_;
  bool Active_ = false;
  bool Registered_ = false;
  std::string Monitor_ = "N";
  int32_t VersionMajor_ = 0;
  int32_t VersionMinor_ = 0;
  int32_t PortCount_ = kMaxPorts;
  std::unique_ptr<TTimer> PollTimer_;
  // Runs while a frame's data part is awaited.
  std::unique_ptr<TTimer> FrameTimer_;
  bool LoopbackFound_ = false;
  int32_t LoopbackPort_ = 0;
  bool AxipFound_ = false;
  int32_t AxipPort_ = 0;
  std::array<PCB, kMaxPorts> Ports_;
  std::unique_ptr<TCRC> CRC_;
  // Set while Open drops a connection that already failed, so that its
  // disconnect is not reported as a second loss of the link.
  bool silentDisconnect_ = false;
  // Set while Open connects, whose failure OnAGWError reports alone.
  bool opening_ = false;
  // Set while Close drops the connection: no failure to explain.
  bool closing_ = false;
  int32_t LastError_ = 0;
  std::string ErrorText_;
};

}  // namespace ovlar
