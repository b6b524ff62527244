#include <gtest/gtest.h>

#include <future>
#include <string>
#include <vector>

#include "SocketTestUtil.h"
#include "net/ScktComp.h"
#include "platform/WinSock.h"

namespace ovlar {
namespace {

using test::RunUntil;
using test::Settle;
using test::TcpServer;

class ClientSocketTest : public ::testing::Test {
 protected:
  ClientSocketTest() {
    client_.OnLookup = Note("lookup");
    client_.OnConnecting = Note("connecting");
    client_.OnConnect = Note("connect");
    client_.OnDisconnect = [this](TClientSocket* s, TCustomWinSocket*) {
      events_.push_back(std::string("disconnect active=") + (s->Active() ? "1" : "0"));
    };
    client_.OnRead = [this](TClientSocket*, TCustomWinSocket* socket) { received_ += socket->ReceiveString(); };
    client_.OnError = [this](TClientSocket*, TCustomWinSocket*, TErrorEvent kind, int32_t& code) {
      events_.push_back("error " + std::to_string(kind) + " " + std::to_string(code));
      code = 0;
    };
  }
  TClientSocket::TSocketNotifyEvent Note(const std::string& name) {
    return [this, name](TClientSocket*, TCustomWinSocket*) { events_.push_back(name); };
  }
  void Open(uint16_t port) {
    client_.SetAddress("127.0.0.1");
    client_.SetPort(port);
    client_.SetActive(true);
  }
  bool Saw(const std::string& e) { return std::find(events_.begin(), events_.end(), e) != events_.end(); }

