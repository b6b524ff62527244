// The counters against what the peers really got: every forwarded frame
// reached its peer, every frame that did not is a drop with its reason.
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/wait.h>

#include "BridgeFixture.h"

namespace ovlar {
namespace {

using namespace test;

struct CountCase {
  const char* name;
  int mode;
  bool keep;
};

class CountingBridge : public BridgeFixture, public ::testing::WithParamInterface<CountCase> {
 protected:
  void SetUp() override {
    local_ = FreeUdpPort();
    const std::string keep = GetParam().keep ? "KEEPSOCKET=yes\n" : "";
    // DIRECT sends to its own port, so its datagrams come back to its own
    // listener: the engine gets each heard frame once more.
    const std::string xnet = GetParam().mode == kModeMap
                                 ? "[XNET]\n" + keep + "[XNET.PORT]\nA=1," + std::to_string(local_) + "," +
                                       std::to_string(node_.Port()) + "\n"
                                 : "[AGW]\nDEFPORT=1\n[XNET]\n" + keep + "PORT=" + std::to_string(local_) + "\n";
    Start("[OVLAR]\nTRACE=1\nMODE=" + std::to_string(GetParam().mode) + "\n" + xnet);
    Connect();
  }
  uint16_t local_ = 0;
  UdpPeer node_;
};

TEST_P(CountingBridge, ForwardedIsWhatThePeersGot) {
  const std::string heard = Ax25Frame("CQ", 0, "N0CALL", 1, 0x03, "heard");
  for (int i = 0; i < 3; ++i) Hear(1, heard);
  const bool looped = GetParam().mode != kModeMap;
  if (!looped) {
    for (int i = 0; i < 3; ++i) {
      ASSERT_TRUE(RunUntil(loop_, [&] { return WaitReadable(node_.Fd(), 0); }));
      EXPECT_EQ(node_.Receive(0), WithFcs(heard));
    }
  }
  UdpPeer sender;
  for (int i = 0; i < 2; ++i) sender.SendTo(local_, WithFcs(Ax25Frame("N0CALL", 1, "XNODE", 0, 0x00, "down")));
  const size_t atEngine = looped ? 5 : 2;
  ASSERT_TRUE(WaitTransmitted(atEngine));
  Settle(loop_);
  const TCounters& c = form_->Counters();
  EXPECT_EQ(c.RadioToIp.Forwarded, 3u);
  EXPECT_EQ(c.RadioToIp.Bytes, 3 * (heard.size() + 2));
  EXPECT_EQ(c.IpToRadio.Forwarded, Transmitted().size());
  EXPECT_EQ(c.RadioToIp.Dropped() + c.IpToRadio.Dropped(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Modes, CountingBridge,
                         ::testing::Values(CountCase{"Map", kModeMap, false}, CountCase{"MapKept", kModeMap, true},
                                           CountCase{"Direct", kModeDirect, false},
                                           CountCase{"DirectKept", kModeDirect, true}),
                         [](const auto& info) { return std::string(info.param.name); });

class EngineLimits : public BridgeFixture {
 protected:
  void StartMap(const std::string& ports) {
    local1_ = FreeUdpPort();
    local2_ = FreeUdpPort();
    Start("[OVLAR]\nTRACE=1\nMODE=2\n[XNET.PORT]\nA=1," + std::to_string(local1_) + "," +
          std::to_string(node_.Port()) + "\nB=2," + std::to_string(local2_) + "," + std::to_string(node_.Port()) + "\n");
    Connect(ports);
  }
  // Sends datagrams to a listener and waits until the bridge has read them.
  void FromNode(uint16_t port, const std::string& frame, int n) {
    const std::string line = "<AXIP> OnDataAvailable: Error(0) Listener(" + std::to_string(port) + ")";
    const size_t before = Count(line);
    for (int i = 0; i < n; ++i) sender_.SendTo(port, WithFcs(frame));
    ASSERT_TRUE(RunUntil(loop_, [&] { return Count(line) == before + static_cast<size_t>(n); }));
  }
  UdpPeer node_, sender_;
  uint16_t local1_ = 0, local2_ = 0;
};

// The engine listed one port; the table names a second one.
TEST_F(EngineLimits, APortTheEngineDoesNotHaveIsADrop) {
  StartMap("1;Port1;");
  const std::string frame = Ax25Frame("N0CALL", 1, "XNODE", 0, 0x00, "for port 2");
  FromNode(local2_, frame, 2);
  FromNode(local1_, frame, 1);
  ASSERT_TRUE(WaitTransmitted(1));
  EXPECT_EQ(Transmitted(), Lines{"1:" + std::string(1, '\0') + frame});
  const TDirection& d = form_->Counters().IpToRadio;
  EXPECT_EQ(d.Forwarded, 1u);
  EXPECT_EQ(d.Drops[static_cast<size_t>(TDrop::NoEnginePort)], 2u);
  EXPECT_EQ(Count("<AXIP> OnDataAvailable: Port(2) not at the AGWPE engine, frames for it discarded"), 1u);
}

// An engine that stops reading: what its link refuses is a drop, logged
// at most once a second; what was counted is what it finally reads.
TEST_F(EngineLimits, AFullEngineLinkIsADropAndCountsStayTrue) {
  StartMap("2;Port1;Port2;");
  const int engine = form_->L2()->ClientSocket().Socket().SocketHandle();
  int buffer = 4096;
  setsockopt(engine, SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer);
  agw_.PauseReading();
  const std::string frame = Ax25Frame("N0CALL", 1, "XNODE", 0, 0x00, std::string(5037, 'f'));
  const std::string full = "<AXIP> OnDataAvailable: AGWPE link full, frames discarded";
  int sent = 0;
  while (Count(full) == 0 && sent < 4000) {
    FromNode(local1_, frame, 20);
    sent += 20;
  }
  ASSERT_EQ(Count(full), 1u) << "the link never filled after " << sent << " datagrams";
  FromNode(local1_, frame, 20);
  EXPECT_EQ(Count(full), 1u) << "once a second at most";
  sent += 20;
  // The receiving kernel may make a little room meanwhile, so the second
  // line comes with the first datagram refused after the second has passed.
  Advance(1000);
  for (int extra = 0; Count(full) == 1 && extra < 2000; extra += 20) {
    FromNode(local1_, frame, 20);
    sent += 20;
  }
  EXPECT_EQ(Count(full), 2u);

  const TDirection& d = form_->Counters().IpToRadio;
  EXPECT_EQ(d.Forwarded + d.Drops[static_cast<size_t>(TDrop::EngineFull)], static_cast<uint64_t>(sent));
  EXPECT_GT(d.Drops[static_cast<size_t>(TDrop::EngineFull)], 0u);
  buffer = 212992;
  setsockopt(engine, SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer);
  agw_.ResumeReading();
  ASSERT_TRUE(WaitTransmitted(d.Forwarded)) << Transmitted().size() << " of " << d.Forwarded;
  Settle(loop_);
  EXPECT_EQ(Transmitted().size(), d.Forwarded);
  for (const std::string& t : Transmitted()) ASSERT_EQ(t, "1:" + std::string(1, '\0') + frame);
}

// Brings up the loopback interface of the network namespace this process is in.
bool LoopbackUp() {
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  ifreq ifr{};
  std::snprintf(ifr.ifr_name, IFNAMSIZ, "lo");
  bool ok = ioctl(fd, SIOCGIFFLAGS, &ifr) == 0;
  ifr.ifr_flags = static_cast<short>(ifr.ifr_flags | IFF_UP);
  ok = ok && ioctl(fd, SIOCSIFFLAGS, &ifr) == 0;
  close(fd);
  return ok;
}

// In a network namespace with loopback only, the node's address has no
// route: every datagram is a drop, "send failed", in both UDP paths. Runs
// in a child process, which alone enters the namespace; its exit status
// says what failed.
int SendFailureIn(bool keep) {
  ScratchDir dir;
  ManualClock clock;
  EventLoop loop{&clock};
  FakeDesktop desktop;
  AgwServer agw{loop};
  WriteFile("OVLAR.ICO", std::string("\0\0\1\0icon", 8));
  WriteFile("OVLAR.INI", std::string("[OVLAR]\nTRACE=1\nMODE=2\n[AGW]\nPORT=") + std::to_string(agw.Port()) +
                             "\n[XNET]\nADDRESS=192.0.2.1\n" + (keep ? "KEEPSOCKET=yes\n" : "") +
                             "[XNET.PORT]\nA=1," + std::to_string(FreeUdpPort()) + ",93\n");
  TForm1 form(loop, desktop);
  form.FormCreate();
  if (!RunUntil(loop, [&] { return agw.Kinds().rfind("GRk", 0) == 0; })) return 2;
  agw.Send(0, 'G', "1;Port1;");
  if (!RunUntil(loop, [&] { return form.Ready(); })) return 3;
  for (int i = 0; i < 3; ++i) agw.Send(0, 'K', std::string(1, '\0') + Ax25Frame("CQ", 0, "N0CALL", 0, 0x03, "x"));
  const TDirection& d = form.Counters().RadioToIp;
  if (!RunUntil(loop, [&] { return d.Drops[static_cast<size_t>(TDrop::SendFailed)] == 3; })) return 4;
  if (d.Forwarded != 0) return 5;
  const Lines log = LogTexts("OVLAR.LOG");
  return std::count(log.begin(), log.end(), "<AXIP> OnOutError: Network is unreachable (10051)") == 3 ? 0 : 6;
}

TEST(SendFailure, ADatagramWithoutARouteIsADropInBothPaths) {
  for (bool keep : {false, true}) {
    const pid_t child = fork();
    if (child == 0) {
      if (unshare(CLONE_NEWNET) != 0 || !LoopbackUp()) _exit(77);
      _exit(SendFailureIn(keep));
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "needs root for a network namespace of its own";
    EXPECT_EQ(WEXITSTATUS(status), 0) << (keep ? "KEEPSOCKET" : "a socket per datagram");
  }
}

}  // namespace
}  // namespace ovlar
