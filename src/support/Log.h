// The diagnostic log: time-stamped lines and hex dumps, filtered by level.
// The file is opened and closed for every call so it is complete on disk
// after each one; failures of single lines are swallowed. A log that a
// start finds non-empty is kept as NAME.1, so the record of a run that
// failed survives the restart that follows it. Past MaxSize bytes the file
// becomes NAME.1 (replacing an older one) and a new one starts, so a long
// run at a high trace level cannot fill the disk. A write cut short (the
// disk full) is followed by a line end before the next line, and when the
// disk has no room NAME.1 is dropped to make some, once, with a line that
// says so. One instance, event thread only.
#pragma once
#include <sys/types.h>
#include <unistd.h>

#include <cstdint>
#include <functional>
#include <string>

namespace ovlar {

class TLog {
 public:
  std::string LogFileName;
  int32_t TraceLevel = 0;
  int64_t MaxSize = 0;  // 0: no limit
  // The write(2) every line goes through; a test puts a full disk here.
  std::function<ssize_t(int fd, const void* data, size_t count)> WriteCall = ::write;

  TLog();
  bool Enabled() const { return enabled_; }
  // True keeps a non-empty log of an earlier run as NAME.1 (replacing an
  // older one) and starts the file afresh; when the file cannot be created,
  // logging stays off for the run. Either failure leaves Fault() set.
  void SetEnabled(bool value);
  // What went wrong at the last SetEnabled(true), with the system's reason;
  // empty when nothing did.
  const std::string& Fault() const { return fault_; }
  // True when a line of this level would be written; lets hot paths skip
  // building texts nobody reads.
  bool Wanted(uint8_t level) const;
  void WriteLog(uint8_t level, const std::string& text);
  // Dump lines only: no header, footer or time stamps.
  void DumpText(uint8_t level, const std::string& bytes);
  void DumpBuffer(uint8_t level, const void* data, uint32_t count);
  // The dump lines DumpText writes, each ending in CR LF.
  static std::string DumpLines(const std::string& bytes);

  // What is written from Hold on waits for Release, which writes it in one
  // go or drops it: the lines of one datagram are logged whole or not at all.
  void Hold();
  void Release(bool write);

 private:
  void Append(const std::string& text);
  void Write(const std::string& text);
  // The bytes of text from `from` on, as far as the file takes them;
  // false when it took fewer for want of room.
  bool WriteFrom(int fd, const std::string& text, size_t& from);
  // Drops NAME.1 when there is one: true, and its line is due.
  bool DropOlder();
  void Rotate();
  // The earlier run's log becomes NAME.1; false, with fault_ set, when it
  // is there but could not be moved.
  bool KeepEarlier();

  bool enabled_ = false;
  bool holding_ = false;
  std::string held_;
  // The file's last write ended inside a line.
  bool cut_ = false;
  std::string fault_;
};

}  // namespace ovlar
