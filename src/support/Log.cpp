#include "support/Log.h"

#include <clocale>
#include <cstdio>
#include <ctime>

#include "support/HexStr.h"

namespace ovlar {

namespace {

constexpr size_t kDumpWidth = 16;

// Date in the locale's short form, a blank, time with seconds.
std::string Timestamp() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[128];
  const size_t n = std::strftime(text, sizeof text, "%x %X", &local);
  return std::string(text, n);
}

}  // namespace

TLog::TLog() {
  // Dates and times follow the user's regional settings.
  std::setlocale(LC_ALL, "");
}

void TLog::SetEnabled(bool value) {
  if (!value) {
    enabled_ = false;
    return;
  }
  std::FILE* file = std::fopen(LogFileName.c_str(), "wb");
  enabled_ = file != nullptr;
  if (file) std::fclose(file);
}

bool TLog::Wanted(uint8_t level) const {
  // The comparison is unsigned: a negative trace level writes everything.
  return enabled_ && static_cast<uint32_t>(level) <= static_cast<uint32_t>(TraceLevel);
}

void TLog::Append(const std::string& text) {
  std::FILE* file = std::fopen(LogFileName.c_str(), "ab");
  if (!file) file = std::fopen(LogFileName.c_str(), "wb");
  if (!file) return;
  std::fwrite(text.data(), 1, text.size(), file);
  const long size = std::ftell(file);
  std::fclose(file);
  if (MaxSize <= 0 || size < MaxSize) return;
  // Without the older copy a failed rename still must not let it grow.
  if (std::rename(LogFileName.c_str(), (LogFileName + ".1").c_str()) != 0) {
    if (std::FILE* empty = std::fopen(LogFileName.c_str(), "wb")) std::fclose(empty);
  }
}

void TLog::WriteLog(uint8_t level, const std::string& text) {
  if (!Wanted(level)) return;
  Append(Timestamp() + " " + text + "\r\n");
}

std::string TLog::DumpLines(const std::string& bytes) {
  std::string out;
  std::string chars;
  std::string hex;
  auto flush = [&] {
    out += " |" + hex + "|" + chars + "\r\n";
    chars.clear();
    hex.clear();
  };
  for (char c : bytes) {
    const auto b = static_cast<uint8_t>(c);
    chars += (b >= 0x20 && b <= 0x7A) ? c : '.';
    hex += ByteToHex(b) + " ";
    if (chars.size() == kDumpWidth) flush();
  }
  if (!chars.empty()) {
    while (chars.size() < kDumpWidth) {
      chars += ' ';
      hex += "-- ";
    }
    flush();
  }
  return out;
}

void TLog::DumpText(uint8_t level, const std::string& bytes) {
  if (!Wanted(level) || bytes.empty()) return;
  Append(DumpLines(bytes));
}

void TLog::DumpBuffer(uint8_t level, const void* data, uint32_t count) {
  if (!Wanted(level) || data == nullptr || count == 0) return;
  WriteLog(level, "------ Dump Buffer Len(" + std::to_string(count) + ") ------");
  DumpText(level, std::string(static_cast<const char*>(data), count));
  WriteLog(level, "------              End of Dump              ------");
}

}  // namespace ovlar
