// Shared helpers for the unit tests: a scratch working directory and file IO.
#pragma once
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace ovlar::test {

// A fresh directory under /tmp, removed with everything in it at the end.
class TempDir {
 public:
  explicit TempDir(const std::string& prefix = "ovlar-test") {
    std::string pattern = "/tmp/" + prefix + "-XXXXXX";
    path_ = mkdtemp(pattern.data()) ? pattern : std::string();
  }
  ~TempDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

// A fresh directory that is the working directory while alive.
class ScratchDir {
 public:
  ScratchDir() : old_(std::filesystem::current_path()) { std::filesystem::current_path(dir_.Path()); }
  ~ScratchDir() { std::filesystem::current_path(old_); }
  const std::string& Path() const { return dir_.Path(); }

 private:
  TempDir dir_;
  std::filesystem::path old_;
};

inline void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The message text of one log line, without time stamp and line end. A log
// line is date, blank, time (which may hold a blank before AM/PM), blank,
// text: the text is found after the time's seconds.
inline std::string LogText(std::string line) {
  if (!line.empty() && line.back() == '\r') line.pop_back();
  if (line.rfind(" |", 0) == 0) return line;
  size_t colon = line.find(':');
  colon = colon == std::string::npos ? colon : line.find(':', colon + 1);
  size_t at = colon == std::string::npos ? 0 : line.find(' ', colon);
  if (at != std::string::npos && line.compare(at, 3, " AM") == 0) at += 3;
  if (at != std::string::npos && line.compare(at, 3, " PM") == 0) at += 3;
  return at == std::string::npos ? std::string() : line.substr(at + 1);
}

// The message texts of a whole log.
inline std::vector<std::string> LogTexts(const std::string& path) {
  std::vector<std::string> texts;
  std::istringstream in(ReadFile(path));
  std::string line;
  while (std::getline(in, line)) texts.push_back(LogText(line));
  return texts;
}

// Follows a log as it grows: each call reads only what was appended since
// the last, and a line only once it is complete. A log started afresh (shorter
// than what was read) is followed from its beginning.
class LogCursor {
 public:
  explicit LogCursor(std::string path) : path_(std::move(path)) {}
  const std::vector<std::string>& Texts() {
    std::ifstream in(path_, std::ios::binary | std::ios::ate);
    if (!in) return texts_;
    const auto size = static_cast<size_t>(std::max<std::streamoff>(in.tellg(), 0));
    if (size < offset_) Restart();
    std::string fresh(size - offset_, '\0');
    in.seekg(static_cast<std::streamoff>(offset_));
    in.read(fresh.data(), static_cast<std::streamsize>(fresh.size()));
    fresh.resize(static_cast<size_t>(in.gcount()));
    offset_ += fresh.size();
    partial_ += fresh;
    size_t start = 0;
    for (size_t end; (end = partial_.find('\n', start)) != std::string::npos; start = end + 1) {
      texts_.push_back(LogText(partial_.substr(start, end - start)));
    }
    partial_.erase(0, start);
    return texts_;
  }
  void Restart() {
    offset_ = 0;
    partial_.clear();
    texts_.clear();
  }

 private:
  std::string path_;
  size_t offset_ = 0;
  std::string partial_;
  std::vector<std::string> texts_;
};

}  // namespace ovlar::test
