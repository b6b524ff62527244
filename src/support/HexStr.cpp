#include "support/HexStr.h"

#include "support/ReqLib32.h"

namespace ovlar {

namespace {
constexpr char kDigits[] = "0123456789ABCDEF";
}

std::string ByteToHex(uint8_t value) {
  return std::string{kDigits[value >> 4], kDigits[value & 0x0F]};
}

std::string WordToHex(uint16_t value) {
  return ByteToHex(static_cast<uint8_t>(value >> 8)) + ByteToHex(static_cast<uint8_t>(value & 0xFF));
}

uint8_t HexDigitValue(char c) {
  if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  if (c >= '0' && c <= '9') return static_cast<uint8_t>(c - '0');
  if (c >= 'A' && c <= 'F') return static_cast<uint8_t>(c - 'A' + 10);
  return 0;
}

uint8_t HexToByte(const std::string& text) {
  if (text.empty() || text.size() > 2) return 0;
  const std::string two = PadLeft(text, 2, '0');
  return static_cast<uint8_t>(16 * HexDigitValue(two[0]) + HexDigitValue(two[1]));
}

}  // namespace ovlar
