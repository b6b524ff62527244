// Settings start-up refuses because the bridge could not work with them,
// beyond what the numeric rule and the address checks catch: a log file
// that would harm the station, an ACCEPT entry that can name no host. Each
// adds its fault to the start-up faults. Start-up only.
#pragma once
#include <string>

#include "bridge/StartupFaults.h"

namespace ovlar {

// LOGFILE must not be OVLAR.INI itself (the log would overwrite it), nor a
// folder, FIFO (opening it blocks), socket or block device. A file not
// there yet is created, and a character device (/dev/null) is written as
// it always was. False when it is refused.
bool CheckLogFile(TStartupFaults& faults, const std::string& logFile, const std::string& iniPath);

// Each ACCEPT entry by the rule of XNET ADDRESS: an address or a text that
// can be a host name. node is XNET ADDRESS, which the word XNET stands for.
void CheckAccept(TStartupFaults& faults, const std::string& accept, const std::string& node);

}  // namespace ovlar
