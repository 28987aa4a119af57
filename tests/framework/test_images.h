#pragma once
// Small valid image files made on the fly for graphic tests, without a toolkit: bitmaps in
// each storage format, icons of bitmap (and PNG) images, JPEGs from libjpeg's compressor.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "framework/rgba_image.h"

namespace testimg {

inline uint32_t Pixel(const TRgbaImage& img, int x, int y) // 0xAARRGGBB
{
    const uint8_t* p = img.Row(y) + 4 * x;
    return (uint32_t(p[3]) << 24) | (uint32_t(p[0]) << 16) | (uint32_t(p[1]) << 8) | p[2];
}

inline void SetPixel(TRgbaImage& img, int x, int y, uint32_t argb)
{
    uint8_t* p = img.Row(y) + 4 * x;
    p[0] = uint8_t(argb >> 16), p[1] = uint8_t(argb >> 8), p[2] = uint8_t(argb), p[3] = uint8_t(argb >> 24);
}

// Red rising to the right, green rising downwards, blue 0x40, opaque.
inline TRgbaImage Pattern(int w, int h)
{
    TRgbaImage img(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            SetPixel(img, x, y,
                     0xFF000040u | uint32_t(x * 255 / std::max(1, w - 1)) << 16 |
                         uint32_t(y * 255 / std::max(1, h - 1)) << 8);
    return img;
}

// Runs of a colour and stretches of single ones, from a table of n colours.
inline TRgbaImage FewColours(int w, int h, int n)
{
    TRgbaImage img(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const uint32_t i = uint32_t(x < w / 2 ? y : x + y) % uint32_t(n);
            SetPixel(img, x, y, 0xFF000000u | (i * 0x350B1Du & 0xFFFFFFu));
        }
    return img;
}

inline void Append(std::string& s, uint32_t v, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        s.push_back(char(v >> (8 * i)));
}

// How a test bitmap stores its pixels.
struct BmpFormat {
    int bits = 24;
    uint32_t compression = 0; // 0 plain, 1 RLE8, 2 RLE4, 3 bit fields
    int header = 40;          // info header size: 12, 40, 108 or 124
    bool topDown = false;
};

// The distinct colours of an image, in the order they first appear.
inline std::vector<uint32_t> Colours(const TRgbaImage& img)
{
    std::vector<uint32_t> table;
    for (int y = 0; y < img.Height; ++y)
        for (int x = 0; x < img.Width; ++x)
            if (std::find(table.begin(), table.end(), Pixel(img, x, y) & 0xFFFFFF) == table.end())
                table.push_back(Pixel(img, x, y) & 0xFFFFFF);
    return table;
}

inline std::string RunLengths(const std::vector<uint32_t>& row, bool four)
{
    auto pair = [four](uint32_t a, uint32_t b) { return char(four ? (a << 4) | b : a); };
    std::string out;
    for (size_t i = 0; i < row.size();) {
        size_t run = 1;
        while (i + run < row.size() && run < 255 && row[i + run] == row[i])
            ++run;
        size_t singles = 0;
        while (run == 1 && i + singles < row.size() && singles < 255 &&
               !(i + singles + 1 < row.size() && row[i + singles + 1] == row[i + singles]))
            ++singles;
        if (singles >= 3) { // absolute run, padded to a 16-bit boundary
            std::string bytes;
            for (size_t k = 0; k < singles; k += four ? 2 : 1)
                bytes.push_back(pair(row[i + k], four && k + 1 < singles ? row[i + k + 1] : 0));
            if (bytes.size() % 2)
                bytes.push_back(0);
            out += std::string{0, char(singles)} + bytes;
            i += singles;
        } else {
            out += std::string{char(run), pair(row[i], row[i])};
            i += run;
        }
    }
    return out;
}

inline std::string PixelRows(const TRgbaImage& img, const BmpFormat& f, const std::vector<uint32_t>& table)
{
    std::string out;
    for (int r = 0; r < img.Height; ++r) {
        const int y = f.topDown ? r : img.Height - 1 - r;
        std::vector<uint32_t> index;
        std::string row;
        uint32_t acc = 0;
        int filled = 0;
        for (int x = 0; x < img.Width; ++x) {
            const uint32_t p = Pixel(img, x, y), r8 = (p >> 16) & 255, g8 = (p >> 8) & 255, b8 = p & 255;
            if (f.bits <= 8) {
                index.push_back(uint32_t(std::find(table.begin(), table.end(), p & 0xFFFFFF) - table.begin()));
                acc = (acc << f.bits) | index.back();
                if ((filled += f.bits) == 8)
                    row.push_back(char(acc)), acc = 0, filled = 0;
            } else if (f.bits == 16 && f.compression == 3) {
                Append(row, (r8 >> 3) << 11 | (g8 >> 2) << 5 | b8 >> 3, 2);
            } else if (f.bits == 16) {
                Append(row, (r8 >> 3) << 10 | (g8 >> 3) << 5 | b8 >> 3, 2);
            } else {
                Append(row, p, f.bits / 8); // B, G, R and, at 32 bits, alpha
            }
        }
        if (filled)
            row.push_back(char(acc << (8 - filled)));
        if (f.compression == 1 || f.compression == 2) {
            out += RunLengths(index, f.compression == 2);
            out += r + 1 < img.Height ? std::string("\0\0", 2) : std::string("\0\1", 2);
        } else {
            row.resize((row.size() + 3) / 4 * 4, '\0');
            out += row;
        }
    }
    return out;
}

// A BMP file of img; an indexed format needs an image of no more colours than it holds.
inline std::string Bmp(const TRgbaImage& img, const BmpFormat& f = {})
{
    const std::vector<uint32_t> table = f.bits <= 8 ? Colours(img) : std::vector<uint32_t>();
    if (table.size() > (1u << std::min(f.bits, 16)))
        std::abort();
    std::string info;
    Append(info, uint32_t(f.header), 4);
    if (f.header == 12) {
        Append(info, uint32_t(img.Width), 2);
        Append(info, uint32_t(img.Height), 2);
        Append(info, 1, 2);
        Append(info, uint32_t(f.bits), 2);
    } else {
        Append(info, uint32_t(img.Width), 4);
        Append(info, uint32_t(f.topDown ? -img.Height : img.Height), 4);
        Append(info, 1, 2);
        Append(info, uint32_t(f.bits), 2);
        Append(info, f.compression, 4);
        info.resize(32, '\0');
        Append(info, uint32_t(table.size()), 4);
        info.resize(40, '\0');
        if (f.compression == 3) {
            const bool wide = f.bits == 32;
            std::string masks;
            Append(masks, wide ? 0xFF0000 : 0xF800, 4);
            Append(masks, wide ? 0xFF00 : 0x7E0, 4);
            Append(masks, wide ? 0xFF : 0x1F, 4);
            Append(masks, wide && f.header > 40 ? 0xFF000000 : 0, 4);
            info += f.header > 40 ? masks : masks.substr(0, 12);
        }
        info.resize(size_t(f.header) + (f.header == 40 && f.compression == 3 ? 12 : 0), '\0');
    }
    for (uint32_t c : table)
        Append(info, c, f.header == 12 ? 3 : 4);
    if (f.header == 12 && f.bits <= 8) // the core header's table always has every entry
        info.resize(info.size() + 3 * ((1u << f.bits) - table.size()), '\0');
    const std::string pixels = PixelRows(img, f, table);
    std::string file = "BM";
    Append(file, uint32_t(14 + info.size() + pixels.size()), 4);
    Append(file, 0, 4);
    Append(file, uint32_t(14 + info.size()), 4);
    return file + info + pixels;
}

inline std::string Bmp(int w, int h)
{
    return Bmp(Pattern(w, h));
}

// An icon's image as Windows stores it: a bitmap of twice the height, the colour rows and
// then the AND mask (set where the image's alpha is zero). At 32 bits the alpha is stored,
// unless storedAlpha is false.
inline std::string IconImage(const TRgbaImage& img, int bits = 32, bool storedAlpha = true)
{
    TRgbaImage colour = img;
    for (size_t i = 3; i < colour.Pixels.size(); i += 4)
        colour.Pixels[i] = bits == 32 && storedAlpha ? colour.Pixels[i] : 0;
    std::string dib = Bmp(colour, {bits}).substr(14);
    dib[8] = char(img.Height * 2), dib[9] = char((img.Height * 2) >> 8);
    for (int y = img.Height - 1; y >= 0; --y) {
        std::string row;
        for (int x = 0; x < img.Width; x += 8) {
            uint32_t byte = 0;
            for (int b = 0; b < 8; ++b)
                byte = byte << 1 | (x + b < img.Width && (Pixel(img, x + b, y) >> 24) == 0);
            row.push_back(char(byte));
        }
        row.resize((row.size() + 3) / 4 * 4, '\0');
        dib += row;
    }
    return dib;
}

// An icon file of the given images (IconImage's, or PNG files) in that order.
inline std::string IcoFile(const std::vector<std::string>& images)
{
    std::string out;
    Append(out, 0, 2);
    Append(out, 1, 2);
    Append(out, uint32_t(images.size()), 2);
    uint32_t offset = uint32_t(6 + 16 * images.size());
    std::string data;
    for (const std::string& image : images) {
        const bool png = image.rfind("\x89PNG", 0) == 0;
        out.push_back(png ? 0 : image[4]); // width and height; 0 stands for 256
        out.push_back(png ? 0 : char(uint8_t(image[8]) / 2 + uint8_t(image[9]) * 128));
        Append(out, 0, 2);
        Append(out, 1, 2);
        Append(out, png ? 32 : uint8_t(image[14]), 2);
        Append(out, uint32_t(image.size()), 4);
        Append(out, offset + uint32_t(data.size()), 4);
        data += image;
    }
    return out + data;
}

// An icon file holding one 32-bit image of the pattern per size.
inline std::string Ico(const std::vector<int>& sizes)
{
    std::vector<std::string> images;
    for (int s : sizes)
        images.push_back(IconImage(Pattern(s, s)));
    return IcoFile(images);
}

// How a test JPEG is laid out: baseline, libjpeg's usual progression, or one scan per AC
// coefficient and bit (127 scans per component).
enum class Scans { Baseline, Progressive, EveryBit };

// A JPEG from libjpeg's compressor: RGB (3 components) or grayscale (1).
inline std::string Jpeg(int w, int h, int components = 3, Scans scans = Scans::Baseline)
{
    jpeg_compress_struct cinfo;
    jpeg_error_mgr jerr;
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_compress(&cinfo);
    unsigned char* out = nullptr;
    unsigned long outSize = 0;
    jpeg_mem_dest(&cinfo, &out, &outSize);
    cinfo.image_width = JDIMENSION(w);
    cinfo.image_height = JDIMENSION(h);
    cinfo.input_components = components;
    cinfo.in_color_space = components == 3 ? JCS_RGB : JCS_GRAYSCALE;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 95, TRUE);
    if (scans == Scans::Progressive)
        jpeg_simple_progression(&cinfo);
    std::vector<jpeg_scan_info> script;
    for (int c = 0; scans == Scans::EveryBit && c < components; ++c) {
        script.push_back({1, {c}, 0, 0, 0, 0});
        for (int k = 1; k < 64; ++k) {
            script.push_back({1, {c}, k, k, 0, 1});
            script.push_back({1, {c}, k, k, 1, 0});
        }
    }
    if (!script.empty()) {
        cinfo.scan_info = script.data();
        cinfo.num_scans = int(script.size());
    }
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<unsigned char> row(size_t(w * components));
    while (cinfo.next_scanline < cinfo.image_height) {
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < components; ++c)
                row[size_t(x * components + c)] = (c == 0) ? 200 : (c == 1 ? 30 : 90);
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&cinfo, &r, 1);
    }
    jpeg_finish_compress(&cinfo);
    std::string result(reinterpret_cast<const char*>(out), outSize);
    jpeg_destroy_compress(&cinfo);
    std::free(out);
    return result;
}

} // namespace testimg
