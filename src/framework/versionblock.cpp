#include "framework/versionblock.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>

namespace {

// ---- building ----

struct TNode {
    std::string Key;
    uint16_t Type = 1;          // 1 = text value, 0 = binary value
    std::vector<uint8_t> Value; // raw bytes of the value
    uint16_t ValueLength = 0;   // as stored: characters for text, bytes for binary
    std::vector<TNode> Children;
};

void Put16(std::vector<uint8_t>& out, uint16_t v)
{
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

void Put32(std::vector<uint8_t>& out, uint32_t v)
{
    Put16(out, static_cast<uint16_t>(v));
    Put16(out, static_cast<uint16_t>(v >> 16));
}

void Align4(std::vector<uint8_t>& out)
{
    while (out.size() % 4 != 0)
        out.push_back(0);
}

std::vector<uint8_t> Utf16z(const std::string& text)
{
    std::vector<uint8_t> out;
    for (unsigned char c : text)
        Put16(out, c);
    Put16(out, 0);
    return out;
}

void Serialize(const TNode& node, std::vector<uint8_t>& out)
{
    Align4(out);
    size_t start = out.size();
    Put16(out, 0); // length, patched below
    Put16(out, node.ValueLength);
    Put16(out, node.Type);
    std::vector<uint8_t> key = Utf16z(node.Key);
    out.insert(out.end(), key.begin(), key.end());
    if (!node.Value.empty()) {
        Align4(out);
        out.insert(out.end(), node.Value.begin(), node.Value.end());
    }
    for (const TNode& child : node.Children)
        Serialize(child, out);
    size_t length = out.size() - start;
    out[start] = static_cast<uint8_t>(length);
    out[start + 1] = static_cast<uint8_t>(length >> 8);
}

std::string HexCode(uint16_t language, uint16_t codePage)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "%04X%04X", language, codePage);
    return buf;
}

// ---- reading ----

