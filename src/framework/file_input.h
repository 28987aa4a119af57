#pragma once
// Whole files into memory, and the running program's own path.
#include <cstddef>
#include <string>

#include "framework/exceptions.h"

MORAVENT_EXCEPTION(EFileError, Exception);

// Reads the whole of a regular file of at most limit bytes. Directories, devices, FIFOs
// and sockets are refused without blocking (the open does not wait for a FIFO's writer);
// so is a file that holds more than limit bytes, even one that grows while it is read.
// Messages name the file by its role and path: "Cannot open job file X (No such file or
// directory)", "Cannot read job file /etc (it is a directory)".
// limitName says what the limit is ("icon region"): "Cannot read icon X (5121 bytes, more
// than the 5120-byte icon region)".
std::string ReadFileBytes(const std::string& path, size_t limit, const std::string& what = "file",
                          const std::string& limitName = "limit");

// A regular file opened for reading as ReadFileBytes opens one (a FIFO never holds the open,
// anything but a regular file is refused), read front to back in pieces. Messages name the
// file by its role and path.
class TInputFile {
public:
    TInputFile(const std::string& path, const std::string& what = "file");
    ~TInputFile();
    TInputFile(const TInputFile&) = delete;
    TInputFile& operator=(const TInputFile&) = delete;

    // The size when the file was opened.
    unsigned long long Size() const { return FSize; }
    // Up to count bytes from where the last read ended; 0 at the end. Raises EFileError.
    size_t Read(void* buffer, size_t count);
    // Raises EFileError "Cannot read WHAT PATH (why)".
    [[noreturn]] void Refuse(const std::string& why) const;

private:
    std::string FPath, FWhat;
    int FFd = -1;
    unsigned long long FSize = 0;
};

// Why a file of this st_mode is not a regular file ("it is a directory", "it is a FIFO,
// not a file"...), for messages that refuse it.
std::string NotAFileReason(unsigned mode);

// The running executable's full path ("" when the system cannot tell).
std::string OwnExecutablePath();
