// The bridge's main object: start-up from OVLAR.INI, the XNet port table,
// and the orderly shutdown. Owns everything start-up creates and releases it
// in a fixed order when destroyed. Event-loop thread only.
#pragma once
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "bridge/ConfigLines.h"
#include "platform/Desktop.h"
#include "platform/EventLoop.h"
#include "platform/Timer.h"
#include "support/Log.h"

namespace ovlar {

enum : uint8_t { kModeDirect = 0, kModeCache = 1, kModeMap = 2 };

class TForm1 {
 public:
  TForm1(EventLoop& loop, Desktop& desktop);
  ~TForm1();  // FormDestroy
  TForm1(const TForm1&) = delete;
  TForm1& operator=(const TForm1&) = delete;

  // The whole start-up; every failure ends in the log.
  void FormCreate();
  // Shutdown: confirms unless start-up found a configuration error.
  void ExitClick();
  void RetryOut();

  bool ConfigError() const { return FConfigError; }
  uint8_t Mode() const { return FMode; }
  bool Recover() const { return FRecover; }
  const std::array<TXNet, kXNetEntries + 1>& XNet() const { return FXNet; }
  const std::vector<StaticRoute>& StaticRoutes() const { return FStaticRoutes; }
  const TTimer* RetryTimer() const { return FRetryTimer.get(); }

 private:
  void ReadSettings(std::vector<std::string>& routes, std::vector<std::string>& ports);
  void WriteParameters();
  void LoadRoutes(const std::vector<std::string>& routes);
  void LoadXNetPorts(const std::vector<std::string>& ports);
  void Log(const std::string& text) {
    if (FLog) FLog->WriteLog(1, text);
  }
  void FormDestroy();

  EventLoop& loop_;
  Desktop& desktop_;

  bool FReady = false;
  bool FRecover = true;
  bool FConfigError = false;
  std::unique_ptr<TLog> FLog;
  std::unique_ptr<TTimer> FRetryTimer;
  // Index 0 unused so that entries keep their numbers 1 to 10.
  std::array<TXNet, kXNetEntries + 1> FXNet{};
  std::vector<StaticRoute> FStaticRoutes;
  int32_t FDefPort = 1;
  uint8_t FMode = kModeMap;
  std::string FAGWAddress;
  int32_t FAGWPort = 8000;
  std::string FAGWHostName;
  std::string FAGWLogin;
  std::string FAGWPassword;
  std::string FXNetHost;
  std::string FXNetAddress;
  int32_t FXNetPort = 93;
  int32_t FRadioPort = 1;
  int32_t FChannels = 1;
  int32_t FTrace = 0;
  std::string FLogFile;
};

}  // namespace ovlar
