// What every measurement of the benchmark needs: the clock, loopback
// sockets, stamped frames and a collector that receives what comes out of
// a subject and records latency, loss and order. The loopback and KISS
// helpers are the tests' own. Bench only.
#pragma once
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "AxipNode.h"
#include "SocketTestUtil.h"

namespace bench {

using Clock = std::chrono::steady_clock;

inline int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

inline void SleepUntil(int64_t dueNs) {
  const int64_t left = dueNs - NowNs();
  if (left > 0) std::this_thread::sleep_for(std::chrono::nanoseconds(left));
}

using ovlar::test::Loopback;
inline uint16_t PortOf(int fd) { return ovlar::test::BoundPort(fd); }

// A UDP socket on 127.0.0.1 with room for a whole burst.
inline int UdpSocket(uint16_t port) {
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  const int big = 64 * 1024 * 1024;
  setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &big, sizeof big);
  sockaddr_in a = Loopback(port);
  bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  return fd;
}

inline uint16_t FreeUdpPort() {
  const int fd = UdpSocket(0);
  const uint16_t p = PortOf(fd);
  close(fd);
  return p;
}

inline std::string AgwFrame(uint8_t port, char kind, const std::string& data) {
  std::string h(36, '\0');
  h[0] = static_cast<char>(port);
  h[4] = kind;
  h[28] = static_cast<char>(data.size() & 0xFF);
  h[29] = static_cast<char>(data.size() >> 8);
  return h + data;
}

inline bool WriteAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

inline std::string KissFrame(const std::string& frame) { return ovlar::test::KissEncode(frame); }

// A UI frame (PID 0xCF, so no engine counts it as APRS) whose information
// carries a sequence number and a send time.
inline std::string StampedFrame(uint64_t seq, int64_t sentNs) {
  std::string f = std::string("\x84\x8A\x9C\x86\x90@\xE0\x9C\x60\x86\x82\x98\x98\x63\x03\xCF", 16);
  f.append(reinterpret_cast<const char*>(&seq), 8);
  f.append(reinterpret_cast<const char*>(&sentNs), 8);
  return f;
}

inline bool ReadStamp(const char* frame, size_t size, uint64_t& seq, int64_t& sentNs) {
  if (size < 32) return false;
  std::memcpy(&seq, frame + 16, 8);
  std::memcpy(&sentNs, frame + 24, 8);
  return true;
}

inline int64_t Percentile(std::vector<int64_t> v, double p) {
  if (v.empty()) return -1;
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size())))];
}

// Receives what comes out of a subject on its own thread: datagrams, or
// 'K' frames on the AGWPE stream.
class Collector {
 public:
  Collector(int fd, bool stream) : fd_(fd), stream_(stream) {}
  ~Collector() { Finish(); }
  void Start() {
    thread_ = std::thread([this] { Run(); });
  }
  void Finish() {
    done_ = true;
    if (thread_.joinable()) thread_.join();
  }
  uint64_t Received() const { return received_; }
  uint64_t OutOfOrder() const { return outOfOrder_; }
  int64_t LastNs() const { return lastNs_; }
  std::vector<int64_t> TakeLatencies() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<int64_t> out;
    out.swap(latencies_);
    return out;
  }
  // A new run: counts from zero, sequence numbers from zero.
  void Reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    received_ = 0;
    outOfOrder_ = 0;
    next_ = 0;
    latencies_.clear();
  }
  // Waits until n frames are in or nothing came for quietMs.
  bool WaitFor(uint64_t n, int quietMs = 3000) const {
    uint64_t seen = received_;
    int64_t since = NowNs();
    while (received_ < n) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      if (received_ != seen) {
        seen = received_;
        since = NowNs();
      } else if (NowNs() - since > int64_t{quietMs} * 1000000) {
        return false;
      }
    }
    return true;
  }

 private:
  void Record(const char* frame, size_t size) {
    uint64_t seq;
    int64_t sent;
    if (!ReadStamp(frame, size, seq, sent)) return;
    const int64_t now = NowNs();
    std::lock_guard<std::mutex> lock(mutex_);
    if (seq < next_) ++outOfOrder_;
    next_ = std::max(next_, seq + 1);
    if (latencies_.size() < 4000000) latencies_.push_back(now - sent);
    lastNs_ = now;
    ++received_;
  }
  void Run() {
    std::string buffer;
    std::vector<char> buf(1 << 16);
    while (!done_) {
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, 20) <= 0) continue;
      const ssize_t n = recv(fd_, buf.data(), buf.size(), 0);
      if (n <= 0) continue;
      if (!stream_) {
        Record(buf.data(), static_cast<size_t>(n));
        continue;
      }
      buffer.append(buf.data(), static_cast<size_t>(n));
      size_t at = 0;
      while (buffer.size() - at >= 36) {
        const size_t len = static_cast<uint8_t>(buffer[at + 28]) + 256u * static_cast<uint8_t>(buffer[at + 29]);
        if (buffer.size() - at < 36 + len) break;
        if (buffer[at + 4] == 'K' && len > 1) Record(buffer.data() + at + 37, len - 1);
        at += 36 + len;
      }
      buffer.erase(0, at);
    }
  }

  int fd_;
  bool stream_;
  std::atomic<bool> done_{false};
  std::atomic<uint64_t> received_{0};
  std::atomic<uint64_t> outOfOrder_{0};
  std::atomic<int64_t> lastNs_{0};
  uint64_t next_ = 0;
  std::mutex mutex_;
  std::vector<int64_t> latencies_;
  std::thread thread_;
};

}  // namespace bench
