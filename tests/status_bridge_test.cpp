// The status page of the whole bridge: its documents after known traffic,
// forwarding while bad clients hold the server, and no listener without
// [STATUS].
#include <ctime>

#include "StatusFixture.h"

namespace ovlar {
namespace {

using namespace test;

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// Everything /metrics says but the start time, which ends it.
std::string ExpectedMetrics(uint64_t r2iFrames, uint64_t r2iBytes, uint64_t i2rFrames, uint64_t i2rBytes) {
  const char* const labels[] = {"not_ready",   "not_mapped",  "bad_crc",       "bad_length",    "not_accepted",
                                "no_engine",   "send_failed", "engine_full",   "no_engine_port"};
  std::string m =
      "# HELP ovlar_frames_forwarded_total Frames forwarded, by direction.\n"
      "# TYPE ovlar_frames_forwarded_total counter\n"
      "ovlar_frames_forwarded_total{direction=\"radio_to_ip\"} " + std::to_string(r2iFrames) + "\n"
      "ovlar_frames_forwarded_total{direction=\"ip_to_radio\"} " + std::to_string(i2rFrames) + "\n"
      "# HELP ovlar_bytes_forwarded_total Bytes of the frames forwarded, by direction.\n"
      "# TYPE ovlar_bytes_forwarded_total counter\n"
      "ovlar_bytes_forwarded_total{direction=\"radio_to_ip\"} " + std::to_string(r2iBytes) + "\n"
      "ovlar_bytes_forwarded_total{direction=\"ip_to_radio\"} " + std::to_string(i2rBytes) + "\n"
      "# HELP ovlar_frames_dropped_total Frames not forwarded, by direction and reason.\n"
      "# TYPE ovlar_frames_dropped_total counter\n";
  for (const char* direction : {"radio_to_ip", "ip_to_radio"}) {
    for (const char* label : labels) {
      const bool one = (std::string(direction) == "radio_to_ip" && std::string(label) == "not_mapped") ||
                       (std::string(direction) == "ip_to_radio" && std::string(label) == "bad_crc");
      m += std::string("ovlar_frames_dropped_total{direction=\"") + direction + "\",reason=\"" + label + "\"} " +
           (one ? "1" : "0") + "\n";
    }
  }
  return m +
         "# HELP ovlar_link_up Whether the link to the packet engine is usable (1) or not (0).\n"
         "# TYPE ovlar_link_up gauge\n"
         "ovlar_link_up 1\n"
         "# HELP ovlar_link_changes_total Times the link to the packet engine came up or went down.\n"
         "# TYPE ovlar_link_changes_total counter\n"
         "ovlar_link_changes_total{change=\"up\"} 1\n"
         "ovlar_link_changes_total{change=\"down\"} 0\n"
         "# HELP ovlar_heard_stations Entries of the heard list (station, radio port, direction).\n"
         "# TYPE ovlar_heard_stations gauge\n"
         "ovlar_heard_stations 3\n"
         "# HELP ovlar_start_time_seconds Start time of the program, seconds since the Unix epoch.\n"
         "# TYPE ovlar_start_time_seconds gauge\n"
         "ovlar_start_time_seconds ";
}

class StatusBridge : public StatusFixture {};

TEST_F(StatusBridge, DocumentsAfterKnownTraffic) {
  const std::time_t before = std::time(nullptr);
  StartWithStatus("[AGW]\nPASSW=sekrit99\n");
  ASSERT_TRUE(Logged("<Create> Status page on http://127.0.0.1:" + std::to_string(web_) + "/"));
  Connect();
  for (int i = 0; i < 3; ++i) RadioFrame();
  Hear(5, heard_);  // outside the channel range
  for (int i = 0; i < 2; ++i) NodeFrame();
  std::string broken = WithFcs(fromNode_);
  broken.back() ^= 1;
  node_.SendTo(local_, broken);
  const TCounters& c = form_->Counters();
  ASSERT_TRUE(RunUntil(loop_, [&] { return Transmitted().size() == 5 && c.IpToRadio.Dropped() == 1; }));

  const HttpResponse metrics = Get("/metrics");
  EXPECT_EQ(metrics.status, 200);
  EXPECT_TRUE(metrics.Has("Content-Type: text/plain; version=0.0.4; charset=utf-8")) << metrics.head;
  const std::string expected = ExpectedMetrics(3, 3 * (heard_.size() + 2), 5, 3 * heard_.size() + 2 * fromNode_.size());
  ASSERT_EQ(metrics.body.substr(0, expected.size()), expected);
  const long long start = std::stoll(metrics.body.substr(expected.size()));
  EXPECT_GE(start, before);
  EXPECT_LE(start, std::time(nullptr));
  EXPECT_EQ(metrics.body.back(), '\n');

  const HttpResponse json = Get("/status.json");
  EXPECT_TRUE(json.Has("Content-Type: application/json"));
  for (const char* part : {R"("link":{"up":true,)", R"("radio_to_ip":{"frames_forwarded":3,"bytes_forwarded":51,)",
                           R"("frames_dropped":{"not_ready":0,"not_mapped":0,"bad_crc":1,)",
                           R"({"callsign":"N0CALL-1","port":1,"direction":"radio_to_ip","frames":3,)",
                           R"({"callsign":"N0CALL-1","port":1,"direction":"ip_to_radio","frames":3,)",
                           R"({"callsign":"DB0ABC","port":1,"direction":"ip_to_radio","frames":2,)",
                           R"("heard_stations":3,)", R"({"callsign":"DB0ABC-5","port":1,"static":true,)",
                           R"({"callsign":"N0CALL-1","port":1,"static":false,)"}) {
    EXPECT_TRUE(Contains(json.body, part)) << part << "\n" << json.body;
  }

  const HttpResponse page = Get("/");
  EXPECT_TRUE(page.Has("Content-Type: text/html; charset=utf-8"));
  for (const char* part : {"<meta http-equiv=\"refresh\" content=\"10\">", "id=\"radio_to_ip_frames\">3<",
                           "id=\"ip_to_radio_frames\">5<", "id=\"ip_to_radio_drop_bad_crc\">1<",
                           "<td>N0CALL-1</td>", "<td>DB0ABC</td>", "<td>DB0ABC-5</td><td class=\"n\">1</td><td>static",
                           "CACHE mode"}) {
    EXPECT_TRUE(Contains(page.body, part)) << part;
  }
  for (const HttpResponse* r : {&metrics, &json, &page}) {
    EXPECT_FALSE(Contains(r->body, "sekrit99"));
  }
  EXPECT_EQ(Get("/OVLAR.INI").status, 404);
  EXPECT_EQ(Get("/nowhere").status, 404);
  EXPECT_EQ(HttpClient::Exchange(loop_, web_, "POST /metrics HTTP/1.1\r\n\r\n").status, 405);
  const HttpResponse head = HttpClient::Exchange(loop_, web_, "HEAD /status.json HTTP/1.1\r\n\r\n");
  EXPECT_EQ(head.status, 200);
  EXPECT_TRUE(head.body.empty());

  // Within a second the documents are served as made; then they are made
  // anew, and the counters have only grown.
  RadioFrame();
  ASSERT_TRUE(RunUntil(loop_, [&] { return Transmitted().size() == 6; }));
  EXPECT_EQ(Get("/metrics").body, metrics.body);
  clock_.Advance(1000);
  EXPECT_TRUE(Contains(Get("/metrics").body, "ovlar_frames_forwarded_total{direction=\"radio_to_ip\"} 4\n"));
}

// Sixteen idle clients, one that sends a byte a second, one with a head far
// too large, and readers of the page: every second a frame each way goes
// through as before, and the clients are dealt with as they deserve.
TEST_F(StatusBridge, ForwardingGoesOnWhileBadClientsHoldTheServer) {
  StartWithStatus();
  Connect();
  const THttpServer& server = form_->StatusServer()->Server();
  std::vector<std::unique_ptr<HttpClient>> idle;
  for (size_t i = 0; i < THttpServer::kMaxConnections; ++i) {
    idle.push_back(std::make_unique<HttpClient>(web_));
    ASSERT_TRUE(RunUntil(loop_, [&] { return server.Connections() == i + 1; }));
  }
  HttpClient slow(web_);
  HttpClient large(web_);
  large.Send("GET / HTTP/1.1\r\nX: " + std::string(64 * 1024, 'x') + "\r\n\r\n");
  const std::string request = "GET / HTTP/1.1\r\nUser-Agent: " + std::string(30, 's') + "\r\n\r\n";
  const TCounters& c = form_->Counters();
  int pagesRead = 0;
  for (int second = 0; second < 12; ++second) {
    slow.Send(request.substr(static_cast<size_t>(second), 1));
    RadioFrame();
    NodeFrame();
    ASSERT_TRUE(RunUntil(loop_, [&] {
      return c.RadioToIp.Forwarded == static_cast<uint64_t>(second + 1) &&
             c.IpToRadio.Forwarded == static_cast<uint64_t>(2 * (second + 1));
    })) << "second " << second;
    if (second % 4 == 0) pagesRead += Get("/").status == 200;
    clock_.Advance(1000);
    Settle(loop_, 2);
  }
  EXPECT_EQ(pagesRead, 3);
  ASSERT_TRUE(RunUntil(loop_, [&] { return slow.Closed() && large.Closed(); }));
  EXPECT_TRUE(slow.Received().empty()) << "the slow client never finished its request";
  EXPECT_EQ(ParseResponse(large.Received()).status, 431);
  for (auto& client : idle) EXPECT_TRUE(client->Closed());
  EXPECT_TRUE(idle[0]->Received().empty());
  EXPECT_EQ(server.Connections(), 0u);
  EXPECT_EQ(c.RadioToIp.Dropped() + c.IpToRadio.Dropped(), 0u);
}

TEST_F(StatusBridge, ListensOnlyWhenAsked) {
  const std::set<unsigned long> before = ListeningTcpSockets();
  Start("[OVLAR]\nMODE=1\n[XNET]\nPORT=" + std::to_string(FreeUdpPort()) + "\n");
  EXPECT_EQ(ListeningTcpSockets(), before) << "no [STATUS]: no TCP listener";
  EXPECT_EQ(form_->StatusServer(), nullptr);
  form_.reset();
  Start("[STATUS]\nPORT=0\nADDRESS=0.0.0.0\n[OVLAR]\nMODE=1\n[XNET]\nPORT=" + std::to_string(FreeUdpPort()) + "\n");
  EXPECT_EQ(ListeningTcpSockets(), before) << "PORT=0: no TCP listener";
  form_.reset();

  StartWithStatus();
  EXPECT_EQ(ListeningTcpSockets().size(), before.size() + 1);
  EXPECT_FALSE(form_->ConfigError());
}

// A port that cannot be opened, or an address that is none, ends start-up.
TEST_F(StatusBridge, PortThatCannotBeOpenedEndsStartup) {
  TcpServer taken;
  const std::string port = std::to_string(taken.Port());
  struct Case {
    std::string status, notice;
  };
  const Case cases[] = {
      {"[STATUS]\nPORT=" + port + "\n",
       "ovlar: OVLAR.INI [STATUS] PORT: \"" + port + "\" TCP listener on 127.0.0.1 port " + port +
           " not opened: Address already in use"},
      {"[STATUS]\nPORT=8080\nADDRESS=192.0.2.7\n",
       "ovlar: OVLAR.INI [STATUS] ADDRESS: \"192.0.2.7\" TCP listener on 192.0.2.7 port 8080 not opened: Cannot "
       "assign requested address"},
      {"[STATUS]\nPORT=8080\nADDRESS=station.lan\n",
       "ovlar: OVLAR.INI [STATUS] ADDRESS: \"station.lan\" is not an IPv4 address"},
  };
  for (const Case& c : cases) {
    desktop_.Notices.clear();
    Start(c.status + "[OVLAR]\nMODE=1\n[XNET]\nPORT=" + std::to_string(FreeUdpPort()) + "\n");
    EXPECT_TRUE(form_->ConfigError()) << c.status;
    EXPECT_EQ(desktop_.Notices, std::vector<std::string>{c.notice});
    form_.reset();
  }
}

}  // namespace
}  // namespace ovlar
