#pragma once
// The stored data block: marker, payload (the programming-info record) and checksum,
// carried verbatim in the executable's initialised data.
#include <cstdint>

#include "record_layout.h"

extern "C" {
// Defined once per executable-carrying library; never copied, only read in place.
extern volatile const uint8_t StoredDataBlock[layout::BlockSize];
}

// Checks the payload's checksum; returns the payload address (block + 20) or raises
// EStoredDataError "Stored data is not valid".
const uint8_t* CheckStoredData(const volatile uint8_t* block);

// The 32-bit checksum of a payload of layout::PayloadSize bytes.
uint32_t PayloadChecksum(const uint8_t* payload);
