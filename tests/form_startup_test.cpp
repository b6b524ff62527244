#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <functional>
#include <memory>
#include <system_error>

#include "FakeDesktop.h"
#include "SocketTestUtil.h"
#include "TestUtil.h"
#include "bridge/Form1.h"
#include "bridge/Program.h"

namespace ovlar {
namespace {

using test::LogTexts;
using Lines = std::vector<std::string>;

class StartupTest : public ::testing::Test {
 protected:
  // Nothing listens on TCP port 1, and the node's port was free: the
  // bridge starts without touching anything real. Keys the test sets
  // itself come first and win.
  TForm1& Start(const std::string& ini) {
    test::WriteFile("OVLAR.INI", ini + "\n[AGW]\nPORT=1\n[XNET]\nPORT=" + nodePort_ + "\n");
    form_ = std::make_unique<TForm1>(loop_, desktop_);
    form_->FormCreate();
    return *form_;
  }
  Lines Log() { return LogTexts("OVLAR.LOG"); }
  // Log lines from the first that starts with `from`, `count` of them.
  Lines LogFrom(const std::string& from, size_t count) {
    const Lines all = Log();
    for (size_t i = 0; i < all.size(); ++i) {
      if (all[i].rfind(from, 0) == 0) return Lines(all.begin() + i, all.begin() + std::min(all.size(), i + count));
    }
    return {};
  }

