#pragma once
// The stored data block: marker, payload (the programming-info record) and checksum,
// carried verbatim in the executable's initialised data. A job-specific executable is
// made by overwriting payload and checksum in a copy of the file; the program itself
// only reads the block, in place.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "storage/record_layout.h"

extern "C" {
// Marker, then a zero payload and a zero checksum in the template build, so a fresh
// executable is invalid until a job is stamped into it.
extern const uint8_t StoredDataBlock[layout::BlockSize];
}

// Checks the payload's checksum; returns the payload address (block + 20) or raises
// EStoredDataError "Stored data is not valid". Reads the block in place, no copy.
const uint8_t* CheckStoredData(const uint8_t* block);

// 0x12345678 plus the sum of the layout::PayloadSize payload bytes, modulo 2^32.
uint32_t PayloadChecksum(const uint8_t* payload);

// The running block's marker bytes. Anything that searches an executable for its block
// takes the key from here, so the marker's text exists once in every file.
std::string StoredDataMarker();

// Offsets of every occurrence of the marker in an executable file's bytes.
std::vector<size_t> FindStoredBlock(const std::string& fileBytes);

// The offset of the one stored data block in an executable file's bytes. Raises Exception
// naming fileName when the marker is missing, occurs more than once, or the block runs
// past the end of the file.
size_t LocateStoredBlock(const std::string& fileBytes, const std::string& fileName);

// Raises what LocateStoredBlock raises for a file whose marker occurs count times, or whose
// one block is cut short; returns when neither.
void CheckStoredBlockCount(size_t count, bool cutShort, const std::string& fileName);

// True for the block of a program no job was ever stamped into: marker, then nothing but zeros.
bool IsBlankStoredBlock(const uint8_t* block);
