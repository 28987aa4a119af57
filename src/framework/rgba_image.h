#pragma once
// A decoded picture in memory, free of any toolkit: rows from top to bottom, four bytes a
// pixel (red, green, blue, alpha; alpha not premultiplied). Backends turn it into their own
// image type (a QImage, a DIB section).
#include <cstddef>
#include <cstdint>
#include <vector>

struct TRgbaImage {
    int Width = 0;
    int Height = 0;
    std::vector<uint8_t> Pixels;  // Width * Height * 4 bytes

    TRgbaImage() = default;
    TRgbaImage(int width, int height)
        : Width(width), Height(height), Pixels(static_cast<size_t>(width) * height * 4) {}

    bool Null() const { return Width <= 0 || Height <= 0; }
    uint8_t* Row(int y) { return Pixels.data() + static_cast<size_t>(y) * Width * 4; }
    const uint8_t* Row(int y) const { return Pixels.data() + static_cast<size_t>(y) * Width * 4; }
};
