#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bridge/HeardList.h"
#include "bridge/StatusPage.h"

namespace ovlar {
namespace {

using D = THeardDirection;

std::vector<std::string> Rows(const THeardList& list) {
  std::vector<std::string> rows;
  for (const THeard& h : list.Entries()) {
    rows.push_back(h.Call + " " + std::to_string(h.Port) + (h.Direction == D::RadioToIp ? " R>I " : " I>R ") +
                   std::to_string(h.Frames) + " @" + std::to_string(h.Last));
  }
  return rows;
}

// Keyed by station, port and direction, the most recent first; at the
// limit the one heard longest ago goes.
TEST(HeardListTest, KeepsTheMostRecentFirstWithinItsLimit) {
  THeardList list(3);
  list.Heard("N0CALL-1", 1, D::RadioToIp, 100);
  list.Heard("N0CALL-1", 2, D::RadioToIp, 101);
  list.Heard("N0CALL-1", 1, D::IpToRadio, 102);
  list.Heard("N0CALL-1", 1, D::RadioToIp, 103);
  list.Heard("", 1, D::RadioToIp, 104);
  EXPECT_EQ(Rows(list), (std::vector<std::string>{"N0CALL-1 1 R>I 2 @103", "N0CALL-1 1 I>R 1 @102",
                                                  "N0CALL-1 2 R>I 1 @101"}));
  list.Heard("DB0ABC", 1, D::RadioToIp, 105);
  EXPECT_EQ(Rows(list), (std::vector<std::string>{"DB0ABC 1 R>I 1 @105", "N0CALL-1 1 R>I 2 @103",
                                                  "N0CALL-1 1 I>R 1 @102"}));
  list.Heard("N0CALL-1", 2, D::RadioToIp, 106);
  EXPECT_EQ(list.Size(), 3u);
  EXPECT_EQ(Rows(list).front(), "N0CALL-1 2 R>I 1 @106") << "an evicted station comes back afresh";
}

// Whatever bytes a callsign holds, the page stays HTML and the JSON stays
// JSON; the page and the JSON show at most 100 rows of a longer list.
TEST(StatusPageTest, HostileCallsignsAreEscapedAndRowsCapped) {
  THeardList heard;
  for (int i = 0; i < 150; ++i) heard.Heard("S" + std::to_string(i), 1, D::RadioToIp, 1000 + i);
  heard.Heard("<b>\"&'\\\x01", 2, D::IpToRadio, 2000);
  TDirection r, i;
  TCacheList cache;
  cache.Append(3, "<i>", 1);
  TStatusView v;
  v.Product = "Ovlar 1.00.00";
  v.Mode = "CACHE";
  v.Now = 3000;
  v.RadioToIp = &r;
  v.IpToRadio = &i;
  v.Heard = &heard;
  v.Cache = &cache;

  const std::string html = StatusHtml(v);
  EXPECT_NE(html.find("<td>&lt;b&gt;&quot;&amp;&#39;\\?</td>"), std::string::npos);
  EXPECT_NE(html.find("<td>&lt;i&gt;</td>"), std::string::npos);
  EXPECT_EQ(html.find("<b>"), std::string::npos);
  EXPECT_NE(html.find("<td>S51</td>"), std::string::npos);
  EXPECT_EQ(html.find("<td>S50</td>"), std::string::npos) << "row 101 and later are left out";

  const std::string json = StatusJson(v);
  EXPECT_NE(json.find(R"("callsign":"<b>\"&'\\\u0001")"), std::string::npos) << json.substr(0, 400);
  EXPECT_NE(json.find(R"("heard_stations":151)"), std::string::npos);
  EXPECT_NE(json.find(R"("callsign":"S51")"), std::string::npos);
  EXPECT_EQ(json.find(R"("callsign":"S50")"), std::string::npos);
  EXPECT_NE(StatusMetrics(v).find("\novlar_heard_stations 151\n"), std::string::npos);
}

}  // namespace
}  // namespace ovlar
