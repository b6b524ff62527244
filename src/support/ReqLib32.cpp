#include "support/ReqLib32.h"

#include <stdexcept>

namespace ovlar {

std::string MaskedPassword(const std::string& password) { return password.empty() ? "" : "********"; }

bool IsNumeric(const std::string& text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

std::string UpperText(const std::string& text) {
  std::string result = text;
  for (char& c : result) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return result;
}

std::string BoolText(uint8_t flag) { return flag == 1 ? "TRUE" : "FALSE"; }

std::string PadLeft(const std::string& text, size_t length, char fill) {
  if (text.size() >= length) return text;
  return std::string(length - text.size(), fill) + text;
}

std::string PadRight(const std::string& text, size_t length, char fill) {
  if (text.size() >= length) return text;
  return text + std::string(length - text.size(), fill);
}

std::string CutAtNul(const std::string& text) { return text.substr(0, text.find('\0')); }

std::string RemoveChar(const std::string& text, char c) {
  std::string result;
  result.reserve(text.size());
  for (char x : text) {
    if (x != c) result += x;
  }
  return result;
}

std::string ReplaceChar(const std::string& text, char c, const std::string& replacement) {
  std::string result;
  result.reserve(text.size());
  for (char x : text) {
    if (x == c) {
      result += replacement;
    } else {
      result += x;
    }
  }
  return result;
}

std::string SplitAt(std::string& source, char separator) {
  const size_t at = source.find(separator);
  if (at == std::string::npos) {
    std::string whole;
    whole.swap(source);
    return whole;
  }
  std::string head = source.substr(0, at);
  source.erase(0, at + 1);
  return head;
}

std::string NextWord(std::string& source) {
  const size_t start = source.find_first_not_of(' ');
  if (start == std::string::npos) {
    source.clear();
    return {};
  }
  std::string copy = source.substr(start);
  if (copy.back() == '\r') copy.pop_back();
  const size_t end = copy.find(' ');
  if (end == std::string::npos) {
    source.clear();
    return copy;
  }
  const size_t rest = copy.find_first_not_of(' ', end);
  source = rest == std::string::npos ? std::string() : copy.substr(rest);
  return copy.substr(0, end);
}

int32_t StrToInt(const std::string& text) {
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  if (i == text.size()) throw std::invalid_argument("'" + text + "' is not a valid integer value");
  int64_t value = 0;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (c < '0' || c > '9') throw std::invalid_argument("'" + text + "' is not a valid integer value");
    value = value * 10 + (c - '0');
    if (value > int64_t{INT32_MAX} + (negative ? 1 : 0)) {
      throw std::out_of_range("'" + text + "' is not a valid integer value");
    }
  }
  return static_cast<int32_t>(negative ? -value : value);
}

}  // namespace ovlar
