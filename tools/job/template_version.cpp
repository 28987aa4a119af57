#include "job/template_version.h"

#include <cstdint>

#include "framework/byteorder.h"

namespace job {
namespace {

// The block's key in UTF-16LE, with its terminating zero; the block's header (length, value
// length, type) comes before it, the fixed part after it on a 4-byte boundary.
const std::string Key = [] {
    std::string k;
    for (const char c : std::string("VS_VERSION_INFO") + '\0')
        k += {c, '\0'};
    return k;
}();
constexpr uint32_t FixedSignature = 0xFEEF04BD;

} // namespace

std::string TemplateVersion(const std::string& fileBytes)
{
    const auto* bytes = reinterpret_cast<const uint8_t*>(fileBytes.data());
    for (size_t at = fileBytes.find(Key); at != std::string::npos; at = fileBytes.find(Key, at + 1)) {
        if (at < 6)
            continue;
        const size_t fixed = (at + Key.size() - (at - 6) + 3) / 4 * 4 + (at - 6);
        if (fixed + 16 > fileBytes.size() || LoadLE32(bytes + fixed) != FixedSignature)
            continue;
        const uint32_t ms = LoadLE32(bytes + fixed + 8), ls = LoadLE32(bytes + fixed + 12);
        return std::to_string(ms >> 16) + "." + std::to_string(ms & 0xFFFF) + "." + std::to_string(ls >> 16) + "." +
            std::to_string(ls & 0xFFFF);
    }
    return std::string();
}

} // namespace job
