// The bridge under a service manager: the states it sends to the socket
// NOTIFY_SOCKET names, received by a socket the test binds (a path and an
// abstract name), the watchdog driven by the test clock.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "BridgeFixture.h"
#include "platform/ServiceNotify.h"

namespace ovlar {
namespace {

using namespace test;

// Ten seconds of watchdog timeout: a WATCHDOG=1 every five.
constexpr int64_t kWatchdogUsec = 10000000;
constexpr int64_t kTickMs = 5000;

// A datagram socket bound where the service manager's would be.
class ManagerSocket {
 public:
  explicit ManagerSocket(const std::string& name) : fd_(socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::memcpy(a.sun_path, name.data(), name.size());
    if (name[0] == '@') a.sun_path[0] = '\0';
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + name.size());
    bound_ = bind(fd_, reinterpret_cast<sockaddr*>(&a), length) == 0;
  }
  ~ManagerSocket() { close(fd_); }
  bool Bound() const { return bound_; }
  // Every state received so far, in order.
  const Lines& States() {
    char buf[4096];
    for (ssize_t n; (n = recv(fd_, buf, sizeof buf, MSG_DONTWAIT)) > 0;) states_.emplace_back(buf, static_cast<size_t>(n));
    return states_;
  }
  size_t Count(const std::string& state) {
    const Lines& all = States();
    return static_cast<size_t>(std::count(all.begin(), all.end(), state));
  }

