#include "net/WSockbuf.h"

#include <algorithm>
#include <cstring>

namespace ovlar {

TBuffer::TBuffer(int size) : data_(static_cast<size_t>(size > 0 ? size : kDefaultSize), '\0') {}

void TBuffer::SetSize(int size) {
  if (size <= 0) size = kDefaultSize;
  if (size == Size()) return;
  if (rdCount_ == wrCount_) {
    data_.assign(static_cast<size_t>(size), '\0');
    rdCount_ = wrCount_ = 0;
    return;
  }
  data_.resize(static_cast<size_t>(std::max(size, wrCount_)));
}

int TBuffer::Write(const void* data, int length) {
  const int n = std::clamp(Size() - wrCount_, 0, std::max(length, 0));
  if (n > 0) std::memcpy(&data_[static_cast<size_t>(wrCount_)], data, static_cast<size_t>(n));
  wrCount_ += n;
  return n;
}

const char* TBuffer::Peek(int& count) const {
  count = wrCount_ - rdCount_;
  return count > 0 ? data_.data() + rdCount_ : nullptr;
}

int TBuffer::Remove(int length) {
  const int n = std::clamp(length, 0, wrCount_ - rdCount_);
  rdCount_ += n;
  if (rdCount_ == wrCount_) rdCount_ = wrCount_ = 0;
  return n;
}

}  // namespace ovlar
