// What start-up finds wrong in OVLAR.INI and around it, one line each that
// names the file or key, the value and the reason: the first fault, which
// ends the program with status 1, and warnings for values that fell back to
// their default as they always did. Start-up only.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "platform/IniFile.h"

namespace ovlar {

class TStartupFaults {
 public:
  static constexpr int64_t kMaxPort = 65535;
  // The engine numbers radio ports from 1 and carries them in one byte.
  static constexpr int64_t kMaxRadioPort = 255;

  // 'OVLAR.INI [SECTION] KEY: "VALUE" reason'.
  static std::string Line(const std::string& section, const std::string& key, const std::string& value,
                          const std::string& reason);

  // A numeric key: a text that is not all digits gives the default (with a
  // warning unless it is empty); a number above max is a fault.
  int32_t Number(const IniFile& ini, const std::string& section, const std::string& key, int32_t def,
                 int64_t max = INT32_MAX);
  // The same for a key that works only from min up: a smaller number is a
  // fault too. def is min or more.
  int32_t Within(const IniFile& ini, const std::string& section, const std::string& key, int32_t def, int64_t min,
                 int64_t max);
  void Fault(const std::string& line);
  void Warn(const std::string& line) { warnings_.push_back(line); }

  bool Failed() const { return !first_.empty(); }
  const std::string& First() const { return first_; }
  const std::vector<std::string>& Warnings() const { return warnings_; }

 private:
  std::string first_;
  std::vector<std::string> warnings_;
};

}  // namespace ovlar