  EventLoop loop_;
  TClientSocket client_{loop_};
  std::vector<std::string> events_;
  std::string received_;
};

TEST_F(ClientSocketTest, ConnectsAndReads) {
  TcpServer server;
  Open(server.Port());
  EXPECT_EQ(events_, (std::vector<std::string>{"lookup", "connecting"}));
  EXPECT_FALSE(client_.Active());
  ASSERT_TRUE(RunUntil(loop_, [&] { return client_.Active(); }));
  EXPECT_EQ(events_.back(), "connect");
  ASSERT_GE(server.Accept(), 0);
  server.Send(std::string("a\0b", 3));
  ASSERT_TRUE(RunUntil(loop_, [&] { return received_.size() == 3; }));
  EXPECT_EQ(received_, std::string("a\0b", 3));
  EXPECT_EQ(client_.Socket().SendString("hello"), 5);
  char buf[8];
  ASSERT_TRUE(test::WaitReadable(server.Client()));
  EXPECT_EQ(recv(server.Client(), buf, sizeof buf, 0), 5);
  EXPECT_EQ(client_.Socket().ReceiveString(), "");
}

TEST_F(ClientSocketTest, RefusedConnectionReportsOnlyTheError) {
  uint16_t port;
  {
    TcpServer gone;
    port = gone.Port();
  }
  Open(port);
  ASSERT_TRUE(RunUntil(loop_, [&] { return events_.size() == 3; }));
  Settle(loop_);
  EXPECT_EQ(events_, (std::vector<std::string>{"lookup", "connecting", "error 3 10061"}));
  EXPECT_FALSE(client_.Active());
  client_.SetActive(false);
  EXPECT_EQ(events_.size(), 3u);
  client_.SetActive(true);
  EXPECT_EQ(events_.back(), "connecting") << "a new attempt starts";
}

TEST_F(ClientSocketTest, AnUnhandledErrorReachesTheApplicationsCatchAndNotTheTerminal) {
  client_.OnError = nullptr;
  std::vector<std::string> failures;
  loop_.SetFailureHandler([&](const std::exception& e) { failures.push_back(e.what()); });
  test::StderrCapture shown;
  uint16_t port;
  {
    TcpServer gone;
    port = gone.Port();
  }
  Open(port);
  ASSERT_TRUE(RunUntil(loop_, [&] { return !failures.empty(); }));
  EXPECT_EQ(failures, std::vector<std::string>{"Asynchronous socket error 10061"});
  EXPECT_EQ(shown.Text(), "");
  EXPECT_FALSE(client_.Active());
}

// Active false while looking up or connecting calls the attempt off: no
// event comes of it, and the server sees the connection go.
TEST_F(ClientSocketTest, InactiveWhilePendingCallsTheAttemptOff) {
  std::promise<void> answer;
  std::shared_future<void> answered = answer.get_future().share();
  loop_.Resolver().SetHostLookup([answered](const std::string&) {
    answered.wait();
    LookupResult r;
    r.addresses.push_back(inet_addr("127.0.0.1"));
    return r;
  });
  TcpServer server;
  client_.SetHost("engine.test");
  client_.SetPort(server.Port());
  client_.SetActive(true);
  client_.SetActive(false);
  answer.set_value();
  client_.SetHost("");
  Open(server.Port());
  client_.SetActive(false);
  EXPECT_EQ(events_, (std::vector<std::string>{"lookup", "lookup", "connecting"}));
  const int fd = server.Accept();
  ASSERT_GE(fd, 0);
  char c;
  ASSERT_TRUE(test::WaitReadable(fd));
  EXPECT_LE(recv(fd, &c, 1, 0), 0) << "the attempt's socket is closed";
  Settle(loop_, 10);
  EXPECT_EQ(events_.size(), 3u);
  EXPECT_FALSE(client_.Active());
}

TEST_F(ClientSocketTest, ServerCloseAndServerReset) {
  TcpServer server;
  Open(server.Port());
  ASSERT_TRUE(RunUntil(loop_, [&] { return client_.Active(); }));
  ASSERT_GE(server.Accept(), 0);
  server.CloseClient();
  ASSERT_TRUE(RunUntil(loop_, [&] { return !client_.Active(); }));
  EXPECT_EQ(events_.back(), "disconnect active=0");

  events_.clear();
  client_.SetActive(true);
  ASSERT_TRUE(RunUntil(loop_, [&] { return client_.Active(); }));
  ASSERT_GE(server.Accept(), 0);
  server.ResetClient();
  ASSERT_TRUE(RunUntil(loop_, [&] { return Saw("error 4 10054"); }));
  Settle(loop_);
  EXPECT_TRUE(client_.Active()) << "a reset leaves the component active";
  EXPECT_FALSE(Saw("disconnect active=0"));
  client_.SetActive(false);
  EXPECT_EQ(events_.back(), "disconnect active=0");
  EXPECT_FALSE(client_.Active());
}

TEST_F(ClientSocketTest, NotConnected) {
  EXPECT_EQ(client_.Socket().SendString("x"), 0);
  EXPECT_EQ(client_.Socket().ReceiveString(), "");
  char c;
  EXPECT_EQ(client_.Socket().ReceiveBytes(&c, -1), 0);
  client_.SetPort(1);
  client_.SetAddress("");
  try {
    client_.SetActive(true);
    FAIL() << "no exception";
  } catch (const ESocketError& e) {
    EXPECT_STREQ(e.what(), "No address specified");
  }
  EXPECT_EQ(events_, (std::vector<std::string>{"lookup", "disconnect active=0"}));
}

TEST_F(ClientSocketTest, PropertiesWhileActive) {
  TcpServer server;
  client_.SetHost("");
  Open(server.Port());
  ASSERT_TRUE(RunUntil(loop_, [&] { return client_.Active(); }));
  client_.SetAddress("127.0.0.1");
  client_.SetPort(server.Port());
  client_.SetHost("");
  try {
    client_.SetAddress("10.0.0.1");
    FAIL() << "no exception";
  } catch (const ESocketError& e) {
    EXPECT_STREQ(e.what(), "Can't change value while socket is active");
  }
  EXPECT_EQ(client_.Address(), "127.0.0.1");
  EXPECT_THROW(client_.SetPort(1), ESocketError);
  EXPECT_THROW(client_.SetClientType(ctBlocking), ESocketError);
}

TEST_F(ClientSocketTest, HostNamesAreLookedUpAndCompareWithoutCase) {
  TcpServer server;
  client_.SetHost("localhost");
  client_.SetPort(server.Port());
  client_.SetActive(true);
  ASSERT_TRUE(RunUntil(loop_, [&] { return client_.Active(); }));
  EXPECT_EQ(client_.Socket().RemoteAddress(), "127.0.0.1");
  client_.SetHost("LOCALHOST");
  EXPECT_EQ(client_.Host(), "localhost");
}

TEST_F(ClientSocketTest, AMegabyteToASlowReaderArrivesWholeAndInOrder) {
  TcpServer server;
  Open(server.Port());
  ASSERT_TRUE(RunUntil(loop_, [&] { return client_.Active(); }));
  const int fd = server.Accept();
  ASSERT_GE(fd, 0);
  const int small = 16384;
  setsockopt(client_.Socket().SocketHandle(), SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
  std::string sent;
  for (int i = 0; i < 256; ++i) {
    std::string piece(4096, static_cast<char>(i));
    piece[0] = static_cast<char>(i * 7);
    EXPECT_EQ(client_.Socket().SendString(piece), 4096);
    sent += piece;
  }
  EXPECT_GT(client_.Socket().Queued(), 0u) << "the reader has not read yet, so bytes must wait";
  std::string got;
  // A slow reader: at most 1000 bytes whenever the loop finds data waiting.
  loop_.WatchFd(fd, true, false, [&](const PollEvent&) {
    char buf[1000];
    const ssize_t n = recv(fd, buf, sizeof buf, MSG_DONTWAIT);
    if (n > 0) got.append(buf, static_cast<size_t>(n));
  });
  ASSERT_TRUE(RunUntil(loop_, [&] { return got.size() == sent.size(); }, 60000));
  loop_.UnwatchFd(fd);
  EXPECT_TRUE(got == sent);
  EXPECT_EQ(client_.Socket().Queued(), 0u);
}

TEST_F(ClientSocketTest, BlockingClientConnectsBeforeReturning) {
  TcpServer server;
  client_.SetClientType(ctBlocking);
  Open(server.Port());
  EXPECT_TRUE(client_.Active());
  EXPECT_EQ(events_, (std::vector<std::string>{"connecting", "connect"}));
}

}  // namespace
}  // namespace ovlar

namespace ovlar {
namespace {

TEST_F(ClientSocketTest, AStreamGoesOutWholeAndMayCloseAfterwards) {
  TcpServer server;
  Open(server.Port());
  ASSERT_TRUE(RunUntil(loop_, [&] { return client_.Active(); }));
  const int fd = server.Accept();
  ASSERT_GE(fd, 0);
  std::string stream(100000, '\0');
  for (size_t i = 0; i < stream.size(); ++i) stream[i] = static_cast<char>(i % 251);
  ASSERT_TRUE(client_.Socket().SendStream(stream, true));
  EXPECT_FALSE(client_.Socket().SendStream("more")) << "one stream at a time";
  std::string got;
  loop_.WatchFd(fd, true, false, [&](const PollEvent&) {
    char buf[8192];
    const ssize_t n = recv(fd, buf, sizeof buf, MSG_DONTWAIT);
    if (n > 0) got.append(buf, static_cast<size_t>(n));
  });
  ASSERT_TRUE(RunUntil(loop_, [&] { return !client_.Active() && got.size() == stream.size(); }));
  loop_.UnwatchFd(fd);
  EXPECT_TRUE(got == stream);
  EXPECT_EQ(events_.back(), "disconnect active=0");
}

}  // namespace
}  // namespace ovlar
