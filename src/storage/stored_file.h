#pragma once
// The stored data block of a job executable on disk, without reading the whole file.
#include <cstddef>
#include <string>

// Scans the file once, in pieces, and returns the bytes of its one stored data block
// (layout::BlockSize of them). Raises EFileError for a file that cannot be read or is larger
// than limit (refused before reading), and LocateStoredBlock's errors naming path.
std::string ReadStoredBlock(const std::string& path, size_t limit, const std::string& what = "job file");
