#pragma once
// Payloads for the record tests: a typical job's record, guarded copies and messages.
#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "framework/exceptions.h"
#include "storage/block_writer.h"

namespace recordtest {

// A payload copy in fresh pages where [guard, guard + guardSize) is unreadable, so a
// read of bytes an operation must not touch crashes the test instead of passing.
class GuardedPayload {
public:
    GuardedPayload(const std::vector<uint8_t>& payload, size_t guard, size_t guardSize)
    {
        const size_t page = size_t(sysconf(_SC_PAGESIZE));
        const size_t lead = (page - guard % page) % page; // makes data + guard page-aligned
        Length = (lead + payload.size() + page - 1) / page * page + page;
        Base = static_cast<uint8_t*>(mmap(nullptr, Length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
        if (Base == MAP_FAILED)
            throw std::runtime_error("mmap failed");
        Data = Base + lead;
        std::memcpy(Data, payload.data(), payload.size());
        const size_t guarded = (guardSize + page - 1) / page * page;
        if (mprotect(Data + guard, guarded, PROT_NONE) != 0)
            throw std::runtime_error("mprotect failed");
    }
    ~GuardedPayload() { munmap(Base, Length); }
    uint8_t* Data;

private:
    uint8_t* Base;
    size_t Length;
};

// The record of a typical job.
inline std::vector<uint8_t> TypicalPayload()
{
    std::vector<uint8_t> p = NewPayload();
    PutI32(p, layout::StructureVersion, 4);
    PutText(p, layout::ImageIdentifier, 40, "PN-1234 rev C");
    PutText(p, layout::ImageTitle, 40, "Moravent Scale Firmware 2.3");
    PutSerialSettings(p, layout::ConnectSerial, 7, 3, 0, 0);
    PutSerialSettings(p, layout::ProgramSerial, 12, 3, 0, 0);
    PutText(p, layout::BootConnect, 40, "%55");
    PutText(p, layout::UserConnect, 40, "AB%0D");
    PutText(p, layout::ConnectResponse, 40, "%E6");
    PutI32(p, layout::FlashStart, 0x1800);
    PutI32(p, layout::FlashLength, 256000);
    PutI32(p, layout::ImageLength, 245760);
    PutI32(p, layout::FlashBlockSize, 2048);
    PutU16(p, layout::FlashCheckSeed, 0x81);
    PutU8(p, layout::FlashVerification, 1);
    PutU8(p, layout::FlashEncryption, 0xFF);
    PutU8(p, layout::PictureType, 1);
    return p;
}

inline std::string Message(const std::function<void()>& f)
{
    try {
        f();
    } catch (const Exception& e) {
        return e.message();
    }
    return "<no exception>";
}

} // namespace recordtest
