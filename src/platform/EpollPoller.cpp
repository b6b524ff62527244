#include <sys/epoll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>
#include <unordered_map>

#include "platform/Poller.h"

namespace ovlar {

namespace {

class EpollPoller : public Poller {
 public:
  EpollPoller() : epfd_(epoll_create1(EPOLL_CLOEXEC)) {
    if (epfd_ < 0) throw std::runtime_error(std::string("epoll_create1: ") + std::strerror(errno));
  }
  ~EpollPoller() override { close(epfd_); }

  void Update(int fd, bool read, bool write) override {
    epoll_event ev{};
    ev.events = (read ? EPOLLIN : 0u) | (write ? EPOLLOUT : 0u) | EPOLLRDHUP;
    ev.data.fd = fd;
    const bool known = interest_.count(fd) != 0;
    if (epoll_ctl(epfd_, known ? EPOLL_CTL_MOD : EPOLL_CTL_ADD, fd, &ev) == 0) interest_[fd] = ev.events;
  }

  void Remove(int fd) override {
    if (interest_.erase(fd) != 0) epoll_ctl(epfd_, EPOLL_CTL_DEL, fd, nullptr);
  }

  std::vector<PollEvent> Wait(int timeoutMs) override {
    epoll_event events[64];
    const int n = epoll_wait(epfd_, events, 64, timeoutMs);
    std::vector<PollEvent> ready;
    for (int i = 0; i < n; ++i) {
      const uint32_t e = events[i].events;
      ready.push_back({events[i].data.fd, (e & (EPOLLIN | EPOLLPRI)) != 0, (e & EPOLLOUT) != 0,
                       (e & (EPOLLERR | EPOLLHUP | EPOLLRDHUP)) != 0});
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
