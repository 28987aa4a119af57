#include "storage/util.h"

#include <algorithm>

#include "framework/streams.h"
#include "storage/hex.h"

uint16_t Swap16(uint16_t w)
{
    return static_cast<uint16_t>((w >> 8) | (w << 8));
}

uint32_t Swap32(uint32_t d)
{
    return (d >> 24) | ((d >> 8) & 0xFF00u) | ((d << 8) & 0xFF0000u) | (d << 24);
}

std::string UnescapeText(const std::string& s)
{
    std::string result;
    result.reserve(s.size());
    size_t i = 0;
    while (i < s.size()) {
        if (s[i] != '%') {
            result += s[i++];
            continue;
        }
        ++i;
        result += static_cast<char>(HexPairValue(s.substr(i, 2)));
        i += 2;
    }
    return result;
}

int64_t PadStreamTo(TStream& stream, int64_t target, uint8_t fill)
{
    while (stream.Position() < target)
        stream.WriteBuffer(&fill, 1);
    return stream.Position();
}

int64_t PadStreamRange(TStream& stream, int64_t start, int64_t count, uint8_t fill)
{
    stream.SetPosition(std::min(start, stream.Size()));
    return PadStreamTo(stream, start + count, fill);
}

int64_t PadStreamToSize(TStream& stream, int64_t newSize, uint8_t fill)
{
    const int64_t size = stream.Size();
    if (size < newSize)
        return PadStreamRange(stream, size, newSize - size, fill);
    return size;
}
