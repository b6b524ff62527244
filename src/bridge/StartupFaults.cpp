#include "bridge/StartupFaults.h"

#include "support/ReqLib32.h"

namespace ovlar {

std::string TStartupFaults::Line(const std::string& section, const std::string& key, const std::string& value,
                                 const std::string& reason) {
  return "OVLAR.INI [" + section + "] " + key + ": \"" + value + "\" " + reason;
}

int32_t TStartupFaults::Number(const IniFile& ini, const std::string& section, const std::string& key, int32_t def,
                               int64_t max) {
  const std::string text = ini.ReadString(section, key, "");
  if (text.empty()) return def;
  if (!IsNumeric(text)) {
    Warn(Line(section, key, text, "is not a number, " + std::to_string(def) + " taken instead"));
    return def;
  }
  const size_t first = text.find_first_not_of('0');
  const std::string significant = first == std::string::npos ? "0" : text.substr(first);
  if (significant.size() > 10 || std::stoll(significant) > max) {
    Fault(Line(section, key, text, "is too large (at most " + std::to_string(max) + ")"));
    return def;
  }
  return StrToInt(text);
}

int32_t TStartupFaults::Within(const IniFile& ini, const std::string& section, const std::string& key, int32_t def,
                               int64_t min, int64_t max) {
  const int32_t number = Number(ini, section, key, def, max);
  // Every other outcome of Number is def, which is in range.
  if (number < min) {
    Fault(Line(section, key, ini.ReadString(section, key, ""), "is too small (at least " + std::to_string(min) + ")"));
  }
  return number;
}

void TStartupFaults::Fault(const std::string& line) {
  if (first_.empty()) first_ = line;
}

}  // namespace ovlar
