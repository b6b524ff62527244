// Forwarding rate, added latency, loss under load and memory of the bridge,
// each beside a bare relay that makes the same system calls per frame and
// is therefore the limit. Run by hand: build/bench/ovlar_bench [--soak S]
// [--frames N]. Everything runs on loopback.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/L2CRC.h"

namespace {

using Clock = std::chrono::steady_clock;

int64_t NowNs() { return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count(); }

sockaddr_in Loopback(uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return a;
}

uint16_t PortOf(int fd) {
  sockaddr_in a{};
  socklen_t len = sizeof a;
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  return ntohs(a.sin_port);
}

int UdpSocket(uint16_t port) {
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  const int big = 8 * 1024 * 1024;
  setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &big, sizeof big);
  sockaddr_in a = Loopback(port);
  bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  return fd;
}

uint16_t FreeUdpPort() {
  const int fd = UdpSocket(0);
  const uint16_t p = PortOf(fd);
  close(fd);
  return p;
}

std::string AgwFrame(uint8_t port, char kind, const std::string& data) {
  std::string h(36, '\0');
  h[0] = static_cast<char>(port);
  h[4] = kind;
  h[28] = static_cast<char>(data.size() & 0xFF);
  h[29] = static_cast<char>(data.size() >> 8);
  return h + data;
}

bool WriteAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// A UI frame whose information carries a sequence number and a send time.
std::string StampedFrame(uint64_t seq, int64_t sentNs) {
  std::string f = std::string("\x84\x8A\x9C\x86\x90@\xE0\x9C\x60\x86\x82\x98\x98\x63\x03\xCF", 16);
  f.append(reinterpret_cast<const char*>(&seq), 8);
  f.append(reinterpret_cast<const char*>(&sentNs), 8);
  return f;
}

bool ReadStamp(const std::string& frame, uint64_t& seq, int64_t& sentNs) {
  if (frame.size() < 32) return false;
  std::memcpy(&seq, frame.data() + 16, 8);
  std::memcpy(&sentNs, frame.data() + 24, 8);
  return true;
}

// ---- The bare relay: the same calls per frame, nothing else ----

