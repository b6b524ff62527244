#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "SocketTestUtil.h"
#include "platform/SocketNotifier.h"
#include "platform/WinSock.h"

namespace ovlar {
namespace {

using test::Settle;

class NotifierTest : public ::testing::Test {
 protected:
  NotifierTest() {
    fd_ = wsock::Socket(SOCK_DGRAM, 0);
    sockaddr_in a = test::Loopback(0);
    wsock::Bind(fd_, a);
  }
  ~NotifierTest() override {
    notifier_.Unselect();
    close(fd_);
  }
  void Select(uint32_t mask) {
    notifier_.Select(fd_, SocketKind::Datagram, mask, [this](int s, uint32_t e, uint16_t err) {
      EXPECT_EQ(s, fd_);
      got_.push_back(std::to_string(e) + "/" + std::to_string(err));
    });
  }
  int Count(uint32_t event) {
    return static_cast<int>(std::count(got_.begin(), got_.end(), std::to_string(event) + "/0"));
  }

  EventLoop loop_;
  SocketNotifier notifier_{loop_};
  int fd_;
  std::vector<std::string> got_;
};

TEST_F(NotifierTest, WriteIsAnnouncedOnceNotEveryTurn) {
  Select(FD_READ | FD_WRITE);
  Settle(loop_, 10);
  EXPECT_EQ(Count(FD_WRITE), 1);
  notifier_.Reenable(FD_WRITE);
  Settle(loop_, 10);
  EXPECT_EQ(Count(FD_WRITE), 2);
}

TEST_F(NotifierTest, ReadIsAnnouncedAgainOnlyAfterAReceive) {
  Select(FD_READ);
  test::UdpPeer peer;
  peer.SendTo(test::BoundPort(fd_), "1");
  peer.SendTo(test::BoundPort(fd_), "2");
  ASSERT_TRUE(test::RunUntil(loop_, [&] { return Count(FD_READ) == 1; }));
  Settle(loop_, 10);
  EXPECT_EQ(Count(FD_READ), 1) << "nobody received, so nothing new is announced";
  char c;
  wsock::Recv(fd_, &c, 1, 0);
  notifier_.Reenable(FD_READ);
  Settle(loop_, 10);
  EXPECT_EQ(Count(FD_READ), 2) << "one datagram still waits";
  wsock::Recv(fd_, &c, 1, 0);
  notifier_.Reenable(FD_READ);
  Settle(loop_, 10);
  EXPECT_EQ(Count(FD_READ), 2);
}

TEST_F(NotifierTest, PostedNotificationsOfAnEarlierRegistrationAreDropped) {
  Select(FD_READ);
  notifier_.Post(FD_WRITE, 0);
  notifier_.Post(FD_CLOSE, 10054);
  Settle(loop_);
  EXPECT_EQ(got_, (std::vector<std::string>{"2/0", "32/10054"}));
  got_.clear();
  notifier_.Post(FD_WRITE, 0);
  Select(FD_READ);
  notifier_.Unselect();
  Settle(loop_);
  EXPECT_TRUE(got_.empty());
}

}  // namespace
}  // namespace ovlar
