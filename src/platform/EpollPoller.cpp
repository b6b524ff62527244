#include <sys/epoll.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <unordered_map>

#include "platform/Poller.h"

namespace ovlar {

namespace {

[[noreturn]] void RaiseErrno(const char* call) { throw std::system_error(errno, std::system_category(), call); }

// The number was closed, or never registered: its registration is gone.
bool AlreadyGone(int err) { return err == EBADF || err == ENOENT; }

class EpollPoller : public Poller {
 public:
  EpollPoller() : epfd_(epoll_create1(EPOLL_CLOEXEC)) {
    if (epfd_ < 0) RaiseErrno("epoll_create1");
  }
  ~EpollPoller() override { close(epfd_); }

  void Update(int fd, bool read, bool write, bool fresh) override {
    epoll_event ev{};
    ev.events = (read ? EPOLLIN | EPOLLRDHUP : 0u) | (write ? EPOLLOUT : 0u);
    ev.data.fd = fd;
    auto it = interest_.find(fd);
    if (fresh && it != interest_.end()) {
      if (epoll_ctl(epfd_, EPOLL_CTL_DEL, fd, nullptr) != 0 && !AlreadyGone(errno)) RaiseErrno("epoll_ctl");
      interest_.erase(it);
      it = interest_.end();
    }
    if (it != interest_.end() && it->second == ev.events) return;
    // The descriptor may have been closed and its number reused since it
    // was registered: closing removed the old registration.
    int rc = epoll_ctl(epfd_, it != interest_.end() ? EPOLL_CTL_MOD : EPOLL_CTL_ADD, fd, &ev);
    if (rc != 0 && errno == ENOENT) rc = epoll_ctl(epfd_, EPOLL_CTL_ADD, fd, &ev);
    if (rc != 0 && errno == EEXIST) rc = epoll_ctl(epfd_, EPOLL_CTL_MOD, fd, &ev);
    if (rc != 0) {
      interest_.erase(fd);
      RaiseErrno("epoll_ctl");
    }
    interest_[fd] = ev.events;
  }

  void Remove(int fd) override {
    if (interest_.erase(fd) == 0) return;
    if (epoll_ctl(epfd_, EPOLL_CTL_DEL, fd, nullptr) != 0 && !AlreadyGone(errno)) RaiseErrno("epoll_ctl");
  }

  std::vector<PollEvent> Wait(int timeoutMs) override {
    epoll_event events[64];
    const int n = epoll_wait(epfd_, events, 64, timeoutMs);
    if (n < 0 && errno != EINTR) RaiseErrno("epoll_wait");
    std::vector<PollEvent> ready;
    for (int i = 0; i < n; ++i) {
      const uint32_t e = events[i].events;
      ready.push_back({events[i].data.fd, (e & (EPOLLIN | EPOLLPRI)) != 0, (e & EPOLLOUT) != 0,
                       (e & EPOLLRDHUP) != 0, (e & EPOLLHUP) != 0, (e & EPOLLERR) != 0});
    }
    return ready;
  }

  int Descriptor() const override { return epfd_; }

 private:
  int epfd_;
  std::unordered_map<int, uint32_t> interest_;
};

}  // namespace

std::unique_ptr<Poller> Poller::Create() { return std::make_unique<EpollPoller>(); }

}  // namespace ovlar
