// The KISS engine on a serial line: a pair of pseudo-terminals joined by
// socat stands in for the cable; the bridge opens one end, the test plays
// the TNC on the other and pulls the adapter out by stopping socat.
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <string>

#include "BridgeFixture.h"
#include "DirewolfPair.h"
#include "kiss/KissFrame.h"

namespace ovlar {
namespace {

using namespace test;
using namespace std::string_literals;

const std::string kData(1, '\0');
const std::string kAwkward = Ax25Frame("N0CALL", 0, "XNODE", 0, 0x00, "a\xC0" "b\xDB" "c"s);

class PtyPair {
 public:
  ~PtyPair() { Stop(); }
  std::string Device() const { return dir_.Path() + "/tnc"; }
  bool Start() {
    received_.clear();
    unlink(Device().c_str());
    unlink(Far().c_str());
    if (!socat_.Start({"socat", "-d", "-d", "pty,raw,echo=0,link=" + Device(), "pty,raw,echo=0,link=" + Far()}, {},
                      "", dir_.Path() + "/socat.log")) {
      return false;
    }
    if (!WaitFor([&] { return access(Device().c_str(), F_OK) == 0 && access(Far().c_str(), F_OK) == 0; })) return false;
    far_ = open(Far().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    termios t{};
    if (far_ < 0 || tcgetattr(far_, &t) != 0) return false;
    cfmakeraw(&t);
    return tcsetattr(far_, TCSANOW, &t) == 0;
  }
  // The adapter pulled out: both ends gone.
  void Stop() {
    if (far_ >= 0) close(far_);
    far_ = -1;
    socat_.Stop(SIGTERM);
  }
  void Write(const std::string& bytes) const {
    for (size_t done = 0; done < bytes.size();) {
      const ssize_t n = write(far_, bytes.data() + done, bytes.size() - done);
      if (n < 0 && errno != EAGAIN) return;
      if (n > 0) done += static_cast<size_t>(n);
    }
  }
  // What the TNC end has received so far, the loop turning until there are count bytes.
  std::string Read(EventLoop& loop, size_t count) {
    RunUntil(loop, [&] {
      char chunk[4096];
      const ssize_t n = read(far_, chunk, sizeof chunk);
      if (n > 0) received_.append(chunk, static_cast<size_t>(n));
      return received_.size() >= count;
    });
    return received_;
  }

 private:
  std::string Far() const { return dir_.Path() + "/far"; }

  TempDir dir_{"ovlar-pty"};
  Process socat_;
  int far_ = -1;
  std::string received_;
};

class KissSerial : public BridgeFixture {
 protected:
  void SetUp() override {
    if (!HaveProgram("socat")) GTEST_SKIP() << "socat is not installed";
    local_ = FreeUdpPort();
  }
  void StartSerial() {
    Start("[OVLAR]\nENGINE=KISS\nMODE=2\n[KISS]\nDEVICE=" + pty_.Device() + "\nSPEED=19200\n[XNET.PORT]\nA=1," +
          std::to_string(local_) + "," + std::to_string(node_.Port()) + "\n");
  }
  std::string Tnc() const { return "TNC(" + pty_.Device() + ")"; }
  void Up() { ASSERT_TRUE(RunUntil(loop_, [&] { return form_->Ready(); })); }
  // Frames both ways: one the TNC writes in two pieces, one from the node.
  void Traffic(const std::string& frame) {
    const std::string bytes = KissEncode(kData + frame);
    pty_.Write(bytes.substr(0, 9));
    Settle(loop_);
    pty_.Write(bytes.substr(9));
    EXPECT_EQ(AtNode(node_), WithFcs(frame));
    sender_.SendTo(local_, WithFcs(frame));
    EXPECT_EQ(pty_.Read(loop_, bytes.size()), bytes);
  }

  PtyPair pty_;
  UdpPeer node_, sender_;
  uint16_t local_ = 0;
};

TEST_F(KissSerial, RawAtTheSpeedFramesBothWaysAndAnAdapterPulledOutAndBack) {
  ASSERT_TRUE(pty_.Start());
  StartSerial();
  Up();
  EXPECT_TRUE(Logged("      SPEED:       19200"));
  EXPECT_EQ(desktop_.Current(), TrayIcon::XOn);
  const int fd = open(pty_.Device().c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
  termios t{};
  ASSERT_EQ(tcgetattr(fd, &t), 0);
  close(fd);
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B19200));
  EXPECT_EQ(t.c_cflag & (CSIZE | PARENB | CSTOPB), static_cast<tcflag_t>(CS8));
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
  Traffic(kAwkward);

  pty_.Stop();
  ASSERT_TRUE(RunUntil(loop_, [&] { return !form_->Ready(); }));
  EXPECT_TRUE(LoggedStart("{KISS} Disconnected from " + Tnc() + ": "));
  EXPECT_TRUE(Logged("<L2> Event <OnAGWError> AGWPE(OVLAR-0)"));
  EXPECT_EQ(desktop_.Current(), TrayIcon::XUnknown);

  ASSERT_TRUE(pty_.Start());
  Advance(60000);
  Up();
  Traffic(Ax25Frame("CQ", 0, "N1CALL", 0, 0x03, "back"));
}

TEST_F(KissSerial, AnAdapterThatAppearsLateIsOpenedOnTheRetry) {
  StartSerial();
  EXPECT_FALSE(form_->ConfigError());
  EXPECT_TRUE(Logged("{KISS} No link with " + Tnc() + ": open: No such file or directory (2)"));
  ASSERT_TRUE(pty_.Start());
  Advance(60000);
  Up();
  Traffic(kAwkward);
}

}  // namespace
}  // namespace ovlar
