#include "framework/dib.h"

#include <algorithm>
#include <cstdlib>
#include <string>

#include "framework/byteorder.h"

namespace dib {
namespace {

constexpr uint32_t Opaque = 0xFF000000;

bool KnownHeaderSize(uint32_t size)
{
    // The OS/2 core header, BITMAPINFOHEADER, its V2 and V3 extensions, OS/2 2.x, V4, V5.
    for (uint32_t known : {12u, 40u, 52u, 56u, 64u, 108u, 124u})
        if (size == known)
            return true;
    return false;
}

bool KnownFormat(const TInfo& info, uint32_t headerSize)
{
    switch (info.Compression) {
    case Rgb:
        return info.BitCount == 1 || info.BitCount == 4 || info.BitCount == 8 || info.BitCount == 16 ||
            info.BitCount == 24 || info.BitCount == 32;
    case Rle8: return info.BitCount == 8;
    case Rle4: return info.BitCount == 4;
    // OS/2 2.x gives compression 3 another meaning (Huffman coding).
    case BitFields: return (info.BitCount == 16 || info.BitCount == 32) && headerSize != 64;
    default: return false;
    }
}

void ReadMasks(TInfo& info, const uint8_t* dib, size_t size, uint32_t headerSize, size_t& at)
{
    if (info.Compression != BitFields) {
        if (info.BitCount == 16)
            info.Masks[0] = 0x7C00, info.Masks[1] = 0x03E0, info.Masks[2] = 0x001F;
        else
            info.Masks[0] = 0xFF0000, info.Masks[1] = 0x00FF00, info.Masks[2] = 0x0000FF;
        return;
    }
    // BITMAPINFOHEADER keeps the three colour masks after itself; longer headers inside.
    const size_t masksAt = headerSize == 40 ? at : 40;
    if (masksAt + 12 > size)
        throw EDibInvalid("colour masks are truncated");
    for (int i = 0; i < 3; ++i)
        info.Masks[i] = LoadLE32(dib + masksAt + 4 * i);
    if (headerSize >= 56)
        info.Masks[3] = LoadLE32(dib + 52);
    if (headerSize == 40)
        at += 12;
}

void ReadPalette(TInfo& info, const uint8_t* dib, size_t size, uint32_t colours, size_t entryBytes, size_t& at)
{
    if (info.BitCount > 8)
        return; // a table beside true-colour pixels only suggests colours for old displays
    const uint32_t most = 1u << info.BitCount;
    const uint32_t count = colours == 0 ? most : std::min(colours, most);
    if (at + count * entryBytes > size)
        throw EDibInvalid("colour table is truncated");
    for (uint32_t i = 0; i < count; ++i, at += entryBytes)
        info.Palette.push_back(Opaque | (uint32_t(dib[at + 2]) << 16) | (uint32_t(dib[at + 1]) << 8) | dib[at]);
}

void Put(uint8_t* p, uint32_t argb)
{
    p[0] = uint8_t(argb >> 16);
    p[1] = uint8_t(argb >> 8);
    p[2] = uint8_t(argb);
    p[3] = uint8_t(argb >> 24);
}

// One channel of a masked pixel, widened to eight bits.
struct TChannel {
    uint32_t Mask = 0;
    int Shift = 0;
    uint64_t Max = 0;

    explicit TChannel(uint32_t mask) : Mask(mask)
    {
        while (mask != 0 && (mask & 1) == 0)
            mask >>= 1, ++Shift;
        Max = mask;
    }
    uint32_t Value(uint32_t pixel, uint32_t absent) const
    {
        if (Max == 0)
            return absent;
        return uint32_t((uint64_t((pixel & Mask) >> Shift) * 255 + Max / 2) / Max);
    }
};

class TPixelReader {
public:
    explicit TPixelReader(const TInfo& info)
        : FInfo(info), FRed(info.Masks[0]), FGreen(info.Masks[1]), FBlue(info.Masks[2]), FAlpha(info.Masks[3])
    {
    }

