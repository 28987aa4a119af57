#include "framework/graphics.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <string>

#include <QBuffer>
#include <QByteArray>
#include <QImageReader>

#include <jpeglib.h>
#include <jerror.h>

#include "framework/exceptions.h"
#include "framework/streams.h"

namespace {

// Bounds on what a decoder may allocate for one image.
constexpr int MaxDimension = 16384;
constexpr int64_t MaxPixels = 32LL * 1024 * 1024;
constexpr int64_t MaxFileBytes = 64LL * 1024 * 1024;
constexpr int AllocationLimitMB = 256;
// Each scan of a progressive JPEG is a pass over the whole image's coefficients, so a small
// file of many scans over a large image keeps the decoder busy for seconds. Encoders write
// a few dozen at most.
constexpr int MaxJpegScans = 100;

uint32_t LE16(const uint8_t* p)
{
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8);
}
uint32_t LE32(const uint8_t* p)
{
    return LE16(p) | (LE16(p + 2) << 16);
}

// The bytes from the stream's position to its end, leaving the position after them.
std::vector<uint8_t> ReadRest(TStream& stream, const char* format)
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

bool SizeAcceptable(const QSize& s)
{
    return s.isValid() && s.width() <= MaxDimension && s.height() <= MaxDimension &&
        int64_t(s.width()) * s.height() <= MaxPixels;
}

} // namespace

std::string PictureTooLarge(int64_t width, int64_t height)
{
    static_assert(MaxPicturePixels == 16777216, "the text below names the limit");
    return std::to_string(width) + " x " + std::to_string(height) +
        " pixels, more than the 16,777,216 (4096 x 4096) a picture may have";
}

void TGraphic::Fail(const std::string& reason)
{
    FImage = QImage();
    throw EInvalidGraphic(std::string(FormatName()) + " image is not valid: " + reason);
}

// ---- Bitmap -------------------------------------------------------------------------

void TBitmap::LoadFromStream(TStream& stream)
{
    FImage = QImage();
    const int64_t start = stream.Position();
    std::vector<uint8_t> bytes = ReadRest(stream, FormatName());
    constexpr size_t FileHeader = 14, SmallestInfoHeader = 12;
    if (bytes.size() < FileHeader + SmallestInfoHeader || bytes[0] != 'B' || bytes[1] != 'M')
        Fail("no bitmap file header");
    // The file header says how long the file is; the zero padding after it is not ours.
    size_t length = LE32(&bytes[2]);
    if (length == 0)
        length = bytes.size();
    if (length < FileHeader + SmallestInfoHeader)
        Fail("file size in header too small");
    if (length > bytes.size())
        Fail("file is truncated (header declares " + std::to_string(length) + " bytes, " +
             std::to_string(bytes.size()) + " present)");
    if (LE32(&bytes[10]) >= length)
        Fail("pixel data lies outside the file");

    QByteArray data(reinterpret_cast<const char*>(bytes.data()), qsizetype(length));
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "bmp");
    reader.setAllocationLimit(AllocationLimitMB);
    const QSize size = reader.size(); // the header's, before anything is decoded
    if (!SizeAcceptable(size))
        Fail("unsupported or oversized dimensions");
    if (int64_t(size.width()) * size.height() > MaxPicturePixels)
        Fail(PictureTooLarge(size.width(), size.height()));
    QImage image;
    if (!reader.read(&image) || image.isNull())
        Fail(reader.errorString().toStdString());
    FImage = image;
    stream.SetPosition(start + int64_t(length));
}

// ---- Icon ---------------------------------------------------------------------------

