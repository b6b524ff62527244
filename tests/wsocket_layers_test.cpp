// Line mode and synchronous waiting of the socket component, over TCP
// loopback pairs driven by the loop.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "SocketTestUtil.h"
#include "net/WSocket.h"
#include "platform/Timer.h"

namespace ovlar {
namespace {

using test::RunUntil;
using test::Settle;
using test::TcpServer;

class LineModeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    client_.SetAddr("127.0.0.1");
    client_.SetPort(std::to_string(server_.Port()));
    client_.SetLineMode(true);
    client_.OnDataAvailable = [this](TCustomWSocket* s, uint16_t) { lines_.push_back(s->ReceiveStr()); };
    client_.Connect();
    ASSERT_TRUE(RunUntil(loop_, [&] { return client_.State() == wsConnected; }));
    ASSERT_GE(server_.Accept(), 0);
  }
  // Sends one piece and lets the loop deliver what it completes.
  void Piece(const std::string& bytes) {
    server_.Send(bytes);
    ASSERT_TRUE(test::WaitReadable(client_.HSocket()));
    Settle(loop_, 3);
  }

  EventLoop loop_;
  TcpServer server_;
  TWSocket client_{loop_};
  std::vector<std::string> lines_;
};

TEST_F(LineModeTest, LinesSplitAcrossReadsAndSeveralInOneRead) {
  Piece("hel");
  EXPECT_TRUE(lines_.empty());
  Piece("lo\r");
  EXPECT_TRUE(lines_.empty());
  Piece("\nsecond\r\nthird\r\nfou");
  EXPECT_EQ(lines_, (std::vector<std::string>{"hello\r\n", "second\r\n", "third\r\n"}));
  client_.SetLineMode(false);
  lines_.clear();
  Piece("r");
  EXPECT_EQ(lines_, (std::vector<std::string>{"fou", "r"})) << "the unfinished line comes first";
}

TEST_F(LineModeTest, OtherLineEndsEchoAndEditing) {
  client_.LineEnd = "\n";
  client_.LineEcho = true;
  client_.LineEdit = true;
  Piece("abx\bc\n");
  EXPECT_EQ(lines_, (std::vector<std::string>{"abc\n"}));
  std::string echo(64, '\0');
  const ssize_t n = recv(server_.Client(), echo.data(), echo.size(), MSG_DONTWAIT);
  ASSERT_GT(n, 0);
  echo.resize(static_cast<size_t>(n));
  EXPECT_EQ(echo, "abx\b \bc\n");
}

TEST_F(LineModeTest, ALineTooLongIsReportedAndDropped) {
  int tooLong = 0;
  client_.OnLineTooLong = [&](TCustomWSocket*) { ++tooLong; };
  const std::string big(TCustomLineWSocket::kMaxLine + 10, 'x');
  server_.Send(big);
  ASSERT_TRUE(RunUntil(loop_, [&] { return tooLong == 1; }));
  Piece("short\r\n");
  EXPECT_EQ(lines_, (std::vector<std::string>{"short\r\n"}));
}

TEST(SyncWait, ThreeOutcomes) {
  ManualClock clock;
  EventLoop loop(&clock);
  TWSocket s(loop);
  bool done = false;
  loop.Post([&] { done = true; });
  EXPECT_EQ(s.WaitUntilReady(done, 1000), 0);

  bool never = false;
  TTimer late(loop, 10, [&] { clock.Advance(1000); });
  clock.Advance(10);
  EXPECT_EQ(s.WaitUntilReady(never, 500), TCustomSyncWSocket::kWaitFailed) << "time limit";

  loop.Quit();
  EXPECT_EQ(s.WaitUntilReady(never, 100000), TCustomSyncWSocket::kWaitFailed) << "the application ends";
  EXPECT_TRUE(s.QuitSeen());
}

TEST(SyncWait, LookupThatReturnsWhenDone) {
  EventLoop loop;
  TWSocket s(loop);
  EXPECT_EQ(s.DnsLookupSync("localhost", 20000), 0);
  EXPECT_EQ(s.DnsResult(), "127.0.0.1");
  EXPECT_EQ(s.DnsLookupSync("127.0.0.2", 20000), 0);
  EXPECT_EQ(s.DnsResult(), "127.0.0.2");
}

}  // namespace
}  // namespace ovlar
