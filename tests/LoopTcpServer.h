// One TCP client at a time on a loopback port, served from the test's own
// event loop: a new client replaces the one before, what a client sends
// goes to the subclass, and the connection ends with a FIN or a reset.
#pragma once
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "SocketTestUtil.h"
#include "platform/EventLoop.h"

namespace ovlar::test {

class LoopTcpServer {
 public:
  explicit LoopTcpServer(EventLoop& loop, uint16_t port = 0) : loop_(loop) {
    listen_ = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    const int on = 1;
    setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in a = Loopback(port);
    bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    listen(listen_, 8);
    loop_.WatchFd(listen_, true, false, [this](const PollEvent&) { OnAccept(); });
  }
  virtual ~LoopTcpServer() {
    Drop();
    loop_.UnwatchFd(listen_);
    close(listen_);
  }
  LoopTcpServer(const LoopTcpServer&) = delete;
  LoopTcpServer& operator=(const LoopTcpServer&) = delete;

  uint16_t Port() const { return BoundPort(listen_); }
  bool Connected() const { return client_ >= 0; }
  int Accepted() const { return accepted_; }

  void SendRaw(const std::string& bytes) const {
    size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = send(client_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
      if (n <= 0) return;
      done += static_cast<size_t>(n);
    }
  }
  // A peer that stops reading, and starts again; small buffers make the
  // client's own queue fill sooner.
  void PauseReading() {
    const int small = 4096;
    setsockopt(client_, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    loop_.UnwatchFd(client_);
  }
  void ResumeReading() {
    const int usual = 212992;
    setsockopt(client_, SOL_SOCKET, SO_RCVBUF, &usual, sizeof usual);
    Watch();
  }
  // Ends the connection with a FIN, or with a reset.
  void Drop(bool reset = false) {
    if (client_ < 0) return;
    if (reset) {
      linger l{1, 0};
      setsockopt(client_, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    }
    loop_.UnwatchFd(client_);
    close(client_);
    client_ = -1;
  }

 protected:
  // A new client, before anything it sends.
  virtual void OnClient() {}
  virtual void Received(const char* bytes, size_t count) = 0;
  void Watch() {
    loop_.WatchFd(client_, true, false, [this](const PollEvent&) { OnRead(); });
  }

  EventLoop& loop_;
  int client_ = -1;

 private:
  void OnAccept() {
    const int fd = accept4(listen_, nullptr, nullptr, SOCK_NONBLOCK);
    if (fd < 0) return;
    Drop();
    client_ = fd;
    ++accepted_;
    OnClient();
    Watch();
  }
  void OnRead() {
    char buf[65536];
    const ssize_t n = recv(client_, buf, sizeof buf, 0);
    if (n <= 0) {
      Drop();
      return;
    }
    Received(buf, static_cast<size_t>(n));
  }

  int listen_;
  int accepted_ = 0;
};

}  // namespace ovlar::test
