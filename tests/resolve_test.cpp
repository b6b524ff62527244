#include <arpa/inet.h>
#include <gtest/gtest.h>

#include "SocketTestUtil.h"
#include "net/WSocketResolve.h"
#include "net/WSockbuf.h"
#include "platform/WinSock.h"

namespace ovlar {
namespace {

std::string Dotted(uint32_t addr) { return wsock::InetNtoa(addr); }

template <class F>
std::string MessageOf(F&& f) {
  return test::ExceptionText(std::forward<F>(f));
}

TEST(Resolve, DottedQuadTest) {
  for (const char* yes : {"10.0.0.1", " 10.0.0.1 ", "010.1.1.1", "255.255.255.255", "0.0.0.0"}) {
    EXPECT_TRUE(WSocketIsDottedIP(yes)) << yes;
  }
  for (const char* no : {"256.1.1.1", "1.2.3", "1.2.3.4.5", "1.2.3.x", ".1.2.3", "1.2.3.", "1..2.3", "1.2.3.4 x",
                         "", "   ", "1.2.3.256", "a.b.c.d"}) {
    EXPECT_FALSE(WSocketIsDottedIP(no)) << no;
  }
}

TEST(Resolve, Hosts) {
  EXPECT_EQ(Dotted(WSocketResolveHost(" 10.0.0.1 ")), "10.0.0.1");
  EXPECT_EQ(WSocketResolveHost("255.255.255.255"), INADDR_NONE);
  EXPECT_EQ(Dotted(WSocketResolveHost("localhost")), "127.0.0.1");
  EXPECT_EQ(MessageOf([] { WSocketResolveHost(""); }), "WSocketResolveHost: '' Invalid Hostname.");
  const std::string long257(257, 'a');
  EXPECT_EQ(MessageOf([&] { WSocketResolveHost(long257); }), "WSocketResolveHost: '" + long257 + "' Invalid Hostname.");
  // 256 characters pass the length test and fail in the lookup instead.
  const std::string msg = MessageOf([] { WSocketResolveHost(std::string(256, 'a')); });
  EXPECT_EQ(msg.rfind("WSocketResolveHost: Cannot convert host address '", 0), 0u) << msg;
  const std::string bad = MessageOf([] { WSocketResolveHost("no-such-host.invalid"); });
  EXPECT_EQ(bad.rfind("WSocketResolveHost: Cannot convert host address 'no-such-host.invalid', Error #110", 0), 0u)
      << bad;
}

TEST(Resolve, Ports) {
  EXPECT_EQ(WSocketResolvePort("8000", "tcp"), 8000);
  EXPECT_EQ(WSocketResolvePort("80x", "tcp"), 80);
  EXPECT_EQ(MessageOf([] { WSocketResolvePort(std::string(32, '1'), "tcp"); }), "WSocketResolvePort: Invalid Port.");
  EXPECT_EQ(MessageOf([] { WSocketResolvePort("", "tcp"); }), "WSocketResolvePort: Invalid Port.");
  EXPECT_EQ(MessageOf([] { WSocketResolvePort(" 8000", "tcp"); }),
            "WSocketResolvePort: Cannot convert port ' 8000', Error #11004");
  EXPECT_EQ(WSocketResolvePort(std::string(29, '0') + "80", "udp"), 80);
}

TEST(Resolve, Protocols) {
  EXPECT_EQ(WSocketResolveProto(" udp "), 17);
  EXPECT_EQ(WSocketResolveProto("udp"), 17);
  EXPECT_EQ(WSocketResolveProto("17"), 17);
  EXPECT_EQ(WSocketResolveProto("tcp"), 6);
  EXPECT_EQ(MessageOf([] { WSocketResolveProto(""); }), "WSocketResolveProto: Invalid Protocol.");
  EXPECT_EQ(MessageOf([] { WSocketResolveProto("nonsense"); }),
            "WSocketResolveProto: Cannot convert protocol 'nonsense', Error #11004");
}

TEST(WinSockErrors, NumbersAndTexts) {
  EXPECT_EQ(WSAErrorFromErrno(EAGAIN), WSAEWOULDBLOCK);
  EXPECT_EQ(WSAErrorFromErrno(ECONNREFUSED), 10061);
  EXPECT_EQ(WSAErrorFromErrno(ECONNRESET), 10054);
  EXPECT_EQ(WSAErrorFromErrno(ENOTCONN), 10057);
  EXPECT_EQ(WSAErrorFromErrno(EADDRINUSE), 10048);
  EXPECT_EQ(WSocketErrorDesc(0), "No Error");
  EXPECT_EQ(WSocketErrorDesc(10057), "Socket is not connected");
  EXPECT_EQ(WSocketErrorDesc(10093), "WinSock not initialized");
  EXPECT_EQ(WSocketErrorDesc(11004), "No Data");
  EXPECT_EQ(WSocketErrorDesc(12345), "Not a WinSock error");
}

TEST(TBuffer, WritePeekRemoveAndReuse) {
  TBuffer buf(0);
  EXPECT_EQ(buf.Size(), 1514);
  TBuffer small(4);
  EXPECT_EQ(small.Write("abcdef", 6), 4);
  EXPECT_EQ(small.Write("x", 1), 0);
  int count = 0;
  const char* data = small.Peek(count);
  EXPECT_EQ(std::string(data, static_cast<size_t>(count)), "abcd");
  EXPECT_EQ(small.Remove(3), 3);
  EXPECT_EQ(std::string(small.Peek(count), 1), "d");
  small.SetSize(8);
  EXPECT_EQ(small.Write("efg", 3), 3);
  EXPECT_EQ(small.Remove(100), 4);
  EXPECT_EQ(small.Peek(count), nullptr);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(small.Write("12345678", 8), 8);
}

}  // namespace
}  // namespace ovlar
