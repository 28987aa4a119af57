#pragma once
// Content checks for the icon and the picture carried in a job. A file is judged by its
// bytes, never by its name. Each check raises AssetError naming what is wrong.
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace job {

class AssetError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

constexpr int32_t MaxIconSize = 5120;
constexpr int32_t MaxPictureSize = 131072;

// A Windows icon (ICO): header, directory and every image inside the file.
void CheckIcon(const std::vector<uint8_t>& bytes);
// The picture type of the stored record: 0 for a Windows bitmap, 1 for a JPEG.
uint8_t PictureTypeOf(const std::vector<uint8_t>& bytes);

// Length of the file at the start of a zero-padded region, from its own format
// (0 when the region does not start with such a file).
size_t IconFileSize(const uint8_t* region, size_t regionSize);
size_t PictureFileSize(uint8_t type, const uint8_t* region, size_t regionSize);

} // namespace job
