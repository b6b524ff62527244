#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "AgwServer.h"
#include "SocketTestUtil.h"
#include "TestUtil.h"
#include "agwpe/AGWL2.h"
#include "support/ReqLib32.h"

namespace ovlar {
namespace {

using test::AgwBytes;
using test::AgwServer;
using test::RunUntil;
using test::Settle;
using Lines = std::vector<std::string>;

class TL2Test : public ::testing::Test {
 protected:
  TL2Test() {
    log_.LogFileName = "OVLAR.LOG";
    log_.TraceLevel = 5;
    log_.SetEnabled(true);
    l2_.Logger = &log_;
    l2_.SetCallSign("OVLAR-0");
    l2_.SetAddress("127.0.0.1");
    l2_.FOnFrame = [this](TL2*, uint8_t port, uint8_t pid, char kind, const std::string& from, const std::string& to,
                          const std::string& data) {
      frames_.push_back(std::to_string(port) + "|" + std::to_string(pid) + "|" + kind + "|" + from + "|" + to + "|" +
                        data);
    };
  }
  // Connects to the scripted server and waits for the start-up requests.
  void Connect(AgwServer& server, size_t requests = 2) {
    l2_.SetTCPPort(server.Port());
    l2_.Open();
    ASSERT_TRUE(RunUntil(loop_, [&] { return l2_.Active() && server.Frames().size() >= requests; }));
  }
  void Feed(const std::string& bytes) { l2_.Store(bytes); }
  Lines Log() { return test::LogTexts("OVLAR.LOG"); }
  bool Logged(const std::string& line) {
    const Lines all = Log();
    return std::find(all.begin(), all.end(), line) != all.end();
  }
  void Event(const std::string& e) { events_.push_back(e); }

