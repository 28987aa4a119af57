#include "framework/graphics.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string>

#include "framework/byteorder.h"
#include "framework/dib.h"
#include "framework/exceptions.h"
#include "framework/graphics_input.h"
#include "framework/streams.h"

namespace {

// Bounds on what a decoder may allocate for one image.
constexpr int MaxDimension = 16384;
constexpr int64_t MaxPixels = 32LL * 1024 * 1024;
constexpr int64_t MaxFileBytes = 64LL * 1024 * 1024;

bool IsPng(const uint8_t* data, size_t size)
{
    return size >= 8 && std::memcmp(data, "\x89PNG\r\n\x1a\n", 8) == 0;
}

bool AnyAlpha(const TRgbaImage& image)
{
    for (size_t i = 3; i < image.Pixels.size(); i += 4)
        if (image.Pixels[i] != 0)
            return true;
    return false;
}

// An icon image: a bitmap of twice its height, the colour rows and then as many rows of the
// AND mask (1: transparent). A 32-bit image carries its own alpha, and the mask then counts
// only where that alpha is all zero, as old programs wrote it.
TRgbaImage DecodeIconImage(const uint8_t* data, size_t size)
{
    dib::TInfo info = dib::ReadInfo(data, size);
    if (info.TopDown || info.Compression == dib::Rle8 || info.Compression == dib::Rle4)
        throw EDibInvalid("an icon image must be an uncompressed bottom-up bitmap");
    info.Height /= 2;
    if (!SizeAcceptable(info.Width, info.Height))
        throw EDibInvalid("unsupported or oversized dimensions");
    if (info.BitCount == 32 && info.Compression == dib::Rgb)
        info.Masks[3] = 0xFF000000;
    const size_t colourBytes = dib::RowBytes(info.Width, info.BitCount) * size_t(info.Height);
    TRgbaImage image = dib::DecodePixels(info, data + info.TableEnd, size - info.TableEnd);
    if (info.Masks[3] != 0 && AnyAlpha(image))
        return image;
    const size_t maskStride = dib::RowBytes(info.Width, 1);
    if (info.TableEnd + colourBytes + maskStride * size_t(info.Height) > size)
        throw EDibInvalid("transparency mask is truncated");
    const uint8_t* mask = data + info.TableEnd + colourBytes;
    for (int row = 0; row < image.Height; ++row) {
        const uint8_t* bits = mask + size_t(row) * maskStride;
        uint8_t* pixel = image.Row(image.Height - 1 - row);
        for (int x = 0; x < image.Width; ++x)
            pixel[4 * x + 3] = (bits[x / 8] >> (7 - x % 8)) & 1 ? 0 : 255;
    }
    return image;
}

} // namespace

std::vector<uint8_t> ReadGraphicBytes(TStream& stream, const char* format)
{
    const int64_t pos = stream.Position();
    const int64_t avail = std::max<int64_t>(0, stream.Size() - pos);
    if (avail == 0)
        throw EInvalidGraphic(std::string(format) + " image is not valid: no data");
    if (avail > MaxFileBytes)
        throw EInvalidGraphic(std::string(format) + " image is not valid: data too large");
    std::vector<uint8_t> bytes(static_cast<size_t>(avail));
    stream.ReadBuffer(bytes.data(), int32_t(avail));
    return bytes;
}

bool SizeAcceptable(int64_t width, int64_t height)
{
    return width > 0 && height > 0 && width <= MaxDimension && height <= MaxDimension && width * height <= MaxPixels;
}

std::string PictureTooLarge(int64_t width, int64_t height)
{
    static_assert(MaxPicturePixels == 16777216, "the text below names the limit");
    return std::to_string(width) + " x " + std::to_string(height) +
        " pixels, more than the 16,777,216 (4096 x 4096) a picture may have";
}

void TGraphic::Fail(const std::string& reason)
{
    FImage = TRgbaImage();
    throw EInvalidGraphic(std::string(FormatName()) + " image is not valid: " + reason);
}

// ---- Bitmap -------------------------------------------------------------------------

