// Node links beyond one node on the LAN: symmetric ports, a host per
// table entry, following a node behind NAT, IPv6.
#include <algorithm>
#include <string>

#include "BridgeFixture.h"

namespace ovlar {
namespace {

using namespace test;

// MAP mode, radio port 1 to node A and radio port 2 to node B, with the
// sending keys of the case.
struct SendCase {
  std::string keys;
  enum { NewPortEach, OneKeptPort, ListenerPort } source;
  bool warned;  // KEEPSOCKET said to have no effect
};
void PrintTo(const SendCase& c, std::ostream* os) { *os << "\"" << c.keys << "\""; }

class SourcePortBridge : public BridgeFixture, public ::testing::WithParamInterface<SendCase> {
 protected:
  void SetUp() override {
    Start("[XNET]\n" + GetParam().keys + "\n[XNET.PORT]\nA=1," + std::to_string(localA_) + "," +
          std::to_string(nodeA_.Port()) + "\nB=2," + std::to_string(localB_) + "," + std::to_string(nodeB_.Port()) +
          "\n");
    Connect();
  }
  // The source port of the datagram a frame heard on the radio port became.
  uint16_t SourceOf(int port, const UdpPeer& node) {
    const std::string frame = Ax25Frame("CQ", 0, "N0CALL", 1, 0x03, "port " + std::to_string(port));
    Hear(port, frame);
    uint16_t from = 0;
    EXPECT_EQ(AtNode(node, &from), WithFcs(frame));
    return from;
  }
  uint16_t localA_ = FreeUdpPort(), localB_ = FreeUdpPort();
  UdpPeer nodeA_, nodeB_;
};

TEST_P(SourcePortBridge, DatagramsLeaveFromTheKeysSourcePort) {
  const SendCase& c = GetParam();
  const uint16_t a[3] = {SourceOf(1, nodeA_), SourceOf(1, nodeA_), SourceOf(1, nodeA_)};
  const uint16_t b = SourceOf(2, nodeB_);
  switch (c.source) {
    case SendCase::ListenerPort:
      EXPECT_EQ(a[0], localA_);
      EXPECT_EQ(a[2], localA_);
      EXPECT_EQ(b, localB_);
      break;
    case SendCase::OneKeptPort:
      EXPECT_EQ(a[0], a[1]);
      EXPECT_EQ(a[1], a[2]);
      EXPECT_NE(a[0], localA_);
      break;
    case SendCase::NewPortEach:
      EXPECT_FALSE(a[0] == a[1] && a[1] == a[2]) << a[0];
      EXPECT_NE(a[0], localA_);
      EXPECT_NE(b, localB_);
      break;
  }
  const std::string notice = "ovlar: OVLAR.INI [XNET] KEEPSOCKET: \"on\" has no effect: SYMMETRIC is on, "
                             "datagrams leave from the listeners";
  EXPECT_EQ(std::count(desktop_.Notices.begin(), desktop_.Notices.end(), notice), c.warned ? 1 : 0);
  EXPECT_EQ(Logged("      SYMMETRIC:   TRUE"), c.source == SendCase::ListenerPort);
  // The node answers to the port it heard from, and the frame goes on the air.
  const std::string down = Ax25Frame("N0CALL", 1, "XNODE", 0, 0x00, "down");
  nodeB_.SendTo(localB_, WithFcs(down));
  ASSERT_TRUE(WaitTransmitted(1));
  EXPECT_EQ(Transmitted(), Lines{"2:" + std::string(1, '\0') + down});
  EXPECT_EQ(form_->Counters().RadioToIp.Forwarded, 4u);
}

INSTANTIATE_TEST_SUITE_P(Cases, SourcePortBridge,
                         ::testing::Values(SendCase{"", SendCase::NewPortEach, false},
                                           SendCase{"KEEPSOCKET=on", SendCase::OneKeptPort, false},
                                           SendCase{"SYMMETRIC=yes", SendCase::ListenerPort, false},
                                           SendCase{"SYMMETRIC=TRUE\nKEEPSOCKET=on", SendCase::ListenerPort, true},
                                           SendCase{"SYMMETRIC=1", SendCase::NewPortEach, false}));

// Two nodes: radio port 1 to 127.0.0.2 by address, radio port 2 to
// nodeb.test (127.0.0.3) by name, radio port 3 to XNET ADDRESS; ACCEPT's
// word XNET stands for all three.
class TwoNodeBridge : public BridgeFixture {
 protected:
  void SetUp() override {
    hosts_.Set("nodeb.test", "127.0.0.3");
    Start("[XNET]\nADDRESS=127.0.0.1\nACCEPT=XNET\n[XNET.PORT]\nA=1," + std::to_string(localA_) + "," +
          std::to_string(nodeA_.Port()) + ",127.0.0.2\nB=2," + std::to_string(localB_) + "," +
          std::to_string(nodeB_.Port()) + ", nodeb.test \nC=3," + std::to_string(localC_) + "," +
          std::to_string(nodeC_.Port()) + ",\n");
    Connect("3;Port1;Port2;Port3;");
    ASSERT_TRUE(RunUntil(loop_, [&] { return Logged("<AXIP> Host(nodeb.test) resolved to (127.0.0.3)"); }));
  }
  uint16_t localA_ = FreeUdpPort(), localB_ = FreeUdpPort(), localC_ = FreeUdpPort();
  UdpPeer nodeA_{0, "127.0.0.2"}, nodeB_{0, "127.0.0.3"}, nodeC_{0, "127.0.0.1"}, stranger_{0, "127.0.0.4"};
};

TEST_F(TwoNodeBridge, EachEntrySendsToItsHostAndAcceptsEveryNode) {
  const long accept = At("      ACCEPT:      XNET");
  EXPECT_EQ(At("      HOST(A):     127.0.0.2"), accept + 1);
  EXPECT_EQ(At("      HOST(B):     nodeb.test"), accept + 2);
  EXPECT_FALSE(LoggedStart("      HOST(C)"));
  const UdpPeer* nodes[] = {&nodeA_, &nodeB_, &nodeC_};
  const char* shown[] = {"127.0.0.2", "nodeb.test", "127.0.0.1"};
  for (int port = 1; port <= 3; ++port) {
    const std::string frame = Ax25Frame("CQ", 0, "N0CALL", port, 0x03, "hi");
    Hear(port, frame);
    EXPECT_EQ(AtNode(*nodes[port - 1]), WithFcs(frame)) << port;
    EXPECT_TRUE(Logged("<AXIP> Sending Frame Len(" + std::to_string(frame.size() + 2) + ") to (" + shown[port - 1] +
                       ":" + std::to_string(nodes[port - 1]->Port()) + ")"));
  }
  for (const UdpPeer* node : nodes) EXPECT_EQ(node->Receive(0), "<none>");

  // Every node host is accepted on any listener; others are not.
  const std::string up = Ax25Frame("N0CALL", 1, "XNODE", 0, 0x00, "up");
  for (const UdpPeer* from : {&nodeB_, &nodeC_, &nodeA_, &stranger_}) from->SendTo(localA_, WithFcs(up));
  ASSERT_TRUE(RunUntil(loop_, [&] { return LoggedStart("<AXIP> OnDataAvailable: Frame from (127.0.0.4:"); }));
  ASSERT_TRUE(WaitTransmitted(3));
  Settle(loop_);
  EXPECT_EQ(Transmitted(), Lines(3, "1:" + std::string(1, '\0') + up));
  EXPECT_TRUE(Logged("<AXIP> OnDataAvailable: Frame from (127.0.0.4:" + std::to_string(stranger_.Port()) +
                     ") not accepted, discarded"));
}

// An entry whose host has had no answer holds back its own frames only.
TEST_F(BridgeFixture, AnEntrysUnknownHostHoldsBackOnlyItsFrames) {
  UdpPeer nodeA{0, "127.0.0.2"}, nodeB;
  Start("[XNET]\nADDRESS=127.0.0.1\n[XNET.PORT]\nA=1," + std::to_string(FreeUdpPort()) + "," +
        std::to_string(nodeA.Port()) + ",nowhere.test\nB=2," + std::to_string(FreeUdpPort()) + "," +
        std::to_string(nodeB.Port()) + "\n");
  Connect();
  ASSERT_TRUE(RunUntil(loop_, [&] { return Logged("<AXIP> Host(nowhere.test) not resolved, Error(11001), no address yet"); }));
  const std::string frame = Ax25Frame("CQ", 0, "N0CALL", 1, 0x03, "hi");
  Hear(1, frame);
  Hear(2, frame);
  EXPECT_EQ(AtNode(nodeB), WithFcs(frame));
  EXPECT_TRUE(Logged("<L2> OnKissBefore: L2 Object not ready, frame discarded"));
  EXPECT_EQ(form_->Counters().RadioToIp.Drops[static_cast<size_t>(TDrop::NotReady)], 1u);
  EXPECT_EQ(nodeA.Receive(0), "<none>");
}

// FOLLOW: the node at 127.0.0.2 behind a router that changes its source
// port; 127.0.0.4 is not accepted.
class FollowBridge : public BridgeFixture, public ::testing::WithParamInterface<std::string> {
 protected:
  void SetUp() override {
    Start("[XNET]\nFOLLOW=on\nACCEPT=XNET\n" + GetParam() + "\n[XNET.PORT]\nNAT=1," + std::to_string(local_) + "," +
          std::to_string(configured_.Port()) + ",127.0.0.2\n");
    Connect();
  }
  // Where a frame heard now arrives: the index of the peer, or -1.
  int Heard() {
    const std::string frame = Ax25Frame("CQ", 0, "N0CALL", 1, 0x03, "where");
    Hear(1, frame);
    const UdpPeer* peers[] = {&configured_, &moved_, &again_, &stranger_};
    if (!RunUntil(loop_, [&] {
          return std::any_of(std::begin(peers), std::end(peers), [](const UdpPeer* p) { return WaitReadable(p->Fd(), 0); });
        })) {
      return -1;
    }
    for (int i = 0; i < 4; ++i) {
      if (WaitReadable(peers[i]->Fd(), 0)) return peers[i]->Receive(0) == WithFcs(frame) ? i : -1;
    }
    return -1;
  }
  // A datagram from a peer, and the loop turned until the bridge has read it.
  void From(const UdpPeer& peer, bool goodFcs) {
    const size_t before = Count("<AXIP> OnDataAvailable: Error(0) Listener(" + std::to_string(local_) + ")");
    std::string datagram = WithFcs(Ax25Frame("N0CALL", 1, "XNODE", 0, 0x00, "up"));
    if (!goodFcs) std::swap(datagram[datagram.size() - 1], datagram[datagram.size() - 2]);
    peer.SendTo(local_, datagram);
    ASSERT_TRUE(RunUntil(loop_, [&] {
      return Count("<AXIP> OnDataAvailable: Error(0) Listener(" + std::to_string(local_) + ")") > before;
    }));
  }
  std::string Moved(const UdpPeer& peer) {
    return "<AXIP> Node for NAT now at 127.0.0.2:" + std::to_string(peer.Port());
  }
  uint16_t local_ = FreeUdpPort();
  UdpPeer configured_{0, "127.0.0.2"}, moved_{0, "127.0.0.2"}, again_{0, "127.0.0.2"}, stranger_{0, "127.0.0.4"};
};

TEST_P(FollowBridge, SendsWhereTheLastAcceptedValidDatagramCameFrom) {
  EXPECT_TRUE(Logged("      FOLLOW:      TRUE"));
  EXPECT_EQ(Heard(), 0) << "the configured host and port until the node is heard";
  From(moved_, true);
  EXPECT_TRUE(Logged(Moved(moved_)));
  EXPECT_EQ(Heard(), 1);
  From(moved_, true);
  EXPECT_EQ(Count(Moved(moved_)), 1u) << "only a change is news";
  From(stranger_, true);
  From(again_, false);
  EXPECT_EQ(Heard(), 1) << "neither a refused sender nor a wrong FCS moves the node";
  From(again_, true);
  EXPECT_TRUE(Logged(Moved(again_)));
  EXPECT_EQ(Heard(), 2);
  EXPECT_EQ(Transmitted().size(), 3u);
}

INSTANTIATE_TEST_SUITE_P(Keys, FollowBridge, ::testing::Values("", "SYMMETRIC=on", "KEEPSOCKET=on"));

// A node on ::1 beside one on IPv4: entry A's host written plainly, in
// brackets, or a name with only an IPv6 address, with each way of sending.
struct V6Case {
  std::string host;
  std::string keys;
};
void PrintTo(const V6Case& c, std::ostream* os) { *os << "\"" << c.host << "\" \"" << c.keys << "\""; }

class IPv6Bridge : public BridgeFixture, public ::testing::WithParamInterface<V6Case> {
 protected:
  void SetUp() override {
    if (!HasIPv6Loopback()) GTEST_SKIP() << "no ::1 on this machine's loopback";
    hosts_.Set("node6.test", "::1");
    Start("[XNET]\nACCEPT=XNET\n" + GetParam().keys + "\n[XNET.PORT]\nA=1," + std::to_string(localA_) + "," +
          std::to_string(node6_.Port()) + "," + GetParam().host + "\nB=2," + std::to_string(localB_) + "," +
          std::to_string(node4_.Port()) + ",127.0.0.2\n");
    Connect();
    ASSERT_TRUE(RunUntil(loop_, [&] { return Logged("<Create> IPv6 UDP Listener Port(" + std::to_string(localA_) + ") Created"); }));
  }
  uint16_t localA_ = FreeUdpPort(), localB_ = FreeUdpPort();
  UdpPeer node6_{0, "::1"}, moved_{0, "::1"}, node4_{0, "127.0.0.2"}, stranger_{0, "127.0.0.4"};
};

TEST_P(IPv6Bridge, FramesGoBothWaysAndAreJudgedAsIPv4Ones) {
  const bool symmetric = GetParam().keys.find("SYMMETRIC") != std::string::npos;
  const std::string frame = Ax25Frame("CQ", 0, "N0CALL", 1, 0x03, "six");
  for (int port : {1, 2}) Hear(port, frame);
  uint16_t from = 0;
  EXPECT_EQ(AtNode(node6_, &from), WithFcs(frame));
  EXPECT_EQ(from == localA_, symmetric) << from;
  EXPECT_EQ(AtNode(node4_), WithFcs(frame));
  if (GetParam().host != "node6.test") {
    EXPECT_TRUE(Logged("<AXIP> Sending Frame Len(" + std::to_string(frame.size() + 2) + ") to ([::1]:" +
                       std::to_string(node6_.Port()) + ")"));
  }

  const std::string up = Ax25Frame("N0CALL", 1, "XNODE", 0, 0x00, "up");
  stranger_.SendTo(localA_, WithFcs(up));
  moved_.SendTo(localA_, WithFcs(up));
  ASSERT_TRUE(WaitTransmitted(1));
  ASSERT_TRUE(RunUntil(loop_, [&] { return LoggedStart("<AXIP> OnDataAvailable: Frame from (127.0.0.4:"); }));
  EXPECT_TRUE(Logged("<AXIP> OnDataAvailable: Frame from ([::1]:" + std::to_string(moved_.Port()) + ") Len(" +
                     std::to_string(up.size() + 2) + ")"));
  EXPECT_EQ(Transmitted(), Lines{"1:" + std::string(1, '\0') + up});
  if (GetParam().keys.find("FOLLOW") == std::string::npos) return;
  EXPECT_TRUE(Logged("<AXIP> Node for A now at [::1]:" + std::to_string(moved_.Port())));
  Hear(1, frame);
  EXPECT_EQ(AtNode(moved_, &from), WithFcs(frame));
  EXPECT_EQ(from == localA_, symmetric);
}

INSTANTIATE_TEST_SUITE_P(Hosts, IPv6Bridge,
                         ::testing::Values(V6Case{"::1", ""}, V6Case{"[::1]", "SYMMETRIC=on"},
                                           V6Case{"node6.test", "KEEPSOCKET=on"},
                                           V6Case{"::1", "FOLLOW=on\nSYMMETRIC=on"}, V6Case{"[::1]", "FOLLOW=on"}));

// A node's name that loses its IPv4 address: the link moves to the IPv6
// one, the listener starts hearing IPv6, and a name that then fails keeps
// the last good answer.
TEST_F(BridgeFixture, ANodeNameWithoutIPv4MovesTheLinkToIPv6) {
  if (!HasIPv6Loopback()) GTEST_SKIP() << "no ::1 on this machine's loopback";
  UdpPeer node4{0, "127.0.0.2"};
  UdpPeer node6{node4.Port(), "::1"};
  const uint16_t local = FreeUdpPort();
  const std::string listener6 = "<Create> IPv6 UDP Listener Port(" + std::to_string(local) + ") Created";
  hosts_.Set("node.test", "127.0.0.2");
  Start("[XNET]\nACCEPT=XNET\n[XNET.PORT]\nA=1," + std::to_string(local) + "," + std::to_string(node4.Port()) +
        ",node.test\n");
  Connect();
  ASSERT_TRUE(RunUntil(loop_, [&] { return Logged("<AXIP> Host(node.test) resolved to (127.0.0.2)"); }));
  const std::string frame = Ax25Frame("CQ", 0, "N0CALL", 1, 0x03, "moving");
  const struct {
    std::string answer, logged;
    const UdpPeer* at;
  } steps[] = {
      {"127.0.0.2", "", &node4},
      {"::1", "<AXIP> Host(node.test) resolved to (::1)", &node6},
      {"", "<AXIP> Host(node.test) not resolved, Error(11001), keeping (::1)", &node6},
  };
  for (const auto& step : steps) {
    hosts_.Set("node.test", step.answer);
    if (!step.logged.empty()) {
      Advance(THostNames::kRefreshMs);
      ASSERT_TRUE(RunUntil(loop_, [&] { return Logged(step.logged); })) << step.logged;
    }
    EXPECT_EQ(Logged(listener6), step.at == &node6);
    Hear(1, frame);
    EXPECT_EQ(AtNode(*step.at), WithFcs(frame)) << step.answer;
  }
  EXPECT_EQ(node4.Receive(0), "<none>");
  const std::string up = Ax25Frame("N0CALL", 1, "XNODE", 0, 0x00, "up");
  node6.SendTo(local, WithFcs(up));
  ASSERT_TRUE(WaitTransmitted(1));
  EXPECT_EQ(Count(listener6), 1u);
}

}  // namespace
}  // namespace ovlar
