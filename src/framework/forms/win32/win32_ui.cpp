#include "framework/forms/win32/win32_ui.h"

#include <map>
#include <utility>

#include "framework/rgba_image.h"

int ScreenDpi()
{
    static const int dpi = [] {
        HDC screen = ::GetDC(nullptr);
        const int value = ::GetDeviceCaps(screen, LOGPIXELSY);
        ::ReleaseDC(nullptr, screen);
        return value > 0 ? value : 96;
    }();
    return dpi;
}

int Scale(int value)
{
    return ::MulDiv(value, ScreenDpi(), 96);
}

int Unscale(int value)
{
    return ::MulDiv(value, 96, ScreenDpi());
}

HFONT FontFor(const TFontDesc& desc)
{
    static std::map<std::pair<int, bool>, HFONT> fonts;
    HFONT& font = fonts[{desc.Height, desc.Bold}];
    if (font)
        return font;
    NONCLIENTMETRICSA metrics{};
    metrics.cbSize = sizeof metrics;
    ::SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
    LOGFONTA face = metrics.lfMessageFont;
    // The message font is the described default; other sizes keep its face.
    if (desc.Height != TFontDesc{}.Height)
        face.lfHeight = -Scale(desc.Height);
    if (desc.Bold)
        face.lfWeight = FW_BOLD;
    font = ::CreateFontIndirectA(&face);
    return font;
}

std::string WindowText(HWND window)
{
    const int length = ::GetWindowTextLengthA(window);
    std::string text(size_t(length) + 1, '\0');
    text.resize(size_t(::GetWindowTextA(window, text.data(), length + 1)));
    return text;
}

std::string WithCrLf(const std::string& text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r' || c == '\n') {
            out += "\r\n";
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
        } else {
            out += c;
        }
    }
    return out;
}

namespace {

// A top-down 32-bit DIB section of the picture's size; bits: its pixels (BGRA).
HBITMAP NewDib(int width, int height, uint8_t*& bits)
{
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* pixels = nullptr;
    HBITMAP bitmap = ::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &pixels, nullptr, 0);
    bits = static_cast<uint8_t*>(pixels);
    return bitmap;
}

HBITMAP DibFrom(const TRgbaImage& image, bool premultiply)
{
    if (image.Null())
        return nullptr;
    uint8_t* bits = nullptr;
    HBITMAP bitmap = NewDib(image.Width, image.Height, bits);
    if (!bitmap)
        return nullptr;
    const size_t count = size_t(image.Width) * image.Height;
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* p = &image.Pixels[i * 4];
        const unsigned a = p[3];
        auto channel = [&](uint8_t v) { return premultiply ? uint8_t((v * a + 127) / 255) : v; };
        bits[i * 4 + 0] = channel(p[2]);
        bits[i * 4 + 1] = channel(p[1]);
        bits[i * 4 + 2] = channel(p[0]);
        bits[i * 4 + 3] = uint8_t(a);
    }
    return bitmap;
}

} // namespace

HBITMAP BitmapFromRgba(const TRgbaImage& image)
{
    return DibFrom(image, true);
}

HICON IconFromRgba(const TRgbaImage& image)
{
    HBITMAP color = DibFrom(image, false);
    if (!color)
        return nullptr;
    HBITMAP mask = ::CreateBitmap(image.Width, image.Height, 1, 1, nullptr);
    ICONINFO info{TRUE, 0, 0, mask, color};
    HICON icon = ::CreateIconIndirect(&info);
    ::DeleteObject(mask);
    ::DeleteObject(color);
    return icon;
}

HICON ApplicationIconHandle(int size)
{
    return HICON(::LoadImageA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(1), IMAGE_ICON, size, size, LR_SHARED));
}
