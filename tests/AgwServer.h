// A scripted AGWPE on loopback for tests, served from the test's own event
// loop: it accepts clients, cuts what they send into frames, and sends
// whatever frames or raw bytes a test gives it.
#pragma once
#include <linux/sockios.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "LoopTcpServer.h"
#include "SocketTestUtil.h"
#include "platform/EventLoop.h"

namespace ovlar::test {

struct AgwFrame {
  uint8_t port = 0;  // as on the wire: 0-based
  char kind = 0;
  uint8_t pid = 0;
  std::string from, to, data;
  uint32_t statedLength = 0;
};

// The 36-byte header and data, as an AGWPE would send it.
inline std::string AgwBytes(uint8_t port, char kind, const std::string& data, const std::string& from = "",
                            const std::string& to = "", uint8_t pid = 0) {
  std::string h(36, '\0');
  h[0] = static_cast<char>(port);
  h[4] = kind;
  h[6] = static_cast<char>(pid);
  h.replace(8, std::min<size_t>(from.size(), 10), from.substr(0, 10));
  h.replace(18, std::min<size_t>(to.size(), 10), to.substr(0, 10));
  for (size_t i = 0; i < 4; ++i) h[28 + i] = static_cast<char>((data.size() >> (8 * i)) & 0xFF);
  return h + data;
}

// Cuts complete frames off the front of buffer.
inline std::vector<AgwFrame> AgwParse(std::string& buffer) {
  std::vector<AgwFrame> frames;
  while (buffer.size() >= 36) {
    const auto b = [&](size_t i) { return static_cast<uint8_t>(buffer[i]); };
    const uint32_t len = b(28) | b(29) << 8 | b(30) << 16 | uint32_t{b(31)} << 24;
    if (buffer.size() < 36 + len) break;
    AgwFrame f;
    f.port = b(0);
    f.kind = buffer[4];
    f.pid = b(6);
    f.from = buffer.substr(8, 10);
    f.to = buffer.substr(18, 10);
    f.statedLength = len;
    f.data = buffer.substr(36, len);
    frames.push_back(f);
    buffer.erase(0, 36 + len);
  }
  return frames;
}

// A blocking AGW client, as a station on the air uses its own engine.
class AgwClient {
 public:
  explicit AgwClient(uint16_t port) : fd_(socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in a = Loopback(port);
    connected_ = connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  }
  ~AgwClient() { close(fd_); }
  bool Connected() const { return connected_; }
  void Send(uint8_t port, char kind, const std::string& data = "") const {
    const std::string bytes = AgwBytes(port, kind, data);
    [[maybe_unused]] ssize_t n = send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
  }
  // The next frame of the kind, or nullopt-like kind 0 after the limit.
  AgwFrame WaitFor(char kind, int limitMs = 20000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    for (;;) {
      for (auto it = pending_.begin(); it != pending_.end(); ++it) {
        if (it->kind == kind) {
          AgwFrame f = *it;
          pending_.erase(pending_.begin(), it + 1);
          return f;
        }
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
      if (left.count() <= 0 || !WaitReadable(fd_, static_cast<int>(left.count()))) return {};
      char buf[65536];
      const ssize_t n = recv(fd_, buf, sizeof buf, 0);
      if (n <= 0) return {};
      buffer_.append(buf, static_cast<size_t>(n));
      for (auto& f : AgwParse(buffer_)) pending_.push_back(f);
    }
  }

 private:
  int fd_;
  bool connected_ = false;
  std::string buffer_;
  std::vector<AgwFrame> pending_;
};

class AgwServer : public LoopTcpServer {
 public:
  explicit AgwServer(EventLoop& loop, uint16_t port = 0) : LoopTcpServer(loop, port) {}
  std::vector<AgwFrame>& Frames() { return frames_; }
  std::string Kinds() const {
    std::string k;
    for (const auto& f : frames_) k += f.kind;
    return k;
  }

  // All of the bytes, however long the client takes to make room: the loop
  // turns meanwhile, so that a client on it reads.
  void SendAll(const std::string& bytes) {
    for (size_t done = 0; done < bytes.size() && client_ >= 0;) {
      const ssize_t n = send(client_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
      if (n < 0 && errno != EAGAIN) return;
      if (n > 0) done += static_cast<size_t>(n);
      if (n < 0) loop_.RunOnce(10);
    }
  }
  // Until everything sent has reached the client, which a reset would drop.
  void WaitDelivered() {
    int unsent = 0;
    while (client_ >= 0 && ioctl(client_, SIOCOUTQ, &unsent) == 0 && unsent > 0) loop_.RunOnce(10);
  }
  void Send(uint8_t port, char kind, const std::string& data, const std::string& from = "",
            const std::string& to = "", uint8_t pid = 0) const {
    SendRaw(AgwBytes(port, kind, data, from, to, pid));
  }

 private:
  void OnClient() override { buffer_.clear(); }
  void Received(const char* bytes, size_t count) override {
    buffer_.append(bytes, count);
    for (auto& f : AgwParse(buffer_)) frames_.push_back(f);
  }

  std::string buffer_;
  std::vector<AgwFrame> frames_;
};

}  // namespace ovlar::test
