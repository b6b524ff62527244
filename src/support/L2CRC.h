// CRC-16/X.25, the AX.25 frame check sequence carried at the end of every
// AXIP datagram. Table built once at construction; ComputeCRC is pure.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace ovlar {

class TCRC {
 public:
  // Register after a whole datagram whose FCS is correct.
  static constexpr uint16_t kResidue = 0xF0B8;

  TCRC();
  // Register after `count` bytes, starting from 0xFFFF, not complemented.
  uint16_t ComputeCRC(const void* data, size_t count) const;
  uint16_t ComputeCRC(const std::string& bytes) const { return ComputeCRC(bytes.data(), bytes.size()); }
  // The frame followed by its FCS, low-order byte first.
  std::string AppendFCS(const std::string& frame) const;
  // True when the whole datagram, FCS included, leaves the residue.
  bool IsValid(const std::string& datagram) const { return ComputeCRC(datagram) == kResidue; }

 private:
  std::array<uint16_t, 256> table_{};
};

}  // namespace ovlar
