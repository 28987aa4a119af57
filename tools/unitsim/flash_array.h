#pragma once
// The unit's flash memory: erasing sets bytes to FF, programming only clears bits.
// Safe to read from any thread while the unit works on it.
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace unitsim {

struct SimConfig;

class FlashArray {
public:
    static constexpr int32_t MaxLength = 16 * 1024 * 1024;

    // The configured contents; raises std::runtime_error when they do not fit the length.
    explicit FlashArray(const SimConfig& config);

    int32_t Length() const { return FLength; }
    // Offset and size inside the array.
    bool Holds(int64_t offset, int64_t size) const { return offset >= 0 && size >= 0 && offset + size <= FLength; }
    void Erase(int64_t offset, int64_t size);
    // False when a cell cannot take its byte (not erased).
    bool Program(int64_t offset, const std::string& data);
    bool Matches(int64_t offset, const std::string& data) const;
    std::vector<uint8_t> Contents() const;

private:
    const int32_t FLength;
    mutable std::mutex FLock;
    std::vector<uint8_t> FCells;
};

} // namespace unitsim
