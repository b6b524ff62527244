// Two direwolf instances as two sound-card modems on one simulated channel:
// each one's transmitted audio is the other's input, through FIFOs. Their
// AGW ports listen on loopback; A can be stopped and started again. A can
// serve a KISS TCP port as well, as a TNC for a KISS client.
#pragma once
#include <sys/stat.h>

#include <chrono>
#include <functional>
#include <iterator>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "Process.h"
#include "SocketTestUtil.h"
#include "TestUtil.h"

namespace ovlar::test {

// A TCP port that was free a moment ago.
inline uint16_t FreeTcpPort() {
  TcpServer probe;
  return probe.Port();
}

// True once some socket listens on the TCP port (read from /proc/net/tcp).
inline bool TcpListening(uint16_t port) {
  std::ifstream in("/proc/net/tcp");
  std::string line;
  char want[16];
  std::snprintf(want, sizeof want, ":%04X", port);
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string sl, local, remote, state;
    fields >> sl >> local >> remote >> state;
    if (state == "0A" && local.size() >= 5 && local.compare(local.size() - 5, 5, want) == 0) return true;
  }
  return false;
}

inline bool WaitFor(const std::function<bool()>& pred, int limitMs = 20000) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
  while (!pred()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

inline bool HaveProgram(const char* name) {
  const std::string cmd = std::string("command -v ") + name + " >/dev/null 2>&1";
  return std::system(cmd.c_str()) == 0;
}

class DirewolfPair {
 public:
  explicit DirewolfPair(bool kissA = false)
      : portA_(FreeTcpPort()), portB_(FreeTcpPort()), kissA_(kissA ? FreeTcpPort() : 0) {
    mkfifo((dir_ + "/a2b").c_str(), 0600);
    mkfifo((dir_ + "/b2a").c_str(), 0600);
    // Holding both FIFOs open keeps a dying instance from killing the other.
    holdA_ = open((dir_ + "/a2b").c_str(), O_RDWR);
    holdB_ = open((dir_ + "/b2a").c_str(), O_RDWR);
    std::ofstream(dir_ + "/.asoundrc") << "pcm.txa { type file slave.pcm \"null\" file \"" << dir_
                                        << "/a2b\" format \"raw\" }\n"
                                        << "pcm.txb { type file slave.pcm \"null\" file \"" << dir_
                                        << "/b2a\" format \"raw\" }\n";
    WriteConfig("a", portA_, "N0CALL-1", kissA_);
    WriteConfig("b", portB_, "N0CALL-2", 0);
  }
  ~DirewolfPair() {
    a_.Stop(SIGKILL);
    b_.Stop(SIGKILL);
    close(holdA_);
    close(holdB_);
  }
  uint16_t PortA() const { return portA_; }
  uint16_t PortB() const { return portB_; }
  uint16_t KissPortA() const { return kissA_; }
  bool Start() { return StartA() && StartInstance(b_, "b", "a2b", portB_); }
  bool StartA() { return StartInstance(a_, "a", "b2a", portA_) && (kissA_ == 0 || WaitFor([&] { return TcpListening(kissA_); })); }
  void StopA() { a_.Stop(SIGTERM); }
  std::string Log(const char* which) const {
    std::ifstream in(dir_ + "/" + which + ".log");
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }

 private:
  void WriteConfig(const char* name, uint16_t port, const char* call, uint16_t kissPort) {
    std::ofstream(dir_ + "/" + name + ".conf")
        << "ADEVICE stdin tx" << name << "\nACHANNELS 1\nARATE 44100\nCHANNEL 0\nMYCALL " << call
        << "\nMODEM 1200\nTXDELAY 5\nTXTAIL 2\nDWAIT 0\nSLOTTIME 1\nPERSIST 255\nFULLDUP ON\nAGWPORT " << port
        << "\nKISSPORT " << kissPort << "\n";
  }
  bool StartInstance(Process& p, const char* name, const char* input, uint16_t port) {
    if (!p.Start({"direwolf", "-c", dir_ + "/" + name + ".conf", "-t", "0", "-q", "hd"}, {"HOME=" + dir_},
                 dir_ + "/" + input, dir_ + "/" + name + ".log")) {
      return false;
    }
    return WaitFor([&] { return TcpListening(port); });
  }

  TempDir tempDir_{"ovlar-dw"};
  const std::string dir_ = tempDir_.Path();
  uint16_t portA_;
  uint16_t portB_;
  uint16_t kissA_;
  int holdA_ = -1;
  int holdB_ = -1;
  Process a_;
  Process b_;
};

}  // namespace ovlar::test
