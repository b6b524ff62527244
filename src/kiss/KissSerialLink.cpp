#include "kiss/KissSerialLink.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace ovlar {

namespace {

struct TSpeed {
  int64_t bitsPerSecond;
  speed_t code;
};

constexpr TSpeed kSpeeds[] = {{300, B300},       {600, B600},       {1200, B1200},     {2400, B2400},
                              {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},
                              {57600, B57600},   {115200, B115200}, {230400, B230400}, {460800, B460800},
                              {921600, B921600}};

const TSpeed* FindSpeed(int64_t bitsPerSecond) {
  for (const TSpeed& s : kSpeeds) {
    if (s.bitsPerSecond == bitsPerSecond) return &s;
  }
  return nullptr;
}

// The most one read event takes; at serial speeds a turn's worth at most.
constexpr size_t kReadSlice = 2 * 1024;

}  // namespace

bool KissSpeedSupported(int64_t bitsPerSecond) { return FindSpeed(bitsPerSecond) != nullptr; }

TKissSerialLink::TKissSerialLink(EventLoop& loop, std::string device, int64_t speed)
    : loop_(loop), device_(std::move(device)), speed_(speed) {}

TKissSerialLink::~TKissSerialLink() { Release(); }

std::string TKissSerialLink::CallFailed(const char* call, int error) {
  return std::string(call) + ": " + std::strerror(error) + " (" + std::to_string(error) + ")";
}

void TKissSerialLink::Open() {
  if (state_ != TState::Idle) return;
  const int fd = ::open(device_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    const int error = errno;
    if (OnClosed) OnClosed(true, CallFailed("open", error));
    return;
  }
  fd_ = fd;
  std::string reason;
  if (!MakeRaw(reason)) {
    Release();
    if (OnClosed) OnClosed(true, reason);
    return;
  }
  state_ = TState::Opening;
  alive_ = std::make_shared<int>(0);
  // The first readiness tells that the device is usable, in a turn of its
  // own rather than inside whoever called Open.
  loop_.WatchFd(fd_, true, true, [this](const PollEvent& ev) { OnReady(ev); });
}

bool TKissSerialLink::MakeRaw(std::string& reason) const {
  termios t{};
  if (tcgetattr(fd_, &t) != 0) {
    reason = CallFailed("tcgetattr", errno);
    return false;
  }
  cfmakeraw(&t);
  t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | CSTOPB | PARENB | CRTSCTS);
  t.c_cflag |= CS8 | CREAD | CLOCAL;
  t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  const TSpeed* speed = FindSpeed(speed_);
  if (!speed) {
    reason = "speed " + std::to_string(speed_) + " not supported";
    return false;
  }
  if (cfsetispeed(&t, speed->code) != 0 || cfsetospeed(&t, speed->code) != 0) {
    reason = CallFailed("cfsetspeed", errno);
    return false;
  }
  if (tcsetattr(fd_, TCSANOW, &t) != 0) {
    reason = CallFailed("tcsetattr", errno);
    return false;
  }
  return true;
}

void TKissSerialLink::Close() { Release(); }

void TKissSerialLink::Release() {
  alive_.reset();
  queued_.clear();
  state_ = TState::Idle;
  if (fd_ < 0) return;
  loop_.UnwatchFd(fd_);
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) Note("{KISS} ERROR closing " + device_ + ": " + CallFailed("close", errno));
}

void TKissSerialLink::Lost(const std::string& reason) {
  if (state_ == TState::Idle) return;
  Release();
  if (OnClosed) OnClosed(true, reason);
}

void TKissSerialLink::OnReady(const PollEvent& ev) {
  if (state_ == TState::Opening) {
    // A device hung up from the start never was a link.
    if ((ev.hangup || ev.error) && !ev.readable) return Lost("hang-up");
    state_ = TState::Open;
    loop_.UpdateFd(fd_, true, !queued_.empty());
    if (OnOpened) OnOpened();
    if (state_ != TState::Open) return;
  }
  if (ev.writable && !queued_.empty() && !Flush()) return;
  if (ev.readable || ev.hangup || ev.error) ReadSome(ev);
}

bool TKissSerialLink::ReadSome(const PollEvent& ev) {
  char buffer[kReadSlice];
  const ssize_t n = ::read(fd_, buffer, sizeof buffer);
  if (n > 0) {
    if (OnRead) OnRead(std::string(buffer, static_cast<size_t>(n)));
    return state_ == TState::Open;
  }
  const int error = n < 0 ? errno : 0;
  if (n < 0 && (error == EAGAIN || error == EINTR) && !ev.hangup && !ev.error) return true;
  // Everything the device held has been read: a hang-up now ends the link.
  Lost(n < 0 && error != EAGAIN && error != EINTR ? CallFailed("read", error) : "hang-up");
  return false;
}

TSendResult TKissSerialLink::Write(const std::string& bytes) {
  if (state_ != TState::Open) return TSendResult::LinkDown;
  if (queued_.size() + bytes.size() > kMaxQueued) return TSendResult::LinkFull;
  if (!queued_.empty()) {
    queued_ += bytes;
    return TSendResult::Sent;
  }
  const ssize_t n = ::write(fd_, bytes.data(), bytes.size());
  if (n >= 0 && static_cast<size_t>(n) == bytes.size()) return TSendResult::Sent;
  if (n < 0 && errno != EAGAIN && errno != EINTR) {
    const std::string reason = CallFailed("write", errno);
    Note("{KISS} ERROR writing to " + device_ + ": " + reason);
    std::weak_ptr<int> alive = alive_;
    loop_.Post([this, alive, reason] {
      if (!alive.expired()) Lost(reason);
    });
    return TSendResult::Failed;
  }
  queued_.assign(bytes, n > 0 ? static_cast<size_t>(n) : 0, std::string::npos);
  loop_.UpdateFd(fd_, true, true);
  return TSendResult::Sent;
}

bool TKissSerialLink::Flush() {
  const ssize_t n = ::write(fd_, queued_.data(), queued_.size());
  if (n < 0) {
    if (errno == EAGAIN || errno == EINTR) return true;
    Lost(CallFailed("write", errno));
    return false;
  }
  queued_.erase(0, static_cast<size_t>(n));
  if (queued_.empty()) loop_.UpdateFd(fd_, true, false);
  return true;
}

}  // namespace ovlar
