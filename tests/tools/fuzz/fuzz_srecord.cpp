// Any text into the S-record reader: an image or an ImageError, never a crash.
#include <cstddef>
#include <cstdint>
#include <string>

#include "job/image_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    try {
        const auto image = job::ReadSRecords(std::string(reinterpret_cast<const char*>(data), size), {0x1000, 0x50000});
        if (image.size() % job::ProgramBlock != 0 || image.size() > size_t(job::MaxImageSize))
            __builtin_trap();
    } catch (const job::ImageError&) {
    }
    return 0;
}