  const std::string nodePort_ = std::to_string(test::FreeUdpPort());
  test::ScratchDir dir_;
  ManualClock clock_;
  EventLoop loop_{&clock_};
  test::FakeDesktop desktop_;
  std::unique_ptr<TForm1> form_;
};

TEST_F(StartupTest, NoIniMeansMapModeWithoutPortsAndAnEmptyLog) {
  form_ = std::make_unique<TForm1>(loop_, desktop_);
  form_->FormCreate();
  EXPECT_EQ(form_->Mode(), kModeMap);
  EXPECT_TRUE(form_->ConfigError());
  EXPECT_EQ(desktop_.Boxes, Lines{"Configuration Error!|XNet Port Configuration not found"});
  EXPECT_EQ(desktop_.Notices, Lines{"ovlar: OVLAR.INI: \"" + std::filesystem::current_path().string() +
                                    "/OVLAR.INI\" not read: No such file or directory"});
  EXPECT_EQ(desktop_.Terminated, 1);
  form_.reset();
  EXPECT_TRUE(std::filesystem::exists("OVLAR.LOG"));
  EXPECT_EQ(test::ReadFile("OVLAR.LOG"), "");
}

TEST_F(StartupTest, ParameterBlockInDirectModeLinesUpValues) {
  Start("[OVLAR]\nTRACE=1\nMODE=0\nRECOVER=on\n[AGW]\nHOSTNAME=localhost\nLOGIN=me\nPASSW=pw\nPORT=1\n"
        "DEFPORT=3\n[XNET]\nHOST=node\nADDRESS=127.0.0.2\nRADIOPORT=2\nCHANNELS=4\n");
  const Lines expected{
      "Create: Starting Ovlar Version 1.00.00",
      "Create: Parameters",
      "  General",
      "      LOGFILE:     OVLAR.LOG",
      "      TRACE:       1",
      "      RECOVER:     TRUE",
      "      MODE:        0",
      "  AGWPE",
      "      HOST:        localhost",
      "      ADDRESS:     127.0.0.1",
      "      PORT:        1",
      "      LOGIN:       me",
      "      PASSWORD:    ********",
      "      DEFAULT PORT:3",
      "  XNet",
      "      HOST:        node",
      "      ADDRESS:     127.0.0.2",
      "      PORT:        " + nodePort_,
      "      RADIOPORT    2",
      "      CHANNELS     4",
  };
  const Lines log = Log();
  ASSERT_GE(log.size(), expected.size());
  EXPECT_EQ(Lines(log.begin(), log.begin() + static_cast<long>(expected.size())), expected);
  EXPECT_EQ(form_->XNet()[1].AGWPort, 3);
  EXPECT_FALSE(form_->ConfigError());
}

TEST_F(StartupTest, MapModeLeavesOutTheNodePortLines) {
  Start("[OVLAR]\nTRACE=1\nMODE=2\n[XNET.PORT]\nP1=1,10093,93\n");
  EXPECT_EQ(LogFrom("  XNet", 4),
            (Lines{"  XNet", "      HOST:        ", "      ADDRESS:     127.0.0.1", "{L2} Set Monitor <N> CallSign(OVLAR-0)"}));
  EXPECT_EQ(LogFrom("Create: XNet Port", 1), Lines{"Create: XNet Port(P1) AGW(1) LocalUDP(10093) RemoteUDP(93)"});
  const TXNet& entry = form_->XNet()[1];
  EXPECT_EQ(entry.AGWPort, 1);
  EXPECT_EQ(entry.LocalUDP, 10093);
  EXPECT_EQ(entry.RemoteUDP, 93);
  EXPECT_EQ(entry.Name, "UDP Port");
}

TEST_F(StartupTest, ModeAndRecoverRules) {
  struct Case {
    std::string ini;
    uint8_t mode;
    bool recover;
  };
  const Case cases[] = {
      {"MODE=7\nRECOVER=on", kModeMap, true},    {"MODE=-1\nRECOVER=1", kModeMap, false},
      {"MODE=1\nRECOVER=True", kModeCache, true}, {"MODE=0\nRECOVER=no", kModeDirect, false},
      {"MODE= 1 \nRECOVER=", kModeCache, false},  {"MODE=x", kModeMap, true},
  };
  for (const Case& c : cases) {
    TForm1& form = Start("[OVLAR]\n" + c.ini + "\n[XNET.PORT]\nP=1,1,1\n");
    EXPECT_EQ(form.Mode(), c.mode) << c.ini;
    EXPECT_EQ(form.Recover(), c.recover) << c.ini;
  }
}

TEST_F(StartupTest, XNetPortLinesTakeTenValidEntries) {
  std::string ini = "[OVLAR]\nTRACE=1\n[XNET.PORT]\nBAD=1, 10093, 93\nSHORT=1,2\n";
  for (int i = 1; i <= 11; ++i) ini += "P" + std::to_string(i) + "=" + std::to_string(i) + ",100" + std::to_string(i) + ",93,x\n";
  Start(ini);
  EXPECT_EQ(LogFrom("Create: XNet Port(BAD)", 4),
            (Lines{"Create: XNet Port(BAD) AGW(1) LocalUDP( 10093) RemoteUDP( 93)",
                   "Create: Invalid Parameters, entry ignored", "Create: XNet Port(SHORT) AGW(1) LocalUDP(2) RemoteUDP()",
                   "Create: Invalid Parameters, entry ignored"}));
  for (int i = 1; i <= 10; ++i) EXPECT_EQ(form_->XNet()[i].AGWPort, i);
  EXPECT_EQ(LogFrom("Create: XNet Port(P11)", 2),
            (Lines{"Create: XNet Port(P11) AGW(11) LocalUDP(10011) RemoteUDP(93)",
                   "Create: Port Entries exceed maximum, entry ignored"}));
  EXPECT_FALSE(form_->ConfigError());
}

TEST_F(StartupTest, InvalidXNetPortLinesOnlyGiveAnEmptyTableWithoutError) {
  Start("[XNET.PORT]\nP=a,b,c\n");
  EXPECT_FALSE(form_->ConfigError());
  EXPECT_EQ(form_->XNet()[1].AGWPort, 0);
  EXPECT_TRUE(desktop_.Boxes.empty());
}

TEST_F(StartupTest, RoutesAreReadInDirectAndCacheModeOnly) {
  Start("[OVLAR]\nTRACE=1\nMODE=1\n[ROUTES]\nn0call-0=2\nN1CALL=  2 \nN0CALL-5=3 x\nN2CALL=100\nN3CALL=0\n"
        "N4CALL=-5\nN5CALL-=7\n[XNET.PORT]\nP=1,2,3\n");
  EXPECT_EQ(LogFrom("Create: Load Route", 7),
            (Lines{"Create: Load Route (2:N0CALL)", "Create: Load Route (2:N1CALL)", "Create: Load Route (3:N0CALL-5)",
                   "Create: Load Route (100:N2CALL)", "Create: Load Route (0:N3CALL)", "Create: Load Route (-5:N4CALL)",
                   "Create: Load Route (7:N5CALL)"}));
  const TCacheList& cache = form_->Cache();
  ASSERT_EQ(cache.Size(), 4u);
  EXPECT_EQ(cache.OfStation("N0CALL").size(), 1u);
  EXPECT_EQ(cache.OfStation("N0CALL")[0]->HeardPort, 2);
  EXPECT_EQ(cache.OfStation("N0CALL")[0]->Fixed, 1);
  EXPECT_EQ(cache.OfStation("N0CALL-5")[0]->HeardPort, 3);
  EXPECT_EQ(cache.OfStation("N5CALL")[0]->HeardPort, 7);
  EXPECT_TRUE(LogFrom("Create: XNet Port", 1).empty());
}

TEST_F(StartupTest, MapModeIgnoresRoutes) {
  Start("[OVLAR]\nTRACE=1\n[ROUTES]\nN0CALL=2\n[XNET.PORT]\nP=1,2,3\n");
  EXPECT_TRUE(form_->Cache().Empty());
  EXPECT_TRUE(LogFrom("Create: Load Route", 1).empty());
}

// Each ends start-up with one line naming the key, the value and the
// reason, on stderr and in the log, then shuts down in order with status 1.
TEST_F(StartupTest, UnworkableSettingsEndTheProgramWithOneLine) {
  const test::UdpPeer taken;
  const std::string busy = std::to_string(taken.Port());
  const std::string tooLarge = "\" is too large (at most 2147483647)";
  const std::string notHost = "\", neither an IPv4 address nor a host name";
  const std::string tooSmall = "\" is too small (at least 1)";
  const std::string radioPort = "\" holds a radio port out of range (1 to 255)";
  ASSERT_EQ(mkfifo("fifo", 0600), 0);
  std::filesystem::create_directory("logdir");
  struct Case {
    std::string ini;
    std::string line;
    // A LOGFILE refused is never opened: the line is on stderr alone.
    bool logged = true;
  };
  const Case cases[] = {
      {"[OVLAR]\nMODE=99999999999", "OVLAR.INI [OVLAR] MODE: \"99999999999" + tooLarge},
      {"[OVLAR]\nLOGSIZE=004294967296", "OVLAR.INI [OVLAR] LOGSIZE: \"004294967296" + tooLarge},
      {"[AGW]\nPORT=65536", "OVLAR.INI [AGW] PORT: \"65536\" is too large (at most 65535)"},
      {"[XNET.PORT]\nP1=1,2,3\nP2=1,99999999999,3\nP3=3,4,5",
       "OVLAR.INI [XNET.PORT] P2: \"1,99999999999,3\" holds a number too large (at most 2147483647)"},
      {"[XNET.PORT]\nP1=1,2,70000", "OVLAR.INI [XNET.PORT] P1: \"1,2,70000\" holds a UDP port too large (at most 65535)"},
      {"[OVLAR]\nMODE=1\n[ROUTES]\nN0CALL-X=2\nN1CALL=3",
       "OVLAR.INI [ROUTES] N0CALL-X: \"2\" has an SSID that is not a number"},
      {"[AGW]\nADDRESS=localhost",
       "OVLAR.INI [AGW] ADDRESS: \"localhost\" is not an IPv4 address (a host name belongs in HOSTNAME)"},
      {"[AGW]\nADDRESS=", "OVLAR.INI [AGW] ADDRESS: \"\" is not an IPv4 address (a host name belongs in HOSTNAME)"},
      {"[XNET]\nADDRESS=1.2.3.4.5", "OVLAR.INI [XNET] ADDRESS: \"1.2.3.4.5\" is neither an IPv4 address nor a host name"},
      {"[XNET]\nADDRESS=node one", "OVLAR.INI [XNET] ADDRESS: \"node one\" is neither an IPv4 address nor a host name"},
      {"[XNET]\nADDRESS=[::1", "OVLAR.INI [XNET] ADDRESS: \"[::1\" is neither an IPv4 address nor a host name"},
      {"[XNET]\nACCEPT=::1, [2001:db8::1], 2001:db8::g",
       "OVLAR.INI [XNET] ACCEPT: \"::1, [2001:db8::1], 2001:db8::g\" holds \"2001:db8::g" + notHost},
      {"[XNET]\nFOLLOW=yes\nACCEPT= , ",
       "OVLAR.INI [XNET] FOLLOW: \"yes\" needs an ACCEPT list: without one anybody could redirect the station's traffic"},
      {"[XNET.PORT]\nP1=1,0,3,node.test\nP2=2,0,4, node one ",
       "OVLAR.INI [XNET.PORT] P2: \"2,0,4, node one\" holds a host that is neither an IPv4 address nor a host name"},
      {"[OVLAR]\nMODE=0\n[XNET]\nPORT=" + busy,
       "OVLAR.INI [XNET] PORT: \"" + busy + "\" UDP listener on port " + busy + " not opened: Address already in use"},
      {"[XNET.PORT]\nP1=1,0,3\nP2=1," + busy + ",3",
       "OVLAR.INI [XNET.PORT] P2: \"1," + busy + ",3\" UDP listener on port " + busy +
           " not opened: Address already in use"},
      {"[XNET.PORT]\nP1=1,0,3\nP2=0,10193,94\nP3=3,0,5", "OVLAR.INI [XNET.PORT] P2: \"0,10193,94" + radioPort},
      {"[XNET.PORT]\nP1=257,0,3", "OVLAR.INI [XNET.PORT] P1: \"257,0,3" + radioPort},
      {"[XNET.PORT]\nP1=1,0,0", "OVLAR.INI [XNET.PORT] P1: \"1,0,0\" holds a remote UDP port too small (at least 1)"},
      {"[OVLAR]\nMODE=0\n[AGW]\nDEFPORT=300", "OVLAR.INI [AGW] DEFPORT: \"300\" is too large (at most 255)"},
      {"[OVLAR]\nMODE=1\n[AGW]\nDEFPORT=0", "OVLAR.INI [AGW] DEFPORT: \"0" + tooSmall},
      {"[AGW]\nPORT=0", "OVLAR.INI [AGW] PORT: \"0" + tooSmall},
      {"[OVLAR]\nMODE=0\n[XNET]\nPORT=00", "OVLAR.INI [XNET] PORT: \"00" + tooSmall},
      {"[XNET]\nACCEPT=127.0.0.1,999.1.1.1",
       "OVLAR.INI [XNET] ACCEPT: \"127.0.0.1,999.1.1.1\" holds \"999.1.1.1" + notHost},
      {"[XNET]\nACCEPT=XNET, bad name!", "OVLAR.INI [XNET] ACCEPT: \"XNET, bad name!\" holds \"bad name!" + notHost},
      {"[XNET]\nACCEPT=127.0.0.1 127.0.0.2",
       "OVLAR.INI [XNET] ACCEPT: \"127.0.0.1 127.0.0.2\" holds \"127.0.0.1 127.0.0.2" + notHost},
      {"[OVLAR]\nLOGFILE=OVLAR.INI", "OVLAR.INI [OVLAR] LOGFILE: \"OVLAR.INI\" is OVLAR.INI itself", false},
      {"[OVLAR]\nLOGFILE=fifo", "OVLAR.INI [OVLAR] LOGFILE: \"fifo\" is a FIFO, not a regular file", false},
      {"[OVLAR]\nLOGFILE=logdir/", "OVLAR.INI [OVLAR] LOGFILE: \"logdir/\" is a folder, not a regular file", false},
  };
  for (const Case& c : cases) {
    desktop_ = test::FakeDesktop{};
    std::filesystem::remove("OVLAR.LOG");
    const std::string ini = c.ini + "\n[OVLAR]\nTRACE=1\n[XNET.PORT]\nLAST=1,0,3\n";
    Start(ini);
    EXPECT_TRUE(form_->ConfigError()) << c.ini;
    EXPECT_EQ(desktop_.Terminated, 1) << c.ini;
    EXPECT_EQ(desktop_.Notices, Lines{"ovlar: " + c.line});
    EXPECT_TRUE(desktop_.Boxes.empty()) << c.ini;
    EXPECT_FALSE(desktop_.IconPresent) << c.ini;
    form_.reset();
    if (!c.logged) {
      EXPECT_FALSE(std::filesystem::exists("OVLAR.LOG")) << c.ini;
      EXPECT_EQ(test::ReadFile("OVLAR.INI").rfind(ini, 0), 0u) << "untouched: " << c.ini;
      continue;
    }
    const Lines log = Log();
    EXPECT_NE(std::find(log.begin(), log.end(), "Create: " + c.line), log.end()) << c.ini;
    EXPECT_EQ(log.back(), "Destroy: ShutDown Completed") << c.ini;
    if (c.line.find(" not opened: ") == std::string::npos) continue;
    const std::string why = "<AXIP> OnInError Listener Port(" + busy + "): Address already in use (10048)";
    EXPECT_NE(std::find(log.begin(), log.end(), why), log.end()) << c.ini;
  }
}

// Values that are not numbers fall back to the default as they always did,
// but say so; values that are numbers up to the limits work as before.
TEST_F(StartupTest, NonNumbersTakeTheDefaultWithAWarning) {
  Start("[OVLAR]\nTRACE=1\nMODE=1\n[AGW]\nPORT=-1\nDEFPORT=\n[XNET]\nRADIOPORT=0002147483647\n[XNET.PORT]\nP=1,0,3\n");
  EXPECT_FALSE(form_->ConfigError());
  EXPECT_EQ(desktop_.Notices, Lines{"ovlar: OVLAR.INI [AGW] PORT: \"-1\" is not a number, 8000 taken instead"});
  EXPECT_EQ(LogFrom("      PORT:", 1), Lines{"      PORT:        8000"});
  EXPECT_EQ(LogFrom("      RADIOPORT", 1), Lines{"      RADIOPORT    2147483647"});
  EXPECT_EQ(LogFrom("Create: OVLAR.INI", 1), Lines{"Create: OVLAR.INI [AGW] PORT: \"-1\" is not a number, 8000 taken instead"});
}

// An OVLAR.INI that is there is read or refused; only a missing one means
// the defaults. The log is the default's, at TRACE 0 empty.
TEST_F(StartupTest, AnIniThatCannotBeReadEndsTheProgram) {
  const std::string path = std::filesystem::current_path().string() + "/OVLAR.INI";
  struct Case {
    std::function<void()> make;
    std::string why;
  };
  const Case cases[] = {
      {[&] { std::filesystem::create_directory(path); }, "Is a directory"},
      {[&] { ASSERT_EQ(mkfifo(path.c_str(), 0600), 0); }, "not a regular file"},
  };
  for (const Case& c : cases) {
    desktop_ = test::FakeDesktop{};
    std::filesystem::remove_all(path);
    c.make();
    form_ = std::make_unique<TForm1>(loop_, desktop_);
    form_->FormCreate();
    EXPECT_TRUE(form_->ConfigError()) << c.why;
    EXPECT_EQ(desktop_.Terminated, 1) << c.why;
    EXPECT_EQ(desktop_.Notices, Lines{"ovlar: OVLAR.INI: \"" + path + "\" not read: " + c.why});
    EXPECT_TRUE(desktop_.Boxes.empty()) << "no MAP configuration error after it";
    form_.reset();
    EXPECT_EQ(test::ReadFile("OVLAR.LOG"), "");
  }
}

// Keys that serve DIRECT and CACHE only are not refused in MAP mode, and a
// log that cannot be created turns logging off, said on stderr.
TEST_F(StartupTest, WhatMapModeDoesNotUseAndAnUncreatableLogDoNotStopIt) {
  Start("[OVLAR]\nTRACE=5\nLOGFILE=missing/dir/x.log\n[AGW]\nDEFPORT=0\n[XNET]\nPORT=0\n[XNET.PORT]\nP=1,2,3\n");
  EXPECT_FALSE(form_->ConfigError());
  EXPECT_EQ(form_->XNet()[1].AGWPort, 1);
  EXPECT_EQ(desktop_.Notices, Lines{"ovlar: log \"missing/dir/x.log\" not opened: No such file or directory; "
                                    "the run goes on without a log"});
  Start("[OVLAR]\nTRACE=1\nLOGFILE=/dev/null\n[XNET.PORT]\nP=255,0,65535\n");
  EXPECT_FALSE(form_->ConfigError()) << "a character device is written as before";
  EXPECT_EQ(form_->XNet()[1].AGWPort, 255);
}

TEST_F(StartupTest, JunkIniNeitherCrashesNorStopsStartUp) {
  std::string junk(70000, 'J');
  for (size_t i = 0; i < junk.size(); i += 37) junk[i] = static_cast<char>(i & 0xFF);
  Start(junk + "\n[OVLAR]\nTRACE=1\n" + std::string(3000, 'x') + "=" + std::string(3000, 'y') +
        "\n[XNET.PORT]\nP=1,2,3\n[OVLAR]\nTRACE=9\n" + junk);
  EXPECT_EQ(Log().front(), "Create: Starting Ovlar Version 1.00.00");
  EXPECT_EQ(form_->XNet()[1].AGWPort, 1);
}

TEST_F(StartupTest, ShutdownAsksFirstAndLogsItsSteps) {
  Start("[OVLAR]\nTRACE=1\n[XNET.PORT]\nP=1,2,3\n");
  desktop_.Answer = MsgResult::Cancel;
  form_->ExitClick();
  EXPECT_EQ(desktop_.Terminated, 0);
  desktop_.Answer = MsgResult::Ok;
  form_->ExitClick();
  EXPECT_EQ(desktop_.Terminated, 1);
  EXPECT_EQ(desktop_.Boxes, (Lines{"Warning!|Do you really want to exit?", "Warning!|Do you really want to exit?"}));
  form_.reset();
  EXPECT_EQ(LogFrom("Destroy:", 7),
            (Lines{"Destroy: Shut-Down Requested", "{L2} AGW Object Closed 127.0.0.1:1", "{L2} AGW Object Destroyed",
                   "Destroy: L2 Object Destroyed", "Destroy: UDP Client Object Destroyed",
                   "Destroy: Retry-Out Timer Object Destroyed", "Destroy: ShutDown Completed"}));
}

}  // namespace
}  // namespace ovlar

