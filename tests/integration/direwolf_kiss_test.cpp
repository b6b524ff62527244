// The KISS engine against a real KISS TNC: two direwolf modems on a
// simulated channel, one serving its KISS TCP port to the bridge, the other
// a station on the air.
#include <gtest/gtest.h>

#include <string>

#include "AgwServer.h"
#include "BridgeFixture.h"
#include "DirewolfPair.h"

namespace ovlar {
namespace {

using namespace test;
using namespace std::string_literals;

class DirewolfKiss : public BridgeFixture {
 protected:
  void SetUp() override {
    if (!HaveProgram("direwolf")) GTEST_SKIP() << "direwolf is not installed";
    ASSERT_TRUE(pair_.Start()) << pair_.Log("a") << pair_.Log("b");
    local_ = FreeUdpPort();
    Start("[OVLAR]\nENGINE=KISS\nMODE=2\n[KISS]\nPORT=" + std::to_string(pair_.KissPortA()) + "\n[XNET.PORT]\nA=1," +
          std::to_string(local_) + "," + std::to_string(node_.Port()) + "\n");
    ASSERT_TRUE(RunUntil(loop_, [&] { return form_->Ready(); }, 30000)) << pair_.Log("a");
  }
  // A frame from the station crosses the air, then the KISS link, and
  // reaches the node.
  void ExpectAtNode(AgwClient& station, const std::string& frame) {
    station.Send(0, 'K', std::string(1, '\0') + frame);
    EXPECT_EQ(AtNode(node_), WithFcs(frame)) << pair_.Log("a");
  }

  DirewolfPair pair_{true};
  UdpPeer node_, sender_;
  uint16_t local_ = 0;
};

TEST_F(DirewolfKiss, FromTheAirToTheNodeFromTheNodeOnTheAirAndATncRestart) {
  AgwClient station(pair_.PortB());
  ASSERT_TRUE(station.Connected());
  station.Send(0, 'k');
  // Bytes that KISS escapes, both ways.
  ExpectAtNode(station, Ax25Frame("CQ", 0, "N0CALL", 2, 0x03, "from the air \xC0\xDB"s));

  const std::string sent = Ax25Frame("N0CALL", 2, "XNODE", 0, 0x03, "to the air \xDB\xC0"s);
  sender_.SendTo(local_, WithFcs(sent));
  ASSERT_TRUE(RunUntil(loop_, [&] { return form_->Counters().IpToRadio.Forwarded == 1; }));
  EXPECT_EQ(station.WaitFor('K', 30000).data, std::string(1, '\0') + sent) << pair_.Log("a");

  pair_.StopA();
  ASSERT_TRUE(RunUntil(loop_, [&] { return !form_->Ready(); }));
  EXPECT_TRUE(Logged("<L2> Event <OnAGWDown> AGWPE(OVLAR-0)"));
  ASSERT_TRUE(pair_.StartA()) << pair_.Log("a");
  Advance(60000);
  ASSERT_TRUE(RunUntil(loop_, [&] { return form_->Ready(); }, 30000)) << pair_.Log("a");
  ExpectAtNode(station, Ax25Frame("CQ", 0, "N0CALL", 2, 0x03, "again"));
}

}  // namespace
}  // namespace ovlar
