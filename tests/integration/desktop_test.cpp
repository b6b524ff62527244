// The desktop front end as a user meets it: on a virtual X display with a
// notification area, the icon docks and shows the link and traffic, the
// menu opens on a right click, About, Help and Shutdown do their work.
// Screenshots are kept in the build folder for people to look at.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "AgwServer.h"
#include "BridgeFixture.h"
#include "OvlarProcess.h"
#include "Process.h"

namespace ovlar {
namespace {

using namespace test;

class DesktopTest : public ::testing::Test {
 protected:
  void SetUp() override {
#ifndef OVLAR_HAVE_QT
    GTEST_SKIP() << "built without the desktop front end";
#endif
    for (const char* p : {"Xvfb", "trayer", "xdotool", "import", "convert"}) {
      if (!HaveProgram(p)) GTEST_SKIP() << p << " is not installed";
    }
    // The server picks a free display itself and names it once it takes
    // clients. Without -noreset it starts over whenever its last client
    // leaves, as the program's display probe does before the tray host has
    // come, and Qt then finds no display.
    const std::string number = logs_.Path() + "/display";
    ASSERT_TRUE(xvfb_.Start({"Xvfb", "-displayfd", "1", "-screen", "0", "640x480x24", "-nolisten", "tcp", "-noreset"},
                            {}, "", number, "", logs_.Path() + "/xvfb.log"));
    ASSERT_TRUE(WaitFor([&] { return ReadFile(number).find('\n') != std::string::npos; }))
        << "Xvfb said: " << ReadFile(logs_.Path() + "/xvfb.log");
    env_ = "DISPLAY=:" + ReadFile(number).substr(0, ReadFile(number).find('\n'));
    ASSERT_TRUE(tray_.Start({"trayer", "--edge", "bottom", "--align", "right", "--widthtype", "request", "--height",
                             "32"},
                            {env_}, "", logs_.Path() + "/trayer.log"));
    std::error_code made;
    std::filesystem::create_directories(OVLAR_SCREENS_DIR, made);
    ASSERT_FALSE(made) << OVLAR_SCREENS_DIR << ": " << made.message();
  }

  // Stopped by SIGTERM, so that they take their sockets and lock files along.
  void TearDown() override {
    tray_.Stop();
    xvfb_.Stop();
  }

