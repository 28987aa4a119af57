#pragma once
// Building a stored-data payload from its fields and stamping it into a copy of an
// executable file. Pure functions over byte buffers; the program itself never calls them,
// job-building tools and tests do. Every violation raises Exception with a clear message.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "storage/record_layout.h"

// A payload of layout::PayloadSize zero bytes (spare bytes must stay zero).
std::vector<uint8_t> NewPayload();

// Little-endian numbers at a record offset.
void PutU8(std::vector<uint8_t>& payload, int32_t offset, uint8_t value);
void PutU16(std::vector<uint8_t>& payload, int32_t offset, uint16_t value);
void PutU32(std::vector<uint8_t>& payload, int32_t offset, uint32_t value);
void PutI32(std::vector<uint8_t>& payload, int32_t offset, int32_t value);

// A fixed-width text: the bytes, NUL-padded up to width; a text of exactly width
// bytes has no NUL. Longer texts are refused.
void PutText(std::vector<uint8_t>& payload, int32_t offset, int32_t width, const std::string& text);

// Raw bytes into a region of regionSize bytes; the rest of the region is zeroed.
void PutRegion(std::vector<uint8_t>& payload, int32_t offset, int32_t regionSize, const void* data, size_t size);

// A serial-settings block: baud, data bits, stop bits and parity enumeration indices.
void PutSerialSettings(std::vector<uint8_t>& payload, int32_t offset, uint32_t baudRate, uint32_t dataBits,
                       uint32_t stopBits, uint32_t parity);

// Writes payload and its checksum after the marker found at markerOffset in an
// executable's bytes. The marker must be there and the whole block inside the file.
void StampBlock(std::string& exeBytes, size_t markerOffset, const std::vector<uint8_t>& payload);
