// Text helpers for configuration lines and AGWPE replies. Texts are byte
// strings; a NUL is an ordinary character unless a function says otherwise.
// Stateless free functions; safe from any thread.
#pragma once
#include <cstdint>
#include <string>

namespace ovlar {

// A password as the log shows it: never its characters, nor its length.
std::string MaskedPassword(const std::string& password);

// Non-empty and digits 0-9 only: no sign, no blanks.
bool IsNumeric(const std::string& text);
// Only a-z change; bytes above 0x7F stay as they are.
std::string UpperText(const std::string& text);
std::string BoolText(uint8_t flag);
std::string PadLeft(const std::string& text, size_t length, char fill);
std::string PadRight(const std::string& text, size_t length, char fill);
std::string CutAtNul(const std::string& text);
std::string RemoveChar(const std::string& text, char c);
std::string ReplaceChar(const std::string& text, char c, const std::string& replacement);
// Returns the text before the first separator and leaves the rest in source.
std::string SplitAt(std::string& source, char separator);
// Returns the next blank-separated word and leaves the rest in source.
std::string NextWord(std::string& source);
// Decimal text with an optional sign to a 32-bit integer; throws
// std::invalid_argument or std::out_of_range instead of guessing.
int32_t StrToInt(const std::string& text);

}  // namespace ovlar