  test::ScratchDir dir_;
  ManualClock clock_;
  EventLoop loop_{&clock_};
  TLog log_;
  TL2 l2_{loop_};
  Lines frames_;
  Lines events_;
};

// ---- The frame cutter ----

TEST_F(TL2Test, StreamsCutEveryWayGiveTheSameFrames) {
  // 70,000 bytes need all four length bytes.
  const std::string big(70000, 'b');
  const std::string stream = AgwBytes(0, 'K', std::string("\0\x96\x70", 3), "A", "B") + AgwBytes(1, 'y', "") +
                             AgwBytes(2, 'V', std::string(300, 'x'), "0123456789AB", "TO", 0xF0) +
                             AgwBytes(0, 'K', big) + AgwBytes(0, 'y', "");
  const Lines expected{std::string("1|0|K|A|B|\0\x96\x70", 13), "2|0|y|||", "3|240|V|0123456789|TO|" + std::string(300, 'x'),
                       "1|0|K|||" + big, "1|0|y|||"};
  log_.TraceLevel = 3;
  Feed(stream);
  EXPECT_EQ(frames_, expected);
  for (size_t cut : {1u, 10u, 35u, 36u, 37u, 50u, 100u, 4096u}) {
    frames_.clear();
    for (size_t i = 0; i < stream.size(); i += cut) Feed(stream.substr(i, cut));
    EXPECT_EQ(frames_, expected) << "pieces of " << cut;
    EXPECT_TRUE(l2_.RxBlock().Buffer.empty());
  }
}

TEST_F(TL2Test, PartialHeadersAndDataWait) {
  const std::string frame = AgwBytes(0, 'R', "12345678");
  Feed(frame.substr(0, 35));
  EXPECT_TRUE(frames_.empty());
  Feed(frame.substr(35, 5));
  EXPECT_TRUE(frames_.empty());
  EXPECT_TRUE(l2_.RxBlock().Waiting);
  Feed(frame.substr(40) + AgwBytes(0, 'y', "") + AgwBytes(0, 'y', "").substr(0, 10));
  EXPECT_EQ(frames_.size(), 2u);
  EXPECT_EQ(l2_.RxBlock().Buffer.size(), 10u);
}

TEST_F(TL2Test, HeaderFieldsAsRead) {
  Feed(AgwBytes(255, 'V', "abc", "ABCDEFGHIJ", "X"));
  EXPECT_EQ(frames_, Lines{"0|0|V|ABCDEFGHIJ|X|abc"});
}

// A header no engine writes, or one whose data never follows, loses the
// stream: the link is dropped with one line and the next connection starts
// clean.
TEST_F(TL2Test, ImpossibleHeadersDropTheLinkAndTheNextConnectionCarriesOn) {
  auto header = [](size_t at, uint8_t value) {
    std::string h = AgwBytes(0, 'K', "");
    h[at] = static_cast<char>(value);
    return h;
  };
  const struct {
    std::string bytes;
    int64_t waitMs;
    const char* line;
  } cases[] = {
      {header(31, 0x10), 0, "data length (268435456) over the limit of 1048576"},
      {header(4, '3'), 0, "data kind (33) not a letter"},
      {header(4, 0), 0, "data kind (00) not a letter"},
      {header(1, 1), 0, "port field (00010000) not a port number"},
      {AgwBytes(0, 'K', std::string(65535, 'x')).substr(0, 40), 60000,
       "frame of 65535 bytes, kind [K], incomplete after 60 s"},
  };
  AgwServer server(loop_);
  l2_.FOnAGWDown = [this](TL2*) { Event("down"); };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    events_.clear();
    frames_.clear();
    log_.SetEnabled(true);
    Connect(server);
    server.SendRaw(c.bytes + AgwBytes(0, 'y', ""));
    if (c.waitMs != 0) {
      ASSERT_TRUE(RunUntil(loop_, [&] { return l2_.RxBlock().Waiting; }));
      clock_.Advance(c.waitMs - 1);
      Settle(loop_);
      EXPECT_TRUE(events_.empty());
      clock_.Advance(1);
    }
    ASSERT_TRUE(RunUntil(loop_, [&] { return events_.size() == 1; }));
    EXPECT_TRUE(frames_.empty());
    const Lines log = Log();
    EXPECT_EQ(std::count(log.begin(), log.end(), std::string("{L2} Protocol error from AGWPE: ") + c.line +
                                                     ", connection dropped"),
              1);
    l2_.Open();
    ASSERT_TRUE(RunUntil(loop_, [&] { return l2_.Active(); }));
    server.Send(0, 'y', "");
    ASSERT_TRUE(RunUntil(loop_, [&] { return frames_.size() == 1; }));
    EXPECT_EQ(events_.size(), 1u);
  }
}

// ---- Sending ----

TEST_F(TL2Test, NothingIsSentWithoutAConnection) {
  l2_.SendKiss(1, "xx");
  EXPECT_EQ(Log().back(), "{L2} L2 Frame not sent because there is no TCP/IP connection with AGWPE");
}

TEST_F(TL2Test, OpenRefusesWithoutAddressOrCallSign) {
  TL2 bare(loop_);
  bare.Logger = &log_;
  bare.Open();
  bare.SetCallSign("");
  bare.SetAddress("127.0.0.1");
  bare.Open();
  const Lines all = Log();
  EXPECT_EQ(std::count(all.begin(), all.end(),
                       "{L2} ERROR No IP Address or HostName indicated, object creation aborted"), 1);
  EXPECT_EQ(all.back(), "{L2} ERROR No CallSign indicated, object creation aborted");
  EXPECT_FALSE(bare.ClientSocket().Active());
}

TEST_F(TL2Test, StartUpRequestsInOrder) {
  AgwServer server(loop_);
  l2_.RawMonitor = true;
  l2_.SetMonitor("iu");
  EXPECT_EQ(l2_.Monitor(), "IU");
  int ups = 0;
  l2_.FOnAGWUp = [&](TL2*) { ++ups; };
  Connect(server, 4);
  EXPECT_EQ(server.Kinds(), "GRkm");
  EXPECT_EQ(ups, 1);
  int noDelay = 0;
  socklen_t length = sizeof noDelay;
  getsockopt(l2_.ClientSocket().Socket().SocketHandle(), IPPROTO_TCP, TCP_NODELAY, &noDelay, &length);
  EXPECT_EQ(noDelay, 1) << "a 'K' frame must not wait for the acknowledgement of the one before";
  EXPECT_TRUE(Logged("{L2} AGW Object Opened HostName() Addr(127.0.0.1:" + std::to_string(server.Port()) + ")"));
}

TEST_F(TL2Test, LoginNeedsBothUserAndPassword) {
  AgwServer server(loop_);
  l2_.User = "me";
  Connect(server);
  EXPECT_EQ(server.Kinds(), "GR");
  l2_.Close();
  ASSERT_TRUE(RunUntil(loop_, [&] { return !l2_.Active(); }));

  AgwServer second(loop_);
  l2_.Password = std::string(300, 'p');
  Connect(second, 3);
  EXPECT_EQ(second.Kinds(), "PGR");
  EXPECT_EQ(l2_.Password.size(), 255u);
  const auto& login = second.Frames()[0];
  EXPECT_EQ(login.data.size(), 510u);
  EXPECT_EQ(login.data.substr(0, 3), std::string("me\0", 3));
  EXPECT_EQ(login.data.substr(255), std::string(255, 'p'));
  EXPECT_TRUE(Logged("{L2} Sending Login Frame User(me) Paswd(********)"));
  EXPECT_EQ(test::ReadFile("OVLAR.LOG").find("ppp"), std::string::npos) << "not even in the dump";
}

TEST_F(TL2Test, LongDataIsSplitExceptRawFrames) {
  AgwServer server(loop_);
  Connect(server);
  server.Frames().clear();
  std::string six(600, '\0');
  for (size_t i = 0; i < six.size(); ++i) six[i] = static_cast<char>(i);
  l2_.Write(3, 0xF0, 'M', "FROM", "ABCDEFGHIJKL", 0, six);
  l2_.SendKiss(0, std::string(300, 'k'));
  ASSERT_TRUE(RunUntil(loop_, [&] { return server.Frames().size() == 4; }));
  const auto& f = server.Frames();
  EXPECT_EQ(f[0].statedLength, 255u);
  EXPECT_EQ(f[1].statedLength, 255u);
  EXPECT_EQ(f[2].statedLength, 90u);
  EXPECT_EQ(f[0].data + f[1].data + f[2].data, six);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(f[i].port, 2);
    EXPECT_EQ(f[i].kind, 'M');
    EXPECT_EQ(f[i].pid, 0xF0);
    EXPECT_EQ(f[i].from, std::string("FROM\0\0\0\0\0\0", 10));
    EXPECT_EQ(f[i].to, "ABCDEFGHIJ");
  }
  EXPECT_EQ(f[3].kind, 'K');
  EXPECT_EQ(f[3].port, 0) << "port 0 goes out as port byte 0, like port 1";
  EXPECT_EQ(f[3].statedLength, 300u);
}

