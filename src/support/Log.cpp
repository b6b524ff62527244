#include "support/Log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstring>
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
  fault_.clear();
  if (!value) {
    enabled_ = false;
    return;
  }
  // When the earlier log stays where it is, this run is appended to it
  // rather than wiping it.
  const char* mode = KeepEarlier() ? "wb" : "ab";
  std::FILE* file = std::fopen(LogFileName.c_str(), mode);
  enabled_ = file != nullptr;
  if (file) {
    std::fclose(file);
  } else {
    fault_ = "log \"" + LogFileName + "\" not opened: " + std::strerror(errno) + "; the run goes on without a log";
  }
}

bool TLog::KeepEarlier() {
  struct stat status {};
  // A device (/dev/null) or a file not there yet has nothing to keep.
  if (stat(LogFileName.c_str(), &status) != 0 || !S_ISREG(status.st_mode) || status.st_size == 0) return true;
  const std::string older = LogFileName + ".1";
  if (std::rename(LogFileName.c_str(), older.c_str()) == 0) return true;
  fault_ = "log \"" + LogFileName + "\" not kept as \"" + older + "\": " + std::strerror(errno) +
           "; this run is appended to it";
  return false;
}

bool TLog::Wanted(uint8_t level) const {
  // The comparison is unsigned: a negative trace level writes everything.
  return enabled_ && static_cast<uint32_t>(level) <= static_cast<uint32_t>(TraceLevel);
}

void TLog::Append(const std::string& text) {
  if (holding_) {
    held_ += text;
    return;
  }
  Write(text);
}

void TLog::Hold() { holding_ = true; }

void TLog::Release(bool write) {
  holding_ = false;
  std::string text;
  text.swap(held_);
  if (write && !text.empty()) Write(text);
}

void TLog::Write(const std::string& text) {
  // O_NONBLOCK: a FIFO put in the file's place must not hold the bridge.
  const char* name = LogFileName.c_str();
  int fd = open(name, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0666);
  if (fd < 0) fd = open(name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NONBLOCK, 0666);
  if (fd < 0) return;
  struct stat status {};
  const bool known = fstat(fd, &status) == 0;
  // A line cut by a full disk is ended before the next one starts.
  const std::string out = (cut_ && known && status.st_size > 0 ? "\r\n" : "") + text;
  size_t done = 0;
  bool dropped = false;
  if (!WriteFrom(fd, out, done) && DropOlder()) {
    dropped = true;
    WriteFrom(fd, out, done);
  }
  if (done > 0) cut_ = out[done - 1] != '\n';
  if (dropped && done == out.size()) {
    std::string line = Timestamp() + " Log: no room for the log, " + LogFileName + ".1 removed to make some\r\n";
    size_t at = 0;
    WriteFrom(fd, line, at);
    if (at > 0) cut_ = line[at - 1] != '\n';
  }
  const int64_t size = known ? int64_t{status.st_size} + static_cast<int64_t>(done) : 0;
  close(fd);
  if (MaxSize > 0 && size >= MaxSize) Rotate();
}

bool TLog::WriteFrom(int fd, const std::string& text, size_t& from) {
  while (from < text.size()) {
    const ssize_t n = WriteCall(fd, text.data() + from, text.size() - from);
    if (n > 0) {
      from += static_cast<size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      // ENOSPC, EDQUOT or EFBIG: the room is gone; anything else is lost too.
      return !(n < 0 && (errno == ENOSPC || errno == EDQUOT || errno == EFBIG));
    }
  }
  return true;
}

bool TLog::DropOlder() {
  return unlink((LogFileName + ".1").c_str()) == 0;
}

void TLog::Rotate() {
  // Without the older copy a failed rename still must not let it grow.
  if (std::rename(LogFileName.c_str(), (LogFileName + ".1").c_str()) != 0) {
    const int fd = open(LogFileName.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC | O_NONBLOCK);
    if (fd >= 0) close(fd);
  }
  cut_ = false;
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
