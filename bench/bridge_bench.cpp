// Forwarding rate, added latency, loss, CPU and memory of the bridge, each
// beside a bare relay that makes the same system calls per frame and is
// therefore the limit, and CPU per frame beside ax25ipd when it is
// installed. Run by hand: build/bench/ovlar_bench [--frames N] [--soak S]
// [--memory-frames N]. Everything runs on loopback.
#include <signal.h>
#include <sys/utsname.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>

#include "BenchKit.h"
#include "Subjects.h"
#include "SyscallCount.h"
#include "support/L2CRC.h"

namespace bench {
namespace {

constexpr uint64_t kBursts[] = {2000, 8000, 32000, 64000};
constexpr uint64_t kLongBurst = 64000;

enum class Direction { RadioToIp, IpToRadio };

// The datagram the node would send for the frame.
void SendFromNode(const Subject& s, int udp, const std::string& frame) {
  static const ovlar::TCRC crc;
  const std::string datagram = crc.AppendFCS(frame);
  const sockaddr_in to = Loopback(s.listen);
  sendto(udp, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
}

// What comes out of one subject, both ways, and its memory, sampled all along.
class Outputs {
 public:
  explicit Outputs(const Subject& s) : fromIp_(s.tcp, true), fromRadio_(s.sink, false), pid_(s.pid) {
    if (s.tcp >= 0) fromIp_.Start();
    fromRadio_.Start();
    sampler_ = std::thread([this] {
      while (!done_) {
        maxRss_ = std::max(maxRss_.load(), RssKb(pid_));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
    });
  }
  ~Outputs() {
    done_ = true;
    sampler_.join();
  }
  Collector& Of(Direction d) { return d == Direction::RadioToIp ? fromRadio_ : fromIp_; }
  long MaxRss() const { return maxRss_; }
  // Frames lost or out of order in a run that sent n.
  void Account(Direction d, uint64_t n) {
    lost += n - std::min<uint64_t>(n, Of(d).Received());
    disordered += Of(d).OutOfOrder();
  }
  uint64_t lost = 0, disordered = 0;

 private:
  Collector fromIp_, fromRadio_;
  pid_t pid_;
  std::atomic<bool> done_{false};
  std::atomic<long> maxRss_{0};
  std::thread sampler_;
};

// n frames at `rate` per second (0: with at most `window` in flight).
void Drive(const Subject& s, Direction d, Collector& out, uint64_t n, double rate, uint64_t window) {
  const int udp = socket(AF_INET, SOCK_DGRAM, 0);
  out.Reset();
  const int64_t start = NowNs();
  for (uint64_t i = 0; i < n; ++i) {
    if (rate > 0) {
      // Sleep rather than spin: on two cores a spinning sender would steal
      // the time of the bridge it measures.
      SleepUntil(start + static_cast<int64_t>(static_cast<double>(i) * 1e9 / rate));
    } else {
      while (i - out.Received() >= window) std::this_thread::yield();
    }
    const std::string frame = StampedFrame(i, NowNs());
    if (d == Direction::RadioToIp) {
      SendFromRadio(s, frame);
    } else {
      SendFromNode(s, udp, frame);
    }
  }
  out.WaitFor(n);
  close(udp);
}

// ---- The first figures: rate in a window, latency, loss under load, memory ----

struct Classic {
  double rate[2] = {0, 0};
  int64_t p50[2] = {0, 0}, p99[2] = {0, 0};
  uint64_t lost[2] = {0, 0};
  long rss = 0, rssEnd = 0;
};

Classic MeasureClassic(Kind kind, uint64_t frames, int soakSeconds, uint64_t memoryFrames) {
  Classic f;
  Subject s = Launch(kind);
  {
    Outputs out(s);
    const Direction dirs[2] = {Direction::RadioToIp, Direction::IpToRadio};
    for (int d = 0; d < 2; ++d) {
      Collector& c = out.Of(dirs[d]);
      const int64_t t0 = NowNs();
      Drive(s, dirs[d], c, frames, 0, 64);
      f.rate[d] = static_cast<double>(frames) * 1e9 / static_cast<double>(NowNs() - t0);
      Drive(s, dirs[d], c, 3000, 1000, 0);
      const auto lat = c.TakeLatencies();
      f.p50[d] = Percentile(lat, 0.50);
      f.p99[d] = Percentile(lat, 0.99);
      const uint64_t soak = static_cast<uint64_t>(soakSeconds) * 10000;
      Drive(s, dirs[d], c, soak, 10000, 0);
      f.lost[d] = soak - std::min<uint64_t>(soak, c.Received());
    }
    f.rss = RssKb(s.pid);
    for (Direction d : dirs) Drive(s, d, out.Of(d), memoryFrames, 0, 64);
    f.rssEnd = RssKb(s.pid);
  }
  Stop(s);
  return f;
}

// ---- Bursts, mixed traffic, datagrams during a burst, CPU ----

struct Figures {
  std::map<uint64_t, double> burstRate;
  int64_t p50[2] = {-1, -1}, p99[2] = {-1, -1};
  uint64_t flowSent = 0, flowLost = 0;
  int64_t flowP99 = -1;
  double cpuUs = -1;
  uint64_t lost = 0, disordered = 0;
  long maxRss = 0;
};

// n frames written at once; the rate from the first byte to the last datagram.
double Burst(const Subject& s, Outputs& out, uint64_t n) {
  Collector& c = out.Of(Direction::RadioToIp);
  c.Reset();
  std::string bytes;
  const int64_t t0 = NowNs();
  for (uint64_t i = 0; i < n; ++i) bytes += RadioBytes(s, StampedFrame(i, t0));
  WriteAll(s.tcp, bytes);
  c.WaitFor(n);
  out.Account(Direction::RadioToIp, n);
  return static_cast<double>(c.Received()) * 1e9 / static_cast<double>(std::max<int64_t>(c.LastNs() - t0, 1));
}

// Both directions at 1,000 frames/s each, interleaved.
void Mixed(const Subject& s, Outputs& out, Figures& f, uint64_t perDirection) {
  Collector& radio = out.Of(Direction::RadioToIp);
  Collector& ip = out.Of(Direction::IpToRadio);
  radio.Reset();
  ip.Reset();
  const int udp = socket(AF_INET, SOCK_DGRAM, 0);
  const int64_t start = NowNs();
  for (uint64_t i = 0; i < 2 * perDirection; ++i) {
    SleepUntil(start + static_cast<int64_t>(i) * 500000);
    const std::string frame = StampedFrame(i / 2, NowNs());
    if (i % 2 == 0) {
      SendFromRadio(s, frame);
    } else {
      SendFromNode(s, udp, frame);
    }
  }
  radio.WaitFor(perDirection);
  ip.WaitFor(perDirection);
  close(udp);
  for (Direction d : {Direction::RadioToIp, Direction::IpToRadio}) {
    const auto lat = out.Of(d).TakeLatencies();
    f.p50[static_cast<int>(d)] = Percentile(lat, 0.50);
    f.p99[static_cast<int>(d)] = Percentile(lat, 0.99);
    out.Account(d, perDirection);
  }
}

// Datagrams from the node at 1,000/s while a long burst comes from the engine.
void FlowDuringBurst(const Subject& s, Outputs& out, Figures& f) {
  Collector& ip = out.Of(Direction::IpToRadio);
  ip.Reset();
  std::atomic<bool> stop{false};
  std::atomic<uint64_t> sent{0};
  std::thread node([&] {
    const int udp = socket(AF_INET, SOCK_DGRAM, 0);
    const int64_t start = NowNs();
    for (uint64_t i = 0; !stop; ++i) {
      SleepUntil(start + static_cast<int64_t>(i) * 1000000);
      SendFromNode(s, udp, StampedFrame(i, NowNs()));
      sent = i + 1;
    }
    close(udp);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  Burst(s, out, kLongBurst);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  stop = true;
  node.join();
  ip.WaitFor(sent);
  f.flowSent = sent;
  f.flowLost = sent - std::min<uint64_t>(sent, ip.Received());
  f.flowP99 = Percentile(ip.TakeLatencies(), 0.99);
  out.Account(Direction::IpToRadio, sent);
}

// User and system time per frame carried from radio to IP at a steady rate.
double CpuPerFrame(const Subject& s, Outputs& out, uint64_t n, double rate) {
  Collector& c = out.Of(Direction::RadioToIp);
  const int64_t before = CpuMicros(s.pid);
  Drive(s, Direction::RadioToIp, c, n, rate, 0);
  const int64_t used = CpuMicros(s.pid) - before;
  out.Account(Direction::RadioToIp, n);
  return c.Received() == 0 ? -1 : static_cast<double>(used) / static_cast<double>(c.Received());
}

Figures MeasureNew(Kind kind, uint64_t cpuFrames, double cpuRate, bool cpuOnly = false) {
  Figures f;
  Subject s = Launch(kind);
  if (s.pid <= 0) return f;
  {
    Outputs out(s);
    if (kind != Kind::Ax25ipd && !cpuOnly) {
      for (uint64_t n : kBursts) f.burstRate[n] = Burst(s, out, n);
      Mixed(s, out, f, 3000);
      FlowDuringBurst(s, out, f);
    }
    f.cpuUs = CpuPerFrame(s, out, cpuFrames, cpuRate);
    f.lost = out.lost;
    f.disordered = out.disordered;
    f.maxRss = out.MaxRss();
  }
  Stop(s);
  return f;
}

std::string Num(double v, const char* format = "%.0f") {
  if (v < 0) return "-";
  char text[32];
  std::snprintf(text, sizeof text, format, v);
  return text;
}

// ---- System calls per forwarded frame ----

struct Calls {
  std::map<std::string, double> perFrame;  // by name, in the paced run
  double paced = -1, unpaced = -1;         // all of them, per frame
};

constexpr Kind kCallSubjects[] = {Kind::Ovlar, Kind::Relay, Kind::OvlarKept, Kind::RelayKept};

// The calls per frame carried one way: n frames paced at `rate`, then n
// unpaced with 64 in flight, where waiting datagrams can share a call.
Calls CountCalls(Kind kind, Direction d, uint64_t n, double rate) {
  Calls calls;
  Subject s = Launch(kind);
  if (s.pid <= 0) return calls;
  {
    Outputs out(s);
    Collector& c = out.Of(d);
    const auto total = [&c](const std::map<std::string, uint64_t>& counts, std::map<std::string, double>* each) {
      if (counts.empty() || c.Received() == 0) return -1.0;
      const double frames = static_cast<double>(c.Received());
      double all = 0;
      for (const auto& [name, count] : counts) {
        all += static_cast<double>(count);
        if (each) (*each)[name] = static_cast<double>(count) / frames;
      }
      return all / frames;
    };
    calls.paced = total(CountSyscalls(s.pid, [&] { Drive(s, d, c, n, rate, 0); }), &calls.perFrame);
    calls.unpaced = total(CountSyscalls(s.pid, [&] { Drive(s, d, c, n, 0, 64); }), nullptr);
  }
  Stop(s);
  return calls;
}

// Each direction, each of the four subjects.
void CountAllCalls(Calls (&calls)[2][4], uint64_t n, double rate) {
  for (int d = 0; d < 2; ++d) {
    for (int k = 0; k < 4; ++k) {
      calls[d][k] = CountCalls(kCallSubjects[k], d == 0 ? Direction::RadioToIp : Direction::IpToRadio, n, rate);
    }
  }
}

void PrintCalls(const Calls (&calls)[2][4], double rate) {
  const char* dirs[2] = {"radio to IP", "IP to radio"};
  for (int d = 0; d < 2; ++d) {
    std::printf("\nsystem calls per forwarded frame, %s, at %.0f frames/s\n", dirs[d], rate);
    std::printf("%-44s %18s %18s %18s %18s\n", "", "ovlar", "bare relay", "ovlar KEEPSOCKET", "relay, kept");
    std::map<std::string, bool> names;
    for (const Calls& c : calls[d]) {
      for (const auto& [name, per] : c.perFrame) names[name] = names[name] || per >= 0.005;
    }
    for (const auto& [name, shown] : names) {
      if (!shown) continue;
      std::printf("%-44s", ("  " + name).c_str());
      for (const Calls& c : calls[d]) {
        auto it = c.perFrame.find(name);
        std::printf(" %18s", it == c.perFrame.end() ? "0" : Num(it->second, "%.2f").c_str());
      }
      std::printf("\n");
    }
    std::printf("%-44s", "all");
    for (const Calls& c : calls[d]) std::printf(" %18s", Num(c.paced, "%.2f").c_str());
    std::printf("\n%-44s", "all, unpaced with 64 in flight");
    for (const Calls& c : calls[d]) std::printf(" %18s", Num(c.unpaced, "%.2f").c_str());
    std::printf("\n");
  }
}

// ---- The table ----

std::string Machine() {
  std::ifstream in("/proc/cpuinfo");
  std::string line, model = "unknown processor";
  while (std::getline(in, line)) {
    if (line.rfind("model name", 0) == 0) {
      model = line.substr(line.find(':') + 2);
      break;
    }
  }
  utsname u{};
  uname(&u);
  return model + ", " + std::to_string(std::thread::hardware_concurrency()) + " cores, Linux " + u.release;
}

const char* Met(bool met) { return met ? "met" : "NOT met"; }

void PrintClassic(const Classic& ovlar, const Classic& relay, int soak, uint64_t memory) {
  const char* names[2] = {"radio to IP", "IP to radio"};
  for (int d = 0; d < 2; ++d) {
    std::printf("%-12s rate %8.0f frames/s (bare relay %8.0f, %3.0f%%)  latency p50 %5.1f us p99 %5.1f us "
                "(bare relay p99 %5.1f us)  lost at 10000/s for %d s: %llu (bare relay %llu)\n",
                names[d], ovlar.rate[d], relay.rate[d], 100.0 * ovlar.rate[d] / relay.rate[d], ovlar.p50[d] / 1e3,
                ovlar.p99[d] / 1e3, relay.p99[d] / 1e3, soak, static_cast<unsigned long long>(ovlar.lost[d]),
                static_cast<unsigned long long>(relay.lost[d]));
  }
  std::printf("resident memory: %ld kB after the load, %ld kB after %llu more frames each way\n\n", ovlar.rss,
              ovlar.rssEnd, static_cast<unsigned long long>(memory));
}

void Row(const char* label, const Figures* f[4], const std::function<std::string(const Figures&)>& cell) {
  std::printf("%-44s", label);
  for (int i = 0; i < 4; ++i) std::printf(" %18s", cell(*f[i]).c_str());
  std::printf("\n");
}

void PrintTable(const Figures& ovlar, const Figures& relay, const Figures& kept, const Figures& relayKept,
                const Figures* ipd) {
  const Figures* cols[4] = {&ovlar, &relay, &kept, &relayKept};
  std::printf("%-44s %18s %18s %18s %18s\n", "", "ovlar", "bare relay", "ovlar KEEPSOCKET", "relay, kept");
  for (uint64_t n : kBursts) {
    const std::string label = "unpaced burst of " + std::to_string(n) + " frames, frames/s";
    Row(label.c_str(), cols, [n](const Figures& f) { return Num(f.burstRate.at(n)); });
  }
  const char* dirs[2] = {"mixed 1000/s each way, radio to IP p50/p99 us", "mixed 1000/s each way, IP to radio p50/p99 us"};
  for (int d = 0; d < 2; ++d) {
    Row(dirs[d], cols, [d](const Figures& f) { return Num(f.p50[d] / 1e3, "%.0f") + "/" + Num(f.p99[d] / 1e3); });
  }
  Row("node datagrams in a 64000 burst: lost, p99 ms", cols, [](const Figures& f) {
    return std::to_string(f.flowLost) + "/" + std::to_string(f.flowSent) + ", " + Num(f.flowP99 / 1e6, "%.2f");
  });
  Row("CPU per frame radio to IP, us", cols, [](const Figures& f) { return Num(f.cpuUs, "%.1f"); });
  Row("frames lost / out of order, all runs", cols, [](const Figures& f) {
    return std::to_string(f.lost) + " / " + std::to_string(f.disordered);
  });
  Row("largest resident memory, kB", cols, [](const Figures& f) { return std::to_string(f.maxRss); });
  if (ipd) {
    std::printf("%-44s %16s (lost %llu, out of order %llu)\n", "ax25ipd, KISS pty to UDP, CPU per frame, us",
                Num(ipd->cpuUs, "%.1f").c_str(), static_cast<unsigned long long>(ipd->lost),
                static_cast<unsigned long long>(ipd->disordered));
  } else {
    std::printf("ax25ipd not installed: no anchor for CPU per frame\n");
  }
}

// To the hundredth, as printed: the same calls per frame count as at most.
bool AtMost(const Calls& a, const Calls& b) {
  const auto hundredths = [](double v) { return std::lround(v * 100); };
  return a.paced >= 0 && b.paced >= 0 && hundredths(a.paced) <= hundredths(b.paced) &&
         hundredths(a.unpaced) <= hundredths(b.unpaced);
}

void PrintRateAndCallTargets(const Classic& ovlar, const Classic& relay, const Calls (&calls)[2][4]) {
  const double toIp = ovlar.rate[0] / relay.rate[0], toRadio = ovlar.rate[1] / relay.rate[1];
  std::printf("  radio to IP, 64 in flight, at least 0.9 of the relay's rate (%.2f): %s\n", toIp, Met(toIp >= 0.9));
  std::printf("  IP to radio, 64 in flight, above the relay's rate (%.2f): %s\n", toRadio, Met(toRadio > 1.0));
  const char* dirs[2] = {"radio to IP", "IP to radio"};
  for (int d = 0; d < 2; ++d) {
    const Calls* c = calls[d];
    std::printf("  system calls per frame %s at most the relay's, paced and unpaced (%.2f/%.2f against %.2f/%.2f; "
                "KEEPSOCKET %.2f/%.2f against %.2f/%.2f): %s\n",
                dirs[d], c[0].paced, c[0].unpaced, c[1].paced, c[1].unpaced, c[2].paced, c[2].unpaced, c[3].paced,
                c[3].unpaced, Met(AtMost(c[0], c[1]) && AtMost(c[2], c[3])));
  }
}

void PrintTargets(const Figures& ovlar, const Figures& relay, const Figures& kept, const Figures* ipd) {
  bool mixed = true;
  for (int d = 0; d < 2; ++d) {
    mixed = mixed && ovlar.p50[d] - relay.p50[d] <= 50000 && ovlar.p99[d] - relay.p99[d] <= 200000;
  }
  std::printf("  mixed traffic: p50 within 50 us and p99 within 200 us of the relay's, each way: %s\n", Met(mixed));
  const double small = ovlar.burstRate.at(kBursts[0]), large = ovlar.burstRate.at(kLongBurst);
  std::printf("  burst of 64000 at least 90%% of the rate of 2000 (%.0f%%): %s\n", 100 * large / small,
              Met(large >= 0.9 * small));
  std::printf("  bursts of 2000 and 64000 at least 80%% of the relay's (%.0f%%, %.0f%%): %s\n",
              100 * small / relay.burstRate.at(kBursts[0]), 100 * large / relay.burstRate.at(kLongBurst),
              Met(small >= 0.8 * relay.burstRate.at(kBursts[0]) && large >= 0.8 * relay.burstRate.at(kLongBurst)));
  std::printf("  datagrams during a 64000 burst: none lost, p99 below 5 ms: %s\n",
              Met(ovlar.flowLost == 0 && ovlar.flowSent > 0 && ovlar.flowP99 < 5000000));
  if (ipd) {
    std::printf("  CPU per frame with KEEPSOCKET below ax25ipd's (%.1f against %.1f us): %s\n", kept.cpuUs, ipd->cpuUs,
                Met(kept.cpuUs >= 0 && kept.cpuUs < ipd->cpuUs));
  }
  std::printf("  CPU per frame by default within 1.5x of the relay's (%.1f against %.1f us): %s\n", ovlar.cpuUs,
              relay.cpuUs, Met(ovlar.cpuUs <= 1.5 * relay.cpuUs));
  const bool whole = ovlar.lost + ovlar.disordered + kept.lost + kept.disordered == 0;
  std::printf("  no frame lost or out of order: %s\n", Met(whole));
  std::printf("  resident memory below 16 MB throughout (%ld kB, %ld kB with KEEPSOCKET): %s\n", ovlar.maxRss,
              kept.maxRss, Met(std::max(ovlar.maxRss, kept.maxRss) < 16384));
}

}  // namespace
}  // namespace bench

int main(int argc, char** argv) {
  using namespace bench;
  uint64_t frames = 100000;
  int soak = 10;
  uint64_t memory = 300000;
  uint64_t cpuFrames = 60000;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--frames") == 0) frames = std::strtoull(argv[i + 1], nullptr, 10);
    if (std::strcmp(argv[i], "--soak") == 0) soak = std::atoi(argv[i + 1]);
    if (std::strcmp(argv[i], "--memory-frames") == 0) memory = std::strtoull(argv[i + 1], nullptr, 10);
    if (std::strcmp(argv[i], "--cpu-frames") == 0) cpuFrames = std::strtoull(argv[i + 1], nullptr, 10);
  }
  signal(SIGPIPE, SIG_IGN);
  std::printf("Ovlar benchmark on %s\n\n", Machine().c_str());
  const double cpuRate = 10000;
  if (argc == 2 && std::strcmp(argv[1], "--cpu-only") == 0) {
    for (Kind kind : {Kind::OvlarKept, Kind::RelayKept, Kind::Ax25ipd}) {
      std::printf("%-20s CPU per frame radio to IP %.1f us\n", Name(kind), MeasureNew(kind, cpuFrames, cpuRate, true).cpuUs);
    }
    return 0;
  }
  if (argc == 2 && std::strcmp(argv[1], "--calls-only") == 0) {
    Calls calls[2][4];
    CountAllCalls(calls, cpuFrames / 3, cpuRate);
    PrintCalls(calls, cpuRate);
    return 0;
  }
  const Classic relayClassic = MeasureClassic(Kind::Relay, frames, soak, 0);
  const Classic ovlarClassic = MeasureClassic(Kind::Ovlar, frames, soak, memory);
  PrintClassic(ovlarClassic, relayClassic, soak, memory);
  std::fflush(stdout);
  const Figures relay = MeasureNew(Kind::Relay, cpuFrames, cpuRate);
  const Figures ovlar = MeasureNew(Kind::Ovlar, cpuFrames, cpuRate);
  const Figures relayKept = MeasureNew(Kind::RelayKept, cpuFrames, cpuRate);
  const Figures kept = MeasureNew(Kind::OvlarKept, cpuFrames, cpuRate);
  Figures ipd;
  const bool haveIpd = Ax25ipdInstalled();
  if (haveIpd) ipd = MeasureNew(Kind::Ax25ipd, cpuFrames, cpuRate);
  std::printf("CPU per frame at %.0f frames/s over %llu frames\n", cpuRate,
              static_cast<unsigned long long>(cpuFrames));
  PrintTable(ovlar, relay, kept, relayKept, haveIpd ? &ipd : nullptr);
  Calls calls[2][4];
  const bool counted = PerfInstalled();
  if (counted) CountAllCalls(calls, cpuFrames / 3, cpuRate);
  if (counted) {
    PrintCalls(calls, cpuRate);
  } else {
    std::printf("\nperf not installed (Debian: linux-perf): no system call counts\n");
  }
  std::printf("\ntargets (ovlar by default unless named):\n");
  if (counted) PrintRateAndCallTargets(ovlarClassic, relayClassic, calls);
  PrintTargets(ovlar, relay, kept, haveIpd ? &ipd : nullptr);
  return 0;
}
