#include "job/image_reader.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace job {

namespace {

std::string Hex32(int64_t v)
{
    char buf[24];
    std::snprintf(buf, sizeof buf, "0x%08llX", static_cast<unsigned long long>(v) & 0xFFFFFFFFull);
    return buf;
}

std::string LineTag(int line)
{
    return "line " + std::to_string(line) + ": ";
}

// Collects records into the image; catches records outside the region and overlaps.
class ImageBuilder {
public:
    explicit ImageBuilder(const ImageRegion& region) : Region(region), Bytes(MaxImageSize, 0xFF), Filled(MaxImageSize)
    {
    }

    void Put(int line, int64_t address, const uint8_t* data, size_t size)
    {
        if (size == 0)
            return;
        const int64_t offset = address - Region.flashStart;
        const int64_t end = offset + int64_t(size);
        if (offset < 0)
            throw ImageError(LineTag(line) + "record at " + Hex32(address) + " lies below flash_start " +
                             Hex32(Region.flashStart));
        if (end > Region.flashLength)
            throw ImageError(LineTag(line) + "record at " + Hex32(address) + " (" + std::to_string(size) +
                             " bytes) reaches beyond the flash region, which ends at " +
                             Hex32(Region.flashStart + Region.flashLength) + " (flash_length " +
                             std::to_string(Region.flashLength) + ")");
        if (end > MaxImageSize)
            throw ImageError(LineTag(line) + "record at " + Hex32(address) + " makes the image larger than " +
                             std::to_string(MaxImageSize) + " bytes");
        for (size_t i = 0; i < size; ++i) {
            const size_t at = size_t(offset) + i;
            if (Filled[at])
                throw ImageError(LineTag(line) + "record overlaps earlier data at " + Hex32(address + int64_t(i)));
            Filled[at] = true;
            Bytes[at] = data[i];
        }
        Highest = std::max(Highest, end);
    }

    std::vector<uint8_t> Finish()
    {
        int64_t size = (Highest + ProgramBlock - 1) / ProgramBlock * ProgramBlock;
        if (size > Region.flashLength)
            throw ImageError("image padded to whole " + std::to_string(ProgramBlock) + "-byte blocks is " +
                             std::to_string(size) + " bytes, beyond flash_length " +
                             std::to_string(Region.flashLength));
        Bytes.resize(size_t(size));
        return std::move(Bytes);
    }

private:
    ImageRegion Region;
    std::vector<uint8_t> Bytes;
    std::vector<bool> Filled;
    int64_t Highest = 0;
};

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// The hex pairs of a record after its lead characters.
std::vector<uint8_t> HexPairs(int line, const std::string& text, size_t from)
{
    if ((text.size() - from) % 2 != 0)
        throw ImageError(LineTag(line) + "bad syntax: odd number of hex digits");
    std::vector<uint8_t> out;
    out.reserve((text.size() - from) / 2);
    for (size_t i = from; i < text.size(); i += 2) {
        const int hi = HexDigit(text[i]), lo = HexDigit(text[i + 1]);
        if (hi < 0 || lo < 0) {
            const char bad = hi < 0 ? text[i] : text[i + 1];
            std::string shown = std::isprint(static_cast<unsigned char>(bad)) ? std::string(1, bad)
                                                                              : "byte " + std::to_string(uint8_t(bad));
            throw ImageError(LineTag(line) + "bad syntax: '" + shown + "' is not a hex digit");
        }
        out.push_back(uint8_t(hi * 16 + lo));
    }
    return out;
}

// Splits at LF (a CR before it is dropped) and trims trailing blanks; calls f(lineNo, text).
template <typename F> void ForEachLine(const std::string& text, F f)
{
    size_t start = 0;
    int line = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string s = text.substr(start, end - start);
        while (!s.empty() && (s.back() == '\r' || s.back() == ' ' || s.back() == '\t'))
            s.pop_back();
        ++line;
        if (!f(line, s))
            return;
        start = end + 1;
    }
}

std::string Hex2(unsigned v)
{
    char buf[8];
    std::snprintf(buf, sizeof buf, "0x%02X", v & 0xFFu);
    return buf;
}

} // namespace

