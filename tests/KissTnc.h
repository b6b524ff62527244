// A scripted KISS TNC on loopback TCP, served from the test's own event
// loop: it takes one client at a time, decodes what the client sends with
// the bridge's own decoder and sends whatever bytes a test gives it.
#pragma once
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "SocketTestUtil.h"
#include "kiss/KissFrame.h"
#include "platform/EventLoop.h"

namespace ovlar::test {

class KissTnc {
 public:
  explicit KissTnc(EventLoop& loop) : loop_(loop), listen_(socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0)) {
    const int on = 1;
    setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    const sockaddr_in a = Loopback(0);
    bind(listen_, reinterpret_cast<const sockaddr*>(&a), sizeof a);
    listen(listen_, 4);
    loop_.WatchFd(listen_, true, false, [this](const PollEvent&) { Take(); });
    decoder_.OnFrame = [this](const std::string& frame) { frames_.push_back(frame); };
  }
  ~KissTnc() {
    Hang(false);
    loop_.UnwatchFd(listen_);
    close(listen_);
  }
  KissTnc(const KissTnc&) = delete;
  KissTnc& operator=(const KissTnc&) = delete;

  uint16_t Port() const { return BoundPort(listen_); }
  bool Connected() const { return peer_ >= 0; }
  int Clients() const { return clients_; }
  // Frames from the client, type byte first; and every byte it sent.
  const std::vector<std::string>& Frames() const { return frames_; }
  const std::string& Bytes() const { return bytes_; }

  void Send(const std::string& bytes) const {
    for (size_t done = 0; done < bytes.size();) {
      const ssize_t n = send(peer_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
      if (n <= 0) return;
      done += static_cast<size_t>(n);
    }
  }
  // A data frame for a KISS port, escaped.
  void Data(int kissPort, const std::string& frame) const {
    Send(KissEncode(std::string(1, static_cast<char>(kissPort << 4)) + frame));
  }
  // Ends the connection with a FIN, or with a reset.
  void Hang(bool reset) {
    if (peer_ < 0) return;
    if (reset) {
      const linger l{1, 0};
      setsockopt(peer_, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    }
    loop_.UnwatchFd(peer_);
    close(peer_);
    peer_ = -1;
  }

 private:
  void Take() {
    const int fd = accept4(listen_, nullptr, nullptr, SOCK_NONBLOCK);
    if (fd < 0) return;
    Hang(false);
    peer_ = fd;
    ++clients_;
    decoder_.Reset();
    loop_.WatchFd(fd, true, false, [this](const PollEvent&) { Read(); });
  }
  void Read() {
    char chunk[8192];
    const ssize_t n = recv(peer_, chunk, sizeof chunk, 0);
    if (n <= 0) return Hang(false);
    bytes_.append(chunk, static_cast<size_t>(n));
    decoder_.Feed(chunk, static_cast<size_t>(n));
  }

  EventLoop& loop_;
  int listen_;
  int peer_ = -1;
  int clients_ = 0;
  TKissDecoder decoder_{1 << 16};
  std::vector<std::string> frames_;
  std::string bytes_;
};

}  // namespace ovlar::test
