#pragma once
// Helpers shared by the UI tests: a recording error display, temporary trees, graphics
// of a chosen size and ELF files carrying a chosen section.
#include "framework/graphics.h"
#include "framework/forms/application.h"

#include <QTemporaryDir>
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

// Collects what would have reached the error display while it lives.
class TErrorRecorder {
public:
    TErrorRecorder()
    {
        Saved = ErrorDisplayHook;
        ErrorDisplayHook = [this](const std::exception& e) { Messages.push_back(e.what()); };
    }
    ~TErrorRecorder() { ErrorDisplayHook = Saved; }
    std::vector<std::string> Messages;

private:
    std::function<void(const std::exception&)> Saved;
};

// A graphic of any size, including none.
class TSizedGraphic : public TGraphic {
public:
    TSizedGraphic(int w, int h)
    {
        if (w > 0 && h > 0) {
            FImage = TRgbaImage(w, h);
            for (size_t i = 0; i < FImage.Pixels.size(); i += 4) // dark cyan
                FImage.Pixels[i + 1] = FImage.Pixels[i + 2] = 128, FImage.Pixels[i + 3] = 255;
        }
    }
    void LoadFromStream(TStream&) override { }
    std::unique_ptr<TGraphic> Clone() const override { return std::make_unique<TSizedGraphic>(*this); }
    const char* FormatName() const override { return "Test"; }
};

inline void WriteFile(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// A minimal little-endian ELF64 file: a null section, the name table and, when name is
// not empty, one section with the given contents.
inline std::string MakeElf(const std::string& name, const std::vector<uint8_t>& contents)
{
    std::string names(1, '\0');
    names += ".shstrtab";
    names.push_back('\0');
    size_t sectionName = names.size();
    names += name;
    names.push_back('\0');
    const int count = name.empty() ? 2 : 3;
    const uint64_t namesOffset = 64;
    const uint64_t dataOffset = namesOffset + names.size();
    const uint64_t shoff = (dataOffset + contents.size() + 7) & ~uint64_t{7};

    std::string f(shoff + 64 * count, '\0');
    auto put = [&f](size_t at, uint64_t v, int bytes) {
        for (int i = 0; i < bytes; ++i)
            f[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
    };
    f[0] = 0x7f;
    f[1] = 'E';
    f[2] = 'L';
    f[3] = 'F';
    f[4] = 2;
    f[5] = 1;
    f[6] = 1;
    put(16, 2, 2);  // executable
    put(18, 62, 2); // x86-64
    put(20, 1, 4);
    put(40, shoff, 8);
    put(52, 64, 2);
    put(58, 64, 2); // section header size
    put(60, count, 2);
    put(62, 1, 2); // names are section 1
    f.replace(namesOffset, names.size(), names);
    if (!contents.empty())
        f.replace(dataOffset, contents.size(), std::string(contents.begin(), contents.end()));
    auto section = [&](int index, uint32_t nameAt, uint32_t type, uint64_t offset, uint64_t size) {
        size_t at = shoff + 64 * index;
        put(at, nameAt, 4);
        put(at + 4, type, 4);
        put(at + 24, offset, 8);
        put(at + 32, size, 8);
    };
    section(1, 1, 3 /* string table */, namesOffset, names.size());
    if (!name.empty())
        section(2, static_cast<uint32_t>(sectionName), 1 /* program data */, dataOffset, contents.size());
    return f;
}
