// The AGWPE client against a real AGW engine: two direwolf modems on a
// simulated channel, one serving the client under test, the other a
// station on the air.
#include <gtest/gtest.h>

#include <string>

#include "AgwServer.h"
#include "DirewolfPair.h"
#include "SocketTestUtil.h"
#include "agwpe/AGWL2.h"

namespace ovlar {
namespace {

using test::AgwClient;
using test::RunUntil;

// An AX.25 address: six characters shifted left, then the SSID byte.
std::string Address(const std::string& call, int ssid, bool last) {
  std::string a;
  for (size_t i = 0; i < 6; ++i) a += static_cast<char>((i < call.size() ? call[i] : ' ') << 1);
  return a + static_cast<char>(0x60 | (ssid << 1) | (last ? 1 : 0));
}

std::string UiFrame(const std::string& info) {
  return Address("APZOVL", 0, false) + Address("N0CALL", 2, true) + "\x03\xCF" + info;
}

class DirewolfTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test::HaveProgram("direwolf")) GTEST_SKIP() << "direwolf is not installed";
    ASSERT_TRUE(pair_.Start()) << pair_.Log("a") << pair_.Log("b");
    l2_.SetCallSign("OVLAR-0");
    l2_.SetAddress("127.0.0.1");
    l2_.SetTCPPort(pair_.PortA());
    l2_.RawMonitor = true;
    // Monitor frames too, so that every kind the engine sends meets the cutter.
    l2_.SetMonitor("UISC");
    l2_.FOnKiss = [this](TL2*, uint8_t port, const std::string& data) {
      heard_ = data;
      heardPort_ = port;
    };
    l2_.FOnPort = [this](TL2*) { ++ports_; };
    l2_.FOnAGWDown = [this](TL2*) { ++downs_; };
  }
  // A frame from the station on B crosses the air and reaches the client.
  void ExpectHeard(AgwClient& station, const std::string& info) {
    heard_.clear();
    const std::string frame = UiFrame(info);
    station.Send(0, 'K', std::string(1, '\0') + frame);
    ASSERT_TRUE(RunUntil(loop_, [&] { return !heard_.empty(); }, 30000)) << pair_.Log("a");
    EXPECT_EQ(heard_, std::string(1, '\0') + frame);
    EXPECT_EQ(heardPort_, 1);
  }

  test::DirewolfPair pair_;
  EventLoop loop_;
  TL2 l2_{loop_};
  std::string heard_;
  int heardPort_ = 0;
  int ports_ = 0;
  int downs_ = 0;
};

TEST_F(DirewolfTest, PortsVersionRawFramesBothWaysAndReconnect) {
  l2_.Open();
  ASSERT_TRUE(RunUntil(loop_, [&] { return ports_ == 1 && l2_.VersionMajor() != 0; }));
  EXPECT_EQ(l2_.PortCount(), 1);
  EXPECT_EQ(l2_.Ports(1).Description, "Port1 first soundcard mono");
  EXPECT_EQ(l2_.VersionMajor(), 2005);
  EXPECT_EQ(l2_.VersionMinor(), 127);

  AgwClient station(pair_.PortB());
  ASSERT_TRUE(station.Connected());
  station.Send(0, 'k');
  ExpectHeard(station, "from the air");

  const std::string frame = UiFrame("to the air");
  l2_.SendKiss(1, std::string(1, '\0') + frame);
  const test::AgwFrame got = station.WaitFor('K', 30000);
  EXPECT_EQ(got.data, std::string(1, '\0') + frame) << pair_.Log("b");

  EXPECT_EQ(downs_, 0) << "nothing the engine sent was taken for a broken stream";
  pair_.StopA();
  ASSERT_TRUE(RunUntil(loop_, [&] { return downs_ == 1; }));
  ASSERT_TRUE(pair_.StartA());
  l2_.Open();
  ASSERT_TRUE(RunUntil(loop_, [&] { return ports_ == 2; }));
  ExpectHeard(station, "again");
}

}  // namespace
}  // namespace ovlar
