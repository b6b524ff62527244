// The SOCKS layer: a TCP client through a SOCKS 4, 4A or 5 proxy.
#include <arpa/inet.h>

#include "net/WSocketSocks.h"
#include "platform/WinSock.h"

namespace ovlar {

namespace {

constexpr uint8_t kSocks5 = 5;
constexpr uint8_t kSocks4 = 4;
constexpr uint8_t kConnect = 1;
constexpr uint8_t kMethodNone = 0;
constexpr uint8_t kMethodUserPass = 2;
constexpr uint8_t kNoMethod = 0xFF;

std::string ByteString(uint8_t b) { return std::string(1, static_cast<char>(b)); }

std::string PortBytes(uint16_t port) { return ByteString(static_cast<uint8_t>(port >> 8)) + ByteString(static_cast<uint8_t>(port)); }

// A string of at most 255 bytes with its length in front.
std::string Counted(const std::string& text) {
  const std::string cut = text.substr(0, 255);
  return ByteString(static_cast<uint8_t>(cut.size())) + cut;
}

// What a SOCKS 5 reply code means.
std::pair<int, std::string> Socks5Failure(uint8_t code) {
  switch (code) {
    case 1: return {socksGeneralFailure, "general SOCKS server failure"};
    case 2: return {socksConnectionNotAllowed, "connection not allowed by ruleset"};
    case 3: return {socksNetworkUnreachable, "network unreachable"};
    case 4: return {socksHostUnreachable, "host unreachable"};
    case 5: return {socksConnectionRefused, "connection refused"};
    case 6: return {socksTtlExpired, "TTL expired"};
    case 7: return {socksUnknownCommand, "command not supported"};
    case 8: return {socksUnknownAddressType, "address type not supported"};
    default: return {socksUnassignedError, "unassigned error #" + std::to_string(code)};
  }
}

}  // namespace

bool TCustomSocksWSocket::SetClosedOnly(std::string& field, const std::string& value, const char* what) {
  if (value == field) return false;
  if (State() != wsClosed) {
    RaiseException(std::string("Can't change socks ") + what + " if not closed");
    return false;
  }
  field = value;
  return true;
}

void TCustomSocksWSocket::SetSocksServer(const std::string& value) {
  if (SetClosedOnly(socksServer_, value, "server")) socksServer_ = TrimBlanks(socksServer_);
}

void TCustomSocksWSocket::SetSocksPort(const std::string& value) {
  if (SetClosedOnly(socksPort_, value, "port")) socksPort_ = TrimBlanks(socksPort_);
}

void TCustomSocksWSocket::SetSocksLevel(const std::string& value) { SetClosedOnly(socksLevel_, value, "level"); }

void TCustomSocksWSocket::ResetToDefaults() {
  TCustomWSocket::ResetToDefaults();
  socksServer_.clear();
  socksPort_.clear();
  // One character, not a one-character literal: see the local port in
  // TCustomWSocket::ResetToDefaults.
  socksLevel_.assign(1, '5');
  phase_ = Phase::None;
  reply_.clear();
}

void TCustomSocksWSocket::Listen() {
  if (!socksServer_.empty()) {
    RaiseException("Listening is not supported thru socks server");
    return;
  }
  TCustomWSocket::Listen();
}

void TCustomSocksWSocket::Connect() {
  if (socksServer_.empty()) {
    TCustomWSocket::Connect();
    return;
  }
  int proto = 0;
  try {
    proto = WSocketResolveProto(Proto());
  } catch (const ESocketException&) {
  }
  if (proto != IPPROTO_TCP) {
    RaiseException("tcp is the only protocol supported thru socks server");
    return;
  }
  // The connection goes to the proxy; the target is named to it later.
  targetAddr_ = Addr();
  targetPort_ = Port();
  SetAddr(socksServer_);
  SetPort(socksPort_.empty() ? "1080" : socksPort_);
  phase_ = Phase::Connecting;
  reply_.clear();
  TCustomWSocket::Connect();
}

void TCustomSocksWSocket::TriggerSessionConnected(uint16_t error) {
  if (phase_ != Phase::Connecting) {
    TCustomWSocket::TriggerSessionConnected(error);
    return;
  }
  if (error != 0) {
    phase_ = Phase::None;
    TCustomWSocket::TriggerSessionConnected(error);
    return;
  }
  if (Level4()) {
    SendRequest();
  } else {
    SendGreeting();
  }
}

void TCustomSocksWSocket::SendGreeting() {
  phase_ = Phase::Greeting;
  const bool user = SocksAuthentication == socksAuthenticateUsercode;
  SendStr(user ? ByteString(kSocks5) + ByteString(2) + ByteString(kMethodNone) + ByteString(kMethodUserPass)
               : ByteString(kSocks5) + ByteString(1) + ByteString(kMethodNone));
}

void TCustomSocksWSocket::SendAuth() {
  phase_ = Phase::Auth;
  Fire(OnSocksAuthState, this, socksAuthStart);
  // Appended rather than summed: GCC 12 at -O3 takes the sum of temporaries
  // for an overlapping copy (a false -Wrestrict).
  std::string auth = ByteString(1);
  auth += Counted(SocksUsercode);
  auth += Counted(SocksPassword);
  SendStr(auth);
}

void TCustomSocksWSocket::SendRequest() {
  phase_ = Phase::Request;
  uint16_t port = 0;
  try {
    port = WSocketResolvePort(targetPort_, "tcp");
  } catch (const ESocketException& e) {
    Fail(socksProtocolError, e.what());
    return;
  }
  const bool dotted = WSocketIsDottedIP(targetAddr_);
  if (Level4()) {
    std::string address;
    std::string host;
    if (dotted || socksLevel_ == "4") {
      // SOCKS 4 knows addresses only: the name is resolved here.
      uint32_t addr = 0;
      try {
        addr = WSocketResolveHost(targetAddr_);
      } catch (const ESocketException& e) {
        Fail(socksHostResolutionFailed, e.what());
        return;
      }
      address.assign(reinterpret_cast<const char*>(&addr), 4);
    } else {
      // SOCKS 4A: the address 0.0.0.1 asks the proxy to resolve the name.
      address = std::string("\0\0\0\1", 4);
      host = TrimBlanks(targetAddr_) + ByteString(0);
    }
    SendStr(ByteString(kSocks4) + ByteString(kConnect) + PortBytes(port) + address + SocksUsercode + ByteString(0) + host);
    return;
  }
  std::string target;
  if (dotted) {
    const uint32_t addr = wsock::InetAddr(TrimBlanks(targetAddr_));
    target = ByteString(1) + std::string(reinterpret_cast<const char*>(&addr), 4);
  } else {
    target = ByteString(3) + Counted(TrimBlanks(targetAddr_));
  }
  SendStr(ByteString(kSocks5) + ByteString(kConnect) + ByteString(0) + target + PortBytes(port));
}

bool TCustomSocksWSocket::TriggerDataAvailable(uint16_t error) {
  if (phase_ == Phase::None || phase_ == Phase::Done || phase_ == Phase::Connecting) {
    return TCustomWSocket::TriggerDataAvailable(error);
  }
  OnReply();
  return true;
}

bool TCustomSocksWSocket::ReadReply(size_t need) {
  if (reply_.size() >= need) return true;
  std::string buf(need - reply_.size(), '\0');
  const int n = DoRecv(buf.data(), static_cast<int>(buf.size()), 0);
  if (n == 0) {
    Fail(socksDataReceiveError, "connection closed by the socks server");
    return false;
  }
  if (n < 0) {
    if (LastError() != WSAEWOULDBLOCK) Fail(socksDataReceiveError, "cannot read the socks server's reply");
    return false;
  }
  reply_.append(buf.data(), static_cast<size_t>(n));
  return reply_.size() >= need;
}

// Takes the proxy's answer a piece at a time, never reading past it, so
// that the target's first bytes stay for the user.
void TCustomSocksWSocket::OnReply() {
  auto at = [this](size_t i) { return static_cast<uint8_t>(reply_[i]); };
  switch (phase_) {
    case Phase::Greeting:
      if (!ReadReply(2)) return;
      if (at(0) != kSocks5) return Fail(socksVersionError, "socks version error");
      reply_.clear();
      if (at(1) == kMethodNone) {
        Fire(OnSocksAuthState, this, socksAuthNotRequired);
        return SendRequest();
      }
      if (at(1) == kMethodUserPass && SocksAuthentication == socksAuthenticateUsercode) return SendAuth();
      return Fail(socksAuthMethodError, at(1) == kNoMethod ? "no acceptable authentication method"
                                                           : "unsupported authentication method");
    case Phase::Auth:
      if (!ReadReply(2)) return;
      if (at(1) != 0) {
        Fire(OnSocksAuthState, this, socksAuthFailure);
        return Fail(socksAuthenticationFailed, "socks authentication failed");
      }
      reply_.clear();
      Fire(OnSocksAuthState, this, socksAuthSuccess);
      return SendRequest();
    case Phase::Request: {
      if (Level4()) {
        if (!ReadReply(8)) return;
        if (at(1) != 0x5A) return Fail(socksRejectedOrFailed, "request rejected or failed");
      } else {
        if (!ReadReply(5)) return;
        if (at(0) != kSocks5) return Fail(socksVersionError, "socks version error");
        if (at(1) != 0) {
          const auto failure = Socks5Failure(at(1));
          return Fail(failure.first, failure.second);
        }
        const size_t address = at(3) == 1 ? 4 : at(3) == 4 ? 16 : at(3) == 3 ? 1u + at(4) : 0;
        if (address == 0) return Fail(socksUnknownAddressType, "address type not supported");
        if (!ReadReply(4 + address + 2)) return;
      }
      phase_ = Phase::Done;
      reply_.clear();
      TriggerSocksConnected(0);
      TCustomWSocket::TriggerSessionConnected(0);
      return;
    }
    default:
      return;
  }
}

void TCustomSocksWSocket::Fail(int error, const std::string& msg) {
  phase_ = Phase::None;
  reply_.clear();
  TriggerSocksError(error, msg);
  Close();
}

void TCustomSocksWSocket::TriggerSocksConnected(uint16_t error) {
  Fire(OnSocksConnected, this, error);
}

void TCustomSocksWSocket::TriggerSocksError(int error, const std::string& msg) {
  Fire(OnSocksError, this, error, msg);
}

}  // namespace ovlar
