// How a buffer that a burst grew gives its memory back: once it is empty,
// anything kept beyond kKeepCapacity is released. Stateless; any thread.
#pragma once
#include <cstddef>
#include <string>

namespace ovlar {

constexpr size_t kKeepCapacity = 64 * 1024;

// Empties the buffer, releasing its memory when a burst grew it past kKeepCapacity.
inline void EmptyBuffer(std::string& buffer) {
  if (buffer.capacity() > kKeepCapacity) {
    std::string().swap(buffer);
  } else {
    buffer.clear();
  }
}

}  // namespace ovlar