uint16_t Get16(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

struct TEntry {
    size_t End = 0;
    uint16_t ValueLength = 0;
    uint16_t Type = 0;
    std::string Key;
    size_t ValueOffset = 0;
    size_t ChildrenOffset = 0;
};

size_t Aligned(size_t offset)
{
    return (offset + 3) & ~static_cast<size_t>(3);
}

bool ParseEntry(const uint8_t* block, size_t limit, size_t offset, TEntry& e)
{
    if (offset + 6 > limit)
        return false;
    size_t length = Get16(block + offset);
    if (length < 6 || offset + length > limit)
        return false;
    e.End = offset + length;
    e.ValueLength = Get16(block + offset + 2);
    e.Type = Get16(block + offset + 4);
    e.Key.clear();
    size_t p = offset + 6;
    for (;;) {
        if (p + 2 > e.End)
            return false; // key without terminator
        uint16_t c = Get16(block + p);
        p += 2;
        if (c == 0)
            break;
        e.Key.push_back(c < 256 ? static_cast<char>(c) : '?');
    }
    e.ValueOffset = std::min(Aligned(p), e.End);
    size_t valueBytes = e.Type == 1 ? size_t{e.ValueLength} * 2 : size_t{e.ValueLength};
    if (e.ValueOffset + valueBytes > e.End) {
        if (e.Type != 1)
            return false;
        // Some writers count text lengths loosely; keep what is really there.
        valueBytes = e.End - e.ValueOffset;
        e.ValueLength = static_cast<uint16_t>(valueBytes / 2);
    }
    e.ChildrenOffset = Aligned(e.ValueOffset + valueBytes);
    return true;
}

bool SameKey(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

uint32_t Get32(const uint8_t* p)
{
    return Get16(p) | (uint32_t{Get16(p + 2)} << 16);
}
uint64_t Get64(const uint8_t* p)
{
    return Get32(p) | (uint64_t{Get32(p + 4)} << 32);
}

bool ReadAt(std::ifstream& in, uint64_t fileSize, uint64_t offset, size_t count, uint8_t* out)
{
    if (offset > fileSize || count > fileSize - offset)
        return false;
    in.seekg(static_cast<std::streamoff>(offset));
    in.read(reinterpret_cast<char*>(out), static_cast<std::streamsize>(count));
    return static_cast<size_t>(in.gcount()) == count;
}

struct TSection {
    uint32_t Name = 0;
    uint32_t Type = 0;
    uint64_t Offset = 0;
    uint64_t Size = 0;
    uint32_t Link = 0;
};

constexpr uint32_t SHT_NOBITS_ = 8;
constexpr uint64_t MaxSectionCount = 1u << 20;
constexpr uint64_t MaxNameTable = 16u << 20;
constexpr uint64_t MaxVersionSection = 1u << 20;

} // namespace

std::vector<uint8_t> BuildVersionBlock(const TVersionBlockSpec& info)
{
    TNode root;
    root.Key = "VS_VERSION_INFO";
    root.Type = 0;
    std::vector<uint8_t>& fixed = root.Value;
    Put32(fixed, 0xFEEF04BD); // signature
    Put32(fixed, 0x00010000); // structure version 1.0
    Put32(fixed, (uint32_t{info.FileVersion[0]} << 16) | info.FileVersion[1]);
    Put32(fixed, (uint32_t{info.FileVersion[2]} << 16) | info.FileVersion[3]);
    Put32(fixed, (uint32_t{info.ProductVersion[0]} << 16) | info.ProductVersion[1]);
    Put32(fixed, (uint32_t{info.ProductVersion[2]} << 16) | info.ProductVersion[3]);
    Put32(fixed, 0x3F);       // flags mask
    Put32(fixed, 0);          // flags
    Put32(fixed, 0x00040004); // 32-bit Windows NT
    Put32(fixed, 1);          // application
    Put32(fixed, 0);          // subtype
    Put32(fixed, 0);          // date
    Put32(fixed, 0);
    root.ValueLength = static_cast<uint16_t>(fixed.size());

    TNode table;
    table.Key = HexCode(info.Language, info.CodePage);
    for (const auto& [key, value] : info.Strings) {
        TNode s;
        s.Key = key;
        s.Value = Utf16z(value);
        s.ValueLength = static_cast<uint16_t>(value.size() + 1);
        table.Children.push_back(std::move(s));
    }
    TNode stringInfo;
    stringInfo.Key = "StringFileInfo";
    stringInfo.Children.push_back(std::move(table));
    root.Children.push_back(std::move(stringInfo));

    if (info.WithTranslation) {
        TNode var;
        var.Key = "Translation";
        var.Type = 0;
        Put16(var.Value, info.Language);
        Put16(var.Value, info.CodePage);
        var.ValueLength = 4;
        TNode varInfo;
        varInfo.Key = "VarFileInfo";
        varInfo.Children.push_back(std::move(var));
        root.Children.push_back(std::move(varInfo));
    }

    std::vector<uint8_t> out;
    Serialize(root, out);
    return out;
}

bool VerQueryValue(const void* blockPtr, uint32_t blockSize, const std::string& subBlock, const void** value,
                   uint32_t* length)
{
    if (!blockPtr || !value || !length)
        return false;
    const auto* block = static_cast<const uint8_t*>(blockPtr);
    TEntry current;
    if (!ParseEntry(block, blockSize, 0, current) || !SameKey(current.Key, "VS_VERSION_INFO"))
        return false;

    size_t pos = 0;
    while (pos <= subBlock.size()) {
        size_t next = subBlock.find('\\', pos);
        if (next == std::string::npos)
            next = subBlock.size();
        std::string name = subBlock.substr(pos, next - pos);
        pos = next + 1;
        if (name.empty())
            continue; // leading, trailing or doubled separator
        bool found = false;
        for (size_t child = current.ChildrenOffset; child < current.End;) {
            TEntry e;
            if (!ParseEntry(block, current.End, child, e))
                return false;
            if (SameKey(e.Key, name)) {
                current = e;
                found = true;
                break;
            }
            child = Aligned(e.End);
        }
        if (!found)
            return false;
    }
    *value = block + current.ValueOffset;
    *length = current.ValueLength;
    return true;
}

bool VerQueryString(const void* block, uint32_t blockSize, const std::string& subBlock, std::string& text)
{
    const void* value = nullptr;
    uint32_t length = 0;
    if (!VerQueryValue(block, blockSize, subBlock, &value, &length))
        return false;
    text.clear();
    const auto* p = static_cast<const uint8_t*>(value);
    for (uint32_t i = 0; i < length; ++i) {
        uint16_t c = Get16(p + 2 * i);
        if (c == 0)
            break;
        text.push_back(c < 256 ? static_cast<char>(c) : '?');
    }
    return true;
}

bool ReadElfSection(const std::string& fileName, const std::string& sectionName, std::vector<uint8_t>& contents)
{
    std::ifstream in(fileName, std::ios::binary);
    if (!in)
        return false;
    in.seekg(0, std::ios::end);
    std::streamoff end = in.tellg();
    if (end <= 0)
        return false;
    uint64_t fileSize = static_cast<uint64_t>(end);

    uint8_t header[64] = {};
    if (!ReadAt(in, fileSize, 0, 52, header))
        return false;
    if (std::memcmp(header,
                    "\x7f"
                    "ELF",
                    4) != 0 ||
        header[5] != 1 /* little-endian */)
        return false;
    bool is64 = header[4] == 2;
    if (!is64 && header[4] != 1)
        return false;
    if (is64 && !ReadAt(in, fileSize, 0, 64, header))
        return false;

    uint64_t shoff = is64 ? Get64(header + 40) : Get32(header + 32);
    uint16_t shentsize = Get16(header + (is64 ? 58 : 46));
    uint64_t shnum = Get16(header + (is64 ? 60 : 48));
    uint32_t shstrndx = Get16(header + (is64 ? 62 : 50));
    size_t entrySize = is64 ? 64 : 40;
    if (shoff == 0 || shentsize < entrySize)
        return false;

    auto readSection = [&](uint64_t index, TSection& s) {
        uint8_t raw[64];
        if (index > (fileSize - std::min(fileSize, shoff)) / shentsize)
            return false;
        if (!ReadAt(in, fileSize, shoff + index * shentsize, entrySize, raw))
            return false;
        s.Name = Get32(raw);
        s.Type = Get32(raw + 4);
        s.Offset = is64 ? Get64(raw + 24) : Get32(raw + 16);
        s.Size = is64 ? Get64(raw + 32) : Get32(raw + 20);
        s.Link = Get32(raw + (is64 ? 40 : 24));
        return true;
    };

    // Very many sections keep their real count and name-table index in section 0.
    if (shnum == 0 || shstrndx == 0xFFFF) {
        TSection first;
        if (!readSection(0, first))
            return false;
        if (shnum == 0)
            shnum = first.Size;
        if (shstrndx == 0xFFFF)
            shstrndx = first.Link;
    }
    if (shnum == 0 || shnum > MaxSectionCount || shstrndx >= shnum)
        return false;

    TSection names;
    if (!readSection(shstrndx, names) || names.Type == SHT_NOBITS_ || names.Size > MaxNameTable)
        return false;
    std::vector<uint8_t> nameTable(static_cast<size_t>(names.Size));
    if (!ReadAt(in, fileSize, names.Offset, nameTable.size(), nameTable.data()))
        return false;

    for (uint64_t i = 1; i < shnum; ++i) {
        TSection s;
        if (!readSection(i, s))
            return false;
        if (s.Name >= nameTable.size())
            continue;
        const char* name = reinterpret_cast<const char*>(nameTable.data()) + s.Name;
        size_t maxLen = nameTable.size() - s.Name;
        if (strnlen(name, maxLen) != sectionName.size() ||
            std::memcmp(name, sectionName.data(), sectionName.size()) != 0)
            continue;
        if (s.Type == SHT_NOBITS_ || s.Size > MaxVersionSection)
            return false;
        contents.assign(static_cast<size_t>(s.Size), 0);
        return ReadAt(in, fileSize, s.Offset, contents.size(), contents.data());
    }
    return false;
}

uint32_t GetFileVersionInfoSize(const std::string& fileName)
{
    std::vector<uint8_t> section;
    if (!ReadElfSection(fileName, VersionSectionName, section) || section.size() < 6)
        return 0;
    return static_cast<uint32_t>(section.size());
}

bool GetFileVersionInfo(const std::string& fileName, uint32_t size, void* data)
{
    std::vector<uint8_t> section;
    if (!data || !ReadElfSection(fileName, VersionSectionName, section) || section.size() < 6)
        return false;
    std::memcpy(data, section.data(), std::min<size_t>(size, section.size()));
    return true;
}
