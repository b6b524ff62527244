#include "platform/ServiceNotify.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace ovlar {

namespace {

// A decimal environment value, or 0 when it is missing or not a whole
// positive number.
int64_t EnvNumber(const char* name) {
  const char* text = std::getenv(name);
  if (text == nullptr) return 0;
  const char* end = text + std::strlen(text);
  int64_t value = 0;
  const auto [at, ec] = std::from_chars(text, end, value);
  return ec == std::errc() && at == end && value > 0 ? value : 0;
}

}  // namespace

TServiceNotify TServiceNotify::FromEnvironment() {
  const char* socket = std::getenv("NOTIFY_SOCKET");
  int64_t usec = EnvNumber("WATCHDOG_USEC");
  // The watchdog is meant for the process the manager named, not a child.
  const int64_t pid = EnvNumber("WATCHDOG_PID");
  if (pid != 0 && pid != static_cast<int64_t>(getpid())) usec = 0;
  return TServiceNotify(socket ? socket : "", usec);
}

TServiceNotify::TServiceNotify(const std::string& socketName, int64_t watchdogUsec) : name_(socketName) {
  // Half the timeout, never 0 for a timeout under 2 ms.
  if (watchdogUsec > 0) watchdogMs_ = std::max<int64_t>(1, watchdogUsec / 2000);
  if (name_.empty()) return;
  const bool abstract = name_[0] == '@';
  if (!abstract && name_[0] != '/') {
    fault_ = "is neither a path nor an abstract name";
    return;
  }
  // A path needs its terminating zero inside sun_path; an abstract name
  // (its '@' becoming the leading zero) does not.
  if (name_.size() + (abstract ? 0 : 1) > sizeof address_.sun_path) {
    fault_ = "is longer than a unix socket address holds";
    return;
  }
  address_.sun_family = AF_UNIX;
  std::memcpy(address_.sun_path, name_.data(), name_.size());
  if (abstract) address_.sun_path[0] = '\0';
  length_ = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + name_.size() + (abstract ? 0 : 1));
}

TServiceNotify::TServiceNotify(TServiceNotify&& other) noexcept
    : name_(std::move(other.name_)),
      fault_(std::move(other.fault_)),
      address_(other.address_),
      length_(other.length_),
      watchdogMs_(other.watchdogMs_),
      fd_(std::exchange(other.fd_, -1)) {
  other.length_ = 0;
}

TServiceNotify::~TServiceNotify() {
  if (fd_ >= 0) close(fd_);
}

int TServiceNotify::Send(const std::string& state) {
  if (!Active()) return 0;
  if (fd_ < 0) {
    fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) return errno;
  }
  const ssize_t sent = sendto(fd_, state.data(), state.size(), MSG_DONTWAIT | MSG_NOSIGNAL,
                              reinterpret_cast<const sockaddr*>(&address_), length_);
  return sent < 0 ? errno : 0;
}

}  // namespace ovlar