  // Runs a shell command on the display and returns what it printed. A
  // tool that hangs on a busy display is cut off, so that the caller's own
  // wait decides, not the test's time limit.
  std::string Sh(const std::string& command) {
    std::string out;
    FILE* p = popen((env_ + " timeout -k 2 15 " + command + " 2>/dev/null").c_str(), "r");
    if (!p) return out;
    char buf[256];
    while (fgets(buf, sizeof buf, p)) out += buf;
    pclose(p);
    while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
    return out;
  }
  // The docked icon: the smallest visible window of the program.
  std::string IconWindow() {
    std::string best;
    int bestArea = 1 << 30;
    const std::string ids = Sh("xdotool search --onlyvisible --classname ovlar");
    size_t at = 0;
    while (at < ids.size()) {
      const size_t end = std::min(ids.find('\n', at), ids.size());
      const std::string id = ids.substr(at, end - at);
      at = end + 1;
      int w = 0, h = 0;
      if (std::sscanf(Sh("xdotool getwindowgeometry " + id + " | sed -n 's/.*Geometry: //p'").c_str(), "%dx%d", &w, &h) ==
              2 &&
          w * h < bestArea && w > 0) {
        best = id;
        bestArea = w * h;
      }
    }
    return bestArea <= 64 * 64 ? best : std::string();
  }
  std::string Window(const std::string& search) {
    const std::string ids = Sh("xdotool search --onlyvisible " + search);
    return ids.substr(0, ids.find('\n'));
  }
  // The icon's picture by its average colour: XON green, XOFF amber,
  // XUNKNOWN grey.
  std::string IconState(const std::string& shot = "") {
    std::string state = "?";
    for (int i = 0; i < 3 && state == "?"; ++i) state = IconColour(shot);
    return state;
  }
  std::string IconColour(const std::string& shot) {
    const std::string file = dir_ + "/icon.png";
    std::remove(file.c_str());
    Sh("import -window " + icon_ + " " + file);
    if (!shot.empty()) Sh("cp " + file + " " + std::string(OVLAR_SCREENS_DIR) + "/" + shot);
    const std::string rgb = Sh("convert " + file + " -resize 1x1! -format '%[fx:int(255*r)] %[fx:int(255*g)] %[fx:int(255*b)]' info:");
    int r = 0, g = 0, b = 0;
    if (std::sscanf(rgb.c_str(), "%d %d %d", &r, &g, &b) != 3) return "?";
    if (std::max({r, g, b}) - std::min({r, g, b}) < 16) return "XUNKNOWN";
    return g > r ? "XON" : "XOFF";
  }
  void Screenshot(const std::string& name) { Sh("import -window root " + std::string(OVLAR_SCREENS_DIR) + "/" + name); }
  // Opens the icon's menu with a right click; retried, as a click can land
  // before the icon is ready for it.
  bool OpenMenu() {
    for (int i = 0; i < 3; ++i) {
      Sh("xdotool mousemove --window " + icon_ + " 8 8 click 3");
      if (RunUntil(loop_, [&] { return !Window("--name '^Ovlar menu$'").empty(); }, 3000)) {
        RunUntil(loop_, [] { return false; }, 200);
        return true;
      }
    }
    return false;
  }
  void Keys(const std::string& keys) {
    RunUntil(loop_, [] { return false; }, 150);
    Sh("xdotool key " + keys);
  }

