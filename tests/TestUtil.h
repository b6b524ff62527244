// Shared helpers for the unit tests: a scratch working directory and file IO.
#pragma once
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
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

// The message texts of a log, without time stamps and line ends. A log line
// is date, blank, time (which may hold a blank before AM/PM), blank, text:
// the text is found after the time's seconds.
inline std::vector<std::string> LogTexts(const std::string& path) {
  std::vector<std::string> texts;
  std::istringstream in(ReadFile(path));
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.rfind(" |", 0) == 0) {
      texts.push_back(line);
      continue;
    }
    size_t colon = line.find(':');
    colon = colon == std::string::npos ? colon : line.find(':', colon + 1);
    size_t at = colon == std::string::npos ? 0 : line.find(' ', colon);
    if (at != std::string::npos && line.compare(at, 3, " AM") == 0) at += 3;
    if (at != std::string::npos && line.compare(at, 3, " PM") == 0) at += 3;
    texts.push_back(at == std::string::npos ? std::string() : line.substr(at + 1));
  }
  return texts;
}

}  // namespace ovlar::test
