#include "agwpe/AGWL2.h"

#include <netinet/in.h>
#include <netinet/tcp.h>

#include <algorithm>

#include "platform/WinSock.h"
#include "support/ReqLib32.h"

namespace ovlar {

namespace {


// What the log may show of a frame's data: a login's password masked.
std::string Loggable(char kind, const std::string& data) {
  if (kind != 'P' || data.size() <= 255) return data;
  return data.substr(0, 255) + PadRight(MaskedPassword(CutAtNul(data.substr(255))), data.size() - 255, '\0');
}

// Sets a flag for the length of a scope, also when it is left by a throw.
class FlagFor {
 public:
  explicit FlagFor(bool& flag) : flag_(flag) { flag_ = true; }
  ~FlagFor() { flag_ = false; }
  FlagFor(const FlagFor&) = delete;
  FlagFor& operator=(const FlagFor&) = delete;

 private:
  bool& flag_;
};

// A call field of the header: the first 10 characters, padded with NUL.
std::string CallField(const std::string& call) { return PadRight(call.substr(0, 10), 10, '\0'); }

}  // namespace

TL2::TL2(EventLoop& loop)
    : loop_(loop), ClientSocket_(std::make_unique<TClientSocket>(loop)), CRC_(std::make_unique<TCRC>()) {
  // The frames one turn hands to the engine leave in one write at its end.
  ClientSocket_->Socket().GatherWrites = true;
  ClientSocket_->OnConnect = [this](TClientSocket*, TCustomWinSocket*) { AGWConnect(); };
  ClientSocket_->OnDisconnect = [this](TClientSocket*, TCustomWinSocket*) { AGWDisc(); };
  ClientSocket_->OnRead = [this](TClientSocket*, TCustomWinSocket* s) { AGWRead(s); };
  ClientSocket_->OnError = [this](TClientSocket*, TCustomWinSocket*, TErrorEvent, int32_t& code) { AGWError(code); };
}

TL2::~TL2() {
  StopPollTimer();
  Log(1, "{L2} AGW Object Destroyed");
  if (FOnDestroy) FOnDestroy(this);
  // The socket goes without reporting to a half-destroyed owner.
  ClientSocket_->OnConnect = nullptr;
  ClientSocket_->OnDisconnect = nullptr;
  ClientSocket_->OnRead = nullptr;
  ClientSocket_->OnError = nullptr;
  ClientSocket_.reset();
  CRC_.reset();
}

void TL2::Log(uint8_t level, const std::string& text) const {
  if (Logger) Logger->WriteLog(level, text);
}

void TL2::Dump(uint8_t level, const std::string& bytes) const {
  if (Logger) Logger->DumpText(level, bytes);
}

void TL2::StopPollTimer() {
  if (!PollTimer_) return;
  PollTimer_->SetEnabled(false);
  PollTimer_.reset();
}

void TL2::ClearPorts() {
  PortCount_ = kMaxPorts;
  Ports_ = {};
}

// ---- Opening and closing ----

void TL2::Open() {
  if (Address_.empty() && HostName.empty()) {
    Log(1, "{L2} ERROR No IP Address or HostName indicated, object creation aborted");
    return;
  }
  if (CallSign_.empty()) {
    Log(1, "{L2} ERROR No CallSign indicated, object creation aborted");
    return;
  }
  ClearPorts();
  // A reset leaves the socket active on a dead connection; drop it so that
  // this call makes a fresh attempt.
  if (ClientSocket_->Active() && !Active_) {
    const FlagFor silent(silentDisconnect_);
    ClientSocket_->SetActive(false);
  }
  if (!HostName.empty()) {
    ClientSocket_->SetHost(HostName);
  } else {
    ClientSocket_->SetAddress(Address_);
  }
  ClientSocket_->SetPort(TCPPort_);
  // A connect that fails at once (no route, say) is the same failure as
  // one refused later: reported through OnAGWError, then retried.
  try {
    const FlagFor opening(opening_);
    ClientSocket_->SetActive(true);
  } catch (const ESocketError& e) {
    int32_t code = WSAGetLastError();
    ConnectFailed(code, e.what());
    return;
  }
  Log(1, "{L2} AGW Object Opened HostName(" + ClientSocket_->Host() + ") Addr(" + ClientSocket_->Address() + ":" +
             std::to_string(ClientSocket_->Port()) + ")");
}

void TL2::Close() {
  StopPollTimer();
  Log(1, "{L2} AGW Object Closed " + ClientSocket_->Address() + ":" + std::to_string(ClientSocket_->Port()));
  const FlagFor closing(closing_);
  ClientSocket_->SetActive(false);
}

void TL2::SetAddress(const std::string& value) {
  if (Active_) {
    Log(1, "{L2} Error can not change the IP Address while active");
    return;
  }
  Log(3, "{L2} Set Address " + value);
  Address_ = value;
}

void TL2::SetTCPPort(int32_t value) {
  if (Active_) {
    Log(1, "{L2} Error can not change the TCP Port while active");
    return;
  }
  Log(3, "{L2} Set TCP Port " + std::to_string(value));
  if (value != 0) TCPPort_ = value;
}

void TL2::SetCallSign(const std::string& value) {
  if (Active_) {
    Log(1, "{L2} Error can not change the callsign while active");
    return;
  }
  Log(3, "{L2} Set CallSign " + value);
  CallSign_ = value;
}

void TL2::SetMonitor(const std::string& value) {
  Log(1, "{L2} Set Monitor <" + value + "> CallSign(" + CallSign_ + ")");
  if (value.empty()) return;
  const std::string v = UpperText(value);
  if (v.find_first_not_of("MIUSCN") != std::string::npos) return;
  if (Monitor_ == "N" && v != "N") {
    Monitor_ = v;
  } else if (Monitor_ != "N" && v == "N") {
    if (Active_) Write(0, 0, 'm', std::string(1, '\0'), std::string(1, '\0'), 0, "");
    Monitor_ = "N";
  }
}

// ---- Socket events ----

void TL2::AGWConnect() {
  try {
    Log(1, "{L2} Connected with AGWPE");
    Active_ = true;
    SetNoDelay();
    // Bytes left over from an earlier connection belong to no frame here.
    RxBlock_ = AGWCB{};
    if (FrameTimer_) FrameTimer_->SetEnabled(false);
    if (!Password.empty() && !User.empty()) {
      Log(3, "{L2} Sending Login Frame User(" + User + ") Paswd(" + MaskedPassword(Password) + ")");
      if (Password.size() > 255) Password.resize(255);
      if (User.size() > 255) User.resize(255);
      const std::string login = PadRight(User, 255, '\0') + PadRight(Password, 255, '\0');
      Log(4, "{L2} <OnAGWUp> Login Frame Info Area");
      Dump(4, Loggable('P', login));
      Write(0, 0, 'P', "", "", 0, login);
    }
    Fire("FOnAGWUp", FOnAGWUp);
    Write(0, 0, 'G', "", "", 0, "");
    Write(0, 0, 'R', "", "", 0, "");
    if (RawMonitor) Write(0, 0, 'k', "", "", 0, "");
    if (Monitor_.find_first_of("UISC") != std::string::npos) Write(0, 0, 'm', "", "", 0, "");
  } catch (...) {
    Log(1, "{L2} Exception on module AGWConnect");
  }
}

// Every 'K' frame is to leave when it is written, not wait until AGWPE has
// acknowledged the one before.
void TL2::SetNoDelay() {
  const int on = 1;
  if (wsock::SetOption(ClientSocket_->Socket().SocketHandle(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) == 0) return;
  const int code = WSAGetLastError();
  Log(1, "{L2} ERROR TCP_NODELAY not set on the AGWPE connection: " + WSocketErrorDesc(code) + " (" +
             std::to_string(code) + ")");
}

void TL2::AGWDisc() {
  // A failed Open reports through OnAGWError, once.
  if (silentDisconnect_ || opening_) return;
  try {
    if (Active_ || closing_) {
      ErrorText_ = "connection closed";
      Log(1, "{L2} Disconnected from AGWPE");
    } else {
      // Never connected: the name or service lookup failed.
      const int code = WSAGetLastError();
      ErrorText_ = code != 0 ? SystemErrorText(code) : "no connection";
      Log(1, "{L2} Disconnected from AGWPE(" + Peer() + "): " + ErrorText_ + " (" + std::to_string(code) + ")");
    }
    Active_ = false;
    Fire("FOnAGWDown", FOnAGWDown);
  } catch (...) {
    Log(1, "{L2} Exception on module AGWDisc");
  }
}

void TL2::AGWError(int32_t& errorCode) { ConnectFailed(errorCode, ""); }

void TL2::ConnectFailed(int32_t& errorCode, const std::string& what) {
  try {
    LastError_ = errorCode;
    ErrorText_ = errorCode != 0 || what.empty() ? SystemErrorText(errorCode) : what;
    Log(1, "{L2} <AGWError> Socket Error from AGWPE(" + Peer() + "): " + ErrorText_ + " (" +
               std::to_string(errorCode) + ")");
    Active_ = false;
    Fire("FOnAGWError", FOnAGWError);
    errorCode = 0;
  } catch (...) {
    Log(1, "{L2} Exception on module AGWError");
  }
}

std::string TL2::Peer() const {
  const std::string& host = HostName.empty() ? Address_ : HostName;
  return host + ":" + std::to_string(TCPPort_);
}

void TL2::AGWRead(TCustomWinSocket* socket) {
  try {
    const std::string bytes = socket->ReceiveString(kReadSlice);
    Log(5, "{L2} Read from AGWPE Socket ");
    Dump(5, bytes);
    if (!bytes.empty()) Store(bytes);
  } catch (...) {
    Log(1, "{L2} Exception on module AGWRead");
  }
}

// ---- Sending ----

TSendResult TL2::SendKiss(int32_t port, const std::string& frame) {
  try {
    if (Tracing(4)) Log(4, "{L2} <SendKiss> Sending Frame Port(" + std::to_string(port) + ")");
    const bool connected = ClientSocket_->Active();
    if (Write(static_cast<uint8_t>(port & 0xFF), 0, 'K', "", "", 0, frame)) return TSendResult::Sent;
    if (!connected) return TSendResult::LinkDown;
    return frame.size() > 0xFFFF ? TSendResult::TooLong : TSendResult::LinkFull;
  } catch (...) {
    Log(1, "{L2} Exception on module SendKiss");
    return TSendResult::Failed;
  }
}

bool TL2::Write(uint8_t port, uint8_t pid, char kind, const std::string& from, const std::string& to, int32_t,
                const std::string& data) {
  try {
    if (!ClientSocket_->Active()) {
      Log(2, "{L2} L2 Frame not sent because there is no TCP/IP connection with AGWPE");
      return false;
    }
    // The header states at most 65535 bytes; a longer unsplit frame would
    // desynchronise the whole stream.
    if ((kind == 'K' || kind == 'P') && data.size() > 0xFFFF) {
      Log(1, "{L2} ERROR Frame too long for AGWPE Len(" + std::to_string(data.size()) + ") not sent");
      return false;
    }
    if (Tracing(4)) {
      Log(4, "{L2} <L2 Send> Port(" + std::to_string(port) + ") DK[" + std::string(1, kind) + "] Pid(" +
                 std::to_string(pid) + ") From(" + from + ") To(" + to + ") DK[" + std::string(1, kind) + "] Len(" +
                 std::to_string(data.size()) + ") using object(" + CallSign_ + ")");
    }
    Dump(5, Loggable(kind, data));
    return Send(&ClientSocket_->Socket(), port, pid, kind, from, to, static_cast<uint32_t>(data.size()), data);
  } catch (...) {
    Log(1, "{L2} Exception on module Write");
    return false;
  }
}

bool TL2::Send(TCustomWinSocket* connection, uint8_t port, uint8_t pid, char kind, const std::string& from,
               const std::string& to, uint32_t iLen, const std::string& data) {
  try {
    if (!connection) return false;
    const bool whole = kind == 'K' || kind == 'P';
    std::string rest = iLen < data.size() ? data.substr(0, iLen) : data;
    // Long data of other kinds leaves in pieces of MAXFRAME-1 bytes.
    for (;;) {
      const uint32_t len = static_cast<uint32_t>(rest.size());
      std::string header(kAGWHeaderSize, '\0');
      const uint8_t wirePort = static_cast<uint8_t>(port - 1);
      header[0] = static_cast<char>(wirePort == 255 ? 0 : wirePort);
      header[4] = kind;
      header[6] = static_cast<char>(pid);
      header.replace(8, 10, CallField(from));
      header.replace(18, 10, CallField(to));
      const bool fits = whole || len <= MAXFRAME - 1;
      header[28] = static_cast<char>(fits ? len & 0xFF : MAXFRAME - 1);
      header[29] = static_cast<char>(fits ? (len >> 8) & 0xFF : 0);
      if (Tracing(4)) Log(4, "{L2} Send Frame Header iLen(" + std::to_string(len) + ")");
      if (Tracing(5)) Dump(5, header + Loggable(kind, rest));
      if (len == 0) {
        Log(4, "{L2} Sent NUL length frame");
        return SendAGW(header);
      }
      if (fits) {
        Log(4, "{L2} Entered condition iLen<=DWORD(MAXFRAME-1) <SENT> or Frame <K>/<P>");
        return SendAGW(header.append(rest));
      }
      Log(4, "{L2} Frame Split <SENT>");
      if (!SendAGW(header + rest.substr(0, MAXFRAME - 1))) return false;
      rest.erase(0, MAXFRAME - 1);
    }
  } catch (...) {
    Log(1, "{L2} Exception on module Send");
    return false;
  }
}

bool TL2::SendAGW(const std::string& bytes) {
  try {
    if (!ClientSocket_->Active()) {
      Log(1, "{L2} ERROR attempt to send to AGWPE with no active connection");
      return false;
    }
    // A refusal leaves nothing of the bytes queued: the stream stays whole.
    return ClientSocket_->Socket().SendString(bytes) > 0;
  } catch (...) {
    Log(1, "{L2} Exception on module SendAGW");
    return false;
  }
}

void TL2::PollTick() {
  if (PollTimer_) PollTimer_->SetEnabled(false);
  Write(0, 0, 'G', "", "", 0, "");
}

}  // namespace ovlar
