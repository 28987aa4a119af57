#pragma once
// The communications log's file on the operating system: opened for appending by one
// writer at a time (readers are not affected), one write per line, local time stamps.
#include <string>

struct TLogOpen {
    enum { Opened, Busy, Exists, Failed } Result = Failed;
    int Fd = -1;
    std::string Reason; // the system's words, for Failed and Exists
};

// Opens fileName for appending and takes the writer's lock. createNew creates a file that
// does not exist yet and never empties one that does (Exists).
TLogOpen OpenLogForAppend(const std::string& fileName, bool createNew);
// Writes line in one call; a failed write is ignored.
void WriteLogLine(int fd, const std::string& line);
void CloseLog(int fd);
// "2026-12-08 14:03:27.412", local time.
std::string LogTimeStamp();
