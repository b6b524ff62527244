#include "support/L2CRC.h"

namespace ovlar {

TCRC::TCRC() {
  for (unsigned i = 0; i < 256; ++i) {
    uint16_t value = static_cast<uint16_t>(i);
    for (int bit = 0; bit < 8; ++bit) {
      value = (value & 1) ? static_cast<uint16_t>((value >> 1) ^ 0x8408) : static_cast<uint16_t>(value >> 1);
    }
    table_[i] = value;
  }
}

uint16_t TCRC::ComputeCRC(const void* data, size_t count) const {
  const auto* bytes = static_cast<const uint8_t*>(data);
  uint16_t reg = 0xFFFF;
  for (size_t i = 0; i < count; ++i) {
    reg = static_cast<uint16_t>((reg >> 8) ^ table_[(reg ^ bytes[i]) & 0xFF]);
  }
  return reg;
}

std::string TCRC::AppendFCS(const std::string& frame) const {
  const uint16_t fcs = ComputeCRC(frame) ^ 0xFFFF;
  std::string datagram = frame;
  datagram += static_cast<char>(fcs & 0xFF);
  datagram += static_cast<char>(fcs >> 8);
  return datagram;
}

}  // namespace ovlar
