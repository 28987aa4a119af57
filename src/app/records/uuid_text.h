#pragma once
// The 8-4-4-4-12 text of a UUID from 16 bytes, with its version and RFC 4122 variant set.
#include <cstdio>
#include <string>

inline std::string UuidText(unsigned char bytes[16], int version)
{
    bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0F) | (version << 4));
    bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3F) | 0x80);
    char text[37];
    char* p = text;
    for (int i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10)
            *p++ = '-';
        p += std::snprintf(p, 3, "%02x", bytes[i]);
    }
    return std::string(text, 36);
}