void TBitmap::LoadFromStream(TStream& stream)
{
    FImage = TRgbaImage();
    const int64_t start = stream.Position();
    std::vector<uint8_t> bytes = ReadGraphicBytes(stream, FormatName());
    constexpr size_t FileHeader = 14, SmallestInfoHeader = 12;
    if (bytes.size() < FileHeader + SmallestInfoHeader || bytes[0] != 'B' || bytes[1] != 'M')
        Fail("no bitmap file header");
    // The file header says how long the file is; the zero padding after it is not ours.
    size_t length = LoadLE32(&bytes[2]);
    if (length == 0)
        length = bytes.size();
    if (length < FileHeader + SmallestInfoHeader)
        Fail("file size in header too small");
    if (length > bytes.size())
        Fail("file is truncated (header declares " + std::to_string(length) + " bytes, " +
             std::to_string(bytes.size()) + " present)");
    const size_t pixelsOffset = LoadLE32(&bytes[10]);
    if (pixelsOffset >= length)
        Fail("pixel data lies outside the file");

    try {
        const dib::TInfo info = dib::ReadInfo(&bytes[FileHeader], length - FileHeader);
        // Refused from the header, before anything is allocated for the pixels.
        if (!SizeAcceptable(info.Width, info.Height))
            Fail("unsupported or oversized dimensions");
        if (info.Width * info.Height > MaxPicturePixels)
            Fail(PictureTooLarge(info.Width, info.Height));
        // An offset into the headers means the rows follow the colour table.
        const size_t pixels = std::max(pixelsOffset, FileHeader + info.TableEnd);
        FImage = dib::DecodePixels(info, &bytes[pixels], length - pixels);
    } catch (const EDibInvalid& e) {
        Fail(e.what());
    } catch (const std::bad_alloc&) {
        Fail("out of memory");
    }
    stream.SetPosition(start + int64_t(length));
}

// ---- Icon ---------------------------------------------------------------------------

void TIcon::LoadFromStream(TStream& stream)
{
    FImage = TRgbaImage();
    FImages.clear();
    const int64_t start = stream.Position();
    std::vector<uint8_t> bytes = ReadGraphicBytes(stream, FormatName());
    constexpr size_t Header = 6, Entry = 16;
    if (bytes.size() < Header || LoadLE16(&bytes[0]) != 0 || LoadLE16(&bytes[2]) != 1)
        Fail("no icon file header");
    const size_t count = LoadLE16(&bytes[4]);
    if (count == 0)
        Fail("icon directory is empty");
    const size_t directoryEnd = Header + count * Entry;
    if (directoryEnd > bytes.size())
        Fail("icon directory is truncated");
    // The directory says where each image lies; the file ends after the last of them.
    size_t length = directoryEnd;
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* e = &bytes[Header + i * Entry];
        const uint64_t size = LoadLE32(e + 8), offset = LoadLE32(e + 12);
        if (size == 0 || offset < directoryEnd || offset + size > bytes.size())
            Fail("image " + std::to_string(i + 1) + " lies outside the file");
        length = std::max<size_t>(length, size_t(offset + size));
    }

    std::vector<TRgbaImage> images;
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* entry = &bytes[Header + i * Entry];
        const uint8_t* data = &bytes[LoadLE32(entry + 12)];
        const size_t size = LoadLE32(entry + 8);
        if (IsPng(data, size))
            continue; // no PNG decoder here; the bitmap images of other sizes serve
        try {
            images.push_back(DecodeIconImage(data, size));
        } catch (const EDibInvalid& e) {
            Fail("image " + std::to_string(i + 1) + ": " + e.what());
        } catch (const std::bad_alloc&) {
            Fail("out of memory");
        }
    }
    if (images.empty())
        Fail("every image is stored as PNG, which cannot be shown (an icon needs a bitmap image)");
    FImages = std::move(images);
    FImage = *std::max_element(FImages.begin(), FImages.end(), [](const TRgbaImage& a, const TRgbaImage& b) {
        return int64_t(a.Width) * a.Height < int64_t(b.Width) * b.Height;
    });
    stream.SetPosition(start + int64_t(length));
}

// ---- Picture ------------------------------------------------------------------------

TPicture& TPicture::operator=(const TPicture& other)
{
    if (this != &other)
        FGraphic = other.FGraphic ? other.FGraphic->Clone() : nullptr;
    return *this;
}