TEST_F(TL2Test, SettersAreRefusedWhileConnected) {
  AgwServer server(loop_);
  l2_.SetTCPPort(0);
  EXPECT_EQ(l2_.TCPPort(), 8000);
  EXPECT_EQ(Log().back(), "{L2} Set TCP Port 0");
  Connect(server);
  l2_.SetAddress("10.0.0.1");
  EXPECT_EQ(Log().back(), "{L2} Error can not change the IP Address while active");
  EXPECT_EQ(l2_.Address(), "127.0.0.1");
  l2_.SetCallSign("X");
  EXPECT_EQ(l2_.CallSign(), "OVLAR-0");
  server.Drop();
  ASSERT_TRUE(RunUntil(loop_, [&] { return !l2_.Active(); }));
  l2_.SetAddress("10.0.0.1");
  EXPECT_EQ(l2_.Address(), "10.0.0.1");
}

TEST_F(TL2Test, MonitorSwitching) {
  l2_.SetMonitor("X");
  l2_.SetMonitor("");
  EXPECT_EQ(l2_.Monitor(), "N");
  l2_.SetMonitor("SC");
  l2_.SetMonitor("IU");
  EXPECT_EQ(l2_.Monitor(), "SC");
  AgwServer server(loop_);
  Connect(server, 3);
  EXPECT_EQ(server.Kinds(), "GRm");
  l2_.SetMonitor("n");
  ASSERT_TRUE(RunUntil(loop_, [&] { return server.Frames().size() == 4; }));
  EXPECT_EQ(server.Kinds(), "GRmm");
  EXPECT_EQ(l2_.Monitor(), "N");
}

// ---- The link ----