[[noreturn]] void RunRelay(uint16_t agwPort, uint16_t listenPort, uint16_t nodePort) {
  const int tcp = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a = Loopback(agwPort);
  if (connect(tcp, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) _exit(1);
  const int one = 1;
  setsockopt(tcp, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  const int udp = UdpSocket(listenPort);
  const ovlar::TCRC crc;
  const sockaddr_in node = Loopback(nodePort);
  std::string buffer;
  WriteAll(tcp, AgwFrame(0, 'G', ""));
  pollfd fds[2] = {{tcp, POLLIN, 0}, {udp, POLLIN, 0}};
  char buf[70000];
  for (;;) {
    if (poll(fds, 2, -1) <= 0) continue;
    if (fds[0].revents) {
      const ssize_t n = recv(tcp, buf, sizeof buf, 0);
      if (n <= 0) _exit(0);
      buffer.append(buf, static_cast<size_t>(n));
      while (buffer.size() >= 36) {
        const size_t len = static_cast<uint8_t>(buffer[28]) + 256u * static_cast<uint8_t>(buffer[29]);
        if (buffer.size() < 36 + len) break;
        const char kind = buffer[4];
        const std::string data = buffer.substr(36, len);
        buffer.erase(0, 36 + len);
        if (kind == 'G') WriteAll(tcp, AgwFrame(0, 'y', ""));
        if (kind != 'K' || data.empty()) continue;
        const std::string datagram = crc.AppendFCS(data.substr(1));
        const int s = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in any = Loopback(0);
        any.sin_addr.s_addr = INADDR_ANY;
        bind(s, reinterpret_cast<sockaddr*>(&any), sizeof any);
        connect(s, reinterpret_cast<const sockaddr*>(&node), sizeof node);
        send(s, datagram.data(), datagram.size(), 0);
        close(s);
      }
    }
    if (fds[1].revents) {
      const ssize_t n = recv(udp, buf, sizeof buf, 0);
      if (n < 2 || crc.ComputeCRC(buf, static_cast<size_t>(n)) != ovlar::TCRC::kResidue) continue;
      WriteAll(tcp, AgwFrame(0, 'K', std::string(1, '\0') + std::string(buf, static_cast<size_t>(n) - 2)));
    }
  }
}

// ---- The subject under load ----

struct Subject {
  std::string name;
  pid_t pid = -1;
  int tcp = -1;           // our end of its AGWPE connection
  uint16_t listen = 0;    // its UDP listener
  int sink = -1;          // where it sends datagrams
  std::string dir;
};

long RssKb(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  }
  return -1;
}

Subject Launch(bool relay) {
  Subject s;
  s.name = relay ? "bare relay" : "ovlar";
  const int server = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a = Loopback(0);
  bind(server, reinterpret_cast<sockaddr*>(&a), sizeof a);
  listen(server, 1);
  s.sink = UdpSocket(0);
  s.listen = FreeUdpPort();
  const uint16_t agwPort = PortOf(server);
  const uint16_t sinkPort = PortOf(s.sink);
  if (!relay) {
    char pattern[] = "/tmp/ovlar-bench-XXXXXX";
    s.dir = mkdtemp(pattern);
    std::ofstream(s.dir + "/OVLAR.INI") << "[OVLAR]\nTRACE=0\nMODE=2\n[AGW]\nPORT=" << agwPort
                                        << "\n[XNET]\nADDRESS=127.0.0.1\n[XNET.PORT]\nP=1," << s.listen << ","
                                        << sinkPort << "\n";
    std::ofstream(s.dir + "/OVLAR.ICO") << "ico";
  }
  s.pid = fork();
  if (s.pid == 0) {
    if (relay) RunRelay(agwPort, s.listen, sinkPort);
    if (chdir(s.dir.c_str()) != 0) _exit(1);
    const int devnull = open("/dev/null", O_WRONLY);
    dup2(devnull, 2);
    execl(OVLAR_BINARY, "ovlar", "--headless", static_cast<char*>(nullptr));
    _exit(127);
  }
  s.tcp = accept(server, nullptr, nullptr);
  close(server);
  const int one = 1;
  setsockopt(s.tcp, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  // Ready once it asks for the details of the port we report.
  WriteAll(s.tcp, AgwFrame(0, 'G', "1;Port1;"));
  std::string buffer;
  char buf[4096];
  while (buffer.find('y') == std::string::npos) {
    const ssize_t n = recv(s.tcp, buf, sizeof buf, 0);
    if (n <= 0) break;
    for (ssize_t i = 0; i + 4 < n; ++i) {
      if (buf[i + 4] == 'y' && i % 36 == 0) buffer += 'y';
    }
    buffer.append(buf, static_cast<size_t>(n));
  }
  return s;
}

void Stop(Subject& s) {
  kill(s.pid, SIGTERM);
  waitpid(s.pid, nullptr, 0);
  close(s.tcp);
  close(s.sink);
  if (!s.dir.empty()) std::system(("rm -rf '" + s.dir + "'").c_str());
}

// Receives what comes out of the subject and records latencies.
class Collector {
 public:
  explicit Collector(int fd, bool stream) : fd_(fd), stream_(stream) {}
  void Start() {
    thread_ = std::thread([this] { Run(); });
  }
  void Finish() {
    done_ = true;
    thread_.join();
  }
  uint64_t Received() const { return received_; }
  std::vector<int64_t> TakeLatencies() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<int64_t> out;
    out.swap(latencies_);
    return out;
  }
  void Reset() {
    received_ = 0;
    TakeLatencies();
  }

 private:
  void Record(const std::string& frame) {
    uint64_t seq;
    int64_t sent;
    if (!ReadStamp(frame, seq, sent)) return;
    const int64_t latency = NowNs() - sent;
    ++received_;
    std::lock_guard<std::mutex> lock(mutex_);
    if (latencies_.size() < 2000000) latencies_.push_back(latency);
  }
  void Run() {
    std::string buffer;
    std::vector<char> buf(1 << 16);
    while (!done_) {
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, 50) <= 0) continue;
      const ssize_t n = recv(fd_, buf.data(), buf.size(), 0);
      if (n <= 0) continue;
      if (!stream_) {
        Record(std::string(buf.data(), static_cast<size_t>(n)));
        continue;
      }
      buffer.append(buf.data(), static_cast<size_t>(n));
      size_t at = 0;
      while (buffer.size() - at >= 36) {
        const size_t len = static_cast<uint8_t>(buffer[at + 28]) + 256u * static_cast<uint8_t>(buffer[at + 29]);
        if (buffer.size() - at < 36 + len) break;
        if (buffer[at + 4] == 'K' && len > 1) Record(buffer.substr(at + 37, len - 1));
        at += 36 + len;
      }
      buffer.erase(0, at);
    }
  }

  int fd_;
  bool stream_;
  std::atomic<bool> done_{false};
  std::atomic<uint64_t> received_{0};
  std::mutex mutex_;
  std::vector<int64_t> latencies_;
  std::thread thread_;
};

enum class Direction { RadioToIp, IpToRadio };