void TIcon::LoadFromStream(TStream& stream)
{
    FImage = QImage();
    FImages.clear();
    const int64_t start = stream.Position();
    std::vector<uint8_t> bytes = ReadRest(stream, FormatName());
    constexpr size_t Header = 6, Entry = 16;
    if (bytes.size() < Header || LE16(&bytes[0]) != 0 || LE16(&bytes[2]) != 1)
        Fail("no icon file header");
    const size_t count = LE16(&bytes[4]);
    if (count == 0)
        Fail("icon directory is empty");
    const size_t directoryEnd = Header + count * Entry;
    if (directoryEnd > bytes.size())
        Fail("icon directory is truncated");
    // The directory says where each image lies; the file ends after the last of them.
    size_t length = directoryEnd;
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* e = &bytes[Header + i * Entry];
        const uint64_t size = LE32(e + 8), offset = LE32(e + 12);
        if (size == 0 || offset < directoryEnd || offset + size > bytes.size())
            Fail("image " + std::to_string(i + 1) + " lies outside the file");
        length = std::max<size_t>(length, size_t(offset + size));
    }

    QByteArray data(reinterpret_cast<const char*>(bytes.data()), qsizetype(length));
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "ico");
    reader.setAllocationLimit(AllocationLimitMB);
    if (!reader.canRead())
        Fail("icon format not readable (" + reader.errorString().toStdString() + ")");
    std::vector<QImage> images;
    for (size_t i = 0; i < count; ++i) {
        if (i > 0 && !reader.jumpToNextImage())
            break;
        QImage image;
        if (!reader.read(&image) || image.isNull())
            Fail("image " + std::to_string(i + 1) + ": " + reader.errorString().toStdString());
        if (!SizeAcceptable(image.size()))
            Fail("unsupported or oversized dimensions");
        images.push_back(image);
    }
    if (images.empty())
        Fail("no readable image");
    FImages = std::move(images);
    FImage = *std::max_element(FImages.begin(), FImages.end(), [](const QImage& a, const QImage& b) {
        return int64_t(a.width()) * a.height() < int64_t(b.width()) * b.height();
    });
    stream.SetPosition(start + int64_t(length));
}

// ---- JPEG ---------------------------------------------------------------------------
// libjpeg reports errors through error_exit, which must not return. It longjmps back to
// the setjmp in one of the two C-style helpers below, whose frames hold no objects with
// destructors; the C++ caller then cleans up and throws. libjpeg reports damaged data
// only as warnings (a truncated file decodes with a made-up end), so warnings are sorted
// in JpegEmitMessage.

namespace {

struct JpegErrorManager {
    jpeg_error_mgr pub;
    jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

struct JpegJob {
    jpeg_decompress_struct cinfo;
    JpegErrorManager err;
    jpeg_progress_mgr progress;
    bool created;
};

extern "C" void JpegErrorExit(j_common_ptr cinfo)
{
    auto* err = reinterpret_cast<JpegErrorManager*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->message);
    longjmp(err->jump, 1);
}

// Warnings after which every pixel still comes from the file, as image viewers treat them:
// JWRN_EXTRANEOUS_DATA (bytes between segments, skipped up to the next marker),
// JWRN_JFIF_MAJOR (unknown JFIF revision) and JWRN_ADOBE_XFORM (unknown Adobe transform
// code; the colour space is taken from the components).
bool JpegWarningRecoverable(int code)
{
    return code == JWRN_EXTRANEOUS_DATA || code == JWRN_JFIF_MAJOR || code == JWRN_ADOBE_XFORM;
}

// Every other warning fails the load rather than show a partly made-up image: truncation
// (JWRN_JPEG_EOF, JWRN_HIT_MARKER) and corrupt data (JWRN_HUFF_BAD_CODE,
// JWRN_ARITH_BAD_CODE, JWRN_MUST_RESYNC, JWRN_BOGUS_PROGRESSION, JWRN_NOT_SEQUENTIAL).
extern "C" void JpegEmitMessage(j_common_ptr cinfo, int level)
{
    if (level < 0 && !JpegWarningRecoverable(cinfo->err->msg_code))
        JpegErrorExit(cinfo);
}

extern "C" void JpegOutputMessage(j_common_ptr) { }

extern "C" void JpegProgress(j_common_ptr cinfo)
{
    if (reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number > MaxJpegScans) {
        auto* err = reinterpret_cast<JpegErrorManager*>(cinfo->err);
        std::snprintf(err->message, sizeof err->message, "more than %d scans", MaxJpegScans);
        longjmp(err->jump, 1);
    }
}

bool JpegReadHeader(JpegJob* job, const unsigned char* data, unsigned long size)
{
    job->cinfo.err = jpeg_std_error(&job->err.pub);
    job->err.pub.error_exit = JpegErrorExit;
    job->err.pub.emit_message = JpegEmitMessage;
    job->err.pub.output_message = JpegOutputMessage;
    if (setjmp(job->err.jump))
        return false;
    jpeg_create_decompress(&job->cinfo);
    job->created = true;
    job->progress.progress_monitor = JpegProgress;
    job->cinfo.progress = &job->progress;
    jpeg_mem_src(&job->cinfo, data, size);
    jpeg_read_header(&job->cinfo, TRUE);
    return true;
}

// Decodes into rows of width * components bytes at dest, stride apart.
bool JpegDecode(JpegJob* job, unsigned char* dest, size_t stride, int components)
{
    if (setjmp(job->err.jump))
        return false;
    jpeg_start_decompress(&job->cinfo);
    if (job->cinfo.output_components != components || job->cinfo.output_width != job->cinfo.image_width ||
        job->cinfo.output_height != job->cinfo.image_height) {
        std::snprintf(job->err.message, sizeof job->err.message, "unexpected output format");
        return false;
    }
    while (job->cinfo.output_scanline < job->cinfo.output_height) {
        JSAMPROW row = dest + size_t(job->cinfo.output_scanline) * stride;
        jpeg_read_scanlines(&job->cinfo, &row, 1);
    }
    jpeg_finish_decompress(&job->cinfo);
    return true;
}

} // namespace

