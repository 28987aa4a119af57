#pragma once
// What the report needs of the operating system.
#include <cstdint>
#include <ctime>
#include <span>
#include <string>

inline std::string LowerHex(const unsigned char* bytes, size_t count)
{
    static const char Hex[] = "0123456789abcdef";
    std::string text;
    for (size_t i = 0; i < count; ++i) {
        text += Hex[bytes[i] >> 4];
        text += Hex[bytes[i] & 0x0F];
    }
    return text;
}

// Lower-case hex of the SHA-256 of bytes; raises Exception when it cannot be computed.
std::string Sha256Hex(std::span<const uint8_t> bytes);

// This computer's name, or "" when it cannot be told.
std::string HostName();

// Fills local with the local time of seconds; returns its offset from UTC in minutes.
long LocalTime(time_t seconds, tm& local);