// Sends n frames, at `rate` per second (0: as fast as the window allows).
void Drive(Subject& s, Direction d, Collector& out, uint64_t n, double rate, uint64_t window) {
  const ovlar::TCRC crc;
  const int udp = socket(AF_INET, SOCK_DGRAM, 0);
  const sockaddr_in to = Loopback(s.listen);
  const int64_t start = NowNs();
  const uint64_t base = out.Received();
  for (uint64_t i = 0; i < n; ++i) {
    if (rate > 0) {
      // Sleep rather than spin: on two cores a spinning sender would steal
      // the time of the bridge it measures.
      const int64_t due = start + static_cast<int64_t>(static_cast<double>(i) * 1e9 / rate);
      std::this_thread::sleep_for(std::chrono::nanoseconds(due - NowNs()));
    } else {
      while (i - (out.Received() - base) >= window) std::this_thread::yield();
    }
    const std::string frame = StampedFrame(i, NowNs());
    if (d == Direction::RadioToIp) {
      WriteAll(s.tcp, AgwFrame(0, 'K', std::string(1, '\0') + frame));
    } else {
      const std::string datagram = crc.AppendFCS(frame);
      sendto(udp, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    }
  }
  const auto end = Clock::now() + std::chrono::seconds(5);
  while (out.Received() - base < n && Clock::now() < end) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  close(udp);
}

int64_t Percentile(std::vector<int64_t> v, double p) {
  if (v.empty()) return -1;
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size())))];
}

struct Figures {
  double rate[2] = {0, 0};
  int64_t p50[2] = {0, 0}, p99[2] = {0, 0};
  uint64_t lost[2] = {0, 0};
  long rss = 0, rssEnd = 0;
};

Figures Measure(bool relay, uint64_t frames, int soakSeconds, uint64_t memoryFrames) {
  Figures f;
  Subject s = Launch(relay);
  Collector fromIp(s.tcp, true);
  Collector fromRadio(s.sink, false);
  fromIp.Start();
  fromRadio.Start();
  const Direction dirs[2] = {Direction::RadioToIp, Direction::IpToRadio};
  Collector* outs[2] = {&fromRadio, &fromIp};
  for (int d = 0; d < 2; ++d) {
    // Rate: a window of frames in flight, as fast as they come out.
    const int64_t t0 = NowNs();
    Drive(s, dirs[d], *outs[d], frames, 0, 64);
    f.rate[d] = static_cast<double>(frames) * 1e9 / static_cast<double>(NowNs() - t0);
    // Latency at 1,000 frames/s.
    outs[d]->Reset();
    Drive(s, dirs[d], *outs[d], 3000, 1000, 0);
    const auto lat = outs[d]->TakeLatencies();
    f.p50[d] = Percentile(lat, 0.50);
    f.p99[d] = Percentile(lat, 0.99);
    // Loss at 10,000 frames/s.
    outs[d]->Reset();
    const uint64_t soak = static_cast<uint64_t>(soakSeconds) * 10000;
    Drive(s, dirs[d], *outs[d], soak, 10000, 0);
    f.lost[d] = soak - std::min<uint64_t>(soak, outs[d]->Received());
  }
  f.rss = RssKb(s.pid);
  for (int d = 0; d < 2; ++d) {
    outs[d]->Reset();
    Drive(s, dirs[d], *outs[d], memoryFrames, 0, 64);
  }
  f.rssEnd = RssKb(s.pid);
  fromIp.Finish();
  fromRadio.Finish();
  Stop(s);
  return f;
}

}  // namespace

int main(int argc, char** argv) {
  uint64_t frames = 200000;
  int soak = 60;
  uint64_t memory = 1000000;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--frames") == 0) frames = std::strtoull(argv[i + 1], nullptr, 10);
    if (std::strcmp(argv[i], "--soak") == 0) soak = std::atoi(argv[i + 1]);
    if (std::strcmp(argv[i], "--memory-frames") == 0) memory = std::strtoull(argv[i + 1], nullptr, 10);
  }
  signal(SIGPIPE, SIG_IGN);
  const Figures relay = Measure(true, frames, soak, 0);
  const Figures ovlar = Measure(false, frames, soak, memory);
  const char* names[2] = {"radio to IP", "IP to radio"};
  for (int d = 0; d < 2; ++d) {
    std::printf("%-12s rate %8.0f frames/s (bare relay %8.0f, %3.0f%%)  latency p50 %5.1f us p99 %5.1f us "
                "(bare relay p99 %5.1f us)  lost at 10000/s for %d s: %llu (bare relay %llu)\n",
                names[d], ovlar.rate[d], relay.rate[d], 100.0 * ovlar.rate[d] / relay.rate[d], ovlar.p50[d] / 1e3,
                ovlar.p99[d] / 1e3, relay.p99[d] / 1e3, soak, static_cast<unsigned long long>(ovlar.lost[d]),
                static_cast<unsigned long long>(relay.lost[d]));
  }
  std::printf("resident memory: %ld kB after the load, %ld kB after %llu more frames each way\n", ovlar.rss,
              ovlar.rssEnd, static_cast<unsigned long long>(memory));
  return 0;
}
