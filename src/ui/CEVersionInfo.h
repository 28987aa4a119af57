#pragma once
// Reads the version information of an executable file into plain text properties.
#include <array>
#include <string>

#include "framework/component.h"

inline constexpr const char* VersionInfoNotAvailable = "<info not available>";

// The string keys read, in the order of the first ten properties below.
inline constexpr std::array<const char*, 10> VersionKeys = {
    "CompanyName",     "FileDescription",  "FileVersion", "InternalName",   "LegalCopyright",
    "LegalTradeMarks", "OriginalFilename", "ProductName", "ProductVersion", "Comments"};

class TCEVersionInfo : public TComponent {
public:
    // Reads the running program's own version information.
    explicit TCEVersionInfo(TComponent* owner = nullptr);
    // Leaves every property empty; for callers that read another file.
    struct NoRead { };
    TCEVersionInfo(NoRead, TComponent* owner = nullptr) : TComponent(owner) { }

    // Fills the fourteen properties from fileName's version information; a file without
    // any gives "<info not available>" in all of them.
    void ReadVersionInfo(const std::string& fileName);

    // Splits a file version ("2.0.1.0", "2,0,1,0") into its four parts.
    void SplitFileVersion();

    std::string CompanyName, FileDescription, FileVersion, Internalname, LegalCopyright, LegalTradeMarks,
        OriginalFilename, ProductName, ProductVersion, Comments;
    std::string MajorVersion, MinorVersion, Release, Build;

private:
    std::string* KeyField(size_t index);
    void SetAllNotAvailable();
};

// The running program's full path.
std::string ApplicationExeName();