ImageFormat FormatOf(const std::string& path)
{
    const size_t dot = path.find_last_of('.');
    const size_t slash = path.find_last_of('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return ImageFormat::Raw;
    std::string ext = path.substr(dot + 1);
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    if (ext == "mot" || ext == "s19" || ext == "s28" || ext == "s37" || ext == "srec")
        return ImageFormat::SRecord;
    if (ext == "hex" || ext == "ihex")
        return ImageFormat::IntelHex;
    return ImageFormat::Raw;
}

std::vector<uint8_t> ReadSRecords(const std::string& text, const ImageRegion& region)
{
    ImageBuilder image(region);
    ForEachLine(text, [&](int line, const std::string& s) {
        if (s.empty())
            return true;
        if (s.size() < 2 || s[0] != 'S' || !std::isdigit(static_cast<unsigned char>(s[1])) || s[1] == '4')
            throw ImageError(LineTag(line) + "bad syntax: not an S-record (S0-S3, S5-S9)");
        const int type = s[1] - '0';
        static const int addressBytes[10] = {2, 2, 3, 4, 0, 2, 3, 4, 3, 2};
        const int addrLen = addressBytes[type];
        const std::vector<uint8_t> bytes = HexPairs(line, s, 2);
        if (bytes.empty() || bytes[0] != bytes.size() - 1)
            throw ImageError(LineTag(line) + "bad syntax: byte count does not match the record's length");
        if (int(bytes.size()) < 1 + addrLen + 1)
            throw ImageError(LineTag(line) + "bad syntax: record too short for its address");
        unsigned sum = 0;
        for (size_t i = 0; i + 1 < bytes.size(); ++i)
            sum += bytes[i];
        const unsigned expected = ~sum & 0xFFu;
        if (bytes.back() != expected)
            throw ImageError(LineTag(line) + "bad checksum " + Hex2(bytes.back()) + ", expected " + Hex2(expected));
        if (type >= 1 && type <= 3) {
            int64_t address = 0;
            for (int i = 0; i < addrLen; ++i)
                address = address * 256 + bytes[size_t(1 + i)];
            image.Put(line, address, bytes.data() + 1 + addrLen, bytes.size() - size_t(addrLen) - 2);
        }
        return true;
    });
    return image.Finish();
}

std::vector<uint8_t> ReadIntelHex(const std::string& text, const ImageRegion& region)
{
    ImageBuilder image(region);
    int64_t base = 0;
    int endLine = 0;
    ForEachLine(text, [&](int line, const std::string& s) {
        if (s.empty())
            return true;
        if (endLine != 0)
            throw ImageError(LineTag(line) + "data after the end-of-file record of line " + std::to_string(endLine));
        if (s[0] != ':')
            throw ImageError(LineTag(line) + "bad syntax: a record starts with ':'");
        const std::vector<uint8_t> bytes = HexPairs(line, s, 1);
        if (bytes.size() < 5 || bytes[0] != bytes.size() - 5)
            throw ImageError(LineTag(line) + "bad syntax: byte count does not match the record's length");
        unsigned sum = 0;
        for (uint8_t b : bytes)
            sum += b;
        if ((sum & 0xFFu) != 0) {
            const unsigned expected = (0x100u - ((sum - bytes.back()) & 0xFFu)) & 0xFFu;
            throw ImageError(LineTag(line) + "bad checksum " + Hex2(bytes.back()) + ", expected " + Hex2(expected));
        }
        const size_t count = bytes[0];
        const int64_t offset = bytes[1] * 256 + bytes[2];
        const uint8_t* data = bytes.data() + 4;
        auto needCount = [&](size_t n) {
            if (count != n)
                throw ImageError(LineTag(line) + "bad syntax: record type " + Hex2(bytes[3]) + " must hold " +
                                 std::to_string(n) + " bytes");
        };
        switch (bytes[3]) {
        case 0x00: image.Put(line, base + offset, data, count); break;
        case 0x01:
            needCount(0);
            endLine = line;
            break;
        case 0x02:
            needCount(2);
            base = int64_t(data[0] * 256 + data[1]) << 4;
            break;
        case 0x04:
            needCount(2);
            base = int64_t(data[0] * 256 + data[1]) << 16;
            break;
        case 0x03: needCount(4); break; // start addresses mean nothing to a flash image
        case 0x05: needCount(4); break;
        default: throw ImageError(LineTag(line) + "unknown record type " + Hex2(bytes[3]));
        }
        return true;
    });
    if (endLine == 0)
        throw ImageError("no end-of-file record (:00000001FF)");
    return image.Finish();
}

std::vector<uint8_t> CheckRawImage(std::vector<uint8_t> bytes, const ImageRegion& region)
{
    if (bytes.size() > size_t(MaxImageSize))
        throw ImageError(std::to_string(bytes.size()) + " bytes, more than the " + std::to_string(MaxImageSize) +
                         "-byte image region");
    if (int64_t(bytes.size()) > region.flashLength)
        throw ImageError(std::to_string(bytes.size()) + " bytes, more than flash_length " +
                         std::to_string(region.flashLength));
    return bytes;
}

} // namespace job