namespace ovlar {
namespace {

// The system's poller until told to fail, as epoll_wait does when the
// kernel has no memory left.
class FailingPoller : public Poller {
 public:
  explicit FailingPoller(const bool& failing) : failing_(failing) {}
  void Update(int fd, bool read, bool write, bool fresh) override { real_->Update(fd, read, write, fresh); }
  void Remove(int fd) override { real_->Remove(fd); }
  std::vector<PollEvent> Wait(int timeoutMs) override {
    if (failing_) throw std::system_error(ENOMEM, std::system_category(), "epoll_wait");
    return real_->Wait(timeoutMs);
  }
  int Descriptor() const override { return real_->Descriptor(); }

 private:
  const bool& failing_;
  std::unique_ptr<Poller> real_ = Poller::Create();
};

TEST(LoopFailure, ItIsLoggedAndSaidAndEndsWithStatusThreeAfterTheOrderlyShutdown) {
  test::ScratchDir dir;
  bool failing = false;
  EventLoop loop(nullptr, std::make_unique<FailingPoller>(failing));
  test::FakeDesktop desktop;
  test::WriteFile("OVLAR.ICO", "ico");
  test::WriteFile("OVLAR.INI", "[OVLAR]\nTRACE=1\n[AGW]\nPORT=1\n[XNET.PORT]\nA=1,0,3\n");
  std::function<void(int)> onSignal;
  const int status = RunBridge(loop, desktop, [&] {
    loop.RunOnce(0);
    failing = true;
    loop.Run();
  }, onSignal);
  EXPECT_EQ(status, 3);
  const std::string line = "The event loop failed: epoll_wait: Cannot allocate memory; shutting down, exit status 3";
  EXPECT_EQ(desktop.Notices, Lines{"ovlar: " + line});
  EXPECT_FALSE(desktop.IconPresent);
  const Lines log = LogTexts("OVLAR.LOG");
  const auto at = std::find(log.begin(), log.end(), "Run: " + line);
  ASSERT_NE(at, log.end());
  EXPECT_NE(std::find(at, log.end(), "Destroy: L2 Object Destroyed"), log.end());
  EXPECT_EQ(log.back(), "Destroy: ShutDown Completed");
  EXPECT_FALSE(onSignal) << "no handler outlives the bridge";
}

}  // namespace
}  // namespace ovlar
