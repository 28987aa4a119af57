#include "ui/CEVersionInfo.h"

#include <cstdio>
#include <vector>

#include "framework/file_input.h"
#include "framework/versionblock.h"

std::string ApplicationExeName()
{
    return OwnExecutablePath();
}

TCEVersionInfo::TCEVersionInfo(TComponent* owner) : TComponent(owner)
{
    ReadVersionInfo(ApplicationExeName());
}

std::string* TCEVersionInfo::KeyField(size_t index)
{
    std::string* fields[] = {&CompanyName,     &FileDescription,  &FileVersion, &Internalname,   &LegalCopyright,
                             &LegalTradeMarks, &OriginalFilename, &ProductName, &ProductVersion, &Comments};
    return fields[index];
}

void TCEVersionInfo::SetAllNotAvailable()
{
    for (size_t i = 0; i < VersionKeys.size(); ++i)
        *KeyField(i) = VersionInfoNotAvailable;
    MajorVersion = MinorVersion = Release = Build = VersionInfoNotAvailable;
}

void TCEVersionInfo::ReadVersionInfo(const std::string& fileName)
{
    uint32_t size = GetFileVersionInfoSize(fileName);
    if (size == 0) {
        SetAllNotAvailable();
        return;
    }
    std::vector<uint8_t> buffer(size, 0);
    const void* value = nullptr;
    uint32_t length = 0;
    if (!GetFileVersionInfo(fileName, size, buffer.data()) ||
        !VerQueryValue(buffer.data(), size, "\\\\VarFileInfo\\\\Translation", &value, &length) || length < 4) {
        // Unreadable, or no translation entry to find the string table by.
        SetAllNotAvailable();
        return;
    }
    const auto* t = static_cast<const uint8_t*>(value);
    unsigned language = t[0] | (t[1] << 8);
    unsigned codePage = t[2] | (t[3] << 8);
    char prefix[64];
    std::snprintf(prefix, sizeof prefix, "\\\\StringFileInfo\\\\%.4X%.4X\\\\", language, codePage);
    for (size_t i = 0; i < VersionKeys.size(); ++i) {
        std::string text;
        if (!VerQueryString(buffer.data(), size, prefix + std::string(VersionKeys[i]), text))
            text.clear(); // a key the table lacks reads empty
        *KeyField(i) = text;
    }
    SplitFileVersion();
}

void TCEVersionInfo::SplitFileVersion()
{
    const std::string& v = FileVersion;
    if (v.empty() || (v.find('.') == std::string::npos && v.find(',') == std::string::npos)) {
        MajorVersion = MinorVersion = Release = Build = VersionInfoNotAvailable;
        return;
    }
    char sep = v.find('.') != std::string::npos ? '.' : ',';
    // Takes the text before the next separator; without one, the part is empty and the
    // whole remainder carries on.
    auto take = [sep](std::string& rest) {
        size_t p = rest.find(sep);
        if (p == std::string::npos)
            return std::string();
        std::string part = rest.substr(0, p);
        rest.erase(0, p + 1);
        return part;
    };
    std::string rest = v;
    MajorVersion = take(rest);
    MinorVersion = take(rest);
    Release = take(rest);
    Build = rest;
}
