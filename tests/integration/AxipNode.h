// ax25ipd as an XNet node: AXIP on a UDP port, KISS on a pseudo-terminal
// pair made by socat, whose other end the test reads and writes. It can
// run inside a network namespace of the test's own.
#pragma once
#include <fcntl.h>
#include <termios.h>

#include <fstream>
#include <string>

#include "DirewolfPair.h"
#include "Process.h"

namespace ovlar::test {

inline std::string KissEncode(const std::string& frame) {
  std::string out = "\xC0";
  out += '\0';
  for (char c : frame) {
    if (c == '\xC0') {
      out += "\xDB\xDC";
    } else if (c == '\xDB') {
      out += "\xDB\xDD";
    } else {
      out += c;
    }
  }
  return out + "\xC0";
}

class AxipNode {
 public:
  // udpPort: where the node receives AXIP; peer, peerPort: where it sends.
  AxipNode(uint16_t udpPort, const std::string& peer, uint16_t peerPort, const std::string& netns = "") {
    std::ofstream(dir_ + "/ax25ipd.conf") << "socket udp " << udpPort << "\nmode tnc\ndevice " << dir_
                                          << "/kiss0\nspeed 9600\nloglevel 2\nbroadcast QST-0 NODES-0\n"
                                          << "route axdef " << peer << " udp " << peerPort << " bd\n";
    socat_.Start({"socat", "pty,raw,echo=0,link=" + dir_ + "/kiss0", "pty,raw,echo=0,link=" + dir_ + "/kiss1"}, {},
                 "", dir_ + "/socat.log");
    WaitFor([&] { return access((dir_ + "/kiss1").c_str(), F_OK) == 0 && access((dir_ + "/kiss0").c_str(), F_OK) == 0; });
    std::vector<std::string> argv{"ax25ipd", "-f", "-c", dir_ + "/ax25ipd.conf"};
    if (!netns.empty()) argv.insert(argv.begin(), {"ip", "netns", "exec", netns});
    ipd_.Start(argv, {}, "", dir_ + "/ax25ipd.log");
    pty_ = open((dir_ + "/kiss1").c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    termios t{};
    if (tcgetattr(pty_, &t) == 0) {
      cfmakeraw(&t);
      tcsetattr(pty_, TCSANOW, &t);
    }
  }
  ~AxipNode() {
    close(pty_);
    ipd_.Stop(SIGKILL);
    socat_.Stop(SIGKILL);
  }
  bool Ok() const { return pty_ >= 0 && ipd_.Running(); }
  // A frame the node hands to its KISS side (as the XNet node would send).
  void Transmit(const std::string& frame) const {
    const std::string k = KissEncode(frame);
    [[maybe_unused]] ssize_t n = write(pty_, k.data(), k.size());
  }
  // Everything the node has put out on its KISS side within the time.
  std::string ReadKiss(int limitMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    while (std::chrono::steady_clock::now() < end) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
      if (!WaitReadable(pty_, static_cast<int>(std::max<int64_t>(left.count(), 1)))) break;
      char buf[4096];
      const ssize_t n = read(pty_, buf, sizeof buf);
      if (n > 0) kiss_.append(buf, static_cast<size_t>(n));
      if (kiss_.size() >= 2 && kiss_.back() == '\xC0' && kiss_.find('\xC0', 1) == kiss_.size() - 1) break;
    }
    std::string out;
    out.swap(kiss_);
    return out;
  }
  std::string Log() const {
    std::ifstream in(dir_ + "/ax25ipd.log");
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }

 private:
  TempDir tempDir_{"ovlar-ipd"};
  const std::string dir_ = tempDir_.Path();
  Process socat_;
  Process ipd_;
  int pty_ = -1;
  std::string kiss_;
};

// A network namespace joined to this one by a veth pair: a second host.
class NodeNamespace {
 public:
  static constexpr const char* kName = "ovlartest";
  static constexpr const char* kHostAddress = "10.193.7.1";
  static constexpr const char* kNodeAddress = "10.193.7.2";

  NodeNamespace() {
    Remove();
    ok_ = Run("ip netns add " + std::string(kName)) && Run("ip link add ovltv0 type veth peer name ovltv1") &&
          Run("ip link set ovltv1 netns " + std::string(kName)) &&
          Run("ip addr add " + std::string(kHostAddress) + "/30 dev ovltv0") && Run("ip link set ovltv0 up") &&
          Run(In("ip addr add " + std::string(kNodeAddress) + "/30 dev ovltv1")) && Run(In("ip link set ovltv1 up")) &&
          Run(In("ip link set lo up"));
  }
  ~NodeNamespace() { Remove(); }
  bool Ok() const { return ok_; }
  static bool Possible() { return getuid() == 0 && HaveProgram("ip"); }

 private:
  static std::string In(const std::string& cmd) { return "ip netns exec " + std::string(kName) + " " + cmd; }
  static bool Run(const std::string& cmd) { return std::system((cmd + " >/dev/null 2>&1").c_str()) == 0; }
  static void Remove() {
    Run("ip link del ovltv0");
    Run("ip netns del " + std::string(kName));
  }
  bool ok_ = false;
};

}  // namespace ovlar::test