  TempDir logs_{"ovlar-x"};
  std::string env_;
  Process xvfb_;
  Process tray_;
  EventLoop loop_;
  std::string icon_;
  std::string dir_;
};

TEST_F(DesktopTest, IconMenuAboutHelpAndShutdown) {
  AgwServer agw(loop_);
  UdpPeer node;
  OvlarProcess ovlar;
  dir_ = ovlar.Dir();
  // The desktop hands documents to xdg-open, which would pass them on to
  // whatever browser is installed: a stand-in first on PATH records them.
  mkdir((dir_ + "/bin").c_str(), 0755);
  WriteFile(dir_ + "/bin/xdg-open", "#!/bin/sh\necho \"$1\" >> " + dir_ + "/browser.txt\n");
  chmod((dir_ + "/bin/xdg-open").c_str(), 0755);
  const char* path = std::getenv("PATH");
  for (const char* file : {"/OVLAR.ICO", "/OVLAR.HTM"}) {
    WriteFile(dir_ + file, ReadFile(std::string(OVLAR_EXAMPLES_DIR) + file));
  }
  WriteFile(dir_ + "/OVLAR.INI", "[OVLAR]\nTRACE=1\n[AGW]\nPORT=" + std::to_string(agw.Port()) +
                                     "\n[XNET.PORT]\nP=1,0," + std::to_string(node.Port()) + "\n");
  Process program;
  ASSERT_TRUE(program.Start({OVLAR_BINARY}, {env_, "PATH=" + dir_ + "/bin:" + (path ? path : "/usr/bin:/bin"), "QT_QPA_PLATFORM=xcb",
                             // The X and font libraries keep memory to the end.
                             "ASAN_OPTIONS=detect_leaks=0"}, "",
                            dir_ + "/stderr.txt", dir_));
  // A cold first start of Qt and the tray host on a loaded machine can take long.
  ASSERT_TRUE(RunUntil(loop_, [&] { return !(icon_ = IconWindow()).empty(); }, 60000))
      << "the icon never docked; the program said:\n" << ReadFile(dir_ + "/stderr.txt");
  EXPECT_EQ(IconState("icon-start.png"), "XUNKNOWN");
  RunUntil(loop_, [] { return false; }, 1500);
  EXPECT_EQ(IconState(), "XUNKNOWN") << "no green before the link is usable";
  // Traffic: the icon turns XOFF while frames pass and XON a second later.
  ASSERT_TRUE(RunUntil(loop_, [&] { return agw.Kinds() == "GRk"; }));
  agw.Send(0, 'G', "1;Port1;");
  ASSERT_TRUE(RunUntil(loop_, [&] { return ovlar.Logged("<L2> Event <OnPort>"); }));
  ASSERT_TRUE(RunUntil(loop_, [&] { return IconState() == "XON"; })) << "XON once the port list came";
  IconState("icon-xon.png");
  ASSERT_TRUE(RunUntil(loop_, [&] {
    agw.Send(0, 'K', std::string(1, '\0') + Ax25Frame("CQ", 0, "N0CALL", 1, 0x03, "traffic"));
    return IconState() == "XOFF";
  })) << "XOFF while frames pass";
  IconState("icon-xoff.png");
  EXPECT_NE(node.Receive(), "<none>");
  ASSERT_TRUE(RunUntil(loop_, [&] { return IconState() == "XON"; })) << "XON again after a second";

  ASSERT_TRUE(OpenMenu());
  Screenshot("menu.png");
  Keys("Down Return");
  ASSERT_TRUE(RunUntil(loop_, [&] { return !Window("--name '^AXIP-AGWPE Bridge for the AGWPE$'").empty(); }))
      << "About opens the about box";
  RunUntil(loop_, [] { return false; }, 300);
  Screenshot("about.png");
  Keys("Return");
  ASSERT_TRUE(RunUntil(loop_, [&] { return Window("--name '^AXIP-AGWPE Bridge for the AGWPE$'").empty(); }));

  ASSERT_TRUE(OpenMenu());
  Keys("Down Down Return");
  ASSERT_TRUE(RunUntil(loop_, [&] { return !ReadFile(dir_ + "/browser.txt").empty(); })) << "Help opens the browser";
  EXPECT_EQ(ReadFile(dir_ + "/browser.txt"), "file://" + dir_ + "/OVLAR.HTM\n");

  ASSERT_TRUE(OpenMenu());
  Keys("Up Return");
  ASSERT_TRUE(RunUntil(loop_, [&] { return !Window("--name '^Warning!$'").empty(); }));
  Screenshot("shutdown.png");
  Keys("Escape");
  ASSERT_TRUE(RunUntil(loop_, [&] { return Window("--name '^Warning!$'").empty(); }));
  RunUntil(loop_, [] { return false; }, 500);
  EXPECT_EQ(waitpid(program.Pid(), nullptr, WNOHANG), 0) << "Cancel leaves it running";

  ASSERT_TRUE(OpenMenu());
  Keys("Up Return");
  ASSERT_TRUE(RunUntil(loop_, [&] { return !Window("--name '^Warning!$'").empty(); }));
  Keys("Return");
  int status = -1;
  ASSERT_TRUE(RunUntil(loop_, [&] { return program.Reap(status); }, 60000))
      << "the confirmed Shutdown ends the program; it said:\n" << ReadFile(dir_ + "/stderr.txt");
  EXPECT_EQ(status, 0);
  const std::string log = ReadFile(dir_ + "/OVLAR.LOG");
  const size_t requested = log.find("Destroy: Shut-Down Requested");
  ASSERT_NE(requested, std::string::npos);
  EXPECT_LT(requested, log.find("Destroy: L2 Object Destroyed"));
  EXPECT_LT(log.find("Destroy: L2 Object Destroyed"), log.find("Destroy: UDP Client Object Destroyed"));
  EXPECT_LT(log.find("Destroy: UDP Client Object Destroyed"), log.find("Destroy: Retry-Out Timer Object Destroyed"));
  EXPECT_LT(log.find("Destroy: Retry-Out Timer Object Destroyed"), log.find("Destroy: ShutDown Completed"));
}

}  // namespace
}  // namespace ovlar
