#pragma once
#include <cstdint>
#include <string>

class TStream;

uint16_t Swap16(uint16_t w);
uint32_t Swap32(uint32_t d);

// Decodes %xx escapes into bytes; the result is a counted byte string (%00 stays).
std::string UnescapeText(const std::string& s);

// Stream fill helpers: one byte at a time through the stream's buffered write.
int64_t PadStreamTo(TStream& stream, int64_t target, uint8_t fill);
int64_t PadStreamRange(TStream& stream, int64_t start, int64_t count, uint8_t fill);
int64_t PadStreamToSize(TStream& stream, int64_t newSize, uint8_t fill);
