// Read-only INI file in the manner of the Windows profile functions:
// section and key names compare without regard to case, the first
// occurrence of a key wins (also across repeated sections), values are cut
// to 2,047 bytes, blanks around names and values are trimmed, a value in
// matching quotes loses them, and lines starting with ';' are comments.
// A UTF-8 byte order mark at the start is skipped.
// Read once at construction; a file that is missing or cannot be read (a
// folder, a FIFO, a device, no permission) reads as empty, and Error()
// says why.
#pragma once
#include <string>
#include <utility>
#include <vector>

namespace ovlar {

class IniFile {
 public:
  static constexpr size_t kMaxValue = 2047;

  explicit IniFile(const std::string& path);
  // Builds from the file's bytes, for tests.
  static IniFile FromText(const std::string& text);

  std::string ReadString(const std::string& section, const std::string& key, const std::string& def) const;
  // "KEY=VALUE" lines in file order; empty values left out, a repeated key
  // listed once with its first value.
  std::vector<std::string> ReadSectionValues(const std::string& section) const;
  // A file that is there but not a regular file (a FIFO, a device).
  static constexpr int kNotRegular = -1;
  // The errno of a file that could not be read, or kNotRegular; 0 when it was.
  int Error() const { return error_; }
  // The same in words, as the system says it; empty when it was read.
  std::string ErrorText() const;

 private:
  struct Entry {
    std::string section;  // lower-cased
    std::string key;      // as written
    std::string value;
  };
  IniFile() = default;
  void Parse(const std::string& text);
  // The errno of a failed read; 0 at the end of the file.
  static int ReadAll(int fd, std::string& text);
  const Entry* Find(const std::string& section, const std::string& key) const;

  std::vector<Entry> entries_;
  int error_ = 0;
};

// The configuration file in the working directory.
std::string WorkingDirectoryFile(const std::string& name);

}  // namespace ovlar
