// The version look-ups on Windows: the system's own functions over the executable's
// VERSIONINFO resource.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
// Our own functions carry the names the system's headers make into macros.
#undef GetFileVersionInfoSize
#undef GetFileVersionInfo
#undef VerQueryValue

#include <cstring>

#include "framework/versionblock.h"

namespace {

// The system's look-up wants single separators.
std::string SingleSeparators(const std::string& path)
{
    std::string out;
    for (char c : path)
        if (c != '\\' || out.empty() || out.back() != '\\')
            out += c;
    return out;
}

} // namespace

uint32_t GetFileVersionInfoSize(const std::string& fileName)
{
    DWORD handle = 0;
    return ::GetFileVersionInfoSizeA(fileName.c_str(), &handle);
}

bool GetFileVersionInfo(const std::string& fileName, uint32_t size, void* data)
{
    return data && ::GetFileVersionInfoA(fileName.c_str(), 0, size, data);
}

bool VerQueryValue(const void* block, uint32_t /*blockSize*/, const std::string& subBlock, const void** value,
                   uint32_t* length)
{
    void* found = nullptr;
    UINT size = 0;
    if (!::VerQueryValueA(block, SingleSeparators(subBlock).c_str(), &found, &size))
        return false;
    *value = found;
    *length = size;
    return true;
}

bool VerQueryString(const void* block, uint32_t blockSize, const std::string& subBlock, std::string& text)
{
    const void* value = nullptr;
    uint32_t length = 0;
    if (!VerQueryValue(block, blockSize, subBlock, &value, &length))
        return false;
    const char* s = static_cast<const char*>(value);
    text.assign(s, length ? ::strnlen(s, length) : 0);
    return true;
}
