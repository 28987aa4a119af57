#pragma once
// The executable's version information, laid out like the Windows version resource
// (VS_VERSIONINFO: fixed part, one string table, one translation entry), and the
// look-up functions the About window reads it with. The build puts the block into the
// ELF section below of every program that links the UI library.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

inline constexpr const char* VersionSectionName = ".moravent_version";

struct TVersionBlockSpec {
    uint16_t FileVersion[4] = {0, 0, 0, 0}; // fixed part: major, minor, release, build
    uint16_t ProductVersion[4] = {0, 0, 0, 0};
    uint16_t Language = 0x0409;
    uint16_t CodePage = 0x04E4;
    std::vector<std::pair<std::string, std::string>> Strings; // key, value (single-byte text)
    bool WithTranslation = true;
};

// Builds the block; texts are stored as UTF-16 (each byte one code unit).
std::vector<uint8_t> BuildVersionBlock(const TVersionBlockSpec& info);

// Stand-ins for the version API. The size is 0 when the file cannot be read, is not an
// ELF file or carries no version section.
uint32_t GetFileVersionInfoSize(const std::string& fileName);
bool GetFileVersionInfo(const std::string& fileName, uint32_t size, void* data);

// Looks up a path in a block of the given size: "\" gives the fixed part,
// "\VarFileInfo\Translation" the translation entries, "\StringFileInfo\LLLLCCCC\Key" a
// string value. Empty path components (doubled separators) are skipped and keys compare
// case-insensitively. value points into the block; length is in bytes for binary values
// and in characters (terminating zero included) for text.
bool VerQueryValue(const void* block, uint32_t blockSize, const std::string& subBlock, const void** value,
                   uint32_t* length);

// The same for a text value, converted to single-byte characters (code units above 255
// become '?').
bool VerQueryString(const void* block, uint32_t blockSize, const std::string& subBlock, std::string& text);

// Reads one named section of an ELF file (32 or 64 bit, little-endian). False when the
// file cannot be read, is malformed or lacks the section.
bool ReadElfSection(const std::string& fileName, const std::string& sectionName, std::vector<uint8_t>& contents);
