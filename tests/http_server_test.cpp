#include <gtest/gtest.h>
#include <sys/resource.h>

#include <memory>
#include <string>
#include <vector>

#include "HttpClient.h"
#include "net/HttpServer.h"
#include "platform/WinSock.h"

namespace ovlar {
namespace {

using test::HttpClient;
using test::RunUntil;
using test::Settle;
using TState = THttpRequest::TState;

// ---- The request reader ----

struct HeadCase {
  std::string text;
  TState state;
  std::string method, path, query;
};

TEST(HttpRequestTest, ReadsHeadsInAnyPiecesAndRefusesBrokenOnes) {
  const HeadCase cases[] = {
      {"GET / HTTP/1.1\r\nHost: x\r\n\r\n", TState::Complete, "GET", "/", ""},
      {"HEAD /metrics?a=1&b HTTP/1.0\r\n\r\n", TState::Complete, "HEAD", "/metrics", "a=1&b"},
      {"\r\nGET /status.json HTTP/1.1\nHost: x\n\n", TState::Complete, "GET", "/status.json", ""},
      {"GET http://station:8080/metrics HTTP/1.1\r\n\r\n", TState::Complete, "GET", "/metrics", ""},
      {"GET http://station HTTP/1.1\r\n\r\n", TState::Complete, "GET", "/", ""},
      {"DELETE / HTTP/1.1\r\n\r\n", TState::Complete, "DELETE", "/", ""},
      {"GET / HTTP/1.1\r\nHost: x\r\n", TState::Reading, "GET", "/", ""},
      {"GET /\r\n\r\n", TState::Bad, "", "", ""},
      {"GET / HTTP/2.0\r\n\r\n", TState::Bad, "GET", "", ""},
      {"GET  / HTTP/1.1\r\n\r\n", TState::Bad, "", "", ""},
      {"G(T / HTTP/1.1\r\n\r\n", TState::Bad, "G(T", "", ""},
      {std::string("GET /\x01 HTTP/1.1\r\n\r\n"), TState::Bad, "GET", "", ""},
      {"GET / HTTP/1.1\r\nno colon here\r\n\r\n", TState::Bad, "GET", "/", ""},
      {"GET / HTTP/1.1\r\nA: b\r\n folded\r\n\r\n", TState::Bad, "GET", "/", ""},
  };
  for (const HeadCase& c : cases) {
    // Whole, and byte by byte: the outcome never depends on the pieces.
    for (size_t piece : {c.text.size(), size_t{1}}) {
      THttpRequest r;
      for (size_t at = 0; at < c.text.size() && r.State() == TState::Reading; at += piece) {
        r.Feed(c.text.data() + at, std::min(piece, c.text.size() - at));
      }
      EXPECT_EQ(r.State(), c.state) << c.text << " in pieces of " << piece;
      if (c.state == TState::Complete) {
        EXPECT_EQ(r.Method() + " " + r.Path() + " ?" + r.Query(), c.method + " " + c.path + " ?" + c.query);
      }
    }
  }
}

TEST(HttpRequestTest, HeadIsBoundedAndWhatFollowsItIsLeft) {
  const std::string line = "GET / HTTP/1.1\r\n";
  // Exactly at the limit the head is complete, one byte more it is not.
  std::string atLimit = line + "X: " + std::string(THttpRequest::kMaxHead - line.size() - 7, 'a') + "\r\n\r\n";
  ASSERT_EQ(atLimit.size(), THttpRequest::kMaxHead);
  THttpRequest fits;
  EXPECT_EQ(fits.Feed(atLimit.data(), atLimit.size()), atLimit.size());
  EXPECT_EQ(fits.State(), TState::Complete);

  const std::string over = line + "X: " + std::string(THttpRequest::kMaxHead, 'a');
  THttpRequest large;
  for (int i = 0; i < 100; ++i) large.Feed(over.data(), over.size());
  EXPECT_EQ(large.State(), TState::TooLarge);
  THttpRequest unended;
  EXPECT_EQ(unended.Feed(over.data(), THttpRequest::kMaxHead), THttpRequest::kMaxHead);
  EXPECT_EQ(unended.State(), TState::TooLarge) << "decided at the limit, not a byte later";

  THttpRequest endless;
  const std::string flood(1 << 20, 'a');
  EXPECT_EQ(endless.Feed(flood.data(), flood.size()), THttpRequest::kMaxHead);
  EXPECT_EQ(endless.State(), TState::TooLarge);

  const std::string twoRequests = "GET /a HTTP/1.1\r\n\r\nGET /b HTTP/1.1\r\n\r\n";
  THttpRequest first;
  EXPECT_EQ(first.Feed(twoRequests.data(), twoRequests.size()), twoRequests.size() / 2);
  EXPECT_EQ(first.Path(), "/a");
}

// ---- The server ----

class HttpServerTest : public ::testing::Test {
 protected:
  HttpServerTest() {
    server_->OnRequest = [this](const THttpRequest& r) {
      requests_.push_back(r.Method() + " " + r.Path());
      if (r.Path() == "/boom") throw std::runtime_error("handler failed");
      if (r.Path() != "/") return THttpReply{404, "text/plain", "none\n", {}};
      return THttpReply{200, "text/html; charset=utf-8", "<p>hello</p>", "X-Extra: 1\r\n"};
    };
    server_->OnProblem = [this](const std::string& text) { problems_.push_back(text); };
  }
  void SetUp() override {
    ASSERT_TRUE(server_->Listen("127.0.0.1", "0"));
    port_ = test::BoundPort(server_->Listener().HSocket());
  }
  test::HttpResponse Exchange(const std::string& request) { return HttpClient::Exchange(loop_, port_, request); }

