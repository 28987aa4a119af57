#pragma once
// The boot protocol's wire format as the unit sees it: command codes, reply bytes, sizes
// and the byte order of addresses and lengths.
//
// Written out again here on purpose, not taken from the host: the simulator is an
// independent check of the host, so it shares nothing with the host's copies
// (src/flash/fdt.cpp, src/framework/byteorder.h, src/flash/connect_defaults.h).
#include <cstddef>
#include <cstdint>
#include <string>

namespace unitsim::wire {

constexpr int TransferBlock = 128;
constexpr int IdentityLength = 30;
constexpr int NameLength = 20;

inline const std::string CodeIdentify("\x63\xDE\x3D\x96", 4);
inline const std::string CodeErase("\xD7\x68\xFE\xFA", 4);
inline const std::string CodeProgram("\xB7\xD6\xF5\x3C", 4);
inline const std::string CodeVerify("\x53\xE1\xA8\xD7", 4);
inline const std::string CodeFinish("\xC3\x37\x23\xC6", 4);
constexpr uint8_t RegisterRequest = 0x44;

constexpr uint8_t BlockAccepted = 0x00;
constexpr uint8_t TransferComplete = 0x22;
constexpr uint8_t TransferFailed = 0x23;
constexpr uint8_t Erased = 0x24;
constexpr uint8_t EraseFailed = 0x25;

// Addresses and lengths travel most significant byte first.
inline uint32_t BE32(const std::string& b, size_t at)
{
    return (uint32_t(uint8_t(b[at])) << 24) | (uint32_t(uint8_t(b[at + 1])) << 16) |
        (uint32_t(uint8_t(b[at + 2])) << 8) | uint32_t(uint8_t(b[at + 3]));
}

inline void PutBE32(std::string& b, uint32_t v)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        b += char(uint8_t(v >> shift));
}

} // namespace unitsim::wire