 private:
  int fd_;
  bool bound_ = false;
  Lines states_;
};

struct NotifyCase {
  const char* name;
  bool abstract;
};

class ServiceNotifyTest : public BridgeFixture, public ::testing::WithParamInterface<NotifyCase> {
 protected:
  ServiceNotifyTest()
      : name_(GetParam().abstract ? "@ovlar-notify-test-" + std::to_string(getpid()) : dir_.Path() + "/notify"),
        manager_(name_) {
    setenv("NOTIFY_SOCKET", name_.c_str(), 1);
    setenv("WATCHDOG_USEC", std::to_string(kWatchdogUsec).c_str(), 1);
    unsetenv("WATCHDOG_PID");
  }
  ~ServiceNotifyTest() override {
    form_.reset();
    unsetenv("NOTIFY_SOCKET");
    unsetenv("WATCHDOG_USEC");
  }
  std::string name_;
  ManagerSocket manager_;
  UdpPeer node_;
};

TEST_P(ServiceNotifyTest, ReadyStatusWatchdogAndStopping) {
  ASSERT_TRUE(manager_.Bound());
  Start("[XNET.PORT]\nA=1,0," + std::to_string(node_.Port()) + "\n");
  EXPECT_EQ(manager_.States(), Lines{"READY=1"}) << "ready once start-up is complete, before any status";
  Connect();
  Hear(1, Ax25Frame("CQ", 0, "N0CALL", 1, 0x03, "hello"));
  ASSERT_TRUE(RunUntil(loop_, [&] { return form_->Counters().RadioToIp.Forwarded == 1; }));

  // The tip's summary with the frame counted, once it changed.
  Advance(1000);
  const std::string status = std::string("STATUS=") + kProduct + " - " + form_->Counters().Summary(loop_.Now());
  EXPECT_NE(status.find("R>I 1 fwd"), std::string::npos) << status;
  EXPECT_EQ(manager_.Count(status), 1u);
  Advance(1000);
  EXPECT_EQ(manager_.Count(status), 1u) << "an unchanged summary is not sent again";

  // Half the timeout after start-up, and at every interval after.
  EXPECT_EQ(manager_.Count("WATCHDOG=1"), 0u);
  Advance(kTickMs - 2000 - 1);
  EXPECT_EQ(manager_.Count("WATCHDOG=1"), 0u);
  Advance(1);
  EXPECT_EQ(manager_.Count("WATCHDOG=1"), 1u);
  Advance(kTickMs);
  EXPECT_EQ(manager_.Count("WATCHDOG=1"), 2u);

  EXPECT_EQ(manager_.Count("STOPPING=1"), 0u);
  form_->Shutdown();
  EXPECT_EQ(manager_.States().back(), "STOPPING=1");
  form_.reset();
  EXPECT_EQ(manager_.Count("STOPPING=1"), 1u) << "the shutdown is told once";
  EXPECT_EQ(manager_.Count("READY=1"), 1u);
}

TEST_P(ServiceNotifyTest, ARejectedConfigurationIsItsStatusAndNeverReady) {
  ASSERT_TRUE(manager_.Bound());
  Start("[XNET]\nADDRESS=300.1.1.1\n[XNET.PORT]\nA=1,0,93\n");
  ASSERT_TRUE(form_->ConfigError());
  EXPECT_EQ(manager_.States(),
            (Lines{"STATUS=OVLAR.INI [XNET] ADDRESS: \"300.1.1.1\" is neither an IPv4 address nor a host name",
                   "STOPPING=1"}));
}

INSTANTIATE_TEST_SUITE_P(Sockets, ServiceNotifyTest,
                         ::testing::Values(NotifyCase{"Path", false}, NotifyCase{"Abstract", true}),
                         [](const auto& info) { return std::string(info.param.name); });

class ServiceNotifyFaults : public BridgeFixture {
 protected:
  ~ServiceNotifyFaults() override {
    form_.reset();
    unsetenv("NOTIFY_SOCKET");
    unsetenv("WATCHDOG_USEC");
  }
};

// A socket nobody listens on: one line for the reason, not one per tick.
TEST_F(ServiceNotifyFaults, AFailedSendIsLoggedOncePerReason) {
  const std::string name = dir_.Path() + "/nobody";
  setenv("NOTIFY_SOCKET", name.c_str(), 1);
  setenv("WATCHDOG_USEC", "2000", 1);
  Start("[XNET.PORT]\nA=1,0,93\n");
  Advance(1);
  Advance(1);
  const std::string line = "Service: READY not sent to \"" + name + "\": No such file or directory (2)";
  EXPECT_EQ(Count(line), 1u);
  EXPECT_FALSE(LoggedStart("Service: WATCHDOG")) << "the same reason again";
}

TEST(ServiceNotify, WhatTheEnvironmentNames) {
  const std::string longPath = "/" + std::string(sizeof(sockaddr_un::sun_path), 'x');
  const struct {
    std::string name;
    int64_t usec;
    bool active;
    std::string fault;
    int64_t watchdogMs;
  } cases[] = {
      {"", 30000000, false, "", 0},
      {"/run/systemd/notify", 30000000, true, "", 15000},
      {"@abstract", 0, true, "", 0},
      {"@" + std::string(sizeof(sockaddr_un::sun_path) - 1, 'a'), 1, true, "", 1},
      {"run/notify", 30000000, false, "is neither a path nor an abstract name", 0},
      {longPath, 30000000, false, "is longer than a unix socket address holds", 0},
  };
  for (const auto& c : cases) {
    TServiceNotify notify(c.name, c.usec);
    EXPECT_EQ(notify.Active(), c.active) << c.name;
    EXPECT_EQ(notify.Fault(), c.fault) << c.name;
    EXPECT_EQ(notify.WatchdogIntervalMs(), c.watchdogMs) << c.name;
    if (!c.active) {
      EXPECT_EQ(notify.Send("READY=1"), 0) << c.name;
    }
  }
  // The watchdog of another process is not this one's to keep.
  setenv("NOTIFY_SOCKET", "@x", 1);
  setenv("WATCHDOG_USEC", "30000000", 1);
  for (const auto& [pid, ms] : {std::pair{getpid(), int64_t{15000}}, std::pair{getpid() + 1, int64_t{0}}}) {
    setenv("WATCHDOG_PID", std::to_string(pid).c_str(), 1);
    EXPECT_EQ(TServiceNotify::FromEnvironment().WatchdogIntervalMs(), ms) << pid;
  }
  for (const char* name : {"NOTIFY_SOCKET", "WATCHDOG_USEC", "WATCHDOG_PID"}) unsetenv(name);
}

}  // namespace
}  // namespace ovlar
