#pragma once
// The communications log's file on the operating system: opened for appending by one
// writer at a time (readers are not affected), one write per line, local time stamps.
#include <string>

struct TLogOpen {
    enum { Opened, Busy, Exists, NotAFile, Failed } Result = Failed;
    int Fd = -1;
    // The system's words for Failed and Exists; what the path is for NotAFile ("it is a
    // FIFO, not a file").
    std::string Reason;
};

// Opens fileName for appending and takes the writer's lock, never waiting (a FIFO without a
// reader, a device); anything but a regular file is refused as NotAFile. createNew creates a
// file that does not exist yet and never empties one that does (Exists).
TLogOpen OpenLogForAppend(const std::string& fileName, bool createNew);
// Writes line in one call; a failed write is ignored.
void WriteLogLine(int fd, const std::string& line);
void CloseLog(int fd);
// "2026-12-08 14:03:27.412", local time.
std::string LogTimeStamp();

// The characters that end a folder's name in a path: '/', and on Windows '\' too.
const char* PathSeparators();
