// Upper-case hexadecimal rendering and parsing of bytes and words.
// Stateless free functions; safe from any thread.
#pragma once
#include <cstdint>
#include <string>

namespace ovlar {

std::string ByteToHex(uint8_t value);
std::string WordToHex(uint16_t value);
// 0..15 for a hex digit of either case, 0 for anything else.
uint8_t HexDigitValue(char c);
// One or two hex digits; anything empty or longer than two gives 0.
uint8_t HexToByte(const std::string& text);

}  // namespace ovlar
