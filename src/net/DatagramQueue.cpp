#include "net/DatagramQueue.h"

#include <stdexcept>

#include "platform/WinSock.h"

namespace ovlar {

TDatagramQueue::TDatagramQueue(size_t capacity)
    : capacity_(capacity),
      buffer_(capacity * kBatch, '\0'),
      headers_(kBatch),
      pieces_(kBatch),
      senders_(kBatch) {}

int TDatagramQueue::Fill(int socket) {
  count_ = 0;
  for (unsigned i = 0; i < kBatch; ++i) {
    pieces_[i] = {buffer_.data() + i * capacity_, capacity_};
    headers_[i] = {};
    headers_[i].msg_hdr.msg_iov = &pieces_[i];
    headers_[i].msg_hdr.msg_iovlen = 1;
    headers_[i].msg_hdr.msg_name = &senders_[i];
    headers_[i].msg_hdr.msg_namelen = sizeof(sockaddr_storage);
  }
  // MSG_TRUNC: each length is the datagram's own, even past the buffer.
  const int n = wsock::RecvMany(socket, headers_.data(), kBatch, MSG_TRUNC | MSG_DONTWAIT);
  if (n > 0) count_ = static_cast<size_t>(n);
  return n;
}

TDatagramQueue::TDatagram TDatagramQueue::At(size_t index) const {
  if (index >= count_) throw std::out_of_range("TDatagramQueue::At");
  const mmsghdr& header = headers_[index];
  return {buffer_.data() + index * capacity_, header.msg_len,
          TSockAddr::From(senders_[index], header.msg_hdr.msg_namelen).value_or(TSockAddr())};
}

}  // namespace ovlar