void TJPEGImage::LoadFromStream(TStream& stream)
{
    FImage = QImage();
    std::vector<uint8_t> bytes = ReadRest(stream, FormatName());

    JpegJob job;
    std::memset(&job, 0, sizeof job);
    auto fail = [&](const std::string& reason) {
        if (job.created)
            jpeg_destroy_decompress(&job.cinfo);
        Fail(reason);
    };
    if (!JpegReadHeader(&job, bytes.data(), static_cast<unsigned long>(bytes.size())))
        fail(job.err.message);

    const int width = int(job.cinfo.image_width), height = int(job.cinfo.image_height);
    if (!SizeAcceptable(QSize(width, height)))
        fail("unsupported or oversized dimensions (" + std::to_string(width) + " x " + std::to_string(height) + ")");
    if (int64_t(width) * height > MaxPicturePixels)
        fail(PictureTooLarge(width, height));

    QImage image;
    int components = 3;
    switch (job.cinfo.jpeg_color_space) {
    case JCS_GRAYSCALE:
        job.cinfo.out_color_space = JCS_GRAYSCALE;
        image = QImage(width, height, QImage::Format_Grayscale8);
        components = 1;
        break;
    case JCS_CMYK:
    case JCS_YCCK:
        job.cinfo.out_color_space = JCS_CMYK;
        image = QImage(width, height, QImage::Format_RGBA8888);
        components = 4;
        break;
    default:
        job.cinfo.out_color_space = JCS_RGB;
        image = QImage(width, height, QImage::Format_RGB888);
        break;
    }
    if (image.isNull())
        fail("out of memory");
    if (!JpegDecode(&job, image.bits(), size_t(image.bytesPerLine()), components))
        fail(job.err.message);
    jpeg_destroy_decompress(&job.cinfo);

    if (components == 4) {
        // Adobe CMYK JPEGs store inverted ink values: R = C*K/255 on the stored bytes.
        for (int y = 0; y < height; ++y) {
            uchar* p = image.scanLine(y);
            for (int x = 0; x < width; ++x, p += 4) {
                const int k = p[3];
                p[0] = uchar(p[0] * k / 255);
                p[1] = uchar(p[1] * k / 255);
                p[2] = uchar(p[2] * k / 255);
                p[3] = 255;
            }
        }
        image = image.convertToFormat(QImage::Format_RGB888);
    }
    FImage = image;
}

// ---- Picture ------------------------------------------------------------------------

TPicture& TPicture::operator=(const TPicture& other)
{
    if (this != &other)
        FGraphic = other.FGraphic ? other.FGraphic->Clone() : nullptr;
    return *this;
}
