#include "bridge/SettingChecks.h"

#include <sys/stat.h>

#include "bridge/AcceptList.h"
#include "bridge/HostNames.h"

namespace ovlar {

namespace {

// What a file that is not a regular one is, in the fault line's words.
std::string Kind(mode_t mode) {
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISSOCK(mode)) return "a socket";
  if (S_ISBLK(mode)) return "a block device";
  return "not a file";
}

}  // namespace

bool CheckLogFile(TStartupFaults& faults, const std::string& logFile, const std::string& iniPath) {
  struct stat log {};
  // Not there: the log creates it, or stays off when it cannot.
  if (stat(logFile.c_str(), &log) != 0) return true;
  const auto fault = [&](const std::string& why) {
    faults.Fault(TStartupFaults::Line("OVLAR", "LOGFILE", logFile, why));
    return false;
  };
  struct stat ini {};
  // The same file under any name, a hard link too.
  if (stat(iniPath.c_str(), &ini) == 0 && ini.st_dev == log.st_dev && ini.st_ino == log.st_ino) {
    return fault("is OVLAR.INI itself");
  }
  if (S_ISREG(log.st_mode) || S_ISCHR(log.st_mode)) return true;
  return fault("is " + Kind(log.st_mode) + ", not a regular file");
}

void CheckAccept(TStartupFaults& faults, const std::string& accept, const std::string& node) {
  const TAcceptList list(accept, node);
  for (const std::string& host : list.Hosts()) {
    if (IsHostText(host)) continue;
    faults.Fault(TStartupFaults::Line("XNET", "ACCEPT", accept,
                                      "holds \"" + host + "\", neither an IPv4 address nor a host name"));
    return;
  }
}

}  // namespace ovlar
