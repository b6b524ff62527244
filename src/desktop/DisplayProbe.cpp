#include "desktop/DisplayProbe.h"

#include <netdb.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string>

namespace ovlar {

namespace {

bool ConnectUnix(const std::string& path, bool abstract) {
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_un a{};
  a.sun_family = AF_UNIX;
  const size_t offset = abstract ? 1 : 0;
  if (path.size() + offset >= sizeof a.sun_path) {
    close(fd);
    return false;
  }
  std::memcpy(a.sun_path + offset, path.data(), path.size());
  const auto len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + offset + path.size() + (abstract ? 0 : 1));
  const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&a), len) == 0;
  close(fd);
  return ok;
}

bool ConnectTcp(const std::string& host, int port) {
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &list) != 0) return false;
  bool ok = false;
  for (addrinfo* a = list; a && !ok; a = a->ai_next) {
    const int fd = socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
    if (fd < 0) continue;
    ok = connect(fd, a->ai_addr, a->ai_addrlen) == 0;
    close(fd);
  }
  freeaddrinfo(list);
  return ok;
}

// DISPLAY is [host]:number[.screen]; a local display listens on a socket
// under /tmp/.X11-unix (and often in the abstract namespace as well).
bool X11Reachable(const std::string& display) {
  const size_t colon = display.rfind(':');
  if (colon == std::string::npos) return false;
  const std::string host = display.substr(0, colon);
  const int number = std::atoi(display.c_str() + colon + 1);
  if (host.empty() || host == "unix") {
    const std::string path = "/tmp/.X11-unix/X" + std::to_string(number);
    return ConnectUnix(path, false) || ConnectUnix(path, true);
  }
  return ConnectTcp(host, 6000 + number);
}

bool WaylandReachable(const std::string& display) {
  if (!display.empty() && display[0] == '/') return ConnectUnix(display, false);
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  return runtime && ConnectUnix(std::string(runtime) + "/" + display, false);
}

}  // namespace

bool DisplayReachable() {
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  const char* x11 = std::getenv("DISPLAY");
  return (wayland && *wayland && WaylandReachable(wayland)) || (x11 && *x11 && X11Reachable(x11));
}

}  // namespace ovlar
