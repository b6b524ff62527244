#include "platform/IniFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <unordered_set>

namespace ovlar {

namespace {

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

std::string Trim(const std::string& text) {
  const char* blanks = " \t\r";
  const size_t first = text.find_first_not_of(blanks);
  if (first == std::string::npos) return {};
  const size_t last = text.find_last_not_of(blanks);
  return text.substr(first, last - first + 1);
}

std::string Unquote(const std::string& value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front()) {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

}  // namespace

IniFile::IniFile(const std::string& path) {
  // Without O_NONBLOCK a FIFO would hold start-up until a writer came.
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    error_ = errno;
    return;
  }
  std::string text;
  struct stat status {};
  if (fstat(fd, &status) != 0) {
    error_ = errno;
  } else if (S_ISDIR(status.st_mode)) {
    error_ = EISDIR;
  } else if (!S_ISREG(status.st_mode)) {
    error_ = kNotRegular;
  } else {
    error_ = ReadAll(fd, text);
  }
  close(fd);
  if (error_ == 0) Parse(text);
}

int IniFile::ReadAll(int fd, std::string& text) {
  char chunk[65536];
  for (;;) {
    const ssize_t n = read(fd, chunk, sizeof chunk);
    if (n == 0) return 0;
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    text.append(chunk, static_cast<size_t>(n));
  }
}

std::string IniFile::ErrorText() const {
  if (error_ == kNotRegular) return "not a regular file";
  return error_ == 0 ? std::string() : std::strerror(error_);
}

IniFile IniFile::FromText(const std::string& text) {
  IniFile ini;
  ini.Parse(text);
  return ini;
}

void IniFile::Parse(const std::string& text) {
  std::string section;
  bool inSection = false;
  // Editors that save UTF-8 may put a byte order mark first; it is not part
  // of the first line, which is usually the first section's name.
  const std::string bom = "\xEF\xBB\xBF";
  size_t pos = text.compare(0, bom.size(), bom) == 0 ? bom.size() : 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    // The profile functions see C strings: a NUL ends the line's content.
    std::string line = text.substr(pos, end - pos);
    line = Trim(line.substr(0, line.find('\0')));
    pos = end + 1;
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      const size_t close = line.find(']');
      section = Lower(Trim(line.substr(1, close == std::string::npos ? std::string::npos : close - 1)));
      inSection = true;
      continue;
    }
    const size_t eq = line.find('=');
    if (!inSection || eq == std::string::npos) continue;
    std::string key = Trim(line.substr(0, eq));
    if (key.empty()) continue;
    std::string value = Unquote(Trim(line.substr(eq + 1)));
    if (value.size() > kMaxValue) value.resize(kMaxValue);
    entries_.push_back({section, std::move(key), std::move(value)});
  }
}

const IniFile::Entry* IniFile::Find(const std::string& section, const std::string& key) const {
  const std::string s = Lower(section);
  const std::string k = Lower(key);
  for (const Entry& e : entries_) {
    if (e.section == s && Lower(e.key) == k) return &e;
  }
  return nullptr;
}

std::string IniFile::ReadString(const std::string& section, const std::string& key, const std::string& def) const {
  const Entry* e = Find(section, key);
  return e ? e->value : def;
}

std::vector<std::string> IniFile::ReadSectionValues(const std::string& section) const {
  const std::string s = Lower(section);
  std::vector<std::string> lines;
  std::unordered_set<std::string> seen;
  for (const Entry& e : entries_) {
    if (e.section != s || !seen.insert(Lower(e.key)).second) continue;
    if (!e.value.empty()) lines.push_back(e.key + "=" + e.value);
  }
  return lines;
}

std::string WorkingDirectoryFile(const std::string& name) {
  std::string dir;
  if (char* cwd = getcwd(nullptr, 0)) {
    dir = cwd;
    free(cwd);
  }
  if (dir.empty() || dir.back() != '/') dir += '/';
  return dir + name;
}

}  // namespace ovlar
