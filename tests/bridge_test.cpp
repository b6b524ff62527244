#include <poll.h>
#include <sys/ioctl.h>

#include <csignal>
#include <string>

#include "BridgeFixture.h"
#include "bridge/Monitor.h"
#include "support/HexStr.h"

namespace ovlar {
namespace {

using namespace test;

// MAP mode: two entries share radio port 1, a third maps radio port 2.
class MapBridge : public BridgeFixture {
 protected:
  void SetUp() override {
    local1_ = FreeUdpPort();
    local2_ = FreeUdpPort();
    local3_ = FreeUdpPort();
    Start("[OVLAR]\nMODE=2\n[XNET]\nADDRESS=127.0.0.1\n[XNET.PORT]\nA=1," + std::to_string(local1_) + "," +
          std::to_string(nodeA_.Port()) + "\nB=1," + std::to_string(local2_) + "," + std::to_string(nodeB_.Port()) +
          "\nC=2," + std::to_string(local3_) + "," + std::to_string(nodeC_.Port()) + "\n");
  }
  UdpPeer nodeA_, nodeB_, nodeC_;
  uint16_t local1_ = 0, local2_ = 0, local3_ = 0;
};

TEST_F(MapBridge, StartUpOrderAndDesktop) {
  const std::string a = "Create: XNet Port(A) AGW(1) LocalUDP(" + std::to_string(local1_) + ") RemoteUDP(" +
                        std::to_string(nodeA_.Port()) + ")";
  EXPECT_LT(At("<Create> L2 Object Created"), At("<Create> UDP Client Created"));
  EXPECT_LT(At("<Create> UDP Client Created"), At(a));
  EXPECT_EQ(At(a) + 1, At("<Create> UDP Listener Port(" + std::to_string(local1_) + ") Created"));
  EXPECT_LT(At("<Create> UDP Listener Port(" + std::to_string(local1_) + ") Created"),
            At("Create: XNet Port(B) AGW(1) LocalUDP(" + std::to_string(local2_) + ") RemoteUDP(" +
               std::to_string(nodeB_.Port()) + ")"));
  EXPECT_FALSE(LoggedStart("Create: Exception"));
  EXPECT_EQ(desktop_.Calls, (Lines{"title Ovlar 1.00.00", "add icon Ovlar 1.00.00", "app icon 8",
                                   "caption Ovlar Version 1.00.00", "hide"}));
  EXPECT_EQ(desktop_.Current(), TrayIcon::XUnknown);
  ASSERT_EQ(desktop_.Menu.size(), 3u);
  EXPECT_EQ(desktop_.Menu[0].Caption, "About");
  EXPECT_EQ(desktop_.Menu[1].Caption, "Help");
  EXPECT_EQ(desktop_.Menu[2].Caption, "Shutdown");
  EXPECT_EQ(form_->Listener(1)->State(), wsConnected);
}

TEST_F(MapBridge, NothingIsForwardedBeforeThePortList) {
  ASSERT_TRUE(RunUntil(loop_, [&] { return agw_.Kinds() == "GRk"; }));
  Hear(1, Ax25Frame("CQ", 0, "N0CALL", 1, 0x03, "early"));
  UdpPeer sender;
  sender.SendTo(local3_, WithFcs("x"));
  ASSERT_TRUE(RunUntil(loop_, [&] {
    return Logged("<L2> OnKissBefore: L2 Object not ready, frame discarded") &&
           Logged("<AXIP> OnDataAvailable: Not Ready, Frame Discarded");
  }));
  EXPECT_EQ(nodeA_.Receive(50), "<none>");
  // The dropped datagram was read: the next one is handled normally.
  Connect();
  const std::string frame = Ax25Frame("N0CALL", 0, "XNODE", 0, 0x00, "hi");
  sender.SendTo(local3_, WithFcs(frame));
  ASSERT_TRUE(WaitTransmitted(1));
  EXPECT_EQ(Transmitted(), Lines{"2:" + std::string(1, '\0') + frame});
}

TEST_F(MapBridge, RadioToIpGoesToEveryMappedPortInTableOrder) {
  Connect();
  const std::string frame = Ax25Frame("CQ", 0, "N0CALL", 1, 0x03, "hello");
  Hear(1, frame);
  ASSERT_TRUE(RunUntil(loop_, [&] { return Logged("<AXIP> Sending MAP"); }));
  EXPECT_EQ(nodeA_.Receive(), WithFcs(frame));
  EXPECT_EQ(nodeB_.Receive(), WithFcs(frame));
  EXPECT_EQ(nodeC_.Receive(50), "<none>");
  EXPECT_LT(At("<AXIP> Sending Frame Len(" + std::to_string(frame.size() + 2) + ") to (127.0.0.1:" +
               std::to_string(nodeA_.Port()) + ")"),
            At("<AXIP> Sending Frame Len(" + std::to_string(frame.size() + 2) + ") to (127.0.0.1:" +
               std::to_string(nodeB_.Port()) + ")"));
  EXPECT_FALSE(Logged("<AXIP> Frame not delivered, destination port not mapped"));

  Hear(5, frame);
  ASSERT_TRUE(RunUntil(loop_, [&] { return Logged("<AXIP> Frame not delivered, destination port not mapped"); }));
}

TEST_F(MapBridge, IpToRadioUsesTheListenersEntry) {
  Connect();
  UdpPeer sender;
  const std::string frame = Ax25Frame("N0CALL", 0, "XNODE", 0, 0x00, std::string("bin\0ary", 7));
  sender.SendTo(local3_, WithFcs(frame));
  sender.SendTo(local1_, WithFcs(frame));
  ASSERT_TRUE(WaitTransmitted(2));
  EXPECT_EQ(Transmitted(), (Lines{"2:" + std::string(1, '\0') + frame, "1:" + std::string(1, '\0') + frame}));
  EXPECT_TRUE(Logged("<AXIP> OnDataAvailable: Error(0) Listener(" + std::to_string(local3_) + ")"));
  EXPECT_TRUE(Logged("<AXIP> OnDataAvailable: Computed CRC(F0B8) is OK"));
}

TEST_F(MapBridge, DatagramsThatFailTheCheckSendNothing) {
  Connect();
  UdpPeer sender;
  std::string swapped = WithFcs(Ax25Frame("A", 0, "B", 0, 0x00));
  std::swap(swapped[swapped.size() - 1], swapped[swapped.size() - 2]);
  sender.SendTo(local1_, swapped);
  sender.SendTo(local1_, "");
  sender.SendTo(local1_, std::string(2, '\0'));
  ASSERT_TRUE(WaitTransmitted(1));
  EXPECT_EQ(Transmitted(), Lines{"1:" + std::string(1, '\0')});
  const std::string crc = WordToHex(TCRC().ComputeCRC(swapped));
  EXPECT_TRUE(Logged("<AXIP> OnDataAvailable: Computed CRC(" + crc + ") is wrong"));
  EXPECT_TRUE(Logged("<AXIP> OnDataAvailable: Invalid Message, discarded"));
  // Longer than the receive buffer, even when its first 5,121 bytes would
  // pass the check: never cut and sent.
  sender.SendTo(local1_, WithFcs(std::string(5119, 'x')) + std::string(130, 'y'));
  sender.SendTo(local1_, std::string(5122, 'x'));
  ASSERT_TRUE(RunUntil(loop_, [&] { return Logged("<AXIP> OnDataAvailable: Datagram too long (5122), discarded"); }));
  EXPECT_TRUE(Logged("<AXIP> OnDataAvailable: Datagram too long (5251), discarded"));
  Settle(loop_);
  EXPECT_EQ(Transmitted().size(), 1u);
}

TEST_F(MapBridge, RawFramesThatCannotBeDatagramsAreRefused) {
  Connect();
  agw_.Send(0, 'K', "");
  agw_.Send(0, 'K', std::string(1, '\0') + std::string(5100, 'x'));
  agw_.Send(0, 'K', std::string(1, '\0'));
  ASSERT_TRUE(RunUntil(loop_, [&] { return Logged("<AXIP> Sending MAP"); }));
  EXPECT_TRUE(Logged("<L2> OnKissBefore: Empty frame, discarded"));
  EXPECT_TRUE(Logged("<L2> OnKissBefore: Frame too long (5100), discarded"));
  EXPECT_EQ(nodeA_.Receive(), std::string(2, '\0')) << "a lone port byte is an empty frame";
}

TEST_F(MapBridge, ActivityIcon) {
  Connect();
  EXPECT_EQ(desktop_.Current(), TrayIcon::XOn) << "the port list makes the link usable";
  Advance(1000);
  EXPECT_EQ(desktop_.Current(), TrayIcon::XOn);
  Hear(1, Ax25Frame("CQ", 0, "N0CALL", 1, 0x03));
  ASSERT_TRUE(RunUntil(loop_, [&] { return desktop_.Current() == TrayIcon::XOff; }));
  Advance(500);
  Hear(1, Ax25Frame("CQ", 0, "N0CALL", 1, 0x03));
  ASSERT_TRUE(RunUntil(loop_, [&] { return Count("<AXIP> Sending MAP") == 4; }));
  Advance(999);
  EXPECT_EQ(desktop_.Current(), TrayIcon::XOff) << "the second frame restarted the second";
  Advance(1);
  EXPECT_EQ(desktop_.Current(), TrayIcon::XOn);
  Hear(1, Ax25Frame("CQ", 0, "N0CALL", 1, 0x03));
  ASSERT_TRUE(RunUntil(loop_, [&] { return desktop_.Current() == TrayIcon::XOff; }));
  agw_.Drop();
  ASSERT_TRUE(RunUntil(loop_, [&] { return desktop_.Current() == TrayIcon::XUnknown; }));
  Advance(1000);
  EXPECT_EQ(desktop_.Current(), TrayIcon::XUnknown) << "the blink ends grey with the link down";
}

TEST_F(MapBridge, ShutdownFromTheMenu) {
  Connect();
  desktop_.Answer = MsgResult::Cancel;
  desktop_.Click("Shutdown");
  EXPECT_EQ(desktop_.Terminated, 0);
  EXPECT_TRUE(desktop_.IconPresent);
  desktop_.Answer = MsgResult::Ok;
  desktop_.Click("Shutdown");
  EXPECT_EQ(desktop_.Terminated, 1);
  EXPECT_FALSE(desktop_.IconPresent);
  EXPECT_EQ(desktop_.Calls.back(), "terminate");
  form_.reset();
  const long requested = At("Destroy: Shut-Down Requested");
  ASSERT_GE(requested, 0);
  EXPECT_EQ(Log()[static_cast<size_t>(requested) + 1].rfind("{L2} AGW Object Closed 127.0.0.1:", 0), 0u);
  EXPECT_LT(requested, At("Destroy: L2 Object Destroyed"));
  EXPECT_LT(At("Destroy: L2 Object Destroyed"), At("Destroy: UDP Client Object Destroyed"));
  EXPECT_LT(At("Destroy: UDP Client Object Destroyed"), At("Destroy: Retry-Out Timer Object Destroyed"));
  EXPECT_EQ(Log().back(), "Destroy: ShutDown Completed");
}

TEST_F(MapBridge, IconMenuAboutAndHelp) {
  ASSERT_TRUE(desktop_.OnMouse);
  desktop_.OnMouse(kLeftButtonDown);
  desktop_.OnMouse(kLeftButtonDoubleClick);
  EXPECT_EQ(desktop_.Calls.back(), "hide");
  desktop_.OnMouse(kRightButtonDown);
  EXPECT_EQ(desktop_.Calls.back(), "popup");
  desktop_.Click("About");
  ASSERT_EQ(desktop_.Abouts.size(), 1u);
  EXPECT_EQ(desktop_.Abouts[0].Caption, "AXIP-AGWPE Bridge for the AGWPE");
  EXPECT_EQ(desktop_.Abouts[0].ProductName, "Ovlar 1.00.00");
  EXPECT_EQ(desktop_.Abouts[0].Icon, std::string("\0\0\1\0icon", 8));
  EXPECT_EQ(desktop_.Abouts[0].AutoCloseMs, 0);
  desktop_.Click("Help");
  EXPECT_EQ(desktop_.Calls.back(), "open file://" + dir_.Path() + "/OVLAR.HTM");
}

// A scripted run: what was forwarded and dropped shows in the tip, the
// monitor lines and the Status lines (on SIGUSR1, hourly, at shutdown).
TEST_F(MapBridge, CountersAfterAScriptedRun) {
  Connect();
  const std::string ui = Ax25Address("CQ", 0, false) + Ax25Address("N0CALL", 1, false) +
                         std::string(Ax25Address("WIDE1", 1, true)).replace(6, 1, 1, '\xE3') + "\x03\xF0hello";
  const std::string info = Ax25Frame("N0CALL", 0, "XNODE", 0, 0x00, "hi");
  Hear(1, ui);
  Hear(5, ui);
  UdpPeer sender;
  sender.SendTo(local1_, WithFcs(info).substr(1));
  sender.SendTo(local3_, WithFcs(info));
  ASSERT_TRUE(WaitTransmitted(1));
  ASSERT_TRUE(RunUntil(loop_, [&] {
    return Count("<AXIP> Sending MAP") == 2 && Logged("<AXIP> Frame not delivered, destination port not mapped") &&
           Count("<AXIP> OnDataAvailable: Error(0) Listener(" + std::to_string(local1_) + ")") == 1;
  }));
  Settle(loop_);
  EXPECT_TRUE(Logged("<MON> R>I [1] N0CALL-1>CQ,WIDE1-1* UI len 5"));
  EXPECT_TRUE(Logged("<MON> I>R [2] XNODE>N0CALL I len 2"));
  Advance(1000);
  ASSERT_FALSE(desktop_.Tips.empty());
  EXPECT_EQ(desktop_.Tips.back(), "Ovlar 1.00.00 - R>I 2 fwd 1 drop, I>R 1 fwd 1 drop, link up 0h00m");

  form_->OnSignal(SIGUSR1);
  const std::string status = "Status: radio->IP 2 forwarded 1 dropped, IP->radio 1 forwarded 1 dropped, link up 0h00m, "
                             "1 ups 0 downs, bytes radio->IP " + std::to_string(2 * (ui.size() + 2)) + " IP->radio " +
                             std::to_string(info.size()) + ", last frame radio->IP 20";
  const auto statusLines = [&] {
    Lines found;
    for (const std::string& line : Log()) {
      if (line.rfind("Status: ", 0) == 0) found.push_back(line.rfind("Status: radio->IP 2 forwarded", 0) == 0 ? line.substr(0, status.size()) : line);
    }
    return found;
  };
  const Lines once{status, "Status: radio->IP 1 dropped, port out of range or not mapped",
                   "Status: IP->radio 1 dropped, CRC wrong"};
  EXPECT_EQ(statusLines(), once);
  Advance(3600000);
  EXPECT_EQ(statusLines().size(), 6u) << "and again an hour later";
  EXPECT_NE(statusLines()[3].find("link up 1h00m"), std::string::npos) << statusLines()[3];
  form_.reset();
  EXPECT_EQ(statusLines().size(), 9u);
  const Lines log = Log();
  const long destroy = At("Destroy: Shut-Down Requested");
  ASSERT_GE(destroy, 3);
  EXPECT_EQ(log[static_cast<size_t>(destroy) - 1], once[2]) << "the last Status lines come just before";
}

// The monitor line of each kind of frame, with and without digipeaters.
TEST(MonitorLine, FramesAsOperatorsReadThem) {
  const std::string repeated = std::string(Ax25Address("DIGI1", 0, false)).replace(6, 1, 1, '\xE0');
  const std::string two = Ax25Address("N0CALL", 0, false) + Ax25Address("N1CALL", 7, false);
  struct Case {
    std::string frame;
    std::string line;
  };
  const Case cases[] = {
      {Ax25Frame("CQ", 0, "N0CALL", 1, 0x03, "hello"), "<MON> R>I [1] N0CALL-1>CQ UI len 5"},
      {two + repeated + Ax25Address("WIDE2", 2, true) + "\x03\xF0" + "abc", "<MON> R>I [1] N1CALL-7>N0CALL,DIGI1*,WIDE2-2 UI len 3"},
      {Ax25Frame("N0CALL", 0, "N1CALL", 0, 0x22, "data"), "<MON> R>I [1] N1CALL>N0CALL I len 4"},
      {two + Ax25Address("DIGI1", 0, true) + "\x22\xF0" + "data", "<MON> R>I [1] N1CALL-7>N0CALL,DIGI1 I len 4"},
      {Ax25Frame("N0CALL", 0, "N1CALL", 0, 0x21), "<MON> R>I [1] N1CALL>N0CALL RR len 0"},
      {two + Ax25Address("DIGI1", 0, true) + "\x0D", "<MON> R>I [1] N1CALL-7>N0CALL,DIGI1 SREJ len 0"},
      {two, "<MON> R>I [1] malformed len 14"},
      {two.substr(0, 7) + Ax25Address("N1CALL", 0, true), "<MON> R>I [1] malformed len 14"},
  };
  for (const Case& c : cases) EXPECT_EQ(MonitorLine("R>I", 1, c.frame), c.line);
}

class BridgeStartup : public BridgeFixture {};

TEST_F(BridgeStartup, AMissingIconLeavesTheWindowVisibleAndTheBridgeWorking) {
  UdpPeer node;
  const uint16_t local = FreeUdpPort();
  Start("[XNET.PORT]\nA=1," + std::to_string(local) + "," + std::to_string(node.Port()) + "\n", false);
  EXPECT_EQ(Log().back(), "Create: Exception: Cannot open icon file " + dir_.Path() + "/OVLAR.ICO");
  EXPECT_TRUE(desktop_.IconPresent);
  EXPECT_FALSE(desktop_.MainWindowHidden);
  Connect();
  const std::string frame = Ax25Frame("CQ", 0, "N0CALL", 1, 0x03, "still here");
  Hear(1, frame);
  ASSERT_TRUE(RunUntil(loop_, [&] { return Logged("<AXIP> Sending MAP"); }));
  EXPECT_EQ(node.Receive(), WithFcs(frame));
}

TEST_F(BridgeStartup, MapWithoutPortsIsAConfigurationError) {
  Start("[OVLAR]\nMODE=2\n[ROUTES]\nN0CALL=1\n");
  EXPECT_TRUE(form_->ConfigError());
  EXPECT_EQ(desktop_.Boxes, Lines{"Configuration Error!|XNet Port Configuration not found"});
  EXPECT_EQ(desktop_.Terminated, 1);
  form_.reset();
  EXPECT_EQ(Log().back(), "Destroy: ShutDown Completed");
}

// DIRECT mode: the bridge listens where it sends, so its own datagram comes
// back to it and goes out on DEFPORT: both paths with their exact bytes.
// TRACE 0, as the bridge runs in production and in the benchmark: the same
// forwarding both ways, and nothing in the log.
TEST_F(BridgeStartup, ForwardsBothWaysAtTraceZero) {
  UdpPeer node;
  const uint16_t local = FreeUdpPort();
  Start("[OVLAR]\nTRACE=0\nMODE=2\n[XNET]\nADDRESS=127.0.0.1\n[XNET.PORT]\nA=1," + std::to_string(local) + "," +
        std::to_string(node.Port()) + "\n");
  Connect();
  const std::string frame = Ax25Frame("CQ", 0, "N0CALL", 1, 0x03, "quiet");
  Hear(1, frame);
  ASSERT_TRUE(RunUntil(loop_, [&] { return desktop_.Current() == TrayIcon::XOff; }));
  EXPECT_EQ(node.Receive(), WithFcs(frame));
  UdpPeer sender;
  sender.SendTo(local, WithFcs(frame));
  ASSERT_TRUE(WaitTransmitted(1));
  EXPECT_EQ(Transmitted(), Lines{"1:" + std::string(1, '\0') + frame});
  EXPECT_TRUE(Log().empty());
}

class DirectBridge : public BridgeFixture {
 protected:
  void SetUp() override {
    port_ = FreeUdpPort();
    Start("[OVLAR]\nMODE=0\n[AGW]\nDEFPORT=2\n[XNET]\nADDRESS=127.0.0.1\nPORT=" + std::to_string(port_) +
          "\nRADIOPORT=1\nCHANNELS=1\n");
  }
  uint16_t port_ = 0;
};

TEST_F(DirectBridge, RoundTripAndRange) {
  Connect();
  const std::string frame = Ax25Frame("N0CALL", 0, "N1CALL", 3, 0x10, std::string(200, '\x7E'));
  Hear(1, frame);
  ASSERT_TRUE(WaitTransmitted(1));
  EXPECT_EQ(Transmitted(), Lines{"2:" + std::string(1, '\0') + frame});
  EXPECT_TRUE(Logged("<AXIP> Sending DIRECT/CACHE"));
  EXPECT_TRUE(Logged("<AXIP> Send: CRC Computed for Frame(" + WordToHex(TCRC().ComputeCRC(frame) ^ 0xFFFF) + ")"));
  Hear(2, frame);
  ASSERT_TRUE(RunUntil(loop_, [&] { return Logged("<L2> OnKissBefore: Port out of range, frame discarded"); }));
}

// CACHE mode with a loopback port at AGWPE (port 3), static routes and a
// channel range of ports 1 and 2.
class CacheBridge : public BridgeFixture {
 protected:
  void SetUp() override { StartCache("", "4;Port1;Port2;Loopback port;Port4;"); }
  void StartCache(const std::string& general, const std::string& ports) {
    port_ = FreeUdpPort();
    Start("[OVLAR]\nMODE=1\n" + general + "\n[AGW]\nDEFPORT=1\n[XNET]\nADDRESS=127.0.0.2\nPORT=" +
          std::to_string(port_) + "\nRADIOPORT=1\nCHANNELS=2\n[ROUTES]\nSTATIC-7=2\n");
    Connect(ports);
  }
  // A datagram from the node, and the raw frames it made AGWPE send.
  // Heard frames come back from the bridge's own listener (it listens on
  // every address); let them pass first.
  Lines FromNode(const std::string& frame) {
    Settle(loop_);
    agw_.Frames().clear();
    node_.SendTo(port_, WithFcs(frame));
    RunUntil(loop_, [&] { return !Transmitted().empty(); });
    Settle(loop_);
    return Transmitted();
  }
  uint16_t port_ = 0;
  UdpPeer node_;
};

TEST_F(CacheBridge, LearnsFromHeardFramesButNotFromUi) {
  Hear(2, Ax25Frame("N0CALL", 0, "N1CALL", 5, 0x00, "i"));
  Hear(1, Ax25Frame("CQ", 0, "UICALL", 0, 0x03, "ui"));
  Hear(2, Ax25Frame("N0CALL", 0, "PLAIN", 0, 0x3F));
  ASSERT_TRUE(RunUntil(loop_, [&] { return Count("<AXIP> Sending DIRECT/CACHE") == 3; }));
  EXPECT_EQ(form_->Cache().OfStation("N1CALL-5").size(), 1u);
  EXPECT_TRUE(form_->Cache().OfStation("UICALL").empty());
  EXPECT_EQ(form_->Cache().OfStation("PLAIN").size(), 1u);
  EXPECT_TRUE(Logged("<L2> UpdateCache: SSID chopped now Call(PLAIN)"));
  EXPECT_TRUE(Logged("UpdateCache: Ctl Byte(3F) Assigned(SABM)"));
  EXPECT_TRUE(Logged("<L2> UpdateCache: Type <UI>, ignored"));
}

TEST_F(CacheBridge, RoutesByTheCache) {
  Hear(2, Ax25Frame("X", 0, "HEARD", 0, 0x00));
  form_->Isrt(3, "LOOPED", 0);
  Hear(1, Ax25Frame("X", 0, "TWICE", 0, 0x00));
  Hear(2, Ax25Frame("X", 0, "TWICE", 0, 0x00));
  ASSERT_TRUE(RunUntil(loop_, [&] { return form_->Cache().Size() == 5; }));
  ASSERT_TRUE(WaitTransmitted(3)) << "each heard frame came back once";
  const std::string z(1, '\0');

  const std::string toHeard = Ax25Frame("HEARD", 0, "XNODE", 0, 0x00, "x");
  EXPECT_EQ(FromNode(toHeard), Lines{"2:" + z + toHeard});
  EXPECT_TRUE(Logged("<L2> GetCache: One Hit with Call(HEARD) Default Port(2)"));

  const std::string toLooped = Ax25Frame("LOOPED", 0, "XNODE", 0, 0x00);
  EXPECT_EQ(FromNode(toLooped), Lines{"1:" + z + toLooped}) << "only heard on the loopback port: DEFPORT";

  const std::string toTwice = Ax25Frame("TWICE", 0, "XNODE", 0, 0x00);
  EXPECT_EQ(FromNode(toTwice), (Lines{"1:" + z + toTwice, "2:" + z + toTwice}));
  EXPECT_TRUE(Logged("<L2> GetCache: More than one Hit with Call(TWICE) NUL Port"));

  const std::string ui = Ax25Frame("HEARD", 0, "XNODE", 0, 0x03);
  EXPECT_EQ(FromNode(ui), (Lines{"1:" + z + ui, "2:" + z + ui}));

  agw_.Frames().clear();
  Hear(1, Ax25Frame("X", 0, "STATIC", 7, 0x00));
  ASSERT_TRUE(RunUntil(loop_, [&] { return form_->Cache().OfStation("STATIC-7").size() == 2; }));
  ASSERT_TRUE(WaitTransmitted(1));
  const std::string toStatic = Ax25Frame("STATIC", 7, "XNODE", 0, 0x00);
  EXPECT_EQ(FromNode(toStatic), Lines{"2:" + z + toStatic}) << "the static route wins";
}

TEST_F(CacheBridge, LookupEdgeCases) {
  const std::string z(1, '\0');
  EXPECT_EQ(form_->GetCache(z + std::string(14, 'x')), 1) << "15 bytes: malformed, DEFPORT";
  EXPECT_TRUE(Logged("<L2> GetCache: Malformed frame, ignored"));
  // Through two digipeaters: the control byte follows the third address.
  const std::string digi = z + Ax25Address("HEARD", 0, false) + Ax25Address("A", 0, false) +
                           Ax25Address("D1", 0, false) + Ax25Address("D2", 0, true) + std::string("\x00\xF0", 2);
  EXPECT_EQ(form_->GetCache(digi), 1);
  EXPECT_TRUE(Logged("GetCache: Ctl Byte(00) Assigned(I)"));
  // The address field never ends before the data does: unclassified.
  const std::string open = z + Ax25Address("HEARD", 0, false) + Ax25Address("A", 0, false) + Ax25Address("D1", 0, true);
  EXPECT_EQ(form_->GetCache(open), 0);
  EXPECT_TRUE(Logged("<L2> GetCache: Type <unknown>, ignored"));
  EXPECT_EQ(form_->GetCache(z + Ax25Frame("HEARD", 0, "A", 0, 0x0D)), 0) << "SREJ is not classified";
  EXPECT_EQ(FrameType(0x11), "RR");
  EXPECT_EQ(FrameType(0x21), "RR");
  EXPECT_EQ(FrameType(0x2F), "SABM");
  EXPECT_EQ(FrameType(0x3F), "SABM");
  EXPECT_EQ(FrameType(0x0D), "");
}

TEST_F(CacheBridge, InsertingAnExistingPairChangesNothing) {
  EXPECT_EQ(form_->Isrt(2, "STATIC-7", 0), form_->Isrt(2, "STATIC-7", 1));
  EXPECT_EQ(form_->Cache().OfStation("STATIC-7")[0]->Fixed, 1);
  EXPECT_TRUE(Logged("Isrt: Call(2:STATIC-7) Cache HIT"));
}

TEST_F(CacheBridge, ShutdownDeletesEveryEntry) {
  Hear(1, Ax25Frame("X", 0, "HEARD", 0, 0x00));
  ASSERT_TRUE(RunUntil(loop_, [&] { return form_->Cache().Size() == 2; }));
  form_.reset();
  EXPECT_LT(At("<L2> Dlte: Deleting Entry(2:STATIC-7)"), At("<L2> Dlte: Deleting Entry(1:HEARD)"));
  EXPECT_LT(At("<L2> Dlte: Deleting Entry(1:HEARD)"), At("Destroy: Shut-Down Requested"));
}

TEST_F(CacheBridge, ManyPortsNeverReadPastTheTable) {
  std::string reply = "20;";
  for (int i = 1; i <= 20; ++i) reply += (i == 3 ? "Loopback;" : "P;");
  agw_.Send(0, 'G', reply);
  ASSERT_TRUE(RunUntil(loop_, [&] { return Count("<L2> Event <OnPort> AGWPE(OVLAR-0)") == 2; }));
  const std::string ui = Ax25Frame("NOBODY", 0, "XNODE", 0, 0x03);
  EXPECT_EQ(FromNode(ui).size(), 2u) << "the channel range still limits the ports";
}

TEST_F(CacheBridge, AHugeRangeAndPortCountWalkOnlyTheKeptPorts) {
  form_.reset();
  Settle(loop_);
  agw_.Frames().clear();
  // The first occurrence of a key wins: these replace the fixture's range.
  StartCache("[XNET]\nRADIOPORT=16\nCHANNELS=2000000000\n[OVLAR]", "2147483647;P;");
  const std::string ui = Ax25Frame("NOBODY", 0, "XNODE", 0, 0x03);
  EXPECT_EQ(FromNode(ui), Lines{"16:" + std::string(1, '\0') + ui});
}

TEST_F(CacheBridge, AtTheCapTheStationHeardLeastRecentlyMakesRoom) {
  for (size_t i = 0; i < TCacheList::kMaxLearned; ++i) form_->Isrt(1, "F" + std::to_string(i), 0);
  form_->Isrt(1, "F0", 0);  // heard again
  ASSERT_NE(form_->Isrt(2, "REAL", 0), nullptr);
  EXPECT_EQ(form_->Cache().OfStation("F0").size(), 1u);
  EXPECT_TRUE(form_->Cache().OfStation("F1").empty());
  EXPECT_EQ(form_->Cache().Size(), TCacheList::kMaxLearned + 1) << "and the static route";
  ASSERT_NE(form_->Isrt(1, "STATIC-8", 1), nullptr) << "static routes are not capped";
  EXPECT_EQ(form_->Cache().OfStation("STATIC-7").size(), 1u);
}

// Which learned entries route a frame: with a loopback port at the engine
// all but those heard on it; without one only with LEARN on.
struct LearnCase {
  const char* general;
  const char* ports;
  int heardOn2;   // where a frame for a station heard on port 2 goes
  int heardOn3;   // and for one heard on port 3
};
// A readable case in the test's name, the same in every build.
void PrintTo(const LearnCase& c, std::ostream* os) { *os << '"' << c.general << "\" \"" << c.ports << '"'; }

class LearnBridge : public CacheBridge, public ::testing::WithParamInterface<LearnCase> {
 protected:
  void SetUp() override { StartCache(GetParam().general, GetParam().ports); }
};

TEST_P(LearnBridge, LearnedEntriesCountAsTheKeyAndTheEngineSay) {
  EXPECT_EQ(form_->Learn(), std::string(GetParam().general) == "LEARN=on");
  form_->Isrt(2, "HEARD", 0);
  form_->Isrt(3, "THREE", 0);
  EXPECT_EQ(form_->GetCache(std::string(1, '\0') + Ax25Frame("HEARD", 0, "XNODE", 0, 0x00)), GetParam().heardOn2);
  EXPECT_EQ(form_->GetCache(std::string(1, '\0') + Ax25Frame("THREE", 0, "XNODE", 0, 0x00)), GetParam().heardOn3);
  const std::string toHeard = Ax25Frame("HEARD", 0, "XNODE", 0, 0x00, "x");
  EXPECT_EQ(FromNode(toHeard), Lines{std::to_string(GetParam().heardOn2) + ":" + std::string(1, '\0') + toHeard});
}

INSTANTIATE_TEST_SUITE_P(Cases, LearnBridge,
                         ::testing::Values(LearnCase{"", "4;Port1;Port2;Loopback port;Port4;", 2, 1},
                                           LearnCase{"LEARN=on", "4;Port1;Port2;Loopback port;Port4;", 2, 1},
                                           LearnCase{"", "3;Port1;Port2;Port3;", 1, 1},
                                           LearnCase{"LEARN=on", "3;Port1;Port2;Port3;", 2, 3},
                                           LearnCase{"LEARN=off", "3;Port1;Port2;Port3;", 1, 1}));

// MAP mode with one entry and an ACCEPT list; senders on 127.0.0.1 and
// 127.0.0.2. Names: node.test is 127.0.0.1, peer.test 127.0.0.2.
struct AcceptCase {
  std::string accept;
  std::string address;
  bool fromFirst;   // 127.0.0.1 accepted
  bool fromSecond;  // 127.0.0.2 accepted
};
void PrintTo(const AcceptCase& c, std::ostream* os) { *os << "ACCEPT=\"" << c.accept << "\" ADDRESS=" << c.address; }

class AcceptBridge : public BridgeFixture, public ::testing::WithParamInterface<AcceptCase> {
 protected:
  void SetUp() override {
    hosts_.Set("node.test", "127.0.0.1");
    hosts_.Set("peer.test", "127.0.0.2");
    local_ = FreeUdpPort();
    Start("[XNET]\nADDRESS=" + GetParam().address + "\nACCEPT=" + GetParam().accept + "\n[XNET.PORT]\nA=1," +
          std::to_string(local_) + "," + std::to_string(node_.Port()) + "\n");
  }
  std::string Refused(const UdpPeer& from) {
    return "<AXIP> OnDataAvailable: Frame from (" + std::string(&from == &first_ ? "127.0.0.1" : "127.0.0.2") + ":" +
           std::to_string(from.Port()) + ") not accepted, discarded";
  }
  uint16_t local_ = 0;
  UdpPeer node_, first_{0, "127.0.0.1"}, second_{0, "127.0.0.2"};
};

TEST_P(AcceptBridge, OnlyListedSendersReachTheRadio) {
  const AcceptCase& c = GetParam();
  EXPECT_EQ(Logged("<Create> AXIP datagrams accepted from any host"), c.accept.empty());
  Connect();
  const size_t names = (c.accept + c.address).find(".test") == std::string::npos ? 0 : 1;
  ASSERT_TRUE(RunUntil(loop_, [&] {
    const Lines all = Log();
    return static_cast<size_t>(std::count_if(all.begin(), all.end(), [](const std::string& l) {
             return l.rfind("<AXIP> Host(", 0) == 0;
           })) >= names;
  }));
  const std::string one = Ax25Frame("N0CALL", 0, "XNODE", 0, 0x00, "one");
  const std::string two = Ax25Frame("N0CALL", 0, "XNODE", 0, 0x00, "two");
  first_.SendTo(local_, WithFcs(one));
  second_.SendTo(local_, WithFcs(two));
  ASSERT_TRUE(RunUntil(loop_, [&] {
    return Count("<AXIP> OnDataAvailable: Error(0) Listener(" + std::to_string(local_) + ")") == 2;
  }));
  Lines expected;
  if (c.fromFirst) expected.push_back("1:" + std::string(1, '\0') + one);
  if (c.fromSecond) expected.push_back("1:" + std::string(1, '\0') + two);
  if (!expected.empty()) {
    ASSERT_TRUE(WaitTransmitted(expected.size()));
  }
  Settle(loop_);
  EXPECT_EQ(Transmitted(), expected);
  EXPECT_EQ(Logged(Refused(first_)), !c.fromFirst);
  EXPECT_EQ(Logged(Refused(second_)), !c.fromSecond);
}

INSTANTIATE_TEST_SUITE_P(Cases, AcceptBridge,
                         ::testing::Values(AcceptCase{"", "127.0.0.1", true, true},
                                           AcceptCase{"127.0.0.1", "127.0.0.1", true, false},
                                           AcceptCase{"peer.test", "127.0.0.1", false, true},
                                           AcceptCase{"XNET", "127.0.0.2", false, true},
                                           AcceptCase{" xnet , 127.0.0.9", "node.test", true, false},
                                           AcceptCase{"unknown.test,127.0.0.2", "127.0.0.1", false, true}));

// A flood from a refused host and one of bad datagrams: per sender and
// reason the first few of a second are logged whole, the rest counted in
// one line a minute; what is good still goes through.
class FloodBridge : public BridgeFixture {
 protected:
  void SetUp() override {
    local_ = FreeUdpPort();
    Start("[XNET]\nACCEPT=127.0.0.1\n[XNET.PORT]\nA=1," + std::to_string(local_) + ",93\n");
    Connect();
  }
  uint64_t Drops(TDrop reason) const { return form_->Counters().IpToRadio.Drops[static_cast<size_t>(reason)]; }
  uint16_t local_ = 0;
  UdpPeer good_{0, "127.0.0.1"}, refused_{0, "127.0.0.2"};
};

TEST_F(FloodBridge, IsLoggedAFewTimesASecondThenCounted) {
  const std::string frame = Ax25Frame("N0CALL", 0, "XNODE", 0, 0x00, "x");
  std::string badCrc = WithFcs(frame);
  badCrc.back() = static_cast<char>(badCrc.back() ^ 1);
  for (int i = 0; i < 40; ++i) refused_.SendTo(local_, WithFcs(frame));
  for (int i = 0; i < 8; ++i) good_.SendTo(local_, badCrc);
  good_.SendTo(local_, WithFcs(frame));
  ASSERT_TRUE(WaitTransmitted(1));
  ASSERT_TRUE(RunUntil(loop_, [&] { return Drops(TDrop::NotAccepted) == 40 && Drops(TDrop::BadCrc) == 8; }));
  const int per = TLineLimit::kPerSecond;
  const std::string refused = "<AXIP> OnDataAvailable: Frame from (127.0.0.2:" + std::to_string(refused_.Port()) +
                              ") not accepted, discarded";
  EXPECT_EQ(Count(refused), size_t(per));
  EXPECT_EQ(Count("<AXIP> OnDataAvailable: Computed CRC(" + WordToHex(TCRC().ComputeCRC(badCrc.data(), badCrc.size())) +
                  ") is wrong"),
            size_t(per));
  EXPECT_EQ(Count("<AXIP> OnDataAvailable: Error(0) Listener(" + std::to_string(local_) + ")"), size_t(2 * per + 1));
  Advance(60000);
  const std::string more = "<AXIP> OnDataAvailable: ... ";
  EXPECT_EQ(Count(more + std::to_string(40 - per) + " more from (127.0.0.2) in the last 60 s (not accepted)"), 1u);
  EXPECT_EQ(Count(more + std::to_string(8 - per) + " more from (127.0.0.1) in the last 60 s (CRC wrong)"), 1u);
  refused_.SendTo(local_, WithFcs(frame));
  ASSERT_TRUE(RunUntil(loop_, [&] { return Drops(TDrop::NotAccepted) == 41; }));
  EXPECT_EQ(Count(refused), size_t(per + 1)) << "a new second, a new start";
  Advance(60000);
  const Lines& all = Log();
  EXPECT_EQ(std::count_if(all.begin(), all.end(), [](const std::string& l) { return l.find(" more from (") != std::string::npos; }),
            2) << "nothing held back, nothing to count";
}

// The node behind a name that fails, then answers, moves and fails again.
// Both node addresses listen on the same port.
class NamedNodeBridge : public BridgeFixture {
 protected:
  void SetUp() override {
    Start("[XNET]\nADDRESS=node.test\n[XNET.PORT]\nA=1," + std::to_string(FreeUdpPort()) + "," +
          std::to_string(second_.Port()) + "\n");
    Connect();
  }
  // Ten minutes on, and the log line of the next answer.
  void NextLookup(const std::string& line) {
    Advance(THostNames::kRefreshMs);
    ASSERT_TRUE(RunUntil(loop_, [&] { return Logged(line); })) << line;
  }
  // A frame heard, and the datagram it became.
  std::string Forward(const std::string& frame) {
    const size_t sent = Count("<AXIP> Sending MAP");
    Hear(1, frame);
    RunUntil(loop_, [&] { return Count("<AXIP> Sending MAP") > sent; });
    return WithFcs(frame);
  }
  UdpPeer second_{0, "127.0.0.2"};
  UdpPeer third_{second_.Port(), "127.0.0.3"};
};

TEST_F(NamedNodeBridge, ResolvedChangedAndFailing) {
  const std::string frame = Ax25Frame("CQ", 0, "N0CALL", 1, 0x03, "hi");
  ASSERT_TRUE(RunUntil(loop_, [&] { return Logged("<AXIP> Host(node.test) not resolved, Error(11001), no address yet"); }));
  Hear(1, frame);
  ASSERT_TRUE(RunUntil(loop_, [&] { return Logged("<L2> OnKissBefore: L2 Object not ready, frame discarded"); }));

  hosts_.Set("node.test", "127.0.0.2");
  NextLookup("<AXIP> Host(node.test) resolved to (127.0.0.2)");
  const std::string datagram = Forward(frame);
  EXPECT_EQ(second_.Receive(), datagram);
  EXPECT_TRUE(Logged("<AXIP> Sending Frame Len(" + std::to_string(frame.size() + 2) + ") to (node.test:" +
                     std::to_string(second_.Port()) + ")"));

  hosts_.Set("node.test", "127.0.0.3");
  NextLookup("<AXIP> Host(node.test) resolved to (127.0.0.3)");
  Forward(frame);
  EXPECT_EQ(third_.Receive(), datagram);

  hosts_.Set("node.test", "");
  NextLookup("<AXIP> Host(node.test) not resolved, Error(11001), keeping (127.0.0.3)");
  Forward(frame);
  EXPECT_EQ(third_.Receive(), datagram);
  EXPECT_EQ(second_.Receive(50), "<none>");
}

// One radio port to one node port, tracing one line per forwarded frame.
class BurstBridge : public BridgeFixture {
 protected:
  void SetUp() override {
    local_ = FreeUdpPort();
    Start("[OVLAR]\nTRACE=3\nMODE=2\n[XNET.PORT]\nA=1," + std::to_string(local_) + "," +
          std::to_string(node_.Port()) + "\n");
    Connect();
  }
  // How many log lines start with text, and the index of the last one.
  std::pair<size_t, long> Traced(const std::string& text) {
    const test::Lines all = Log();
    size_t count = 0;
    long last = -1;
    for (size_t i = 0; i < all.size(); ++i) {
      if (all[i].rfind(text, 0) != 0) continue;
      ++count;
      last = static_cast<long>(i);
    }
    return {count, last};
  }
  const std::string toNode_ = "<AXIP> Sending Frame Len(";
  const std::string toRadio_ = "<AXIP> OnDataAvailable: Sending Info to AGWPE Port(";
  uint16_t local_ = 0;
  UdpPeer node_;
  UdpPeer sender_;
};

// Neither side can hold the other up: a long burst from AGWPE is read a
// slice at a time, and datagrams one per turn.
TEST_F(BurstBridge, EachSideIsServedWhileTheOtherBursts) {
  const int engine = form_->L2()->ClientSocket().Socket().SocketHandle();
  const int queue = 212992;  // the usual default limit, room for the whole burst
  setsockopt(engine, SOL_SOCKET, SO_RCVBUF, &queue, sizeof queue);
  std::string burst;
  for (int i = 0; i < 4000; ++i) {
    burst += AgwBytes(0, 'K', std::string(1, '\0') + Ax25Frame("CQ", 0, "N0CALL", 1, 0x03, std::string(40, 'b')));
  }
  agw_.SendRaw(burst);
  // Unfair reading would take all of it at once if it all waits; let it.
  int waiting = 0;
  for (int i = 0; i < 500 && waiting < static_cast<int>(burst.size()); ++i) {
    ioctl(engine, FIONREAD, &waiting);
    poll(nullptr, 0, 10);
  }
  sender_.SendTo(local_, WithFcs(Ax25Frame("N0CALL", 0, "XNODE", 0, 0x03, "from the node")));
  ASSERT_TRUE(RunUntil(loop_, [&] { return Transmitted().size() == 1 && Traced(toNode_).first == 4000; }));
  EXPECT_LT(Traced(toRadio_).second, Traced(toNode_).second) << "the datagram waited for the whole burst";

  for (int i = 0; i < 100; ++i) sender_.SendTo(local_, WithFcs(Ax25Frame("N0CALL", 0, "XNODE", 0, 0x03, "flood")));
  Hear(1, Ax25Frame("CQ", 0, "N1CALL", 0, 0x03, "heard"));
  ASSERT_TRUE(RunUntil(loop_, [&] { return Transmitted().size() == 101 && Traced(toNode_).first == 4001; }));
  EXPECT_LT(Traced(toNode_).second, Traced(toRadio_).second) << "the heard frame waited for the whole flood";
}

// Datagrams that wait together are read in batches: each reaches the
// engine whole and in order (one too long for the bridge told by its real
// length), and a frame the engine sends meanwhile is not held up by them.
TEST_F(BurstBridge, DatagramsWaitingTogetherGoWholeAndInOrderBesideTheEngine) {
  Lines expected;
  for (int i = 0; i < 80; ++i) {
    if (i == 40) {
      sender_.SendTo(local_, std::string(TForm1::kReceiveBuffer + 1, 'x'));
      continue;
    }
    const std::string frame =
        Ax25Frame("N0CALL", 0, "XNODE", 0, 0x03, std::string(static_cast<size_t>(1 + i * 37 % 300), char('a' + i % 26)));
    sender_.SendTo(local_, WithFcs(frame));
    expected.push_back("1:" + std::string(1, '\0') + frame);
  }
  Hear(1, Ax25Frame("CQ", 0, "N1CALL", 0, 0x03, "heard"));
  ASSERT_TRUE(RunUntil(loop_, [&] { return Transmitted().size() == expected.size() && Traced(toNode_).first == 1; }));
  EXPECT_EQ(Transmitted(), expected);
  EXPECT_TRUE(Logged("<AXIP> OnDataAvailable: Datagram too long (5122), discarded"));
  EXPECT_LT(Traced(toNode_).second, Traced(toRadio_).second) << "the heard frame waited for every datagram";
  EXPECT_EQ(form_->Counters().IpToRadio.Forwarded, expected.size());
}

// KEEPSOCKET: one socket per node port, kept from datagram to datagram and
// while the node's port is closed, and closed at shutdown.
class KeptBridge : public BridgeFixture {
 protected:
  void SetUp() override {
    local_ = FreeUdpPort();
    Start("[OVLAR]\nMODE=2\n[XNET]\nADDRESS=127.0.0.1\nKEEPSOCKET=on\n[XNET.PORT]\nA=1," + std::to_string(local_) +
          "," + std::to_string(nodePort_) + "\n");
    Connect();
  }
  // The next datagram at the node, and the port it came from.
  std::string AtNode(uint16_t& from) {
    if (!RunUntil(loop_, [&] { return WaitReadable(node_->Fd(), 0); })) return "<none>";
    std::string buf(70000, '\0');
    sockaddr_in a{};
    socklen_t len = sizeof a;
    const ssize_t n = recvfrom(node_->Fd(), buf.data(), buf.size(), 0, reinterpret_cast<sockaddr*>(&a), &len);
    buf.resize(n > 0 ? static_cast<size_t>(n) : 0);
    from = ntohs(a.sin_port);
    return buf;
  }
  static bool PortFree(uint16_t port) {
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    const bool free = bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    close(fd);
    return free;
  }
  std::unique_ptr<UdpPeer> node_ = std::make_unique<UdpPeer>();
  const uint16_t nodePort_ = node_->Port();
  uint16_t local_ = 0;
};

TEST_F(KeptBridge, OneSourcePortBothWaysThroughTheNodesAbsenceUntilShutdown) {
  EXPECT_TRUE(Logged("      KEEPSOCKET:  TRUE"));
  const std::string first = Ax25Frame("CQ", 0, "N0CALL", 1, 0x03, std::string(300, '\xC0'));
  const std::string second = Ax25Frame("N1CALL", 0, "N0CALL", 1, 0x10, "second");
  uint16_t source = 0, again = 0;
  Hear(1, first);
  EXPECT_EQ(AtNode(source), WithFcs(first));
  Hear(1, second);
  EXPECT_EQ(AtNode(again), WithFcs(second));
  EXPECT_EQ(again, source);
  EXPECT_FALSE(PortFree(source)) << "the socket is kept";

  // The node goes away: its host answers port unreachable, more than once.
  node_.reset();
  for (int i = 0; i < 3; ++i) Hear(1, first);
  ASSERT_TRUE(RunUntil(loop_, [&] { return Count("<AXIP> Sending MAP") == 5; }));
  Settle(loop_);
  node_ = std::make_unique<UdpPeer>(nodePort_);
  Hear(1, second);
  EXPECT_EQ(AtNode(again), WithFcs(second));
  EXPECT_EQ(again, source);
  EXPECT_FALSE(LoggedStart("<AXIP> OnOutError"));

  const std::string down = Ax25Frame("N0CALL", 1, "XNODE", 0, 0x00, "down");
  node_->SendTo(local_, WithFcs(down));
  ASSERT_TRUE(WaitTransmitted(1));
  EXPECT_EQ(Transmitted(), Lines{"1:" + std::string(1, '\0') + down});

  form_.reset();
  EXPECT_TRUE(PortFree(source)) << "released at shutdown";
}

// The engine writes frames and then closes or resets the link: every one
// of them reaches the node, with or without KEEPSOCKET.
struct CloseCase {
  bool keep;
  bool reset;
  int frames;
};
void PrintTo(const CloseCase& c, std::ostream* os) {
  *os << c.frames << " frames, " << (c.reset ? "reset" : "close") << (c.keep ? ", KEEPSOCKET" : "");
}

class EngineCloseBridge : public BridgeFixture, public ::testing::WithParamInterface<CloseCase> {
 protected:
  void SetUp() override {
    Start(std::string("[OVLAR]\nTRACE=1\n[XNET]\nKEEPSOCKET=") + (GetParam().keep ? "on" : "off") +
          "\n[XNET.PORT]\nA=1," + std::to_string(FreeUdpPort()) + "," + std::to_string(node_.Port()) + "\n");
    Connect();
  }
  UdpPeer node_;
};

TEST_P(EngineCloseBridge, EveryFrameWrittenBeforeTheLinkEndsReachesTheNode) {
  int received = 0;
  // Read as they come: the node's queue could not hold a long burst.
  loop_.WatchFd(node_.Fd(), true, false, [&](const PollEvent&) {
    char buf[512];
    while (recv(node_.Fd(), buf, sizeof buf, MSG_DONTWAIT) > 0) ++received;
  });
  std::string burst;
  for (int i = 0; i < GetParam().frames; ++i) {
    burst += AgwBytes(0, 'K', std::string(1, '\0') + Ax25Frame("CQ", 0, "N0CALL", 1, 0x03, std::to_string(i)));
  }
  agw_.SendAll(burst);
  if (GetParam().reset) agw_.WaitDelivered();
  agw_.Drop(GetParam().reset);
  ASSERT_TRUE(RunUntil(loop_, [&] { return !form_->Ready(); }));
  EXPECT_TRUE(RunUntil(loop_, [&] { return received == GetParam().frames; })) << received << " reached the node";
  loop_.UnwatchFd(node_.Fd());
}

INSTANTIATE_TEST_SUITE_P(Cases, EngineCloseBridge,
                         ::testing::Values(CloseCase{false, false, 1}, CloseCase{false, false, 100},
                                           CloseCase{false, false, 5000}, CloseCase{false, true, 1},
                                           CloseCase{false, true, 100}, CloseCase{false, true, 5000},
                                           CloseCase{true, false, 1}, CloseCase{true, false, 100},
                                           CloseCase{true, false, 5000}, CloseCase{true, true, 1},
                                           CloseCase{true, true, 100}, CloseCase{true, true, 5000}));

// The link: AGWPE is not there at start.
class RecoverBridge : public BridgeFixture {
 protected:
  void StartWithoutAgw(const char* recover, const std::string& agw = "") {
    agwPort_ = agw_.Port();
    WriteFile("OVLAR.ICO", "ico");
    WriteFile("OVLAR.INI", std::string("[OVLAR]\nTRACE=5\nRECOVER=") + recover + "\n[AGW]\n" + agw +
                               "\nPORT=1\n[XNET.PORT]\nA=1,0,9\n");
    form_ = std::make_unique<TForm1>(loop_, desktop_);
    form_->SetTerminal(true);
    form_->FormCreate();
  }
  size_t Attempts() { return Count("{L2} AGW Object Opened HostName() Addr(127.0.0.1:1)"); }
  uint16_t agwPort_ = 0;
};

TEST_F(RecoverBridge, RecoverOnRetriesEverySixtySeconds) {
  StartWithoutAgw("on");
  ASSERT_TRUE(RunUntil(loop_, [&] { return Logged("<L2> Event <OnAGWError> AGWPE(OVLAR-0)"); }));
  EXPECT_EQ(desktop_.Current(), TrayIcon::XUnknown);
  Advance(1000);
  EXPECT_EQ(desktop_.Current(), TrayIcon::XUnknown) << "no green without a usable link";
  Advance(58999);
  EXPECT_EQ(Attempts(), 1u);
  Advance(1);
  ASSERT_TRUE(RunUntil(loop_, [&] { return Count("<L2> Event <OnAGWError> AGWPE(OVLAR-0)") == 2; }));
  EXPECT_EQ(Attempts(), 2u);
  EXPECT_EQ(desktop_.Current(), TrayIcon::XUnknown);
  Advance(60000);
  ASSERT_TRUE(RunUntil(loop_, [&] { return Count("<L2> Event <OnAGWError> AGWPE(OVLAR-0)") == 3; }));
  EXPECT_EQ(Attempts(), 3u);
  EXPECT_EQ(Count("{L2} <AGWError> Socket Error from AGWPE(127.0.0.1:1): Connection refused (10061)"), 3u);
  EXPECT_EQ(desktop_.Notices, Lines{"ovlar: AGWPE 127.0.0.1:1: Connection refused, retrying in 60 s"})
      << "once, not at every retry";
}

TEST_F(RecoverBridge, RecoverOffTriesOnceMore) {
  StartWithoutAgw("1");
  EXPECT_FALSE(form_->Recover());
  ASSERT_TRUE(RunUntil(loop_, [&] { return Logged("<L2> Event <OnAGWError> AGWPE(OVLAR-0)"); }));
  Advance(60000);
  ASSERT_TRUE(RunUntil(loop_, [&] { return Count("<L2> Event <OnAGWError> AGWPE(OVLAR-0)") == 2; }));
  Advance(600000);
  EXPECT_EQ(Attempts(), 2u);
  EXPECT_EQ(desktop_.Notices, (Lines{"ovlar: AGWPE 127.0.0.1:1: Connection refused, retried once within 60 s (RECOVER is off)",
                                     "ovlar: AGWPE 127.0.0.1:1: Connection refused, not retried (RECOVER is off)"}));
}

TEST_F(RecoverBridge, AnEngineNameNotFoundIsTheReason) {
  StderrCapture terminal;
  StartWithoutAgw("on", "HOSTNAME=engine.invalid");
  ASSERT_TRUE(RunUntil(loop_, [&] { return Logged("<L2> Event <OnAGWDown> AGWPE(OVLAR-0)"); }));
  EXPECT_TRUE(Logged("{L2} Disconnected from AGWPE(engine.invalid:1): Host not found (11001)"));
  EXPECT_EQ(desktop_.Notices, Lines{"ovlar: AGWPE engine.invalid:1: Host not found, retrying in 60 s"});
  ASSERT_TRUE(RunUntil(loop_, [&] {
    return Logged("Run: Exception: Windows socket error: Host not found (11001), on API 'ASync Lookup'");
  }));
  EXPECT_EQ(terminal.Text(), "") << "the notice alone, through the desktop";
}

TEST_F(MapBridge, ReconnectsAfterAgwpeGoesAway) {
  form_->SetTerminal(true);
  Connect();
  agw_.Drop();
  // Loopback may follow the FIN with a reset: either way the link is lost.
  ASSERT_TRUE(RunUntil(loop_, [&] {
    return Logged("<L2> Event <OnAGWDown> AGWPE(OVLAR-0)") || Logged("<L2> Event <OnAGWError> AGWPE(OVLAR-0)");
  }));
  EXPECT_FALSE(form_->Ready());
  Hear(1, "x");
  Advance(60000);
  ASSERT_TRUE(RunUntil(loop_, [&] { return agw_.Accepted() == 2 && agw_.Kinds().rfind("GRk", 0) == 0; }));
  Connect();
  EXPECT_TRUE(form_->Ready());
  // Nothing at the first start; the loss (a close or a reset), then the link back.
  const std::string peer = "ovlar: AGWPE 127.0.0.1:" + std::to_string(agw_.Port()) + ": ";
  ASSERT_GE(desktop_.Notices.size(), 2u);
  EXPECT_EQ(desktop_.Notices.front().rfind(peer, 0), 0u) << desktop_.Notices.front();
  EXPECT_TRUE(desktop_.Notices.front().ends_with(", retrying in 60 s")) << desktop_.Notices.front();
  EXPECT_EQ(desktop_.Notices.back(), peer + "link up");
  const size_t errors = Count("<L2> Event <OnAGWError> AGWPE(OVLAR-0)");
  agw_.Drop(true);
  ASSERT_TRUE(RunUntil(loop_, [&] { return Count("<L2> Event <OnAGWError> AGWPE(OVLAR-0)") == errors + 1; }));
  Advance(60000);
  ASSERT_TRUE(RunUntil(loop_, [&] { return agw_.Accepted() == 3; })) << "a reset link is reopened too";
}

}  // namespace
}  // namespace ovlar
