#pragma once
// Firmware image readers. Each turns a file's text or bytes into the image as it is
// programmed from flash_start on: record addresses are absolute flash addresses, gaps are
// erased flash (0xFF), and the result is padded with 0xFF to whole 128-byte blocks.
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace job {

// A reader's complaint; the message names the line where there is one.
class ImageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

constexpr int32_t MaxImageSize = 262144; // the image region of the stored record
constexpr int32_t ProgramBlock = 128;

struct ImageRegion {
    int64_t flashStart = 0;
    int64_t flashLength = 0;
};

enum class ImageFormat { Raw, SRecord, IntelHex };

// By file name extension: .mot .s19 .s28 .s37 .srec are S-records, .hex .ihex Intel HEX,
// anything else raw binary (case-insensitive).
ImageFormat FormatOf(const std::string& path);

std::vector<uint8_t> ReadSRecords(const std::string& text, const ImageRegion& region);
std::vector<uint8_t> ReadIntelHex(const std::string& text, const ImageRegion& region);

// A raw image is taken as it is; only its size is checked.
std::vector<uint8_t> CheckRawImage(std::vector<uint8_t> bytes, const ImageRegion& region);

} // namespace job