    uint32_t Colour(uint32_t index) const
    {
        return index < FInfo.Palette.size() ? FInfo.Palette[index] : Opaque; // beyond the table: black
    }
    uint32_t Masked(uint32_t pixel) const
    {
        return (FAlpha.Value(pixel, 255) << 24) | (FRed.Value(pixel, 0) << 16) | (FGreen.Value(pixel, 0) << 8) |
            FBlue.Value(pixel, 0);
    }
    void Row(const uint8_t* src, uint8_t* dst) const
    {
        const int64_t width = FInfo.Width;
        const int bits = FInfo.BitCount;
        for (int64_t x = 0; x < width; ++x, dst += 4) {
            switch (bits) {
            case 1: Put(dst, Colour((src[x / 8] >> (7 - x % 8)) & 1)); break;
            case 4: Put(dst, Colour(x % 2 ? src[x / 2] & 15 : src[x / 2] >> 4)); break;
            case 8: Put(dst, Colour(src[x])); break;
            case 16: Put(dst, Masked(LoadLE16(src + 2 * x))); break;
            case 24:
                Put(dst, Opaque | (uint32_t(src[3 * x + 2]) << 16) | (uint32_t(src[3 * x + 1]) << 8) | src[3 * x]);
                break;
            default: Put(dst, Masked(LoadLE32(src + 4 * x))); break;
            }
        }
    }

private:
    const TInfo& FInfo;
    TChannel FRed, FGreen, FBlue, FAlpha;
};

void DecodeRows(const TInfo& info, const uint8_t* bits, size_t size, TRgbaImage& image)
{
    const size_t stride = RowBytes(info.Width, info.BitCount);
    if (uint64_t(stride) * uint64_t(info.Height) > size)
        throw EDibInvalid("pixel data is truncated");
    const TPixelReader reader(info);
    for (int row = 0; row < image.Height; ++row)
        reader.Row(bits + size_t(row) * stride, image.Row(info.TopDown ? row : image.Height - 1 - row));
}

// Runs of one index, absolute runs, end-of-line, delta and end-of-bitmap codes; pixels no
// code reaches keep the first colour of the table.
void DecodeRunLengths(const TInfo& info, const uint8_t* bits, size_t size, TRgbaImage& image)
{
    const TPixelReader reader(info);
    for (int y = 0; y < image.Height; ++y)
        for (int x = 0; x < image.Width; ++x)
            Put(image.Row(y) + 4 * size_t(x), reader.Colour(0));
    const bool four = info.Compression == Rle4;
    int64_t x = 0, y = 0; // y counts rows from the bottom
    auto put = [&](int64_t at, uint32_t index) {
        if (at < image.Width && y < image.Height)
            Put(image.Row(int(image.Height - 1 - y)) + 4 * at, reader.Colour(index));
    };
    auto need = [&](size_t at, size_t n) {
        if (at + n > size)
            throw EDibInvalid("compressed pixel data is truncated");
    };
    size_t i = 0;
    while (y < image.Height) {
        need(i, 2);
        const uint32_t count = bits[i], code = bits[i + 1];
        i += 2;
        if (count > 0) {
            for (uint32_t k = 0; k < count; ++k)
                put(x + k, four ? (k % 2 ? code & 15 : code >> 4) : code);
            x += count;
        } else if (code == 0) {
            x = 0, ++y;
        } else if (code == 1) {
            return;
        } else if (code == 2) {
            need(i, 2);
            x += bits[i], y += bits[i + 1];
            i += 2;
        } else {
            const size_t bytes = four ? (code + 1) / 2 : code;
            need(i, bytes);
            for (uint32_t k = 0; k < code; ++k)
                put(x + k, four ? (k % 2 ? bits[i + k / 2] & 15 : bits[i + k / 2] >> 4) : bits[i + k]);
            x += code;
            i += (bytes + 1) & ~size_t(1); // absolute runs keep 16-bit alignment
        }
    }
}

} // namespace

size_t RowBytes(int64_t width, int bitCount)
{
    return size_t((width * bitCount + 31) / 32 * 4);
}

TInfo ReadInfo(const uint8_t* dib, size_t size)
{
    if (size < 4)
        throw EDibInvalid("info header is truncated");
    const uint32_t headerSize = LoadLE32(dib);
    if (!KnownHeaderSize(headerSize))
        throw EDibInvalid("unknown info header size " + std::to_string(headerSize));
    if (size < headerSize)
        throw EDibInvalid("info header is truncated");
    TInfo info;
    int64_t height;
    int planes;
    uint32_t colours = 0;
    size_t entryBytes = 4;
    if (headerSize == 12) {
        info.Width = LoadLE16(dib + 4);
        height = LoadLE16(dib + 6);
        planes = LoadLE16(dib + 8);
        info.BitCount = LoadLE16(dib + 10);
        entryBytes = 3;
    } else {
        info.Width = int32_t(LoadLE32(dib + 4));
        height = int32_t(LoadLE32(dib + 8));
        planes = LoadLE16(dib + 12);
        info.BitCount = LoadLE16(dib + 14);
        info.Compression = LoadLE32(dib + 16);
        colours = LoadLE32(dib + 32);
    }
    info.TopDown = height < 0;
    info.Height = std::llabs(height);
    if (planes != 1)
        throw EDibInvalid("unsupported number of colour planes (" + std::to_string(planes) + ")");
    if (!KnownFormat(info, headerSize))
        throw EDibInvalid("unsupported format (" + std::to_string(info.BitCount) + " bits a pixel, compression " +
                          std::to_string(info.Compression) + ")");
    if (info.TopDown && (info.Compression == Rle8 || info.Compression == Rle4))
        throw EDibInvalid("a top-down bitmap cannot be compressed");
    size_t at = headerSize;
    ReadMasks(info, dib, size, headerSize, at);
    ReadPalette(info, dib, size, colours, entryBytes, at);
    info.TableEnd = at;
    return info;
}

TRgbaImage DecodePixels(const TInfo& info, const uint8_t* bits, size_t size)
{
    TRgbaImage image(int(info.Width), int(info.Height));
    if (info.Compression == Rle8 || info.Compression == Rle4)
        DecodeRunLengths(info, bits, size, image);
    else
        DecodeRows(info, bits, size, image);
    return image;
}

} // namespace dib
