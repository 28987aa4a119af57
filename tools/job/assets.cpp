#include "job/assets.h"

#include <algorithm>
#include <cstdlib>

#include "framework/graphics.h"

namespace job {

namespace {

uint32_t LE16(const uint8_t* p)
{
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8);
}
uint32_t LE32(const uint8_t* p)
{
    return LE16(p) | (LE16(p + 2) << 16);
}

struct IconLayout {
    bool ok = false;
    std::string problem;
    size_t end = 0; // one past the last byte any directory entry uses
};

IconLayout ReadIconLayout(const uint8_t* p, size_t size)
{
    IconLayout l;
    if (size < 6 || LE16(p) != 0 || LE16(p + 2) != 1) {
        l.problem = "no icon header (00 00 01 00)";
        return l;
    }
    const uint32_t count = LE16(p + 4);
    if (count == 0) {
        l.problem = "the icon holds no images";
        return l;
    }
    const size_t directoryEnd = 6 + size_t(count) * 16;
    if (directoryEnd > size) {
        l.problem = "the icon directory of " + std::to_string(count) + " entries is cut short";
        return l;
    }
    l.end = directoryEnd;
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* e = p + 6 + i * 16;
        const uint64_t bytes = LE32(e + 8), offset = LE32(e + 12);
        if (bytes == 0 || offset < directoryEnd || offset + bytes > size) {
            l.problem = "icon image " + std::to_string(i + 1) + " lies outside the file";
            return l;
        }
        l.end = std::max<size_t>(l.end, size_t(offset + bytes));
    }
    l.ok = true;
    return l;
}

// A picture's size in pixels as its header gives it.
struct PixelSize {
    int64_t width = 0, height = 0;
};

bool IsBitmap(const std::vector<uint8_t>& b, std::string& problem, PixelSize& size)
{
    if (b.size() < 2 || b[0] != 'B' || b[1] != 'M')
        return false;
    if (b.size() < 26) {
        problem = "the bitmap header is cut short";
        return true;
    }
    const uint32_t fileSize = LE32(&b[2]), bitsOffset = LE32(&b[10]), infoSize = LE32(&b[14]);
    static const uint32_t infoSizes[] = {12, 40, 52, 56, 64, 108, 124};
    if (std::find(std::begin(infoSizes), std::end(infoSizes), infoSize) == std::end(infoSizes))
        problem = "unknown bitmap header size " + std::to_string(infoSize);
    else if (fileSize > b.size() || fileSize < 14 + infoSize)
        problem = "the bitmap's size field says " + std::to_string(fileSize) + " bytes, the file has " +
            std::to_string(b.size());
    else if (bitsOffset < 14 + infoSize || bitsOffset >= fileSize)
        problem = "the bitmap's pixel data offset lies outside the file";
    // The oldest header holds 16-bit sizes; the others signed 32-bit ones (height < 0: top-down).
    else if (infoSize == 12)
        size = {LE16(&b[18]), LE16(&b[20])};
    else
        size = {std::llabs(int32_t(LE32(&b[18]))), std::llabs(int32_t(LE32(&b[22])))};
    return true;
}

bool IsJpeg(const std::vector<uint8_t>& b, std::string& problem, PixelSize& size)
{
    if (b.size() < 3 || b[0] != 0xFF || b[1] != 0xD8 || b[2] != 0xFF)
        return false;
    if (b.size() < 4 || b[b.size() - 2] != 0xFF || b[b.size() - 1] != 0xD9) {
        problem = "the JPEG has no end marker (cut short?)";
        return true;
    }
    // Walk the segments up to the scan: a frame header with a real size must come first.
    size_t at = 2;
    while (at + 4 <= b.size()) {
        if (b[at] != 0xFF) {
            problem = "the JPEG's segments are broken";
            return true;
        }
        const uint8_t marker = b[at + 1];
        if (marker == 0xFF) {
            ++at;
            continue;
        }
        const size_t length = size_t(b[at + 2]) * 256 + b[at + 3];
        if (length < 2 || at + 2 + length > b.size()) {
            problem = "the JPEG's segments are broken";
            return true;
        }
        const bool frame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (frame) {
            if (length < 8 || (b[at + 5] == 0 && b[at + 6] == 0) || (b[at + 7] == 0 && b[at + 8] == 0))
                problem = "the JPEG's frame header gives no picture size";
            else
                size = {b[at + 7] * 256 + b[at + 8], b[at + 5] * 256 + b[at + 6]};
            return true;
        }
        if (marker == 0xDA)
            break;
        at += 2 + length;
    }
    problem = "the JPEG has no frame header";
    return true;
}

} // namespace

void CheckIcon(const std::vector<uint8_t>& bytes)
{
    if (bytes.size() > size_t(MaxIconSize))
        throw AssetError(std::to_string(bytes.size()) + " bytes, more than the " + std::to_string(MaxIconSize) +
                         "-byte icon region");
    const IconLayout l = ReadIconLayout(bytes.data(), bytes.size());
    if (!l.ok)
        throw AssetError("not an icon file: " + l.problem);
}

uint8_t PictureTypeOf(const std::vector<uint8_t>& bytes)
{
    if (bytes.size() > size_t(MaxPictureSize))
        throw AssetError(std::to_string(bytes.size()) + " bytes, more than the " + std::to_string(MaxPictureSize) +
                         "-byte picture region");
    std::string problem;
    PixelSize size;
    // The programmer refuses a picture of more pixels, so the job may not carry one.
    auto fitting = [&](uint8_t type) {
        if (size.width * size.height > MaxPicturePixels)
            throw AssetError(PictureTooLarge(size.width, size.height));
        return type;
    };
    if (IsBitmap(bytes, problem, size)) {
        if (!problem.empty())
            throw AssetError("not a valid bitmap: " + problem);
        return fitting(0);
    }
    if (IsJpeg(bytes, problem, size)) {
        if (!problem.empty())
            throw AssetError("not a valid JPEG: " + problem);
        return fitting(1);
    }
    throw AssetError("neither a Windows bitmap nor a JPEG file");
}

size_t IconFileSize(const uint8_t* region, size_t regionSize)
{
    const IconLayout l = ReadIconLayout(region, regionSize);
    return l.ok ? l.end : 0;
}

size_t PictureFileSize(uint8_t type, const uint8_t* region, size_t regionSize)
{
    if (type == 0) {
        if (regionSize < 6 || region[0] != 'B' || region[1] != 'M')
            return 0;
        return std::min<size_t>(LE32(region + 2), regionSize);
    }
    if (type == 1) {
        // A JPEG ends in FF D9 and the region is zero-padded after it.
        size_t n = regionSize;
        while (n > 0 && region[n - 1] == 0)
            --n;
        return n;
    }
    return 0;
}

} // namespace job
