#include <string>

#include "BridgeFixture.h"
#include "KissTnc.h"
#include "bridge/Monitor.h"

namespace ovlar {
namespace {

using namespace test;
using namespace std::string_literals;

// A frame whose bytes need escaping on the KISS line, both kinds of them.
const std::string kAwkward = Ax25Frame("N0CALL", 0, "XNODE", 0, 0x00, "a\xC0" "b\xDB" "c\xC0\xDB\xDC\xDD"s);
const std::string kData(1, '\0');

class KissBridge : public BridgeFixture {
 protected:
  void StartKiss(const std::string& ini) {
    Start("[OVLAR]\nENGINE=KISS\n[KISS]\nADDRESS=127.0.0.1\nPORT=" + std::to_string(tnc_.Port()) + "\n" + ini);
  }
  void Up() { ASSERT_TRUE(RunUntil(loop_, [&] { return tnc_.Connected() && form_->Ready(); })); }
  uint64_t RadioDrops(TDrop why) const { return form_->Counters().RadioToIp.Drops[static_cast<size_t>(why)]; }
  std::string Tnc() const { return "TNC(127.0.0.1:" + std::to_string(tnc_.Port()) + ")"; }

  KissTnc tnc_{loop_};
};

// Two KISS ports, each to an entry of its own; a third entry for a radio
// port the TNC does not have.
class KissMap : public KissBridge {
 protected:
  void SetUp() override {
    for (uint16_t& port : local_) port = FreeUdpPort();
    StartKiss("PORTS=2\n[OVLAR]\nMODE=2\n[XNET]\nADDRESS=127.0.0.1\n[XNET.PORT]\nA=1," + Entry(0, nodeA_) + "\nB=2," +
              Entry(1, nodeB_) + "\nC=3," + Entry(2, nodeC_) + "\n");
    Up();
  }
  std::string Entry(int i, const UdpPeer& node) const {
    return std::to_string(local_[i]) + "," + std::to_string(node.Port());
  }
  // A datagram from the node to an entry's listener, then what the TNC got.
  void FromNode(int entry, const std::string& frame) {
    const size_t before = form_->Counters().IpToRadio.Forwarded + form_->Counters().IpToRadio.Dropped();
    sender_.SendTo(local_[entry], WithFcs(frame));
    ASSERT_TRUE(RunUntil(loop_, [&] {
      return form_->Counters().IpToRadio.Forwarded + form_->Counters().IpToRadio.Dropped() > before;
    }));
  }
  UdpPeer nodeA_, nodeB_, nodeC_, sender_;
  uint16_t local_[3] = {};
};

TEST_F(KissMap, EachKissPortToItsOwnEntryWithEscapesBothWays) {
  EXPECT_TRUE(Logged("  KISS"));
  EXPECT_TRUE(Logged("      ADDRESS:     127.0.0.1"));
  EXPECT_TRUE(Logged("      PORTS:       2"));
  EXPECT_FALSE(Logged("  AGWPE"));
  EXPECT_TRUE(Logged("{KISS} Connected with " + Tnc() + " Ports(2)"));
  EXPECT_EQ(desktop_.Current(), TrayIcon::XOn);

  const std::string other = Ax25Frame("CQ", 0, "N1CALL", 2, 0x03, "\xDB\xDD\xC0\xDC"s);
  tnc_.Data(0, kAwkward);
  tnc_.Data(1, other);
  EXPECT_EQ(AtNode(nodeA_), WithFcs(kAwkward));
  EXPECT_EQ(AtNode(nodeB_), WithFcs(other));
  EXPECT_TRUE(Logged(MonitorLine("R>I", 1, kAwkward)));
  EXPECT_TRUE(Logged(MonitorLine("R>I", 2, other)));

  FromNode(0, other);
  FromNode(1, kAwkward);
  const Lines frames{kData + other, "\x10"s + kAwkward};
  ASSERT_TRUE(RunUntil(loop_, [&] { return tnc_.Frames().size() == 2; }));
  EXPECT_EQ(tnc_.Frames(), frames);
  EXPECT_EQ(tnc_.Bytes(), KissEncode(frames[0]) + KissEncode(frames[1]));
  EXPECT_TRUE(Logged(MonitorLine("I>R", 2, kAwkward)));

  FromNode(2, other);
  EXPECT_TRUE(Logged("<AXIP> OnDataAvailable: Port(3) not at the KISS engine, frames for it discarded"));
  const TCounters& c = form_->Counters();
  EXPECT_EQ(c.IpToRadio.Drops[static_cast<size_t>(TDrop::NoEnginePort)], 1u);
  EXPECT_EQ(c.RadioToIp.Forwarded, 2u);
  EXPECT_EQ(c.IpToRadio.Forwarded, 2u);
  EXPECT_EQ(nodeC_.Receive(0), "<none>");
}

TEST_F(KissMap, WhatIsNoDataFrameForAPortIsDroppedWithALineAndCounted) {
  const std::string after = Ax25Frame("CQ", 0, "N0CALL", 1, 0x03, "after");
  struct Case {
    const char* what;
    std::string bytes;
    std::string line;
    TDrop counted;
  };
  // Bytes outside a frame exist only before the first FEND: that case first.
  const Case cases[] = {
      {"bytes before the first FEND", "junk"s, "{KISS} Dropped bytes outside a frame (4 bytes)", TDrop::BadLength},
      {"a command", "\xC0\x01\x19\xC0"s, "{KISS} Dropped command 1 on KISS port 0: only data frames are forwarded",
       TDrop::NotMapped},
      {"a command on another port", "\xC0\x16\xC0"s,
       "{KISS} Dropped command 6 on KISS port 1: only data frames are forwarded", TDrop::NotMapped},
      {"a data frame above PORTS", "\xC0\x20"s + after + "\xC0",
       "{KISS} Dropped data frame on KISS port 2: the TNC has 2 port(s) in the settings", TDrop::NotMapped},
      {"a data frame with nothing in it", "\xC0\x00\xC0"s, "{KISS} Dropped empty data frame on KISS port 0",
       TDrop::BadLength},
      {"an escape of another byte", "\xC0\x00" "ab\xDBxc\xC0"s,
       "{KISS} Dropped frame with a bad escape (5 bytes), FESC followed by 78", TDrop::BadLength},
      {"longer than a datagram holds", "\xC0\x00"s + std::string(5100, 'x') + "\xC0",
       "{KISS} Dropped frame too long (5101 bytes)", TDrop::BadLength},
  };
  for (const Case& c : cases) {
    const uint64_t before = RadioDrops(c.counted);
    tnc_.SendRaw(c.bytes);
    tnc_.Data(0, after);
    EXPECT_EQ(AtNode(nodeA_), WithFcs(after)) << c.what;
    EXPECT_TRUE(Logged(c.line)) << c.what;
    EXPECT_EQ(RadioDrops(c.counted), before + 1) << c.what;
  }
  EXPECT_EQ(form_->Counters().RadioToIp.Dropped(), std::size(cases)) << "FEND FEND between frames is no frame";
  // The longest frame a datagram holds still goes.
  const std::string longest = std::string(5099, 'y');
  tnc_.Data(0, longest);
  EXPECT_EQ(AtNode(nodeA_), WithFcs(longest));
}

TEST_F(KissMap, AFrameSplitAcrossReadsArrivesWhole) {
  for (const char byte : KissEncode(kData + kAwkward)) {
    tnc_.SendRaw(std::string(1, byte));
    Settle(loop_, 1);
  }
  EXPECT_EQ(AtNode(nodeA_), WithFcs(kAwkward));
  EXPECT_EQ(form_->Counters().RadioToIp.Dropped(), 0u);
}

TEST_F(KissMap, ABurstBeforeTheCloseIsForwardedWholeThenTheLinkComesBack) {
  std::string burst;
  const auto frame = [](int i) { return Ax25Frame("CQ", 0, "N0CALL", 1, 0x03, "burst " + std::to_string(i)); };
  for (int i = 0; i < 300; ++i) burst += KissEncode(kData + frame(i));
  tnc_.SendRaw(burst + "\xC0\x00" "cut"s);
  tnc_.Drop(false);
  for (int i = 0; i < 300; ++i) ASSERT_EQ(AtNode(nodeA_), WithFcs(frame(i))) << i;
  ASSERT_TRUE(RunUntil(loop_, [&] { return !form_->Ready(); }));
  EXPECT_TRUE(Logged("{KISS} Dropped frame cut off by the link's end (4 bytes)"));
  EXPECT_TRUE(Logged("{KISS} Disconnected from " + Tnc() + ": connection closed"));
  EXPECT_TRUE(Logged("<L2> Event <OnAGWDown> AGWPE(OVLAR-0)"));
  EXPECT_EQ(desktop_.Current(), TrayIcon::XUnknown);
  EXPECT_EQ(form_->Counters().RadioToIp.Forwarded, 300u);
  EXPECT_EQ(form_->Counters().LinkDowns, 1u);

  Advance(60000);
  Up();
  EXPECT_EQ(tnc_.Accepted(), 2);
  EXPECT_EQ(desktop_.Current(), TrayIcon::XOn);
  tnc_.Data(1, kAwkward);
  EXPECT_EQ(AtNode(nodeB_), WithFcs(kAwkward));
}

TEST_F(KissMap, AResetIsALostLinkRetriedAMinuteLater) {
  tnc_.Drop(true);
  ASSERT_TRUE(RunUntil(loop_, [&] { return !form_->Ready(); }));
  EXPECT_TRUE(Logged("<L2> Event <OnAGWError> AGWPE(OVLAR-0)"));
  EXPECT_TRUE(LoggedStart("{KISS} Disconnected from " + Tnc() + ": Connection reset by peer ("));
  Advance(59000);
  EXPECT_EQ(tnc_.Accepted(), 1);
  Advance(1000);
  Up();
  EXPECT_EQ(tnc_.Accepted(), 2);
}

// A TNC that stops reading: what its link refuses is a drop, and every
// frame counted as forwarded reaches it once it reads again.
TEST_F(KissMap, AFullTncLinkIsADropAndCountsStayTrue) {
  tnc_.PauseReading();
  const std::string frame = Ax25Frame("N0CALL", 1, "XNODE", 0, 0x00, std::string(5037, 'f'));
  const TDirection& d = form_->Counters().IpToRadio;
  for (int sent = 0; d.Drops[static_cast<size_t>(TDrop::EngineFull)] == 0 && sent < 4000; ++sent) FromNode(0, frame);
  ASSERT_TRUE(Logged("<AXIP> OnDataAvailable: KISS link full, frames discarded"));
  tnc_.ResumeReading();
  ASSERT_TRUE(RunUntil(loop_, [&] { return tnc_.Frames().size() >= d.Forwarded; }));
  Settle(loop_);
  EXPECT_EQ(tnc_.Frames().size(), d.Forwarded);
  for (const std::string& f : tnc_.Frames()) ASSERT_EQ(f, kData + frame);
}

// HOSTNAME is looked up as [AGW] HOSTNAME is; [AGW] is not read at all.
TEST_F(KissBridge, ATncByHostName) {
  hosts_.Set("tnc.test", "127.0.0.1");
  Start("[OVLAR]\nENGINE=KISS\n[KISS]\nHOSTNAME=tnc.test\nPORT=" + std::to_string(tnc_.Port()) +
        "\n[AGW]\nADDRESS=localhost\nPORT=0\n[XNET.PORT]\nA=1,0,3\n");
  Up();
  EXPECT_TRUE(Logged("{KISS} Connected with TNC(tnc.test:" + std::to_string(tnc_.Port()) + ") Ports(1)"));
  EXPECT_TRUE(Logged("      HOST:        tnc.test"));
}

TEST_F(KissBridge, CacheLearnsFromWhatTheTncHears) {
  const uint16_t port = FreeUdpPort();
  StartKiss("PORTS=2\n[OVLAR]\nMODE=1\n[XNET]\nADDRESS=127.0.0.2\nPORT=" + std::to_string(port) +
            "\nRADIOPORT=1\nCHANNELS=2\n");
  Up();
  tnc_.Data(1, Ax25Frame("N0CALL", 0, "N1CALL", 5, 0x00, "i"));
  ASSERT_TRUE(RunUntil(loop_, [&] { return form_->Cache().OfStation("N1CALL-5").size() == 1; }));
  EXPECT_EQ(form_->Cache().OfStation("N1CALL-5").front()->HeardPort, 2);
  const std::string toHeard = Ax25Frame("N1CALL", 5, "XNODE", 0, 0x00, "x");
  UdpPeer node;
  node.SendTo(port, WithFcs(toHeard));
  ASSERT_TRUE(RunUntil(loop_, [&] { return Logged("<L2> GetCache: One Hit with Call(N1CALL-5) Default Port(2)"); }));
  ASSERT_TRUE(RunUntil(loop_, [&] {
    return std::find(tnc_.Frames().begin(), tnc_.Frames().end(), "\x10"s + toHeard) != tnc_.Frames().end();
  }));
}

// USB adapters appear late: a device that cannot be opened is a link
// that is down, named with the system's reason, and retried.
TEST_F(KissBridge, ADeviceThatCannotBeOpenedIsALostLinkNotAStartUpFailure) {
  const struct {
    std::string device, reason;
  } cases[] = {
      {"missing-adapter", "open: No such file or directory (2)"},
      {"/dev/null", "tcgetattr: Inappropriate ioctl for device (25)"},
  };
  for (const auto& c : cases) {
    desktop_ = FakeDesktop{};
    Start("[OVLAR]\nENGINE=KISS\n[KISS]\nDEVICE=" + c.device + "\n[XNET.PORT]\nA=1,0,3\n");
    EXPECT_FALSE(form_->ConfigError()) << c.device;
    EXPECT_TRUE(Logged("      DEVICE:      " + c.device)) << c.device;
    EXPECT_TRUE(Logged("{KISS} No link with TNC(" + c.device + "): " + c.reason)) << c.device;
    EXPECT_TRUE(Logged("<L2> Event <OnAGWError> AGWPE(OVLAR-0)")) << c.device;
    EXPECT_TRUE(form_->RetryTimer()->Enabled()) << c.device;
    EXPECT_EQ(desktop_.Current(), TrayIcon::XUnknown) << c.device;
    Advance(60000);
    EXPECT_EQ(Count("{KISS} No link with TNC(" + c.device + "): " + c.reason), 2u) << c.device;
    form_.reset();
  }
}

TEST_F(KissBridge, SettingsTheBridgeCannotWorkWithEndStartUp) {
  const std::string kiss = "[OVLAR]\nENGINE=kiss\n[KISS]\n";
  const struct {
    std::string ini, line;
  } cases[] = {
      {"[OVLAR]\nENGINE=AGWPE", "OVLAR.INI [OVLAR] ENGINE: \"AGWPE\" is neither AGW nor KISS"},
      {kiss + "PORTS=17", "OVLAR.INI [KISS] PORTS: \"17\" is too large (at most 16)"},
      {kiss + "PORTS=0", "OVLAR.INI [KISS] PORTS: \"0\" is too small (at least 1)"},
      {kiss + "PORT=65536", "OVLAR.INI [KISS] PORT: \"65536\" is too large (at most 65535)"},
      {kiss + "ADDRESS=localhost",
       "OVLAR.INI [KISS] ADDRESS: \"localhost\" is not an IPv4 address (a host name belongs in HOSTNAME)"},
      {kiss + "DEVICE=/dev/ttyS0\nSPEED=12345",
       "OVLAR.INI [KISS] SPEED: \"12345\" is not a serial speed (300, 600, 1200, 2400, 4800, 9600, 19200, 38400, "
       "57600, 115200, 230400, 460800 or 921600)"},
      {kiss + "PORTS=2\nDEFPORT=3\n[OVLAR]\nMODE=0", "OVLAR.INI [KISS] DEFPORT: \"3\" is beyond the TNC's PORTS (2)"},
  };
  for (const auto& c : cases) {
    desktop_ = FakeDesktop{};
    Start(c.ini + "\n[XNET.PORT]\nLAST=1,0,3\n");
    EXPECT_TRUE(form_->ConfigError()) << c.ini;
    EXPECT_EQ(desktop_.Notices, Lines{"ovlar: " + c.line}) << c.ini;
    form_.reset();
  }
}

}  // namespace
}  // namespace ovlar
