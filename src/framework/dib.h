#pragma once
// Device-independent bitmaps as BMP files and icon images hold them: an info header (the
// OS/2 core header, BITMAPINFOHEADER or its longer variants), colour masks, a colour table,
// then pixel rows of 1, 4, 8, 16, 24 or 32 bits, plain or run-length encoded.
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <vector>

#include "framework/rgba_image.h"

// Why a bitmap cannot be decoded; the graphic reading it prefixes its own format name.
class EDibInvalid : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

namespace dib {

constexpr uint32_t Rgb = 0, Rle8 = 1, Rle4 = 2, BitFields = 3;

struct TInfo {
    int64_t Width = 0;
    int64_t Height = 0; // rows, never negative (TopDown says which comes first)
    bool TopDown = false;
    int BitCount = 0;
    uint32_t Compression = Rgb;
    uint32_t Masks[4] = {};        // red, green, blue, alpha of a 16- or 32-bit pixel; no alpha: opaque
    std::vector<uint32_t> Palette; // 0xAARRGGBB, opaque
    size_t TableEnd = 0;           // where the header, its masks and the colour table end
};

// The header at dib[0, size) with its masks and colour table. Sizes are as the header says:
// the caller checks them before anything is decoded.
TInfo ReadInfo(const uint8_t* dib, size_t size);

// The pixel rows at bits[0, size), as the image's rows from top to bottom. Plain rows must
// all be there; run-length data must reach its end-of-bitmap code or the last row.
TRgbaImage DecodePixels(const TInfo& info, const uint8_t* bits, size_t size);

// Bytes in one plain row of width pixels of bitCount bits: padded to four.
size_t RowBytes(int64_t width, int bitCount);

} // namespace dib
