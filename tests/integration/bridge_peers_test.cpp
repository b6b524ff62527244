// Ovlar as a user runs it, first against the scripted AGWPE, then between
// real peers: two direwolf modems on a simulated channel as the radio side
// and ax25ipd as the XNet node.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "AgwServer.h"
#include "AxipNode.h"
#include "BridgeFixture.h"
#include "OvlarProcess.h"

namespace ovlar {
namespace {

using namespace test;

TEST(Program, ForwardsBothWaysAndStopsOnSigterm) {
  EventLoop loop;
  AgwServer agw(loop);
  UdpPeer node;
  const uint16_t local = FreeUdpPort();
  OvlarProcess ovlar;
  ASSERT_TRUE(ovlar.Start("[OVLAR]\nTRACE=3\n[AGW]\nPORT=" + std::to_string(agw.Port()) + "\n[XNET.PORT]\nP=1," +
                          std::to_string(local) + "," + std::to_string(node.Port()) + "\n"));
  ASSERT_TRUE(RunUntil(loop, [&] { return agw.Kinds() == "GRk"; }));
  agw.Send(0, 'G', "1;Port1;");
  ASSERT_TRUE(RunUntil(loop, [&] { return ovlar.Logged("<L2> Event <OnPort> AGWPE(OVLAR-0)"); }));

  const std::string heard = Ax25Frame("CQ", 0, "N0CALL", 1, 0x03, "over the air");
  agw.Send(0, 'K', std::string(1, '\0') + heard);
  EXPECT_EQ(node.Receive(), WithFcs(heard));

  agw.Frames().clear();
  const std::string sent = Ax25Frame("N0CALL", 1, "XNODE", 0, 0x00, "from the node");
  node.SendTo(local, WithFcs(sent));
  ASSERT_TRUE(RunUntil(loop, [&] { return agw.Kinds().find('K') != std::string::npos; }));
  EXPECT_EQ(agw.Frames().back().data, std::string(1, '\0') + sent);

  EXPECT_EQ(ovlar.Stop(SIGTERM), 0);
  EXPECT_TRUE(ovlar.Logged("Destroy: ShutDown Completed"));
}

// The radio side and the node, wired to a bridge that the test starts.
class RealPeers : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* p : {"direwolf", "ax25ipd", "socat"}) {
      if (!HaveProgram(p)) GTEST_SKIP() << p << " is not installed";
    }
    ASSERT_TRUE(radio_.Start()) << radio_.Log("a");
  }
  // Waits until the bridge has the port list and the station on B is ready.
  void Connect(OvlarProcess& ovlar) {
    ASSERT_TRUE(ovlar.WaitLogged("<L2> Event <OnPort> AGWPE(OVLAR-0)")) << ovlar.Log();
    station_ = std::make_unique<AgwClient>(radio_.PortB());
    ASSERT_TRUE(station_->Connected());
    station_->Send(0, 'k');
  }
  // A frame from the station on the air reaches the node unchanged; one
  // from the node is transmitted and heard by the station.
  void ForwardBothWays(AxipNode& node, const std::string& fromNodeTo) {
    const std::string heard = Ax25Frame("APZOVL", 0, "N0CALL", 2, 0x03, "air to node");
    station_->Send(0, 'K', std::string(1, '\0') + heard);
    EXPECT_EQ(node.ReadKiss(30000), KissEncode(heard)) << node.Log();

    const std::string sent = Ax25Frame(fromNodeTo, 0, "XNODE", 0, 0x00, "node to air");
    node.Transmit(sent);
    const AgwFrame got = station_->WaitFor('K', 30000);
    EXPECT_EQ(got.data, std::string(1, '\0') + sent) << radio_.Log("a");
  }

  // ax25ipd as the node and the bridge in MAP mode towards it, with the
  // [XNET] keys given, linked and ready.
  void StartMapLink(const std::string& xnetKeys) {
    node_ = std::make_unique<AxipNode>(nodePort_, "127.0.0.1", local_);
    ASSERT_TRUE(node_->Ok());
    ovlar_ = std::make_unique<OvlarProcess>();
    ASSERT_TRUE(ovlar_->Start("[OVLAR]\nTRACE=3\n[AGW]\nPORT=" + std::to_string(radio_.PortA()) +
                              "\n[XNET]\nADDRESS=127.0.0.1\n" + xnetKeys + "[XNET.PORT]\nP=1," +
                              std::to_string(local_) + "," + std::to_string(nodePort_) + "\n"));
    Connect(*ovlar_);
  }

  DirewolfPair radio_;
  std::unique_ptr<AgwClient> station_;
  const uint16_t nodePort_ = FreeUdpPort();
  const uint16_t local_ = FreeUdpPort();
  // The bridge goes before the node, as a test's own locals would.
  std::unique_ptr<AxipNode> node_;
  std::unique_ptr<OvlarProcess> ovlar_;
};

TEST_F(RealPeers, MapMode) {
  ASSERT_NO_FATAL_FAILURE(StartMapLink(""));
  OvlarProcess& ovlar = *ovlar_;
  ForwardBothWays(*node_, "N0CALL");

  // A datagram with a bad FCS is refused: nothing reaches the air.
  UdpPeer spoiler;
  std::string bad = WithFcs(Ax25Frame("N0CALL", 2, "BAD", 0, 0x00, "spoilt"));
  bad.back() = static_cast<char>(bad.back() ^ 0x01);
  spoiler.SendTo(local_, bad);
  ASSERT_TRUE(ovlar.WaitLogged(") is wrong"));
  EXPECT_EQ(station_->WaitFor('K', 2000).kind, 0);
  EXPECT_EQ(ovlar.Stop(SIGINT), 0);
}

// ax25ipd sends from the port it listens on; with SYMMETRIC the bridge
// does too, so each side's one port is both ends of the link.
TEST_F(RealPeers, MapModeWithSymmetricPorts) {
  ASSERT_NO_FATAL_FAILURE(StartMapLink("SYMMETRIC=YES\nACCEPT=XNET\n"));
  ForwardBothWays(*node_, "N0CALL");
  EXPECT_EQ(ovlar_->Stop(SIGTERM), 0);
}

TEST_F(RealPeers, CacheModeWithAStaticRouteAndTheNodeOnAnotherHost) {
  if (!NodeNamespace::Possible()) GTEST_SKIP() << "needs root and ip to give the node a host of its own";
  NodeNamespace host;
  ASSERT_TRUE(host.Ok());
  const uint16_t port = FreeUdpPort();
  AxipNode node(port, NodeNamespace::kHostAddress, port, NodeNamespace::kName);
  ASSERT_TRUE(node.Ok());
  OvlarProcess ovlar;
  ASSERT_TRUE(ovlar.Start("[OVLAR]\nTRACE=4\nMODE=1\n[AGW]\nPORT=" + std::to_string(radio_.PortA()) +
                          "\nDEFPORT=1\n[XNET]\nADDRESS=" + NodeNamespace::kNodeAddress + "\nPORT=" +
                          std::to_string(port) + "\nRADIOPORT=1\nCHANNELS=1\n[ROUTES]\nROUTED=1\n"));
  Connect(ovlar);
  ForwardBothWays(node, "ROUTED");
  EXPECT_TRUE(ovlar.Logged("<L2> GetCache: Hit with Call(ROUTED) Port(1)"));
  EXPECT_EQ(ovlar.Stop(SIGTERM), 0);
}

}  // namespace
}  // namespace ovlar
