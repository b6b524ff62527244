#include <gtest/gtest.h>
#include <linux/sockios.h>
#include <sys/ioctl.h>

#include <memory>
#include <string>
#include <vector>

#include "SocketTestUtil.h"
#include "net/WSocket.h"
#include "platform/WinSock.h"

namespace ovlar {
namespace {

using test::RunUntil;
using test::Settle;
using test::UdpPeer;

const char* StateName(TSocketState s) {
  static const char* names[] = {"invalid", "opened", "bound", "connecting", "connected", "accepting", "listening",
                                "closed"};
  return names[s];
}

class WSocketTest : public ::testing::Test {
 protected:
  // Records every event of a socket as text, in order.
  void Record(TWSocket& s) {
    s.OnChangeState = [this](TCustomWSocket*, TSocketState from, TSocketState to) {
      events_.push_back(std::string("state ") + StateName(from) + ">" + StateName(to));
    };
    s.OnSessionConnected = [this](TCustomWSocket*, uint16_t e) { events_.push_back("connected " + std::to_string(e)); };
    s.OnSessionClosed = [this](TCustomWSocket*, uint16_t e) { events_.push_back("closed " + std::to_string(e)); };
    s.OnDataSent = [this](TCustomWSocket*, uint16_t e) { events_.push_back("sent " + std::to_string(e)); };
  }
  template <class F>
  std::string ErrorText(F&& f) {
    return test::ExceptionText(std::forward<F>(f));
  }
  void UdpClient(TWSocket& s, uint16_t port) {
    s.SetProto("udp");
    s.SetAddr("127.0.0.1");
    s.SetPort(std::to_string(port));
    s.ComponentOptions = wsoNoReceiveLoop;
  }
  // A UDP listener on a free loopback port that reads one datagram per event.
  std::unique_ptr<TWSocket> UdpListener(std::vector<std::string>& got, bool noLoop = true) {
    auto s = std::make_unique<TWSocket>(loop_);
    s->SetProto("udp");
    s->SetAddr("127.0.0.1");
    s->SetPort("0");
    if (noLoop) s->ComponentOptions = wsoNoReceiveLoop;
    s->OnDataAvailable = [&got](TCustomWSocket* sender, uint16_t) {
      std::string buf(70000, '\0');
      sockaddr_in from{};
      int len = sizeof from;
      const int n = sender->ReceiveFrom(buf.data(), static_cast<int>(buf.size()), from, len);
      if (n >= 0) got.push_back(buf.substr(0, static_cast<size_t>(n)));
    };
    s->Listen();
    return s;
  }
  uint16_t LocalPortOf(TWSocket& s) { return test::BoundPort(s.HSocket()); }

