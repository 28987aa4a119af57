// JPEG pictures, decoded with libjpeg-turbo (the same library on every platform).
#include "framework/graphics.h"

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include <jpeglib.h>
#include <jerror.h>

#include "framework/graphics_input.h"

// Four-byte output pixels straight from the decoder.
#ifndef JCS_ALPHA_EXTENSIONS
#error "libjpeg-turbo's extended colour spaces are needed"
#endif

namespace {

// Each scan of a progressive JPEG is a pass over the whole image's coefficients, so a small
// file of many scans over a large image keeps the decoder busy for seconds. Encoders write
// a few dozen at most.
constexpr int MaxJpegScans = 100;

} // namespace

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

// Decodes into rows of width * 4 bytes at dest, stride apart.
bool JpegDecode(JpegJob* job, unsigned char* dest, size_t stride)
{
    if (setjmp(job->err.jump))
        return false;
    jpeg_start_decompress(&job->cinfo);
    if (job->cinfo.output_components != 4 || job->cinfo.output_width != job->cinfo.image_width ||
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
    FImage = TRgbaImage();
    std::vector<uint8_t> bytes = ReadGraphicBytes(stream, FormatName());

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
    if (!SizeAcceptable(width, height))
        fail("unsupported or oversized dimensions (" + std::to_string(width) + " x " + std::to_string(height) + ")");
    if (int64_t(width) * height > MaxPicturePixels)
        fail(PictureTooLarge(width, height));

    // Adobe CMYK JPEGs come out as ink values; everything else as opaque RGBA.
    const bool cmyk = job.cinfo.jpeg_color_space == JCS_CMYK || job.cinfo.jpeg_color_space == JCS_YCCK;
    job.cinfo.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_RGBA;
    TRgbaImage image;
    try {
        image = TRgbaImage(width, height);
    } catch (const std::bad_alloc&) {
        fail("out of memory");
    }
    if (!JpegDecode(&job, image.Pixels.data(), size_t(width) * 4))
        fail(job.err.message);
    jpeg_destroy_decompress(&job.cinfo);

    if (cmyk) {
        // Adobe stores inverted inks: R = C*K/255 on the stored bytes.
        for (size_t i = 0; i < image.Pixels.size(); i += 4) {
            uint8_t* p = &image.Pixels[i];
            const int k = p[3];
            p[0] = uint8_t(p[0] * k / 255);
            p[1] = uint8_t(p[1] * k / 255);
            p[2] = uint8_t(p[2] * k / 255);
            p[3] = 255;
        }
    }
    FImage = std::move(image);
}
