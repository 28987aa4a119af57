#include "framework/forms/qt/image_qt.h"

namespace {

bool Opaque(const TRgbaImage& image)
{
    for (size_t i = 3; i < image.Pixels.size(); i += 4)
        if (image.Pixels[i] != 255)
            return false;
    return true;
}

} // namespace

QImage ToQImage(const TRgbaImage& image)
{
    if (image.Null())
        return QImage();
    QImage out(image.Width, image.Height, Opaque(image) ? QImage::Format_RGB32 : QImage::Format_ARGB32);
    if (out.isNull())
        return out;
    for (int y = 0; y < image.Height; ++y) {
        const uint8_t* src = image.Row(y);
        auto* dst = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < image.Width; ++x, src += 4)
            dst[x] = qRgba(src[0], src[1], src[2], src[3]);
    }
    return out;
}
