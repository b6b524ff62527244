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

// Creates a fresh directory and makes it the working directory while alive.
class ScratchDir {
 public:
  ScratchDir() {
    char pattern[] = "/tmp/ovlar-test-XXXXXX";
    path_ = mkdtemp(pattern);
    old_ = std::filesystem::current_path();
    std::filesystem::current_path(path_);
  }
  ~ScratchDir() {
    std::filesystem::current_path(old_);
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
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
