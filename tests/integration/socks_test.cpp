// The SOCKS layer against SOCKS servers from Debian's packages: microsocks
// (SOCKS 5, with and without a password), dante (SOCKS 4) and a SOCKS 4A
// proxy built on IO::Socket::Socks.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "DirewolfPair.h"
#include "Process.h"
#include "SocketTestUtil.h"
#include "net/WSocket.h"

namespace ovlar {
namespace {

using namespace test;

class SocksTest : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = ::testing::TempDir(); }
  bool StartProxy(const std::vector<std::string>& argv, uint16_t port) {
    if (!HaveProgram(argv[0].c_str())) return false;
    return proxy_.Start(argv, {}, "", dir_ + "/socks-proxy.log") && WaitFor([&] { return TcpListening(port); });
  }
  void Prepare(uint16_t proxyPort, const std::string& level, const std::string& target) {
    client_.SetSocksServer("127.0.0.1");
    client_.SetSocksPort(std::to_string(proxyPort));
    client_.SetSocksLevel(level);
    client_.SetAddr(target);
    client_.SetPort(std::to_string(target_.Port()));
    client_.OnSocksConnected = [this](TCustomWSocket*, uint16_t e) { events_.push_back("socks " + std::to_string(e)); };
    client_.OnSessionConnected = [this](TCustomWSocket*, uint16_t e) { events_.push_back("session " + std::to_string(e)); };
    client_.OnSocksError = [this](TCustomWSocket*, int e, const std::string& m) {
      events_.push_back("error " + std::to_string(e));
      message_ = m;
    };
    client_.OnSocksAuthState = [this](TCustomWSocket*, TCustomSocksWSocket::TSocksAuthState s) {
      events_.push_back("auth " + std::to_string(s));
    };
    client_.OnDataAvailable = [this](TCustomWSocket* s, uint16_t) { received_ += s->ReceiveStr(); };
  }
  // microsocks asking for a user name and password, and the client with them.
  bool StartWithPassword(uint16_t port, const std::string& password) {
    if (!StartProxy({"microsocks", "-i", "127.0.0.1", "-p", std::to_string(port), "-u", "ham", "-P", "radio"}, port)) {
      return false;
    }
    Prepare(port, "5", "127.0.0.1");
    client_.SocksAuthentication = TCustomSocksWSocket::socksAuthenticateUsercode;
    client_.SocksUsercode = "ham";
    client_.SocksPassword = password;
    return true;
  }
  // Connects through the proxy and checks that bytes pass both ways.
  void ExpectThrough() {
    client_.Connect();
    ASSERT_TRUE(RunUntil(loop_, [&] { return !events_.empty() && events_.back().rfind("session", 0) == 0; }))
        << ::testing::PrintToString(events_) << message_;
    EXPECT_EQ(events_.back(), "session 0");
    ASSERT_GE(target_.Accept(), 0);
    client_.SendStr("through");
    char buf[16] = {};
    ASSERT_TRUE(WaitReadable(target_.Client()));
    ASSERT_EQ(recv(target_.Client(), buf, sizeof buf, 0), 7);
    EXPECT_STREQ(buf, "through");
    target_.Send("back");
    ASSERT_TRUE(RunUntil(loop_, [&] { return received_ == "back"; }));
  }

  std::string dir_;
  EventLoop loop_;
  TcpServer target_;
  Process proxy_;
  TWSocket client_{loop_};
  std::vector<std::string> events_;
  std::string message_;
  std::string received_;
};

TEST_F(SocksTest, Socks5WithoutAuthenticationByAddressAndByName) {
  const uint16_t port = FreeTcpPort();
  if (!StartProxy({"microsocks", "-i", "127.0.0.1", "-p", std::to_string(port)}, port)) GTEST_SKIP() << "no microsocks";
  Prepare(port, "5", "localhost");
  ExpectThrough();
  EXPECT_EQ(events_.front(), "auth " + std::to_string(TCustomSocksWSocket::socksAuthNotRequired));
  EXPECT_EQ(events_[1], "socks 0");
}

