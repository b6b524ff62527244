#include "support/AX25Address.h"

#include <cstdint>

namespace ovlar {

std::string AX25CallSign(const std::string& bytes, size_t at) {
  std::string call;
  for (size_t i = 0; i < 6; ++i) {
    const char c = static_cast<char>(static_cast<uint8_t>(bytes[at + i]) >> 1);
    if (c == ' ') break;
    call += c;
  }
  const int ssid = (static_cast<uint8_t>(bytes[at + 6]) >> 1) & 0x0F;
  if (ssid != 0) call.append(1, '-').append(std::to_string(ssid));
  return call;
}

}  // namespace ovlar
