#pragma once
// Whole files into memory, and the running program's own path.
#include <cstddef>
#include <string>

#include "exceptions.h"

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

// Why a file of this st_mode is not a regular file ("it is a directory", "it is a FIFO,
// not a file"...), for messages that refuse it.
std::string NotAFileReason(unsigned mode);

// The running executable's full path ("" when the system cannot tell).
std::string OwnExecutablePath();
