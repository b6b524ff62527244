// One chunk of a socket's send buffer: bytes are written at the end and
// taken from the front; a drained chunk is reused from its start.
#pragma once
#include <cstddef>
#include <string>

namespace ovlar {

class TBuffer {
 public:
  static constexpr int kDefaultSize = 1514;

  // A size of zero or less means the default.
  explicit TBuffer(int size);
  int Size() const { return static_cast<int>(data_.size()); }
  // Never smaller than what is stored.
  void SetSize(int size);
  // Stores as much as fits and returns how much that was.
  int Write(const void* data, int length);
  // The unread bytes and their count; nullptr and 0 when there are none.
  const char* Peek(int& count) const;
  // Takes at most the unread count and returns how much it took.
  int Remove(int length);

 private:
  std::string data_;
  int wrCount_ = 0;
  int rdCount_ = 0;
};

}  // namespace ovlar
