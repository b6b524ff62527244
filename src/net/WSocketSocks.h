// TCustomSocksWSocket: the SOCKS layer above the socket. With no SOCKS
// server set it changes nothing. Owned by its creator; event-loop thread only.
#pragma once
#include <functional>
#include <string>

#include "net/WSocketBase.h"

namespace ovlar {

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

}  // namespace ovlar