  EventLoop loop_;
  std::vector<std::string> events_;
};

TEST_F(WSocketTest, UdpConnectSendCloseEventOrder) {
  UdpPeer peer;
  TWSocket s(loop_);
  Record(s);
  UdpClient(s, peer.Port());
  s.Connect();
  EXPECT_EQ(events_, (std::vector<std::string>{"state closed>opened", "state opened>connected", "connected 0"}));
  EXPECT_EQ(s.Send("x", 1), 1);
  std::string hundred(100, 'h');
  EXPECT_EQ(s.SendStr(hundred), 100);
  EXPECT_EQ(events_.size(), 3u) << "OnDataSent never fires inside Send";
  EXPECT_EQ(peer.Receive(), "x");
  EXPECT_EQ(peer.Receive(), hundred);
  ASSERT_TRUE(RunUntil(loop_, [&] { return events_.back() == "sent 0"; }));
  events_.clear();
  s.Close();
  EXPECT_EQ(events_, (std::vector<std::string>{"state connected>closed", "closed 0"}));
  events_.clear();
  s.Close();
  EXPECT_TRUE(events_.empty());
  EXPECT_EQ(s.Proto(), "tcp");
  EXPECT_EQ(s.Port(), std::to_string(peer.Port()));
  EXPECT_EQ(ErrorText([&] { s.Connect(); }), "Connect: No Port Specified");
}

TEST_F(WSocketTest, LongDatagramsLeaveWhole) {
  UdpPeer peer;
  TWSocket s(loop_);
  UdpClient(s, peer.Port());
  s.Connect();
  std::string big2000(2000, '\0');
  std::string big60000(60000, '\0');
  for (size_t i = 0; i < big60000.size(); ++i) big60000[i] = static_cast<char>(i * 31);
  for (size_t i = 0; i < big2000.size(); ++i) big2000[i] = static_cast<char>(i * 7);
  EXPECT_EQ(s.SendStr(big2000), 2000);
  EXPECT_EQ(s.SendStr(big60000), 60000);
  EXPECT_EQ(peer.Receive(), big2000);
  EXPECT_EQ(peer.Receive(), big60000);
}

TEST_F(WSocketTest, ListenerGetsOneDataEventPerDatagram) {
  std::vector<std::string> got;
  auto listener = UdpListener(got);
  EXPECT_EQ(listener->State(), wsConnected);
  int calls = 0;
  auto read = listener->OnDataAvailable;
  listener->OnDataAvailable = [&](TCustomWSocket* s, uint16_t e) {
    ++calls;
    read(s, e);
  };
  UdpPeer peer;
  for (const char* d : {"one", "two", "three"}) peer.SendTo(LocalPortOf(*listener), d);
  ASSERT_TRUE(RunUntil(loop_, [&] { return got.size() == 3; }));
  Settle(loop_);
  EXPECT_EQ(got, (std::vector<std::string>{"one", "two", "three"}));
  EXPECT_EQ(calls, 3);
  EXPECT_EQ(listener->ReadCount(), 11);
}

TEST_F(WSocketTest, WithoutNoReceiveLoopOneNotificationDrainsTheQueue) {
  std::vector<std::string> got;
  auto listener = UdpListener(got, false);
  UdpPeer peer;
  for (const char* d : {"a", "b", "c"}) peer.SendTo(LocalPortOf(*listener), d);
  ASSERT_TRUE(test::WaitReadable(listener->HSocket()));
  // Give the kernel the other two as well; they come from one sender in order.
  RunUntil(loop_, [&] { return !got.empty(); });
  EXPECT_EQ(got.size(), 3u);
}

TEST_F(WSocketTest, SettersWhileOpen) {
  UdpPeer peer;
  TWSocket s(loop_);
  UdpClient(s, peer.Port());
  s.Connect();
  s.SetPort(std::to_string(peer.Port()));
  s.SetAddr("127.0.0.1");
  s.SetProto("udp");
  EXPECT_EQ(ErrorText([&] { s.SetPort("99"); }), "Cannot change Port if not closed");
  EXPECT_EQ(ErrorText([&] { s.SetAddr("10.0.0.1"); }), "Cannot change Addr if not closed");
  EXPECT_EQ(ErrorText([&] { s.SetProto("tcp"); }), "Cannot change Proto if not closed");
  EXPECT_EQ(ErrorText([&] { s.SetLocalPort("5"); }), "Cannot change LocalPort if not closed");
  EXPECT_EQ(ErrorText([&] { s.SetLocalAddr("1.2.3.4"); }), "Cannot change LocalAddr if not closed");
  EXPECT_EQ(s.Port(), std::to_string(peer.Port()));
  s.Close();
  s.SetLocalAddr("");
  EXPECT_EQ(s.LocalAddr(), "0.0.0.0");
  EXPECT_EQ(ErrorText([&] { s.SetLocalAddr("255.255.255.255"); }), "SetLocalAddr(): Invalid IP address");
  int errors = 0;
  s.OnError = [&](TCustomWSocket*, int32_t, const std::string&) { ++errors; };
  s.SetLocalAddr("nonsense");
  EXPECT_EQ(errors, 1);
  EXPECT_EQ(s.LocalAddr(), "255.255.255.255");
}

TEST_F(WSocketTest, SendOnAClosedSocket) {
  TWSocket s(loop_);
  EXPECT_EQ(ErrorText([&] { s.Send("x", 1); }), "Error 10057 in function Send\r\nSocket is not connected");
  EXPECT_EQ(s.LastError(), 10057);
  std::vector<std::string> errors;
  s.OnError = [&](TCustomWSocket*, int32_t e, const std::string& m) { errors.push_back(std::to_string(e) + " " + m); };
  EXPECT_EQ(s.Send("x", 1), -1);
  s.SetLocalAddr("nonsense");
  EXPECT_EQ(errors, (std::vector<std::string>{"10057 Error 10057 in function Send\r\nSocket is not connected",
                                             "0 SetLocalAddr(): Invalid IP address"}))
      << "the event carries what the exception would";
}

TEST_F(WSocketTest, ListenRefusals) {
  TWSocket s(loop_);
  s.SetProto("udp");
  s.SetAddr("0.0.0.0");
  EXPECT_EQ(ErrorText([&] { s.Listen(); }), "Error 10022 in function listen: port not assigned\r\nInvalid argument");
  EXPECT_EQ(s.State(), wsClosed);
  s.SetPort("1");
  s.SetAddr("");
  EXPECT_EQ(ErrorText([&] { s.Listen(); }), "Error 10022 in function listen: address not assigned\r\nInvalid argument");
}

TEST_F(WSocketTest, ListenOnAPortInUseReportsAndCloses) {
  UdpPeer taken;
  TWSocket s(loop_);
  Record(s);
  int errors = 0;
  s.OnError = [&](TCustomWSocket*, int32_t, const std::string&) { ++errors; };
  s.SetProto("udp");
  s.SetAddr("127.0.0.1");
  s.SetPort(std::to_string(taken.Port()));
  s.Listen();
  EXPECT_EQ(errors, 1);
  EXPECT_EQ(s.LastError(), WSAEADDRINUSE);
  EXPECT_EQ(s.State(), wsClosed);
  EXPECT_EQ(s.HSocket(), -1);
}

TEST_F(WSocketTest, ConnectWithAnUnresolvableAddressCreatesNoSocket) {
  TWSocket s(loop_);
  s.SetProto("udp");
  s.SetPort("93");
  s.SetAddr("1.2.3.4.5");
  const std::string text = ErrorText([&] { s.Connect(); });
  EXPECT_EQ(text.rfind("connect: WSocketResolveHost: Cannot convert host address '1.2.3.4.5'", 0), 0u) << text;
  EXPECT_EQ(s.State(), wsClosed);
  EXPECT_EQ(s.HSocket(), -1);
  s.SetAddr("");
  EXPECT_EQ(ErrorText([&] { s.Connect(); }), "Connect: No IP Address Specified");
}

TEST_F(WSocketTest, BroadcastAddressEnablesBroadcast) {
  TWSocket s(loop_);
  s.SetProto("udp");
  s.SetAddr("255.255.255.255");
  s.SetPort("9");
  s.Connect();
  int on = 0;
  socklen_t len = sizeof on;
  getsockopt(s.HSocket(), SOL_SOCKET, SO_BROADCAST, &on, &len);
  EXPECT_EQ(on, 1);
}

TEST_F(WSocketTest, PeerAddrOfADatagramSocketClosesIt) {
  UdpPeer peer;
  TWSocket s(loop_);
  UdpClient(s, peer.Port());
  Record(s);
  int errors = 0;
  s.OnError = [&](TCustomWSocket*, int32_t, const std::string&) { ++errors; };
  s.Connect();
  events_.clear();
  EXPECT_EQ(s.PeerAddr(), "error");
  EXPECT_EQ(errors, 1);
  EXPECT_EQ(s.LastError(), WSAENOTCONN);
  EXPECT_EQ(s.State(), wsClosed);
  EXPECT_EQ(events_, std::vector<std::string>{"state connected>closed"});
}

TEST_F(WSocketTest, DestroyingAnOpenSocketFiresNoSessionClosed) {
  UdpPeer peer;
  auto s = std::make_unique<TWSocket>(loop_);
  UdpClient(*s, peer.Port());
  s->Connect();
  Record(*s);
  s.reset();
  Settle(loop_);
  EXPECT_EQ(std::count(events_.begin(), events_.end(), "closed 0"), 0);
}

TEST_F(WSocketTest, BackgroundExceptionsAndTheDataHandler) {
  std::vector<std::string> got;
  auto listener = UdpListener(got);
  listener->OnDataAvailable = [&](TCustomWSocket* s, uint16_t) {
    char buf[16];
    sockaddr_in from{};
    int len = sizeof from;
    s->ReceiveFrom(buf, sizeof buf, from, len);
    got.push_back("read");
    throw ESocketException("lost");
  };
  std::vector<std::string> bg;
  listener->OnBgException = [&](TCustomWSocket*, const std::exception& e, bool& canClose) {
    bg.push_back(e.what());
    canClose = false;
  };
  UdpPeer peer;
  peer.SendTo(LocalPortOf(*listener), "x");
  ASSERT_TRUE(RunUntil(loop_, [&] { return !got.empty(); }));
  Settle(loop_);
  EXPECT_TRUE(bg.empty());
  EXPECT_EQ(listener->State(), wsConnected);

  listener->PostTestException();
  Settle(loop_);
  EXPECT_EQ(bg, std::vector<std::string>{"Test exception in WSocket"});
  EXPECT_EQ(listener->State(), wsConnected);
  listener->OnBgException = nullptr;
  listener->PostTestException();
  Settle(loop_);
  EXPECT_EQ(listener->State(), wsClosed) << "Abort follows when nobody keeps the socket";
}

TEST_F(WSocketTest, DeferredCloseAndReleaseFromInsideAHandler) {
  std::vector<std::string> got;
  std::unique_ptr<TWSocket> listener = UdpListener(got);
  auto read = listener->OnDataAvailable;
  TWSocket* raw = listener.get();
  listener->OnDataAvailable = [&, read](TCustomWSocket* s, uint16_t e) {
    read(s, e);
    TCustomWSocket::ReleaseLater(std::move(listener));
  };
  Record(*raw);
  UdpPeer peer;
  peer.SendTo(LocalPortOf(*raw), "bye");
  ASSERT_TRUE(RunUntil(loop_, [&] { return listener == nullptr && !got.empty(); }));
  Settle(loop_);
  EXPECT_EQ(got, std::vector<std::string>{"bye"});

  TWSocket s(loop_);
  UdpClient(s, peer.Port());
  s.Connect();
  Record(s);
  s.CloseDelayed();
  EXPECT_EQ(s.State(), wsConnected);
  Settle(loop_);
  EXPECT_EQ(s.State(), wsClosed);
}

TEST_F(WSocketTest, ForwardLookups) {
  TWSocket s(loop_);
  std::vector<uint16_t> done;
  s.OnDnsLookupDone = [&](TCustomWSocket*, uint16_t e) { done.push_back(e); };
  s.DnsLookup("127.0.0.1");
  EXPECT_EQ(done, std::vector<uint16_t>{0});
  EXPECT_EQ(s.DnsResult(), "127.0.0.1");
  EXPECT_TRUE(s.DnsResultList().empty());
  s.DnsLookup("localhost");
  ASSERT_TRUE(RunUntil(loop_, [&] { return done.size() == 2; }));
  EXPECT_EQ(done[1], 0);
  EXPECT_EQ(s.DnsResult(), "127.0.0.1");
  s.DnsLookup("localhost");
  s.CancelDnsLookup();
  EXPECT_EQ(done.back(), WSAEINTR);
  Settle(loop_);
  EXPECT_EQ(done.size(), 3u) << "a cancelled lookup reports nothing more";
  s.OnError = [](TCustomWSocket*, int32_t, const std::string&) {};
  s.DnsLookup("");
  EXPECT_EQ(done.back(), WSAEINVAL);

  s.ReverseDnsLookup("127.0.0.1");
  ASSERT_TRUE(RunUntil(loop_, [&] { return done.size() == 5; }));
  EXPECT_EQ(done.back(), 0);
  EXPECT_EQ(s.DnsResultList().size(), 1u);
  EXPECT_FALSE(s.DnsResult().empty());
}

// A TCP pair made of the component's own listener, Accept and Dup.
TEST_F(WSocketTest, TcpListenAcceptDupAndStream) {
  TWSocket server(loop_);
  server.SetProto("tcp");
  server.SetAddr("127.0.0.1");
  server.SetPort("0");
  TWSocket accepted(loop_);
  std::string received;
  accepted.OnDataAvailable = [&](TCustomWSocket* s, uint16_t) { received += s->ReceiveStr(); };
  int sessions = 0;
  server.OnSessionAvailable = [&](TCustomWSocket* s, uint16_t e) {
    ++sessions;
    EXPECT_EQ(e, 0);
    accepted.Dup(s->Accept());
  };
  server.Listen();
  EXPECT_EQ(server.State(), wsListening);

  TWSocket client(loop_);
  Record(client);
  client.SetAddr("127.0.0.1");
  client.SetPort(std::to_string(test::BoundPort(server.HSocket())));
  client.Connect();
  EXPECT_EQ(client.State(), wsConnecting);
  ASSERT_TRUE(RunUntil(loop_, [&] { return client.State() == wsConnected && accepted.State() == wsConnected; }));
  EXPECT_EQ(client.PeerAddr(), "127.0.0.1");
  EXPECT_EQ(sessions, 1);

  std::string big(1 << 20, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>((i * 131) >> 3);
  EXPECT_EQ(client.SendStr(big), static_cast<int>(big.size()));
  ASSERT_TRUE(RunUntil(loop_, [&] { return received.size() >= big.size(); }));
  EXPECT_TRUE(received == big);
  ASSERT_TRUE(RunUntil(loop_, [&] { return client.AllSent(); }));

  events_.clear();
  accepted.Close();
  ASSERT_TRUE(RunUntil(loop_, [&] { return client.State() == wsClosed; }));
  // The default linger (on, 0 s) follows the FIN with a reset, so the peer
  // may see either; it sees exactly one close.
  EXPECT_EQ(std::count_if(events_.begin(), events_.end(), [](const std::string& e) { return e.rfind("closed ", 0) == 0; }),
            1);
}

// A peer that writes and then closes or resets: everything it wrote is
// read, a little at each notification, before the session is closed.
TEST_F(WSocketTest, TcpDataBeforeThePeersCloseIsAllReadFirst) {
  for (const bool reset : {false, true}) {
    SCOPED_TRACE(reset ? "reset" : "close");
    test::TcpServer server;
    TWSocket client(loop_);
    client.ComponentOptions = wsoNoReceiveLoop;
    std::string received;
    client.OnDataAvailable = [&](TCustomWSocket* s, uint16_t) {
      char buf[1000];
      const int n = s->Receive(buf, sizeof buf);
      if (n > 0) received.append(buf, static_cast<size_t>(n));
    };
    events_.clear();
    Record(client);
    client.OnSessionClosed = [&](TCustomWSocket*, uint16_t e) {
      events_.push_back("closed " + std::to_string(e) + " after " + std::to_string(received.size()));
    };
    client.SetAddr("127.0.0.1");
    client.SetPort(std::to_string(server.Port()));
    client.Connect();
    const int fd = server.Accept();
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(RunUntil(loop_, [&] { return client.State() == wsConnected; }));
    std::string sent(300000, '\0');
    for (size_t i = 0; i < sent.size(); ++i) sent[i] = static_cast<char>(i * 7 + (i >> 9));
    // Until all of it has reached the client: a reset drops what has not.
    int unsent = 0;
    for (size_t done = 0; done < sent.size() || (ioctl(fd, SIOCOUTQ, &unsent) == 0 && unsent > 0);) {
      const ssize_t n =
          done < sent.size() ? send(fd, sent.data() + done, sent.size() - done, MSG_DONTWAIT | MSG_NOSIGNAL) : 0;
      if (n > 0) done += static_cast<size_t>(n);
      if (n <= 0) loop_.RunOnce(10);
    }
    if (reset) {
      server.ResetClient();
    } else {
      server.CloseClient();
    }
    ASSERT_TRUE(RunUntil(loop_, [&] { return client.State() == wsClosed; }));
    EXPECT_EQ(events_.end()[-2], "closed " + std::string(reset ? "10054" : "0") + " after 300000");
    EXPECT_TRUE(received == sent);
  }
}

// Pause, resume, flush and abort on a TCP pair made with Listen and Dup.
TEST_F(WSocketTest, PauseResumeFlushAndAbort) {
  TWSocket server(loop_);
  server.SetAddr("127.0.0.1");
  server.SetPort("0");
  TWSocket accepted(loop_);
  std::string received;
  accepted.OnDataAvailable = [&](TCustomWSocket* s, uint16_t) { received += s->ReceiveStr(); };
  server.OnSessionAvailable = [&](TCustomWSocket* s, uint16_t) { accepted.Dup(s->Accept()); };
  server.Listen();
  TWSocket client(loop_);
  client.SetAddr("127.0.0.1");
  client.SetPort(std::to_string(test::BoundPort(server.HSocket())));
  client.Connect();
  ASSERT_TRUE(RunUntil(loop_, [&] { return accepted.State() == wsConnected && client.State() == wsConnected; }));

  accepted.Pause();
  client.SendStr("while paused");
  Settle(loop_, 10);
  EXPECT_TRUE(received.empty());
  accepted.Resume();
  ASSERT_TRUE(RunUntil(loop_, [&] { return received == "while paused"; }));

  std::string big(2 << 20, 'f');
  client.SendStr(big);
  client.Flush();
  EXPECT_TRUE(client.AllSent()) << "Flush returns once the buffer is out";
  ASSERT_TRUE(RunUntil(loop_, [&] { return received.size() == 12 + big.size(); }));

  Record(client);
  client.Abort();
  EXPECT_EQ(client.State(), wsClosed);
  EXPECT_EQ(events_, (std::vector<std::string>{"state connected>closed", "closed 0"}));
  EXPECT_EQ(client.Proto(), "tcp");
}

}  // namespace
}  // namespace ovlar

#ifndef NDEBUG
#include "net/ScktComp.h"

namespace ovlar {
namespace {

// A handler that destroys the component it was called from stops a debug
// build in the component's destructor, before anything runs on in freed
// memory; ReleaseLater is the way (see above).
TEST(LifetimeRules, ADebugBuildStopsWhenAHandlerDestroysItsComponent) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(
      {
        EventLoop loop;
        auto s = std::make_unique<TWSocket>(loop);
        s->SetProto("udp");
        s->SetAddr("127.0.0.1");
        s->SetPort("9");
        s->OnSessionConnected = [&](TCustomWSocket*, uint16_t) { s.reset(); };
        s->Connect();
      },
      "destroyed the socket it was called from");
  EXPECT_DEATH(
      {
        EventLoop loop;
        auto c = std::make_unique<TClientSocket>(loop);
        c->SetAddress("127.0.0.1");
        c->SetPort(9);
        c->OnConnecting = [&](TClientSocket*, TCustomWinSocket*) { c.reset(); };
        c->SetActive(true);
      },
      "destroyed the client socket it was called from");
  EXPECT_DEATH(
      {
        EventLoop loop;
        const int fd = wsock::Socket(SOCK_DGRAM, 0);
        auto n = std::make_unique<SocketNotifier>(loop);
        n->Select(fd, SocketKind::Datagram, FD_WRITE, [&](int, uint32_t, uint16_t) { n.reset(); });
        loop.RunOnce(0);
      },
      "destroyed by its own handler");
}

}  // namespace
}  // namespace ovlar
#endif
