#include "job/job_diff.h"

#include <algorithm>
#include <cstdio>
#include <nlohmann/json.hpp>

namespace job {
namespace {

using nlohmann::ordered_json;

void Flatten(const ordered_json& value, const std::string& prefix, ordered_json& into)
{
    if (!value.is_object()) {
        into[prefix] = value;
        return;
    }
    for (const auto& [key, inner] : value.items())
        Flatten(inner, prefix.empty() ? key : prefix + "." + key, into);
}

std::string Text(const ordered_json& value)
{
    return value.is_null() ? "(none)" : value.dump(-1, ' ', false, ordered_json::error_handler_t::replace);
}

std::string ImageLine(const ordered_json& a, const ordered_json& b, std::span<const uint8_t> imageA,
                      std::span<const uint8_t> imageB)
{
    const auto mismatch = std::mismatch(imageA.begin(), imageA.end(), imageB.begin(), imageB.end());
    const size_t offset = size_t(mismatch.first - imageA.begin());
    char where[64];
    std::snprintf(where, sizeof where, "first difference at offset 0x%zX", offset);
    return "image: sha256 " + a.get<std::string>() + " -> " + b.get<std::string>() + ", " + where;
}

} // namespace

std::vector<std::string> DiffJobs(const std::string& describedA, const std::string& describedB,
                                  std::span<const uint8_t> imageA, std::span<const uint8_t> imageB)
{
    ordered_json a, b;
    Flatten(ordered_json::parse(describedA), "", a);
    Flatten(ordered_json::parse(describedB), "", b);
    std::vector<std::string> lines;
    for (const auto& [key, value] : a.items()) {
        const ordered_json other = b.contains(key) ? b[key] : ordered_json();
        if (value == other)
            continue;
        if (key == "image_sha256")
            lines.push_back(ImageLine(value, other, imageA, imageB));
        else
            lines.push_back(key + ": " + Text(value) + " -> " + Text(other));
    }
    for (const auto& [key, value] : b.items())
        if (!a.contains(key))
            lines.push_back(key + ": (none) -> " + Text(value));
    return lines;
}

} // namespace job
