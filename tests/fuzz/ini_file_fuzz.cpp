// OVLAR.INI as start-up reads it: the file's text through IniFile; every
// key of the program's sections read as text and with the numeric rule;
// the addresses and the ACCEPT list as start-up checks them; the lines of
// ROUTES and XNET.PORT through their readers, with the failures start-up
// turns into its configuration errors.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "bridge/AcceptList.h"
#include "bridge/ConfigLines.h"
#include "bridge/HostNames.h"
#include "bridge/SettingChecks.h"
#include "bridge/StartupFaults.h"
#include "net/WSocketResolve.h"
#include "platform/IniFile.h"
#include "platform/WinSock.h"
#include "support/ReqLib32.h"

namespace ovlar {
namespace {

const char* const kSections[] = {"OVLAR", "AGW", "KISS", "XNET", "ROUTES", "XNET.PORT", "STATUS"};

std::string KeyOf(const std::string& line) {
  std::string rest = line;
  return SplitAt(rest, '=');
}

void CheckSection(const IniFile& ini, const std::string& section) {
  TStartupFaults faults;
  for (const std::string& line : ini.ReadSectionValues(section)) {
    const std::string key = KeyOf(line);
    const std::string value = line.substr(key.size() + 1);
    FUZZ_CHECK(!key.empty() && !value.empty(), "a listed line has a key and a value");
    FUZZ_CHECK(ini.ReadString(section, key, "") == value, "a key reads as its section lists it");
    FUZZ_CHECK(value.size() <= IniFile::kMaxValue, "values are cut to 2,047 bytes");
    FUZZ_CHECK(line.find_first_of(std::string("\n\0", 2)) == std::string::npos, "a line ends at LF or NUL");
    const int32_t n = faults.Number(ini, section, key, 7);
    FUZZ_CHECK(n >= 0, "a number read is never negative");
    FUZZ_CHECK(IsNumeric(value) || n == 7, "a text that is not a number gives the default");
  }
}

void CheckAddresses(const IniFile& ini) {
  const std::string node = ini.ReadString("XNET", "ADDRESS", "127.0.0.1");
  IsHostText(node);
  wsock::InetAddr(ini.ReadString("AGW", "ADDRESS", "127.0.0.1"));
  const TAcceptList accept(ini.ReadString("XNET", "ACCEPT", ""), node);
  std::vector<std::string> hosts = accept.Hosts();
  for (const std::string& host : hosts) FUZZ_CHECK(!host.empty(), "no empty entry in the ACCEPT list");
  TStartupFaults faults;
  CheckAccept(faults, ini.ReadString("XNET", "ACCEPT", ""), node);
  std::sort(hosts.begin(), hosts.end());
  FUZZ_CHECK(std::adjacent_find(hosts.begin(), hosts.end()) == hosts.end(), "each ACCEPT entry once");
}

void CheckRoutes(const IniFile& ini) {
  for (const std::string& line : ini.ReadSectionValues("ROUTES")) {
    try {
      if (const auto route = ReadRouteLine(line, fuzz::NullLog())) {
        FUZZ_CHECK(route->Port >= 1 && route->Port <= 99, "a static route is for radio ports 1 to 99");
      }
    } catch (const std::out_of_range&) {
    } catch (const std::invalid_argument&) {
    }
  }
}

void CheckXNetPorts(const IniFile& ini) {
  int taken = 0;
  for (const std::string& line : ini.ReadSectionValues("XNET.PORT")) {
    try {
      const auto entry = ReadXNetPortLine(line, taken, fuzz::NullLog());
      if (!entry) continue;
      FUZZ_CHECK(entry->AGWPort >= 0 && entry->LocalUDP >= 0 && entry->RemoteUDP >= 0, "ports are never negative");
      FUZZ_CHECK(!XNetEntryFault(*entry).empty() || (entry->AGWPort >= 1 && entry->AGWPort <= 255),
                 "an entry taken is for radio ports 1 to 255");
      FUZZ_CHECK(entry->Host == TrimBlanks(entry->Host) && entry->Host.find(',') == std::string::npos,
                 "an entry's host has no blanks around it and no comma");
      IsHostText(entry->Host);
      ++taken;
    } catch (const std::out_of_range&) {
    }
  }
  FUZZ_CHECK(taken <= kXNetEntries, "the table takes at most ten entries");
}

}  // namespace
}  // namespace ovlar

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace ovlar;
  const IniFile ini = IniFile::FromText(fuzz::Bytes(data, size));
  for (const char* section : kSections) CheckSection(ini, section);
  CheckAddresses(ini);
  CheckRoutes(ini);
  CheckXNetPorts(ini);
  return 0;
}
