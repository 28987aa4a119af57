#include "storage/storeexe.h"

#include <algorithm>
#include <cstring>

#include "framework/byteorder.h"
#include "framework/exceptions.h"

// The only place the marker's text exists; the rest of the block is zero-initialised
// and emitted verbatim (const data with a non-zero initialiser never goes to .bss).
extern "C" alignas(4) const uint8_t StoredDataBlock[layout::BlockSize] = "MORAVENT-STORED-DATA";

static_assert(sizeof(StoredDataBlock) == 458776);
static_assert(sizeof("MORAVENT-STORED-DATA") - 1 == layout::MarkerSize);

namespace {

// Hides the pointer's origin from the optimiser, so reads of the block cannot be
// folded to the template's compile-time contents: the bytes in the file count.
template <typename T> const T* Opaque(const T* p)
{
    asm volatile("" : "+r"(p) : : "memory");
    return p;
}

} // namespace

uint32_t PayloadChecksum(const uint8_t* payload)
{
    payload = Opaque(payload);
    // Same result as adding byte by byte: each 64-bit word's bytes are added into four
    // 16-bit lanes (two bytes per lane per word, at most 510), and the lanes are folded
    // into the total every 128 words, before a lane can overflow. The compiler turns the
    // inner loop into vector code.
    constexpr size_t WordsPerRound = 128;
    constexpr size_t RoundBytes = WordsPerRound * 8;
    static_assert(layout::PayloadSize % RoundBytes == 0);
    constexpr uint64_t LowBytes = 0x00FF00FF00FF00FFull;
    uint32_t sum = layout::ChecksumStart;
    for (size_t base = 0; base < size_t(layout::PayloadSize); base += RoundBytes) {
        uint64_t lanes = 0;
        for (size_t i = 0; i < WordsPerRound; ++i) {
            uint64_t w;
            std::memcpy(&w, payload + base + i * 8, 8);
            lanes += (w & LowBytes) + ((w >> 8) & LowBytes);
        }
        sum += uint32_t((lanes & 0xFFFF) + ((lanes >> 16) & 0xFFFF) + ((lanes >> 32) & 0xFFFF) + (lanes >> 48));
    }
    return sum;
}

const uint8_t* CheckStoredData(const uint8_t* block)
{
    block = Opaque(block);
    const uint8_t* payload = block + layout::PayloadOffset;
    if (PayloadChecksum(payload) != LoadLE32(block + layout::ChecksumOffset))
        throw EStoredDataError("Stored data is not valid");
    return payload;
}

std::string StoredDataMarker()
{
    const uint8_t* block = Opaque(StoredDataBlock);
    return std::string(reinterpret_cast<const char*>(block), layout::MarkerSize);
}

std::vector<size_t> FindStoredBlock(const std::string& fileBytes)
{
    const std::string marker = StoredDataMarker();
    std::vector<size_t> found;
    for (size_t at = fileBytes.find(marker); at != std::string::npos; at = fileBytes.find(marker, at + 1))
        found.push_back(at);
    return found;
}

void CheckStoredBlockCount(size_t count, bool cutShort, const std::string& fileName)
{
    if (count == 0)
        throw Exception("No stored data block in " + fileName);
    if (count > 1)
        throw Exception("More than one stored data block in " + fileName + " (the marker occurs " +
                        std::to_string(count) + " times, it must occur exactly once)");
    if (cutShort)
        throw Exception("Stored data block in " + fileName + " is cut short");
}

size_t LocateStoredBlock(const std::string& fileBytes, const std::string& fileName)
{
    const std::vector<size_t> found = FindStoredBlock(fileBytes);
    CheckStoredBlockCount(found.size(), !found.empty() && fileBytes.size() - found[0] < size_t(layout::BlockSize),
                          fileName);
    return found[0];
}

bool IsBlankStoredBlock(const uint8_t* block)
{
    block = Opaque(block);
    const uint8_t* end = block + layout::BlockSize;
    return std::find_if(block + layout::PayloadOffset, end, [](uint8_t b) { return b != 0; }) == end;
}
