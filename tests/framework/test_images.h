#pragma once
// Small valid image files made on the fly for graphic tests.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <QBuffer>
#include <QImage>

#include <jpeglib.h>

namespace testimg {

inline QImage Pattern(int w, int h)
{
    QImage img(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img.setPixel(x, y, qRgb(x * 255 / std::max(1, w - 1), y * 255 / std::max(1, h - 1), 0x40));
    return img;
}

inline std::string Encode(const QImage& img, const char* format)
{
    QByteArray bytes;
    QBuffer buf(&bytes);
    buf.open(QIODevice::WriteOnly);
    if (!img.save(&buf, format))
        std::abort();
    return bytes.toStdString();
}

inline std::string Bmp(int w, int h)
{
    return Encode(Pattern(w, h), "BMP");
}

// An icon file holding one image per size, written by Qt's icon writer.
inline std::string Ico(const std::vector<int>& sizes)
{
    // Qt writes single-image icon files; join their directory entries and bodies.
    std::vector<std::string> singles;
    for (int s : sizes)
        singles.push_back(Encode(Pattern(s, s).convertToFormat(QImage::Format_ARGB32), "ICO"));
    std::string out(6, '\0');
    out[2] = 1;
    out[4] = char(sizes.size());
    std::string dir, data;
    size_t offset = 6 + 16 * sizes.size();
    for (const std::string& one : singles) {
        std::string entry = one.substr(6, 16);
        const std::string body = one.substr(6 + 16);
        const uint32_t off = uint32_t(offset + data.size());
        for (int i = 0; i < 4; ++i)
            entry[12 + i] = char(off >> (8 * i));
        dir += entry;
        data += body;
    }
    return out + dir + data;
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