TEST_F(TL2Test, LinkEventsAndReconnectAfterAReset) {
  AgwServer server(loop_);
  l2_.FOnAGWUp = [this](TL2*) { Event("up"); };
  l2_.FOnAGWDown = [this](TL2*) { Event("down"); };
  l2_.FOnAGWError = [this](TL2*) { Event("error"); };
  Connect(server);
  Feed(AgwBytes(0, 'R', "1234").substr(0, 20));
  EXPECT_FALSE(l2_.RxBlock().Buffer.empty());
  server.Drop(true);
  ASSERT_TRUE(RunUntil(loop_, [&] { return events_.size() == 2; }));
  EXPECT_EQ(events_, (Lines{"up", "error"}));
  EXPECT_TRUE(l2_.ClientSocket().Active()) << "a reset leaves the socket active";
  l2_.Open();
  ASSERT_TRUE(RunUntil(loop_, [&] { return server.Accepted() == 2 && l2_.Active(); }));
  EXPECT_EQ(events_, (Lines{"up", "error", "up"})) << "the dead connection goes without a second loss";
  EXPECT_TRUE(l2_.RxBlock().Buffer.empty()) << "a new connection starts a new stream";
  // Unread requests would turn the close into a reset.
  ASSERT_TRUE(RunUntil(loop_, [&] { return server.Frames().size() == 4; }));
  server.Drop();
  ASSERT_TRUE(RunUntil(loop_, [&] { return events_.size() == 4; }));
  EXPECT_EQ(events_.back(), "down");
}

// What the engine wrote before it closed or reset is decoded whole, and
// only then is the link lost.
TEST_F(TL2Test, FramesWrittenJustBeforeTheEngineClosesAreAllDecoded) {
  log_.TraceLevel = 1;
  struct Case {
    int frames;
    bool reset;
  };
  for (const Case c : {Case{1, false}, Case{100, false}, Case{5000, false}, Case{1, true}, Case{100, true},
                       Case{5000, true}}) {
    SCOPED_TRACE(std::to_string(c.frames) + (c.reset ? " then a reset" : " then a close"));
    AgwServer server(loop_);
    Lines kisses;
    std::string lost;
    l2_.FOnKiss = [&](TL2*, uint8_t, const std::string& data) { kisses.push_back(data); };
    l2_.FOnAGWDown = [&](TL2*) { lost = "down after " + std::to_string(kisses.size()); };
    l2_.FOnAGWError = [&](TL2*) { lost = "error after " + std::to_string(kisses.size()); };
    Connect(server);
    std::string burst;
    for (int i = 0; i < c.frames; ++i) burst += AgwBytes(0, 'K', std::string(1, '\0') + "frame " + std::to_string(i));
    server.SendAll(burst);
    if (c.reset) server.WaitDelivered();
    server.Drop(c.reset);
    ASSERT_TRUE(RunUntil(loop_, [&] { return !lost.empty(); }));
    EXPECT_EQ(lost, (c.reset ? "error after " : "down after ") + std::to_string(c.frames));
    ASSERT_EQ(kisses.size(), static_cast<size_t>(c.frames));
    EXPECT_EQ(kisses.back(), std::string(1, '\0') + "frame " + std::to_string(c.frames - 1));
  }
}

TEST_F(TL2Test, CloseWhileConnectingCallsTheAttemptOff) {
  AgwServer server(loop_);
  l2_.FOnAGWUp = [this](TL2*) { Event("up"); };
  l2_.FOnAGWDown = [this](TL2*) { Event("down"); };
  l2_.FOnAGWError = [this](TL2*) { Event("error"); };
  l2_.SetTCPPort(server.Port());
  l2_.Open();
  l2_.Close();
  ASSERT_TRUE(RunUntil(loop_, [&] { return server.Accepted() == 1 && !server.Connected(); }));
  Settle(loop_);
  EXPECT_TRUE(events_.empty());
  EXPECT_TRUE(server.Frames().empty()) << "no request was sent";
  EXPECT_FALSE(l2_.Active());
}

TEST_F(TL2Test, RefusedConnectionIsAnErrorAndOpenTriesAgain) {
  uint16_t port;
  {
    test::TcpServer gone;
    port = gone.Port();
  }
  l2_.FOnAGWError = [this](TL2*) { Event("error"); };
  l2_.SetTCPPort(port);
  l2_.Open();
  ASSERT_TRUE(RunUntil(loop_, [&] { return events_.size() == 1; }));
  AgwServer server(loop_, port);
  l2_.Open();
  ASSERT_TRUE(RunUntil(loop_, [&] { return l2_.Active(); }));
}

