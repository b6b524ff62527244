// A plain TCP client for the HTTP server tests: it connects at once (the
// kernel completes loopback connections before accept), sends what the test
// says, and collects what comes back while the test turns the loop.
#pragma once
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "SocketTestUtil.h"

namespace ovlar::test {

struct HttpResponse {
  int status = 0;
  std::string head;  // status line and header lines
  std::string body;

  bool Has(const std::string& headerLine) const { return head.find("\r\n" + headerLine + "\r\n") != std::string::npos; }
};

inline HttpResponse ParseResponse(const std::string& raw) {
  HttpResponse r;
  const size_t end = raw.find("\r\n\r\n");
  if (raw.rfind("HTTP/1.1 ", 0) != 0 || end == std::string::npos) return r;
  r.status = std::atoi(raw.c_str() + 9);
  r.head = raw.substr(0, end + 2);
  r.body = raw.substr(end + 4);
  return r;
}

class HttpClient {
 public:
  explicit HttpClient(uint16_t port) : fd_(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in a = Loopback(port);
    connected_ = connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL) | O_NONBLOCK);
  }
  ~HttpClient() { close(fd_); }
  HttpClient(const HttpClient&) = delete;
  HttpClient& operator=(const HttpClient&) = delete;

  bool Connected() const { return connected_; }
  void Send(const std::string& data) const { send(fd_, data.data(), data.size(), MSG_NOSIGNAL); }
  // Reads what has arrived; true once the server has closed (or reset).
  bool Closed() {
    char buf[65536];
    for (;;) {
      const ssize_t n = recv(fd_, buf, sizeof buf, 0);
      if (n > 0) {
        received_.append(buf, static_cast<size_t>(n));
        continue;
      }
      if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) closed_ = true;
      return closed_;
    }
  }
  const std::string& Received() const { return received_; }

  // One request and its whole response, turning the loop meanwhile.
  static HttpResponse Exchange(EventLoop& loop, uint16_t port, const std::string& request) {
    HttpClient client(port);
    client.Send(request);
    if (!RunUntil(loop, [&] { return client.Closed(); })) return {};
    return ParseResponse(client.Received());
  }
  static HttpResponse Get(EventLoop& loop, uint16_t port, const std::string& path) {
    return Exchange(loop, port, "GET " + path + " HTTP/1.1\r\nHost: localhost\r\n\r\n");
  }

 private:
  int fd_;
  bool connected_ = false;
  bool closed_ = false;
  std::string received_;
};

}  // namespace ovlar::test
