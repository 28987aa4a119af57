#include "unitsim/flash_array.h"

#include <algorithm>
#include <stdexcept>

#include "unitsim/unitsim.h"

namespace unitsim {

FlashArray::FlashArray(const SimConfig& config) : FLength(config.flashLength)
{
    if (config.flashLength < 0 || config.flashLength > MaxLength)
        throw std::runtime_error("flash length " + std::to_string(config.flashLength) + " outside 0.." +
                                 std::to_string(MaxLength));
    if (config.initialFlash.empty()) {
        FCells.assign(size_t(config.flashLength), config.initialFill);
        return;
    }
    if (config.initialFlash.size() != size_t(config.flashLength))
        throw std::runtime_error("initial flash contents must be " + std::to_string(config.flashLength) + " bytes");
    FCells = config.initialFlash;
}

void FlashArray::Erase(int64_t offset, int64_t size)
{
    std::lock_guard<std::mutex> lock(FLock);
    std::fill(FCells.begin() + offset, FCells.begin() + offset + size, uint8_t(0xFF));
}

bool FlashArray::Program(int64_t offset, const std::string& data)
{
    std::lock_guard<std::mutex> lock(FLock);
    bool took = true;
    for (size_t i = 0; i < data.size(); ++i) {
        uint8_t& cell = FCells[size_t(offset) + i];
        cell &= uint8_t(data[i]);
        took = took && cell == uint8_t(data[i]);
    }
    return took;
}

bool FlashArray::Matches(int64_t offset, const std::string& data) const
{
    std::lock_guard<std::mutex> lock(FLock);
    return std::equal(data.begin(), data.end(), FCells.begin() + offset,
                      [](char a, uint8_t b) { return uint8_t(a) == b; });
}

std::vector<uint8_t> FlashArray::Contents() const
{
    std::lock_guard<std::mutex> lock(FLock);
    return FCells;
}

} // namespace unitsim