TEST_F(TL2Test, OpenOnALiveConnectionTouchesNothing) {
  AgwServer server(loop_);
  Connect(server);
  server.Send(0, 'G', std::string("1;Port1 test;\0", 14));
  ASSERT_TRUE(RunUntil(loop_, [&] { return server.Frames().size() == 5; }));
  EXPECT_EQ(l2_.PortCount(), 1);
  l2_.Open();
  Settle(loop_);
  EXPECT_EQ(server.Accepted(), 1);
  EXPECT_EQ(server.Frames().size(), 5u);
  EXPECT_EQ(l2_.PortCount(), 16);
  EXPECT_TRUE(l2_.Active());
}

// ---- The decoder ----

TEST_F(TL2Test, PortInformation) {
  AgwServer server(loop_);
  l2_.FOnPort = [this](TL2*) { Event("port"); };
  Connect(server);
  server.Frames().clear();
  server.Send(0, 'G', "2;Port1 on card A;Port2 AXIP link;");
  ASSERT_TRUE(RunUntil(loop_, [&] { return server.Frames().size() == 6; }));
  EXPECT_EQ(l2_.PortCount(), 2);
  EXPECT_EQ(l2_.Ports(1).Description, "Port1 on card A");
  EXPECT_TRUE(l2_.Ports(2).Present);
  EXPECT_TRUE(l2_.AxipFound());
  EXPECT_EQ(l2_.AxipPort(), 2);
  EXPECT_FALSE(l2_.LoopbackFound());
  EXPECT_EQ(server.Kinds(), "HgyHgy");
  EXPECT_EQ(server.Frames()[3].port, 1);
  EXPECT_EQ(events_, Lines{"port"});
  EXPECT_TRUE(Logged("{L2} Fired Event <FOnPort>"));

  server.Frames().clear();
  server.Send(0, 'G', "x;Port1;");
  server.Send(0, 'G', "0;");
  ASSERT_TRUE(RunUntil(loop_, [&] { return events_.size() == 3; }));
  Settle(loop_);
  EXPECT_EQ(l2_.PortCount(), 0);
  EXPECT_TRUE(server.Frames().empty());
}

TEST_F(TL2Test, MoreThanSixteenPortsNeverWritePastTheTable) {
  std::string reply = "20;";
  for (int i = 1; i <= 20; ++i) reply += (i == 18 ? "LoopBack " : "P") + std::to_string(i) + ";";
  Feed(AgwBytes(0, 'G', reply));
  EXPECT_EQ(l2_.PortCount(), 20);
  EXPECT_EQ(l2_.Ports(16).Description, "P16");
  EXPECT_FALSE(l2_.LoopbackFound()) << "port 18 was not stored";
  EXPECT_THROW(l2_.Ports(17), std::out_of_range);
}

TEST_F(TL2Test, PollTimerAsksAgainAfterEachReply) {
  AgwServer server(loop_);
  l2_.PollPorts = true;
  Connect(server);
  server.Send(0, 'G', "0;");
  ASSERT_TRUE(RunUntil(loop_, [&] { return l2_.PollTimer() != nullptr; }));
  server.Frames().clear();
  clock_.Advance(59999);
  Settle(loop_);
  EXPECT_TRUE(server.Frames().empty());
  clock_.Advance(1);
  ASSERT_TRUE(RunUntil(loop_, [&] { return server.Kinds() == "G"; }));
  clock_.Advance(120000);
  Settle(loop_);
  EXPECT_EQ(server.Kinds(), "G") << "no reply, no further poll";
}

