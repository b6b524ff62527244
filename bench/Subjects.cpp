#include "Subjects.h"

#include <fcntl.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "BenchKit.h"
#include "support/L2CRC.h"

namespace bench {

namespace {

bool Kept(Kind kind) { return kind == Kind::RelayKept || kind == Kind::OvlarKept; }

// The relay: one poll for both sockets, the frame cut from the stream, a
// datagram per frame through a socket opened for it (or kept), and a 'K'
// frame per datagram. Nothing else.
[[noreturn]] void RunRelay(uint16_t agwPort, uint16_t listenPort, uint16_t nodePort, bool keep) {
  const int tcp = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a = Loopback(agwPort);
  if (connect(tcp, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) _exit(1);
  const int one = 1;
  setsockopt(tcp, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  const int udp = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in l = Loopback(listenPort);
  bind(udp, reinterpret_cast<sockaddr*>(&l), sizeof l);
  const ovlar::TCRC crc;
  const sockaddr_in node = Loopback(nodePort);
  int kept = -1;
  std::string buffer;
  WriteAll(tcp, AgwFrame(0, 'G', ""));
  pollfd fds[2] = {{tcp, POLLIN, 0}, {udp, POLLIN, 0}};
  static char buf[64 * 1024];
  for (;;) {
    if (poll(fds, 2, -1) <= 0) continue;
    if (fds[0].revents) {
      const ssize_t n = recv(tcp, buf, sizeof buf, 0);
      if (n <= 0) _exit(0);
      buffer.append(buf, static_cast<size_t>(n));
      size_t at = 0;
      while (buffer.size() - at >= 36) {
        const size_t len = static_cast<uint8_t>(buffer[at + 28]) + 256u * static_cast<uint8_t>(buffer[at + 29]);
        if (buffer.size() - at < 36 + len) break;
        const char kind = buffer[at + 4];
        const std::string data = buffer.substr(at + 36, len);
        at += 36 + len;
        if (kind == 'G') WriteAll(tcp, AgwFrame(0, 'y', ""));
        if (kind != 'K' || data.empty()) continue;
        const std::string datagram = crc.AppendFCS(data.substr(1));
        if (kept < 0) {
          kept = socket(AF_INET, SOCK_DGRAM, 0);
          sockaddr_in any = Loopback(0);
          any.sin_addr.s_addr = INADDR_ANY;
          bind(kept, reinterpret_cast<sockaddr*>(&any), sizeof any);
          sockaddr_in bound{};
          socklen_t length = sizeof bound;
          getsockname(kept, reinterpret_cast<sockaddr*>(&bound), &length);
        }
        sendto(kept, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr*>(&node), sizeof node);
        if (!keep) {
          close(kept);
          kept = -1;
        }
      }
      buffer.erase(0, at);
    }
    if (fds[1].revents) {
      const ssize_t n = recv(udp, buf, sizeof buf, 0);
      if (n < 2 || crc.ComputeCRC(buf, static_cast<size_t>(n)) != ovlar::TCRC::kResidue) continue;
      WriteAll(tcp, AgwFrame(0, 'K', std::string(1, '\0') + std::string(buf, static_cast<size_t>(n) - 2)));
    }
  }
}

pid_t Spawn(const std::vector<std::string>& argv, const std::string& dir) {
  const pid_t pid = fork();
  if (pid != 0) return pid;
  if (!dir.empty() && chdir(dir.c_str()) != 0) _exit(126);
  const int devnull = open("/dev/null", O_RDWR);
  dup2(devnull, 1);
  dup2(devnull, 2);
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  execvp(args[0], args.data());
  _exit(127);
}

std::string ScratchDir() {
  char pattern[] = "/tmp/ovlar-bench-XXXXXX";
  return mkdtemp(pattern) ? pattern : "/tmp";
}

// The subject answers the port list with 'y' requests: it forwards then.
void WaitForEngineClient(Subject& s, int server) {
  s.tcp = accept(server, nullptr, nullptr);
  close(server);
  const int one = 1;
  setsockopt(s.tcp, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  WriteAll(s.tcp, AgwFrame(0, 'G', "1;Port1;"));
  std::string buffer;
  char buf[4096];
  for (;;) {
    const ssize_t n = recv(s.tcp, buf, sizeof buf, 0);
    if (n <= 0) return;
    buffer.append(buf, static_cast<size_t>(n));
    for (size_t at = 0; at + 36 <= buffer.size(); at += 36 + static_cast<uint8_t>(buffer[at + 28])) {
      if (buffer[at + 4] == 'y') return;
    }
  }
}

void LaunchEngineClient(Subject& s) {
  const int server = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a = Loopback(0);
  bind(server, reinterpret_cast<sockaddr*>(&a), sizeof a);
  listen(server, 1);
  const uint16_t agwPort = PortOf(server);
  const uint16_t sinkPort = PortOf(s.sink);
  if (s.kind == Kind::Relay || s.kind == Kind::RelayKept) {
    s.pid = fork();
    if (s.pid == 0) RunRelay(agwPort, s.listen, sinkPort, Kept(s.kind));
  } else {
    s.dir = ScratchDir();
    std::ofstream(s.dir + "/OVLAR.INI") << "[OVLAR]\nTRACE=0\nMODE=2\n[AGW]\nPORT=" << agwPort
                                        << "\n[XNET]\nADDRESS=127.0.0.1\n"
                                        << (Kept(s.kind) ? "KEEPSOCKET=YES\n" : "") << "[XNET.PORT]\nP=1,"
                                        << s.listen << "," << sinkPort << "\n";
    std::ofstream(s.dir + "/OVLAR.ICO") << "ico";
    s.pid = Spawn({OVLAR_BINARY, "--headless"}, s.dir);
  }
  WaitForEngineClient(s, server);
}

void LaunchAx25ipd(Subject& s) {
  s.dir = ScratchDir();
  std::ofstream(s.dir + "/ax25ipd.conf") << "socket udp " << s.listen << "\nmode tnc\ndevice " << s.dir
                                         << "/kiss0\nspeed 9600\nloglevel 0\nroute axdef 127.0.0.1 udp "
                                         << PortOf(s.sink) << " bd\n";
  s.helper = Spawn({"socat", "pty,raw,echo=0,link=" + s.dir + "/kiss0", "pty,raw,echo=0,link=" + s.dir + "/kiss1"},
                   "");
  for (int i = 0; i < 200 && (access((s.dir + "/kiss0").c_str(), F_OK) != 0 ||
                              access((s.dir + "/kiss1").c_str(), F_OK) != 0); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  s.pid = Spawn({"ax25ipd", "-f", "-c", s.dir + "/ax25ipd.conf"}, s.dir);
  s.pty = open((s.dir + "/kiss1").c_str(), O_RDWR | O_NOCTTY);
  termios t{};
  if (s.pty >= 0 && tcgetattr(s.pty, &t) == 0) {
    cfmakeraw(&t);
    tcsetattr(s.pty, TCSANOW, &t);
  }
  // Forwarding once a probe comes through; the probe is read away.
  char buf[4096];
  for (int i = 0; i < 50; ++i) {
    SendFromRadio(s, StampedFrame(0, NowNs()));
    pollfd p{s.sink, POLLIN, 0};
    if (poll(&p, 1, 100) == 1) break;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  while (recv(s.sink, buf, sizeof buf, MSG_DONTWAIT) > 0) {
  }
}

}  // namespace

const char* Name(Kind kind) {
  switch (kind) {
    case Kind::Relay: return "bare relay";
    case Kind::RelayKept: return "bare relay, kept socket";
    case Kind::Ovlar: return "ovlar";
    case Kind::OvlarKept: return "ovlar KEEPSOCKET";
    case Kind::Ax25ipd: return "ax25ipd";
  }
  return "?";
}

bool Ax25ipdInstalled() {
  return std::system("command -v ax25ipd >/dev/null 2>&1 && command -v socat >/dev/null 2>&1") == 0;
}

Subject Launch(Kind kind) {
  Subject s;
  s.kind = kind;
  s.sink = UdpSocket(0);
  s.listen = FreeUdpPort();
  if (kind == Kind::Ax25ipd) {
    LaunchAx25ipd(s);
  } else {
    LaunchEngineClient(s);
  }
  return s;
}

void Stop(Subject& s) {
  for (pid_t pid : {s.pid, s.helper}) {
    if (pid <= 0) continue;
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
  }
  for (int fd : {s.tcp, s.pty, s.sink}) {
    if (fd >= 0) close(fd);
  }
  std::error_code ec;
  if (!s.dir.empty()) std::filesystem::remove_all(s.dir, ec);
  s = Subject{};
}

std::string RadioBytes(const Subject& s, const std::string& frame) {
  return s.kind == Kind::Ax25ipd ? KissFrame(frame) : AgwFrame(0, 'K', std::string(1, '\0') + frame);
}

void SendFromRadio(const Subject& s, const std::string& frame) {
  WriteAll(s.kind == Kind::Ax25ipd ? s.pty : s.tcp, RadioBytes(s, frame));
}

long RssKb(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  }
  return -1;
}

int64_t CpuMicros(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // Fields after the command name, which stands in parentheses.
  std::istringstream rest(stat.substr(stat.rfind(')') + 2));
  std::string field;
  int64_t utime = 0, stime = 0;
  for (int i = 3; i <= 15 && rest >> field; ++i) {
    if (i == 14) utime = std::atoll(field.c_str());
    if (i == 15) stime = std::atoll(field.c_str());
  }
  return (utime + stime) * 1000000 / sysconf(_SC_CLK_TCK);
}

}  // namespace bench
