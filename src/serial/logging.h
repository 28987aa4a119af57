#pragma once
// The communications log: an optional, time-stamped trace of the serial traffic and
// the protocol steps. Every call does nothing while logging is off and none raises.
#include <functional>
#include <string>

// Opens (or creates) the log and starts logging; nothing when logging already runs.
// A log another instance is writing is refused through the error hook, never emptied.
void CommsLoggingInit(const std::string& fileName);
void CommsLoggingDestroy();
void CommsLog(const std::string& text);
void CommsLogData(const std::string& portName, bool incoming, const std::string& data);
// Printable ASCII stands for itself; every other byte becomes \xHH.
std::string CommsLogEscape(const std::string& data);
// Receives "Log file %s cannot be opened (%s)"; the default writes to standard error.
// An empty function restores the default.
void SetCommsLogErrorHook(std::function<void(const std::string&)> hook);
bool CommsLoggingActive();

// The log of a program or job file: its path with the extension (from the last dot after
// the last separator, '/' or on Windows also '\') replaced by "_log.txt", or "_log.txt"
// appended when it has none.
std::string CommsLogFileFor(const std::string& path);