TEST_F(TL2Test, ParametersFramesVersionHeard) {
  l2_.FOnVersion = [this](TL2*, int32_t a, int32_t b) { Event("version " + std::to_string(a) + "." + std::to_string(b)); };
  l2_.FOnPortFrames = [this](TL2*, uint8_t p, uint16_t n) { Event("frames " + std::to_string(p) + " " + std::to_string(n)); };
  l2_.FOnParameter = [this](TL2*) { Event("param"); };
  Feed(AgwBytes(0, 'R', std::string("\xD5\x07\0\0\x7F\0\0\0", 8)));
  Feed(AgwBytes(0, 'R', "1234567"));
  Feed(AgwBytes(2, 'y', std::string("\x2C\x01\0\0", 4)));
  Feed(AgwBytes(40, 'y', std::string("\x05\0\0\0", 4)));
  Feed(AgwBytes(0, 'g', std::string("\1\2\3\4\5\6\7\x08\x01\x02\x03\x04", 12)));
  Feed(AgwBytes(1, 'g', "short"));
  EXPECT_EQ(events_, (Lines{"version 2005.127", "frames 3 300", "frames 41 5", "param", "param"}));
  EXPECT_EQ(l2_.Ports(3).Frames, 0x2C);
  EXPECT_EQ(l2_.Ports(1).Params[7], 8);
  EXPECT_EQ(l2_.Ports(1).ParamValue, 0x030201u);
  EXPECT_EQ(l2_.Ports(2).ParamValue, 0u);
  EXPECT_TRUE(Logged("{L2} Exception on module ParseParam"));

  for (int i = 0; i < 21; ++i) Feed(AgwBytes(0, 'H', "N0CALL-" + std::to_string(i) + std::string(1, '\0') + "junk", "N0CALL"));
  Feed(AgwBytes(0, 'H', "ignored", "  "));
  EXPECT_EQ(l2_.Ports(1).Heard[0], "N0CALL-0");
  EXPECT_EQ(l2_.Ports(1).Heard[19], "N0CALL-19");
  EXPECT_EQ(l2_.Ports(2).Heard[0], "");
}

TEST_F(TL2Test, RawFramesRegistrationAndData) {
  std::string kiss;
  l2_.FOnKiss = [&](TL2*, uint8_t port, const std::string& data) { kiss = std::to_string(port) + ":" + data; };
  l2_.FOnRegister = [this](TL2*, const std::string& from, const std::string&) { Event("reg " + from); };
  l2_.FOnUnregister = [this](TL2*, const std::string&, const std::string&) { Event("unreg"); };
  l2_.FOnData = [this](TL2*, uint8_t, const std::string& from, const std::string& to, uint8_t pid, const std::string& d) {
    Event("data " + from + ">" + to + " " + std::to_string(pid) + " " + d);
  };
  Feed(AgwBytes(1, 'K', std::string("\0frame", 6)));
  EXPECT_EQ(kiss, std::string("2:\0frame", 8));
  Feed(AgwBytes(0, 'X', "\x01", "me"));
  EXPECT_TRUE(l2_.Registered());
  Feed(AgwBytes(0, 'x', ""));
  EXPECT_TRUE(l2_.Registered()) << "no data: unchanged";
  EXPECT_TRUE(Logged("{L2} Exception on Module TL2.Decode (Framex)"));
  Feed(AgwBytes(0, 'x', "\x01"));
  EXPECT_FALSE(l2_.Registered());
  Feed(AgwBytes(0, 'D', "hi", "a", "b", 0xF0));
  EXPECT_EQ(events_, (Lines{"reg ME", "unreg", "unreg", "data A>B 240 hi"}));
  frames_.clear();
  Feed(AgwBytes(0, 'V', "v"));
  EXPECT_EQ(frames_.size(), 1u);
}

TEST_F(TL2Test, ConnectionMessages) {
  auto note = [this](const char* name) {
    return [this, name](TL2*, uint8_t port, const std::string& call, const std::string& text) {
      Event(std::string(name) + " " + std::to_string(port) + " " + call + " [" + text + "]");
    };
  };
  l2_.FOnHisConnect = note("his");
  l2_.FOnMyConnect = note("my");
  l2_.FOnConnect = note("conn");
  l2_.FOnRetryOut = note("retry");
  l2_.FOnHisDisconnect = note("hisdisc");
  l2_.FOnMyDisconnect = note("mydisc");
  l2_.FOnDisconnect = note("disc");
  l2_.FOnConnectCalls = [this](TL2*, uint8_t, const std::string& f, const std::string& t, const std::string&) {
    Event("calls " + f + ">" + t);
  };
  Feed(AgwBytes(0, 'C', "W1 CONNECTED To W4 REMOTE-2\rsecond line\r", "a", "b"));
  EXPECT_EQ(events_, (Lines{"his 1 REMOTE-2 [W1 CONNECTED To W4 REMOTE-2]", "conn 1 REMOTE-2 [W1 CONNECTED To W4 REMOTE-2]",
                            "calls A>B"}));
  events_.clear();
  Feed(AgwBytes(0, 'd', "*** DISCONNECTED RETRYOUT From X\r", "a", "b"));
  Feed(AgwBytes(0, 'd', "*** DISCONNECTED From Station N0CALL\r", "a", "b"));
  Feed(AgwBytes(0, 'd', "*** DISCONNECTED With N0CALL\r", "a", "peer"));
  Feed(AgwBytes(0, 'd', "nothing known\r"));
  EXPECT_EQ(events_, (Lines{"retry 1 X [*** DISCONNECTED RETRYOUT From X]", "disc 1 X [*** DISCONNECTED RETRYOUT From X]",
                            "hisdisc 1 N0CALL [*** DISCONNECTED From Station N0CALL]",
                            "disc 1 N0CALL [*** DISCONNECTED From Station N0CALL]",
                            "mydisc 1 PEER [*** DISCONNECTED With N0CALL]", "disc 1 PEER [*** DISCONNECTED With N0CALL]"}));
}

