// What a service manager tells the program through its environment beyond
// the notify socket: where the service's logs belong (LOGS_DIRECTORY) and
// which stream the journal reads (JOURNAL_STREAM). Outside a service
// manager neither is set and both leave things as they are.
#pragma once
#include <string>

namespace ovlar {

// logFile as the program opens it: a relative name below logsDirectory (the
// first folder when the manager lists several, separated by ':'), any other
// unchanged; also unchanged when logsDirectory is null or empty, or
// logFile is empty.
std::string LogFileBelow(const std::string& logFile, const char* logsDirectory);

// journalStream ("device:inode" in decimal, as the manager sets it) names
// the file open on fd: what is written there reaches the journal. False for
// null, malformed text or another file.
bool IsJournalStream(const char* journalStream, int fd);

}  // namespace ovlar
