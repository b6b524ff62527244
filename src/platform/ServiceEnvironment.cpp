#include "platform/ServiceEnvironment.h"

#include <sys/stat.h>

#include <charconv>
#include <cstdint>
#include <cstring>

namespace ovlar {

namespace {

// One decimal number filling text from `at` to `end` exactly.
bool Number(const char* at, const char* end, uint64_t& value) {
  if (at == end) return false;
  const auto [stop, error] = std::from_chars(at, end, value);
  return error == std::errc() && stop == end;
}

}  // namespace

std::string LogFileBelow(const std::string& logFile, const char* logsDirectory) {
  if (logsDirectory == nullptr || logFile.empty() || logFile.front() == '/') return logFile;
  std::string folder(logsDirectory, std::strcspn(logsDirectory, ":"));
  if (folder.empty()) return logFile;
  if (folder.back() != '/') folder += '/';
  return folder + logFile;
}

bool IsJournalStream(const char* journalStream, int fd) {
  if (journalStream == nullptr) return false;
  const char* end = journalStream + std::strlen(journalStream);
  const char* colon = std::strchr(journalStream, ':');
  uint64_t device = 0;
  uint64_t inode = 0;
  if (colon == nullptr || !Number(journalStream, colon, device) || !Number(colon + 1, end, inode)) return false;
  struct stat status {};
  if (fstat(fd, &status) != 0) return false;
  return static_cast<uint64_t>(status.st_dev) == device && static_cast<uint64_t>(status.st_ino) == inode;
}

}  // namespace ovlar