TEST_F(TL2Test, MonitorFilter) {
  l2_.FOnMonitor = [this](TL2*, uint8_t, const std::string&, const std::string&, uint8_t, const std::string&) {
    Event("monitor");
  };
  l2_.FOnUIFrame = [this](TL2*, uint8_t, const std::string& f, const std::string& t, const std::string& via,
                          const std::string&, const std::string& pid, int32_t len, const std::string& info) {
    Event("ui " + f + ">" + t + " via[" + via + "] " + pid + " " + std::to_string(len) + " " + info);
  };
  l2_.FOnSFrame = [this](TL2*, uint8_t, const std::string&, const std::string&, const std::string&,
                         const std::string& type, int32_t nr) { Event("s " + type + " " + std::to_string(nr)); };
  l2_.FOnIFrame = [this](TL2*, uint8_t, const std::string&, const std::string&, const std::string&, const std::string&,
                         const std::string&, int32_t nr, int32_t ns, int32_t, const std::string&) {
    Event("i " + std::to_string(nr) + " " + std::to_string(ns));
  };
  const std::string ui = " 1:Fm SRC-1 To DEST Via DIGI1,DIGI2 <UI pid=F0 Len=5 >[12:00:00]\rHELLO\r";
  Feed(AgwBytes(0, 'T', ui));
  Feed(AgwBytes(0, 'I', " 1:Fm A To B <I R1 S2 pid=F0 Len=5 >[12:00:00]\rHELLO\r"));
  EXPECT_TRUE(events_.empty()) << "monitor letters N";
  l2_.SetMonitor("US");
  Feed(AgwBytes(0, 'T', ui));
  Feed(AgwBytes(0, 'S', " 1:Fm A To B <RNR R3 >[12:00:00]\r"));
  Feed(AgwBytes(0, 'T', " 1:Fm A To B <RR P R3 >[12:00:00]\r"));
  EXPECT_EQ(events_, (Lines{"monitor", "ui SRC-1>DEST via[DIGI1 DIGI2] F0 5 HELLO", "monitor", "s RR 3"}));
  events_.clear();
  l2_.SetMonitor("N");
  l2_.SetMonitor("CI");
  Feed(AgwBytes(0, 'T', " 1:Fm A To B <SABM P>[12:00:00]\r"));
  Feed(AgwBytes(0, 'T', " 1:Fm A To B <I R1 S2 pid=F0 Len=5 >[12:00:00]\rHELLO\r"));
  EXPECT_EQ(events_, (Lines{"monitor", "s SABM 0", "monitor", "i 1 2"}));
}

TEST_F(TL2Test, UnprotoData) {
  std::string got;
  l2_.FOnDataUI = [&](TL2*, uint8_t, const std::string& f, const std::string& t, uint8_t pid, const std::string& info) {
    got = f + ">" + t + " " + std::to_string(pid) + " " + info;
  };
  Feed(AgwBytes(0, 'U', " 1:Fm SRC To DEST <UI pid=F0 Len=5 >[12:00:00]\rHELLO\r"));
  EXPECT_EQ(got, "SRC>DEST 240 HELLO");
}

// ---- Monitor texts and addresses ----

