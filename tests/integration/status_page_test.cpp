// The status page as a browser shows it: headless Chromium loads it from the
// bridge at a phone's width and a desktop's, dumps the DOM it built and
// leaves screenshots in build/screens/ (status-page-phone.png,
// status-page-desktop.png).
#include <unistd.h>

#include <filesystem>

#include "Process.h"
#include "StatusFixture.h"

namespace ovlar {
namespace {

using namespace test;

std::string Chromium() {
  for (const char* path : {"/usr/bin/chromium", "/usr/bin/chromium-browser"}) {
    if (access(path, X_OK) == 0) return path;
  }
  return "";
}

// The width and height a PNG file declares, as "WxH".
std::string PngSize(const std::string& path) {
  const std::string png = ReadFile(path);
  if (png.size() < 24 || png.compare(1, 3, "PNG") != 0) return "not a PNG";
  auto word = [&](size_t at) {
    return (static_cast<uint32_t>(static_cast<uint8_t>(png[at])) << 24) |
           (static_cast<uint32_t>(static_cast<uint8_t>(png[at + 1])) << 16) |
           (static_cast<uint32_t>(static_cast<uint8_t>(png[at + 2])) << 8) | static_cast<uint8_t>(png[at + 3]);
  };
  return std::to_string(word(16)) + "x" + std::to_string(word(20));
}

class StatusPageBrowser : public StatusFixture {
 protected:
  // Loads the page at the window size; the DOM as Chromium built it.
  std::string Render(const std::string& size, const std::string& shot) {
    const std::string profile = dir_.Path() + "/chromium-" + shot;
    const std::string out = dir_.Path() + "/dom-" + shot + ".html";
    // The machine may have no network: without these Chromium waits for
    // connections of its own.
    const std::vector<std::string> argv = {
        Chromium(), "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
        "--disable-background-networking", "--disable-component-update", "--disable-sync",
        "--user-data-dir=" + profile, "--hide-scrollbars", "--window-size=" + size,
        "--screenshot=" + std::string(OVLAR_SCREENS_DIR) + "/status-page-" + shot + ".png", "--dump-dom",
        "http://127.0.0.1:" + std::to_string(web_) + "/"};
    Process browser;
    if (!browser.Start(argv, {}, "", out, dir_.Path(), dir_.Path() + "/chromium-" + shot + ".err")) return "";
    int status = -1;
    // The bridge serves the page while the browser runs.
    if (!RunUntil(loop_, [&] { return browser.Reap(status); }, 60000)) return "<chromium did not end>";
    EXPECT_EQ(status, 0) << ReadFile(dir_.Path() + "/chromium-" + shot + ".err");
    return ReadFile(out);
  }
};

TEST_F(StatusPageBrowser, PhoneAndDesktopShowTheCountersAndTheHeardStations) {
  if (Chromium().empty()) GTEST_SKIP() << "chromium is not installed (scripts/install-deps.sh test installs it)";
  std::error_code made;
  std::filesystem::create_directories(OVLAR_SCREENS_DIR, made);
  StartWithStatus("[XNET]\nCHANNELS=2\n");
  Connect();
  const struct {
    int port;
    const char* call;
    int ssid;
    int frames;
  } stations[] = {{1, "N0CALL", 1, 3}, {2, "DL1ABC", 7, 2}, {1, "G4XYZ", 0, 1}};
  size_t total = 0;
  for (const auto& s : stations) {
    for (int i = 0; i < s.frames; ++i) Hear(s.port, Ax25Frame("XNODE", 0, s.call, s.ssid, 0x3F));
    total += static_cast<size_t>(s.frames);
  }
  for (int i = 0; i < 2; ++i) NodeFrame();
  Hear(3, Ax25Frame("XNODE", 0, "N0CALL", 2, 0x3F));  // outside the channel range
  node_.SendTo(local_, fromNode_ + "??");              // a wrong FCS
  ASSERT_TRUE(RunUntil(loop_, [&] {
    return Transmitted().size() == total + 2 && form_->Counters().IpToRadio.Dropped() == 1;
  }));
  // A bridge that has run for a while: its loop's clock moves on.
  clock_.Advance((2 * 60 + 13) * 60 * 1000);
  Settle(loop_);

  for (const auto& [size, shot] : {std::pair{"390,844", "phone"}, std::pair{"1280,800", "desktop"}}) {
    const std::string dom = Render(size, shot);
    for (const std::string part : {"id=\"radio_to_ip_frames\">6<", "id=\"ip_to_radio_frames\">8<",
                                   "id=\"link_state\" class=\"up\">up<",
                                   "id=\"ip_to_radio_drop_bad_crc\">1<", "id=\"radio_to_ip_drop_not_mapped\">1<", "<td>N0CALL-1</td>", "<td>DL1ABC-7</td>",
                                   "<td>G4XYZ</td>", "<td>DB0ABC</td>", "<td>DB0ABC-5</td>"}) {
      EXPECT_NE(dom.find(part), std::string::npos) << shot << ": " << part << "\n" << dom.substr(0, 2000);
    }
    std::string expected = size;
    expected[expected.find(',')] = 'x';
    EXPECT_EQ(PngSize(std::string(OVLAR_SCREENS_DIR) + "/status-page-" + shot + ".png"), expected);
  }
}

}  // namespace
}  // namespace ovlar
