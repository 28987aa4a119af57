#pragma once
// SHA-256 by the system's well-kept implementation: OpenSSL's libcrypto on POSIX systems,
// the system's own cryptography (CNG) on Windows.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

// Lower-case hex of the SHA-256 of bytes; raises Exception when it cannot be computed.
std::string Sha256Hex(std::span<const uint8_t> bytes);

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
