// The diagnostic log: time-stamped lines and hex dumps, filtered by level.
// The file is opened and closed for every call so it is complete on disk
// after each one; failures are swallowed. Past MaxSize bytes the file
// becomes NAME.1 (replacing an older one) and a new one starts, so a long
// run at a high trace level cannot fill the disk. One instance, event
// thread only.
#pragma once
#include <cstdint>
#include <string>

namespace ovlar {

class TLog {
 public:
  std::string LogFileName;
  int32_t TraceLevel = 0;
  int64_t MaxSize = 0;  // 0: no limit

  TLog();
  bool Enabled() const { return enabled_; }
  // True empties the file; when that fails logging stays off for the run.
  void SetEnabled(bool value);
  // True when a line of this level would be written; lets hot paths skip
  // building texts nobody reads.
  bool Wanted(uint8_t level) const;
  void WriteLog(uint8_t level, const std::string& text);
  // Dump lines only: no header, footer or time stamps.
  void DumpText(uint8_t level, const std::string& bytes);
  void DumpBuffer(uint8_t level, const void* data, uint32_t count);
  // The dump lines DumpText writes, each ending in CR LF.
  static std::string DumpLines(const std::string& bytes);

 private:
  void Append(const std::string& text);

  bool enabled_ = false;
};

}  // namespace ovlar
