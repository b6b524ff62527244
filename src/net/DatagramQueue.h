// The datagrams waiting at a UDP socket, read in batches: one system call
// takes up to kBatch of them, each with its sender and its whole length,
// so a datagram longer than the buffer is told apart without asking the
// system for the waiting length first. The buffers are allocated once, at
// construction. A plain object; event-loop thread only.
#pragma once
#include <sys/socket.h>

#include <cstddef>
#include <string>
#include <vector>

#include "net/SockAddr.h"

namespace ovlar {

class TDatagramQueue {
 public:
  // Enough to empty a busy listener in few calls, few enough that one
  // listener's burst leaves the other sockets their turn soon.
  static constexpr unsigned kBatch = 32;

  struct TDatagram {
    const char* bytes;  // the first min(length, Capacity()) of them
    size_t length;      // the datagram's whole length
    TSockAddr from;     // invalid for a family other than IPv4 and IPv6
  };

  // capacity: the bytes held of each datagram.
  explicit TDatagramQueue(size_t capacity);

  // Reads what is waiting at the socket, up to kBatch; the number read, or
  // -1 with the error in WSAGetLastError (WSAEWOULDBLOCK: none waiting).
  int Fill(int socket);
  size_t Count() const { return count_; }
  TDatagram At(size_t index) const;
  size_t Capacity() const { return capacity_; }

 private:
  size_t capacity_;
  size_t count_ = 0;
  std::string buffer_;
  std::vector<mmsghdr> headers_;
  std::vector<iovec> pieces_;
  std::vector<sockaddr_storage> senders_;
};

}  // namespace ovlar