  ManualClock clock_;
  EventLoop loop_{&clock_};
  std::unique_ptr<THttpServer> server_ = std::make_unique<THttpServer>(loop_);
  uint16_t port_ = 0;
  std::vector<std::string> requests_;
  std::vector<std::string> problems_;
};

TEST_F(HttpServerTest, AnswersEachRequestOnceAndCloses) {
  struct Case {
    std::string request;
    int status;
    std::string body;
  };
  const Case cases[] = {
      {"GET / HTTP/1.1\r\nHost: x\r\n\r\n", 200, "<p>hello</p>"},
      {"HEAD / HTTP/1.1\r\n\r\n", 200, ""},
      {"GET /elsewhere HTTP/1.0\r\n\r\n", 404, "none\n"},
      {"POST / HTTP/1.1\r\nContent-Length: 3\r\n\r\nabc", 405, "405 Method Not Allowed\n"},
      {"BREW / HTTP/1.1\r\n\r\n", 405, "405 Method Not Allowed\n"},
      {"hello\r\n\r\n", 400, "400 Bad Request\n"},
      {"GET / HTTP/1.1\r\nX: " + std::string(9000, 'a'), 431, "431 Request Header Fields Too Large\n"},
      {"GET /boom HTTP/1.1\r\n\r\n", 500, "500 Internal Server Error\n"},
  };
  for (const Case& c : cases) {
    const test::HttpResponse r = Exchange(c.request);
    EXPECT_EQ(r.status, c.status) << c.request.substr(0, 40);
    EXPECT_EQ(r.body, c.body) << c.request.substr(0, 40);
    EXPECT_TRUE(r.Has("Connection: close")) << r.head;
    EXPECT_EQ(r.Has("Allow: GET, HEAD"), c.status == 405) << r.head;
  }
  const test::HttpResponse head = Exchange("HEAD / HTTP/1.1\r\n\r\n");
  EXPECT_TRUE(head.Has("Content-Length: 12")) << "a HEAD tells the length of the GET's body";
  EXPECT_TRUE(head.Has("Content-Type: text/html; charset=utf-8"));
  EXPECT_TRUE(head.Has("X-Extra: 1"));
  EXPECT_EQ(requests_, (std::vector<std::string>{"GET /", "HEAD /", "GET /elsewhere", "GET /boom", "HEAD /"}));
  EXPECT_EQ(problems_, (std::vector<std::string>{"Exception on module OnRequest: handler failed"}));
  ASSERT_TRUE(RunUntil(loop_, [&] { return server_->Connections() == 0; }));
}

// The 17th connection closes the oldest idle one; one that waits for its
// response is never the one to go.
TEST_F(HttpServerTest, SeventeenthConnectionClosesTheOldestIdleOne) {
  std::vector<std::unique_ptr<HttpClient>> clients;
  for (size_t i = 0; i < THttpServer::kMaxConnections; ++i) {
    clients.push_back(std::make_unique<HttpClient>(port_));
    ASSERT_TRUE(RunUntil(loop_, [&] { return server_->Connections() == i + 1; }));
  }
  HttpClient late(port_);
  late.Send("GET / HTTP/1.1\r\n\r\n");
  ASSERT_TRUE(RunUntil(loop_, [&] { return late.Closed(); }));
  EXPECT_EQ(test::ParseResponse(late.Received()).status, 200);
  EXPECT_TRUE(clients[0]->Closed());
  EXPECT_TRUE(clients[0]->Received().empty());
  for (size_t i = 1; i < clients.size(); ++i) EXPECT_FALSE(clients[i]->Closed()) << i;
  EXPECT_LE(server_->Connections(), THttpServer::kMaxConnections);
}

// Ten seconds for the whole request, whether the client sends nothing or
// one byte a second; answered ones are untouched by the others' timeouts.
TEST_F(HttpServerTest, IdleAndSlowClientsAreClosedAfterTenSeconds) {
  HttpClient idle(port_);
  HttpClient slow(port_);
  ASSERT_TRUE(RunUntil(loop_, [&] { return server_->Connections() == 2; }));
  const std::string request = "GET / HTTP/1.1\r\nUser-Agent: " + std::string(40, 's') + "\r\n\r\n";
  for (size_t second = 0; second < 9; ++second) {
    slow.Send(request.substr(second, 1));
    clock_.Advance(1000);
    Settle(loop_, 2);
  }
  EXPECT_FALSE(idle.Closed());
  EXPECT_FALSE(slow.Closed());
  EXPECT_EQ(server_->Connections(), 2u);
  slow.Send(request.substr(9, 1));
  clock_.Advance(1000);
  ASSERT_TRUE(RunUntil(loop_, [&] { return idle.Closed() && slow.Closed(); }));
  EXPECT_TRUE(idle.Received().empty());
  EXPECT_TRUE(slow.Received().empty());
  EXPECT_TRUE(requests_.empty());
  EXPECT_EQ(server_->Connections(), 0u);
  EXPECT_EQ(Exchange("GET / HTTP/1.1\r\n\r\n").status, 200);
}

// The port is free for a new server at once, although the connections the
// old one closed linger on it; two servers never share it.
TEST_F(HttpServerTest, PortReopensAtOnceAndIsNeverShared) {
  EXPECT_EQ(Exchange("GET / HTTP/1.1\r\n\r\n").status, 200);
  THttpServer rival(loop_);
  EXPECT_FALSE(rival.Listen("127.0.0.1", std::to_string(port_)));
  EXPECT_EQ(rival.LastError(), WSAEADDRINUSE);
  server_ = std::make_unique<THttpServer>(loop_);
  EXPECT_TRUE(server_->Listen("127.0.0.1", std::to_string(port_))) << server_->LastError();
}

// Out of descriptors: one line, then accepting rests for a second instead
// of spinning on the connection that stays queued.
TEST_F(HttpServerTest, RefusedAcceptIsReportedAndRetriedLater) {
#ifdef __SANITIZE_ADDRESS__
  GTEST_SKIP() << "the sanitizers' own checks need descriptors while the limit holds";
#endif
  rlimit saved{};
  getrlimit(RLIMIT_NOFILE, &saved);
  HttpClient client(port_);
  // The accepted socket would take the lowest free number: make it too high.
  const int lowest = open("/dev/null", O_RDONLY | O_CLOEXEC);
  close(lowest);
  rlimit tight = saved;
  tight.rlim_cur = static_cast<rlim_t>(lowest);
  setrlimit(RLIMIT_NOFILE, &tight);
  Settle(loop_, 20);
  setrlimit(RLIMIT_NOFILE, &saved);
  ASSERT_EQ(problems_.size(), 1u);
  EXPECT_EQ(problems_[0], "accept failed: Too many open files (10024), accepting again in 1 s");
  client.Send("GET / HTTP/1.1\r\n\r\n");
  clock_.Advance(1000);
  ASSERT_TRUE(RunUntil(loop_, [&] { return client.Closed(); }));
  EXPECT_EQ(test::ParseResponse(client.Received()).status, 200);
}

}  // namespace
}  // namespace ovlar
