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
  bool peerClosed;  // the peer sends no more; what it sent before may still wait
  bool hangup;      // both directions are down
  bool error;       // an error waits in the socket (SO_ERROR)
};

class Poller {
 public:
  virtual ~Poller() = default;
  // Adds or changes interest in fd. Hang-up and error are always reported;
  // the peer's close only with read interest, as the reading that tells
  // when everything sent before it has been taken.
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
