// Readiness of file descriptors, behind the smallest interface the loop needs.
// Level-triggered; owned by one EventLoop and used on its thread only.
#pragma once
#include <cstdint>
#include <memory>
#include <vector>

namespace ovlar {

struct PollEvent {
  int fd;
  bool readable;
  bool writable;
  bool hangup;  // error or hang-up: the owner reads the socket to learn which
};

class Poller {
 public:
  virtual ~Poller() = default;
  // Adds or changes interest in fd. Hang-up and error are always reported,
  // so a descriptor with neither flag still tells when its peer goes away.
  // fresh: the number may now name another socket than it did before.
  virtual void Update(int fd, bool read, bool write, bool fresh) = 0;
  virtual void Remove(int fd) = 0;
  // Waits at most timeoutMs (-1: no limit) and returns what became ready.
  virtual std::vector<PollEvent> Wait(int timeoutMs) = 0;
  // A descriptor that is readable while events are pending, for embedding
  // this loop into another (the desktop's).
  virtual int Descriptor() const = 0;

  static std::unique_ptr<Poller> Create();
};

}  // namespace ovlar
