// Loopback peers and loop-driving helpers for the socket tests. Nothing here
// sleeps for a fixed time: waits end as soon as their condition holds.
#pragma once
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <string>

#include "platform/EventLoop.h"

namespace ovlar::test {

// Takes the error stream over while alive; Text is what was written so far.
class StderrCapture {
 public:
  StderrCapture() : saved_(dup(STDERR_FILENO)) {
    if (pipe2(pipe_, O_NONBLOCK | O_CLOEXEC) == 0) dup2(pipe_[1], STDERR_FILENO);
  }
  ~StderrCapture() {
    dup2(saved_, STDERR_FILENO);
    for (int fd : {saved_, pipe_[0], pipe_[1]}) close(fd);
  }
  StderrCapture(const StderrCapture&) = delete;
  StderrCapture& operator=(const StderrCapture&) = delete;
  const std::string& Text() {
    char buf[512];
    ssize_t n;
    while ((n = read(pipe_[0], buf, sizeof buf)) > 0) text_.append(buf, static_cast<size_t>(n));
    return text_;
  }

 private:
  int saved_;
  int pipe_[2] = {-1, -1};
  std::string text_;
};

// Turns the loop until pred holds; false after a generous real-time limit.
inline bool RunUntil(EventLoop& loop, const std::function<bool()>& pred, int limitMs = 20000) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
  while (!pred()) {
    if (std::chrono::steady_clock::now() > end) return false;
    loop.RunOnce(50);
  }
  return true;
}

// Turns the loop a few times so that anything already due is delivered.
inline void Settle(EventLoop& loop, int turns = 5) {
  for (int i = 0; i < turns; ++i) loop.RunOnce(10);
}

inline sockaddr_in Loopback(uint16_t port, const char* address = "127.0.0.1") {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = inet_addr(address);
  return a;
}

inline uint16_t BoundPort(int fd) {
  sockaddr_in a{};
  socklen_t len = sizeof a;
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  return ntohs(a.sin_port);
}

inline bool WaitReadable(int fd, int limitMs = 10000) {
  pollfd p{fd, POLLIN, 0};
  return poll(&p, 1, limitMs) == 1;
}

// The message of the ESocketException that f raises.
template <class F>
std::string ExceptionText(F&& f) {
  try {
    f();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "<no exception>";
}

// A plain UDP socket on 127.0.0.1.
class UdpPeer {
 public:
  // Bound to a loopback address of the test's choice (all of 127/8 is
  // local); an IPv6 one ("::1") makes an IPv6 peer, which sends to ::1.
  explicit UdpPeer(uint16_t port = 0, const char* address = "127.0.0.1")
      : v6_(std::strchr(address, ':') != nullptr), fd_(socket(v6_ ? AF_INET6 : AF_INET, SOCK_DGRAM, 0)) {
    const int big = 4 * 1024 * 1024;
    setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &big, sizeof big);
    sockaddr_storage a = At(port, address);
    bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
  }
  ~UdpPeer() { close(fd_); }
  uint16_t Port() const { return BoundPort(fd_); }
  int Fd() const { return fd_; }
  void SendTo(uint16_t port, const std::string& data) const {
    sockaddr_storage a = At(port, v6_ ? "::1" : "127.0.0.1");
    sendto(fd_, data.data(), data.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a);
  }
  // One datagram, or "<none>" when nothing arrives in time; `from` gets
  // the sender's port when asked for.
  std::string Receive(int limitMs = 10000, uint16_t* from = nullptr) const {
    if (!WaitReadable(fd_, limitMs)) return "<none>";
    std::string buf(70000, '\0');
    sockaddr_storage a{};
    socklen_t len = sizeof a;
    const ssize_t n = recvfrom(fd_, buf.data(), buf.size(), 0, reinterpret_cast<sockaddr*>(&a), &len);
    buf.resize(n > 0 ? static_cast<size_t>(n) : 0);
    // Both families keep the port at the same place.
    if (from) *from = ntohs(reinterpret_cast<sockaddr_in&>(a).sin_port);
    return buf;
  }

 private:
  sockaddr_storage At(uint16_t port, const char* address) const {
    sockaddr_storage a{};
    if (!v6_) {
      reinterpret_cast<sockaddr_in&>(a) = Loopback(port, address);
      return a;
    }
    auto& v6 = reinterpret_cast<sockaddr_in6&>(a);
    v6.sin6_family = AF_INET6;
    v6.sin6_port = htons(port);
    inet_pton(AF_INET6, address, &v6.sin6_addr);
    return a;
  }
  bool v6_;
  int fd_;
};

// Whether this machine's loopback has ::1 (a container may lack it).
inline bool HasIPv6Loopback() {
  UdpPeer probe(0, "::1");
  return probe.Port() != 0;
}

// A UDP port that was free a moment ago.
inline uint16_t FreeUdpPort() {
  UdpPeer probe;
  return probe.Port();
}

// A plain TCP listener on 127.0.0.1; the kernel completes connections
// before accept, so tests accept whenever they like.
class TcpServer {
 public:
  TcpServer() : fd_(socket(AF_INET, SOCK_STREAM, 0)) {
    const int on = 1;
    setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in a = Loopback(0);
    bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    listen(fd_, 8);
  }
  ~TcpServer() {
    if (client_ >= 0) close(client_);
    close(fd_);
  }
  uint16_t Port() const { return BoundPort(fd_); }
  int Accept() {
    if (!WaitReadable(fd_)) return -1;
    if (client_ >= 0) close(client_);
    client_ = accept(fd_, nullptr, nullptr);
    return client_;
  }
  int Client() const { return client_; }
  void Send(const std::string& data) const { send(client_, data.data(), data.size(), MSG_NOSIGNAL); }
  void CloseClient() {
    close(client_);
    client_ = -1;
  }
  // Closes with a reset instead of a FIN.
  void ResetClient() {
    linger l{1, 0};
    setsockopt(client_, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    CloseClient();
  }

 private:
  int fd_;
  int client_ = -1;
};

}  // namespace ovlar::test