TEST_F(TL2Test, GetHeaderExamples) {
  TMonitorHeader h = l2_.GetHeader(" 1:Fm SRC-1 To DEST via DIGI1,DIGI2 <UI pid=F0 Len=5 >[12:00:00]\rHELLO\r\r");
  EXPECT_EQ(h.From, "SRC-1");
  EXPECT_EQ(h.To, "DEST");
  EXPECT_EQ(h.Via, "DIGI1 DIGI2");
  EXPECT_EQ(h.FrameType, "UI");
  EXPECT_EQ(h.Pid, "F0");
  EXPECT_EQ(h.Len, 5);
  // Every word taken from the text drops one CR from its end.
  EXPECT_EQ(h.Info, "HELLO");

  h = l2_.GetHeader(" 1:Fm A To B <I R1 S2 pid=F0 Len=5 >[12:00:00]\rHELLO\r");
  EXPECT_EQ(h.NR, 1);
  EXPECT_EQ(h.NS, 2);
  EXPECT_EQ(h.Pid, "F0");
  EXPECT_EQ(h.Info, "HELLO");
  EXPECT_EQ(h.Via, "");

  EXPECT_EQ(l2_.GetHeader(" 1:Fm A To B <RR R3 >[x]\r").NR, 3);
  EXPECT_EQ(l2_.GetHeader(" 1:Fm A To B <RR R12 >[x]\r").NR, 1);

  h = l2_.GetHeader(" 1:Fm A To B <UI pid=F0 >[x]\rHI\r");
  EXPECT_EQ(h.Pid, "F0 ");
  EXPECT_EQ(h.Len, 0);
  h = l2_.GetHeader(" 1:Fm A To B <UI pid=F0 Len=0 >[x]\r");
  EXPECT_EQ(h.Len, 1);
  EXPECT_EQ(h.Info, "\r");
  h = l2_.GetHeader(" 1:Fm A To B <UI pid=F0 Len=300 >[x]\r" + std::string(300, 'i') + "\r");
  EXPECT_EQ(h.Info, std::string(256, 'i'));
  h = l2_.GetHeader(" 1:Fm A To B <UI pid=CF Len=5 >[x]\rAB\nCD\r");
  EXPECT_EQ(h.Info, "AB");
  h = l2_.GetHeader(" 1:Fm A To B <UI pid=CD Len=5 >[x]\rAB\nCD\nEF\r");
  EXPECT_EQ(h.Info, "AB\rCD");
}

TEST_F(TL2Test, GetHeaderFailures) {
  TMonitorHeader h = l2_.GetHeader(":Fm A To B <UI pid=F0 Len=5 >\rHELLO");
  EXPECT_EQ(h.Info, "\r");
  EXPECT_EQ(h.Len, 1);
  EXPECT_EQ(Log().back(), " Exception on module GetHeader");
  h = l2_.GetHeader(" 1:Fm A To B <RR P");
  EXPECT_EQ(h.Info, "\r");
  h = l2_.GetHeader(" 1:Fm A To B <UI pid=F0 Len=99999999999 >\rX");
  EXPECT_EQ(h.Len, 1);
  for (const std::string& junk : std::vector<std::string>{"", "\r\r", "1:", std::string(1000, '<'), std::string("\0:\0", 3)}) {
    (void)l2_.GetHeader(junk);
  }
}

TEST_F(TL2Test, CallSignsFromAddressFields) {
  auto field = [](const std::string& call, int ssid) {
    std::string f;
    for (char c : PadRight(call, 6, ' ')) f += static_cast<char>(c << 1);
    return f + static_cast<char>(0x60 | (ssid << 1));
  };
  std::string call;
  EXPECT_TRUE(l2_.FCallSign(field("ABC", 0), call));
  EXPECT_EQ(call, "ABC");
  EXPECT_TRUE(l2_.FCallSign(field("ABC", 5), call));
  EXPECT_EQ(call, "ABC-5");
  EXPECT_TRUE(l2_.FCallSign(field("N0CALL", 15), call));
  EXPECT_EQ(call, "N0CALL-15");
  EXPECT_FALSE(l2_.FCallSign(field("ABC", 5).substr(0, 6), call));
  EXPECT_EQ(call, "");
  EXPECT_TRUE(Logged("{L2} ERROR Corrupted Call received at FCallSign"));
  EXPECT_EQ(TL2::CallSSID("ABC-12"), 12);
  EXPECT_EQ(TL2::CallSSID("ABC"), 0);
  EXPECT_EQ(TL2::CallSSID("ABC-"), 0);
  EXPECT_THROW(TL2::CallSSID("ABC-X"), std::invalid_argument);
}

}  // namespace
}  // namespace ovlar