TEST_F(SocksTest, Socks5WithAPassword) {
  const uint16_t port = FreeTcpPort();
  if (!StartWithPassword(port, "radio")) GTEST_SKIP() << "no microsocks";
  ExpectThrough();
  EXPECT_EQ(events_.front(), "auth " + std::to_string(TCustomSocksWSocket::socksAuthStart));
  EXPECT_EQ(events_[1], "auth " + std::to_string(TCustomSocksWSocket::socksAuthSuccess));
}

TEST_F(SocksTest, Socks5WrongPasswordAndRefusedTarget) {
  const uint16_t port = FreeTcpPort();
  if (!StartWithPassword(port, "wrong")) GTEST_SKIP() << "no microsocks";
  client_.Connect();
  ASSERT_TRUE(RunUntil(loop_, [&] { return client_.State() == wsClosed; }));
  EXPECT_NE(std::find(events_.begin(), events_.end(), "error " + std::to_string(socksAuthenticationFailed)),
            events_.end())
      << ::testing::PrintToString(events_);

  events_.clear();
  uint16_t closed;
  {
    TcpServer gone;
    closed = gone.Port();
  }
  client_.SetSocksServer("127.0.0.1");
  client_.SetSocksPort(std::to_string(port));
  client_.SetAddr("127.0.0.1");
  client_.SetPort(std::to_string(closed));
  client_.SocksPassword = "radio";
  client_.Connect();
  ASSERT_TRUE(RunUntil(loop_, [&] { return client_.State() == wsClosed; }));
  ASSERT_FALSE(events_.empty());
  EXPECT_EQ(events_.back().rfind("error ", 0), 0u) << ::testing::PrintToString(events_);
}

TEST_F(SocksTest, Socks4) {
  const uint16_t port = FreeTcpPort();
  std::ofstream(dir_ + "/sockd.conf") << "logoutput: " << dir_ << "/sockd.log\ninternal: 127.0.0.1 port = " << port
                                      << "\nexternal: lo\nclientmethod: none\nsocksmethod: none\n"
                                      << "user.privileged: root\nuser.unprivileged: nobody\n"
                                      << "client pass {\n from: 127.0.0.0/8 to: 0.0.0.0/0\n}\n"
                                      << "socks pass {\n from: 127.0.0.0/8 to: 0.0.0.0/0\n protocol: tcp\n}\n";
  if (getuid() != 0 || !StartProxy({"danted", "-f", dir_ + "/sockd.conf", "-p", dir_ + "/sockd.pid"}, port)) {
    GTEST_SKIP() << "no dante server";
  }
  Prepare(port, "4", "127.0.0.1");
  ExpectThrough();
}

TEST_F(SocksTest, Socks4AResolvesAtTheProxy) {
  const uint16_t port = FreeTcpPort();
  if (system("perl -MIO::Socket::Socks -e 1 2>/dev/null") != 0 ||
      !StartProxy({"perl", std::string(OVLAR_TESTS_DIR) + "/integration/socks4.pl", std::to_string(port)}, port)) {
    GTEST_SKIP() << "no IO::Socket::Socks";
  }
  Prepare(port, "4A", "localhost");
  ExpectThrough();
}

TEST_F(SocksTest, RefusalsWhileAServerIsSet) {
  client_.OnError = nullptr;
  client_.SetSocksServer("127.0.0.1");
  client_.SetProto("udp");
  client_.SetAddr("127.0.0.1");
  client_.SetPort("9");
  try {
    client_.Connect();
    FAIL() << "no exception";
  } catch (const ESocketException& e) {
    EXPECT_STREQ(e.what(), "tcp is the only protocol supported thru socks server");
  }
  try {
    client_.Listen();
    FAIL() << "no exception";
  } catch (const ESocketException& e) {
    EXPECT_STREQ(e.what(), "Listening is not supported thru socks server");
  }
  client_.Close();
  EXPECT_EQ(client_.SocksLevel(), "5");
}

}  // namespace
}  // namespace ovlar
