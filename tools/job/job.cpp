#include "job/job.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>

#include "framework/byteorder.h"
#include "framework/file_input.h"
#include "framework/sha256.h"
#include "job/assets.h"
#include "job/image_reader.h"
#include "job/json_error.h"
#include "serial/serial_types.h"
#include "storage/block_writer.h"
#include "storage/record_layout.h"
#include "storage/util.h"

namespace job {

using json = nlohmann::json;
using ordered_json = nlohmann::ordered_json;

namespace {

const char* const ParityNames[5] = {"none", "odd", "even", "mark", "space"};

std::string Quote(const std::string& s)
{
    return "\"" + s + "\"";
}

class Context {
public:
    Context(std::string jobName, std::string baseDir) : JobName(std::move(jobName)), BaseDir(std::move(baseDir)) { }

    [[noreturn]] void Fail(const std::string& key, const std::string& what) const
    {
        throw JobError(JobName + ": key " + Quote(key) + ": " + what);
    }

    void Warn(const std::string& key, const std::string& what)
    {
        Warnings.push_back(JobName + ": key " + Quote(key) + ": " + what);
    }

    std::string PathOf(const std::string& file) const
    {
        if (file.empty() || file[0] == '/' || BaseDir.empty())
            return file;
        return BaseDir + "/" + file;
    }

    // The whole of a regular file of at most limit bytes (limitName says what holds it).
    std::vector<uint8_t> ReadFile(const std::string& key, const std::string& file, size_t limit,
                                  const std::string& limitName) const
    {
        try {
            const std::string bytes = ReadFileBytes(PathOf(file), limit, "file", limitName);
            return std::vector<uint8_t>(bytes.begin(), bytes.end());
        } catch (const EFileError& e) {
            Fail(key, e.message());
        }
    }

    std::string JobName, BaseDir;
    std::vector<std::string> Warnings;
};

int64_t Integer(Context& c, const std::string& key, const json& v, int64_t lo, int64_t hi)
{
    int64_t value = 0;
    if (v.is_number_unsigned()) {
        const uint64_t u = v.get<uint64_t>();
        if (u > uint64_t(INT64_MAX))
            c.Fail(key, "number out of range " + std::to_string(lo) + ".." + std::to_string(hi));
        value = int64_t(u);
    } else if (v.is_number_integer()) {
        value = v.get<int64_t>();
    } else if (v.is_string()) {
        const std::string s = v.get<std::string>();
        size_t used = 0;
        try {
            value = std::stoll(s, &used, 0);
        } catch (const std::exception&) {
            used = 0;
        }
        if (s.empty() || used != s.size())
            c.Fail(key, Quote(s) + " is not an integer");
    } else {
        c.Fail(key, "expected an integer, got " + std::string(v.type_name()));
    }
    if (value < lo || value > hi)
        c.Fail(key, std::to_string(value) + " is outside " + std::to_string(lo) + ".." + std::to_string(hi));
    return value;
}

std::string Text(Context& c, const std::string& key, const json& v)
{
    if (!v.is_string())
        c.Fail(key, "expected a string, got " + std::string(v.type_name()));
    const std::string s = v.get<std::string>();
    if (s.find('\0') != std::string::npos)
        c.Fail(key, "contains a NUL byte, which would end the text early");
    if (s.size() > size_t(layout::TextWidth))
        c.Fail(key, std::to_string(s.size()) + " bytes, at most " + std::to_string(layout::TextWidth));
    return s;
}

std::string ConnectText(Context& c, const std::string& key, const json& v)
{
    const std::string s = Text(c, key, v);
    try {
        (void)UnescapeText(s);
    } catch (const std::exception& e) {
        c.Fail(key, "bad %xx escape in " + Quote(s) + ": " + e.what());
    }
    return s;
}

SerialSettings Serial(Context& c, const std::string& key, const json& v)
{
    if (!v.is_object())
        c.Fail(key,
               "expected an object like {\"baud\": 9600, \"data_bits\": 8, \"stop_bits\": 1, \"parity\": \"none\"}");
    SerialSettings s;
    for (const auto& [sub, value] : v.items()) {
        const std::string k = key + "." + sub;
        if (sub == "baud") {
            const int64_t rate = Integer(c, k, value, 0, INT32_MAX);
            uint32_t ordinal = 0;
            for (uint32_t i = 1; i < 16; ++i)
                if (StandardBaudRates[i] == rate)
                    ordinal = i;
            if (ordinal == 0)
                c.Fail(k,
                       std::to_string(rate) +
                           " is not one of the rates 110 300 600 1200 2400 4800 9600 14400 19200 38400 56000 "
                           "57600 115200 128000 256000");
            s.baudOrdinal = ordinal;
        } else if (sub == "data_bits") {
            s.dataBitsOrdinal = uint32_t(Integer(c, k, value, 5, 8) - 5);
        } else if (sub == "stop_bits") {
            if (!value.is_number() ||
                !(value.get<double>() == 1 || value.get<double>() == 1.5 || value.get<double>() == 2))
                c.Fail(k, "must be 1, 1.5 or 2");
            const double d = value.get<double>();
            s.stopBitsOrdinal = d == 1 ? 0 : d == 1.5 ? 1 : 2;
        } else if (sub == "parity") {
            const std::string p = value.is_string() ? value.get<std::string>() : std::string();
            uint32_t ordinal = 5;
            for (uint32_t i = 0; i < 5; ++i)
                if (p == ParityNames[i])
                    ordinal = i;
            if (ordinal == 5)
                c.Fail(k, "must be \"none\", \"odd\", \"even\", \"mark\" or \"space\"");
            s.parityOrdinal = ordinal;
        } else {
            c.Fail(k, "unknown key (baud, data_bits, stop_bits, parity)");
        }
    }
    return s;
}

std::vector<std::string> SplitLines(const std::string& text)
{
    std::vector<std::string> lines;
    std::string cur;
    for (size_t i = 0; i < text.size(); ++i) {
        const char ch = text[i];
        if (ch == '\r' || ch == '\n') {
            lines.push_back(cur);
            cur.clear();
            if (ch == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
        } else {
            cur += ch;
        }
    }
    if (!cur.empty())
        lines.push_back(cur);
    return lines;
}

std::string Instructions(Context& c, const std::string& key, const json& v)
{
    std::vector<std::string> lines;
    if (v.is_string()) {
        const std::vector<uint8_t> bytes =
            c.ReadFile(key, v.get<std::string>(), 65536, "limit for an instruction file");
        lines = SplitLines(std::string(bytes.begin(), bytes.end()));
    } else if (v.is_array()) {
        for (const auto& line : v) {
            if (!line.is_string())
                c.Fail(key, "every line must be a string");
            const std::string s = line.get<std::string>();
            if (s.find_first_of(std::string("\r\n\0", 3)) != std::string::npos)
                c.Fail(key, "a line holds CR, LF or NUL; give each line as its own string");
            lines.push_back(s);
        }
    } else {
        c.Fail(key, "expected a file name or an array of lines");
    }
    std::string joined;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].find('\0') != std::string::npos)
            c.Fail(key, "line " + std::to_string(i + 1) + " holds a NUL byte");
        joined += (i ? "\r\n" : "") + lines[i];
    }
    if (lines.size() > size_t(MaxInstructionLines))
        c.Fail(key, std::to_string(lines.size()) + " lines, at most " + std::to_string(MaxInstructionLines));
    if (joined.size() > size_t(MaxInstructionBytes))
        c.Fail(key,
               std::to_string(joined.size()) + " bytes joined with CR LF, at most " +
                   std::to_string(MaxInstructionBytes));
    if (lines.size() > size_t(ShownInstructionLines))
        c.Warn(key,
               std::to_string(lines.size()) + " lines; the connect wizard shows only " +
                   std::to_string(ShownInstructionLines) + " whole");
    return joined;
}

std::string FileName(Context& c, const std::string& key, const json& v)
{
    if (!v.is_string() || v.get<std::string>().empty())
        c.Fail(key, "expected a file name");
    return v.get<std::string>();
}

bool Boolean(Context& c, const std::string& key, const json& v)
{
    if (!v.is_boolean())
        c.Fail(key, "expected true or false");
    return v.get<bool>();
}

// Why a job must carry an image: the programmer erases before it programs.
const char* const WithoutImage =
    "a job without an image erases a unit and leaves it empty (add \"allow_empty_image\": true if that is meant)";

// The firmware from its file, placed in the flash region.
std::vector<uint8_t> Image(Context& c, const json& v, const ImageRegion& region, bool allowEmpty)
{
    const std::string file = FileName(c, "image", v);
    // Text formats take several characters per image byte.
    const bool raw = FormatOf(file) == ImageFormat::Raw;
    const std::vector<uint8_t> bytes = c.ReadFile("image", file, raw ? size_t(MaxImageSize) : size_t(16) << 20,
                                                  raw ? "image region" : "limit for an image file");
    const std::string path = c.PathOf(file);
    std::vector<uint8_t> image;
    try {
        switch (FormatOf(file)) {
        case ImageFormat::SRecord: image = ReadSRecords(std::string(bytes.begin(), bytes.end()), region); break;
        case ImageFormat::IntelHex: image = ReadIntelHex(std::string(bytes.begin(), bytes.end()), region); break;
        case ImageFormat::Raw:
            image = CheckRawImage(bytes, region);
            if (image.size() % ProgramBlock != 0)
                c.Warn("image",
                       path + ": " + std::to_string(image.size()) +
                           " bytes, not a multiple of 128; the programmer refuses such an image");
            break;
        }
    } catch (const ImageError& e) {
        c.Fail("image", path + ": " + e.what());
    }
    if (image.empty()) {
        if (!allowEmpty)
            c.Fail("image", path + ": the image is empty; " + WithoutImage);
        c.Warn("image", path + ": the image is empty");
    }
    return image;
}

// The parser's errors in our words, at the line and column where it stopped.
json ParseJson(const std::string& text, const std::string& jobName)
{
    try {
        return json::parse(text);
    } catch (const json::parse_error& e) {
        const JsonErrorPlace p = PlaceJsonError(text, e.byte);
        const std::string where = p.line ? ":" + std::to_string(p.line) + ":" + std::to_string(p.column) : "";
        throw JobError(jobName + where + ": not valid JSON (" + p.what + ")");
    } catch (const json::exception& e) { // out_of_range 406: a number beyond a double
        throw JobError(jobName + ": not valid JSON" + (e.id == 406 ? " (a number too large to hold)" : ""));
    }
}

} // namespace

ParsedJob ParseJob(const std::string& jsonText, const std::string& baseDir, const std::string& jobName)
{
    Context c(jobName, baseDir);
    const json doc = ParseJson(jsonText, jobName);
    if (!doc.is_object())
        throw JobError(jobName + ": the job must be a JSON object of keys");

    ParsedJob result;
    Job& j = result.job;
    // The image needs the flash region, so it is read after every other key.
    const json* image = nullptr;
    bool allowEmptyImage = false;
    for (const auto& [key, v] : doc.items()) {
        if (key == "identifier")
            j.identifier = Text(c, key, v);
        else if (key == "title")
            j.title = Text(c, key, v);
        else if (key == "connect_serial")
            j.connectSerial = Serial(c, key, v);
        else if (key == "program_serial")
            j.programSerial = Serial(c, key, v);
        else if (key == "boot_connect")
            j.bootConnect = ConnectText(c, key, v);
        else if (key == "user_connect")
            j.userConnect = ConnectText(c, key, v);
        else if (key == "connect_response")
            j.connectResponse = ConnectText(c, key, v);
        else if (key == "flash_start")
            j.flashStart = int32_t(Integer(c, key, v, INT32_MIN, INT32_MAX));
        else if (key == "flash_length")
            j.flashLength = int32_t(Integer(c, key, v, INT32_MIN, INT32_MAX));
        else if (key == "flash_block_size")
            j.flashBlockSize = int32_t(Integer(c, key, v, INT32_MIN, INT32_MAX));
        else if (key == "flash_check_seed")
            j.flashCheckSeed = uint16_t(Integer(c, key, v, 0, 65535));
        else if (key == "flash_verification")
            j.flashVerification = uint8_t(Integer(c, key, v, 0, 255));
        else if (key == "flash_encryption")
            j.flashEncryption = uint8_t(Integer(c, key, v, 0, 255));
        else if (key == "image")
            image = &v;
        else if (key == "allow_empty_image")
            allowEmptyImage = Boolean(c, key, v);
        else if (key == "icon") {
            j.icon = c.ReadFile(key, FileName(c, key, v), MaxIconSize, "icon region");
            try {
                CheckIcon(j.icon);
            } catch (const AssetError& e) {
                c.Fail(key, c.PathOf(v.get<std::string>()) + ": " + e.what());
            }
        } else if (key == "picture") {
            j.picture = c.ReadFile(key, FileName(c, key, v), MaxPictureSize, "picture region");
            try {
                j.pictureType = PictureTypeOf(j.picture);
            } catch (const AssetError& e) {
                c.Fail(key, c.PathOf(v.get<std::string>()) + ": " + e.what());
            }
        } else if (key == "instructions")
            j.instructions = Instructions(c, key, v);
        else if (key == "log")
            j.log = Boolean(c, key, v);
        else
            c.Fail(key, "unknown key (see moravent-job --help)");
    }
    if (image)
        j.image = Image(c, *image, {j.flashStart, j.flashLength}, allowEmptyImage);
    else if (!allowEmptyImage)
        c.Fail("image", std::string("missing; ") + WithoutImage);
    result.warnings = std::move(c.Warnings);
    return result;
}

std::vector<uint8_t> BuildPayload(const Job& j)
{
    std::vector<uint8_t> p = NewPayload();
    PutI32(p, layout::StructureVersion, layout::RequiredVersion);
    PutText(p, layout::ImageIdentifier, layout::TextWidth, j.identifier);
    PutText(p, layout::ImageTitle, layout::TextWidth, j.title);
    for (auto [offset, s] :
         {std::pair{layout::ConnectSerial, j.connectSerial}, {layout::ProgramSerial, j.programSerial}})
        PutSerialSettings(p, offset, s.baudOrdinal, s.dataBitsOrdinal, s.stopBitsOrdinal, s.parityOrdinal);
    PutText(p, layout::BootConnect, layout::TextWidth, j.bootConnect);
    PutText(p, layout::UserConnect, layout::TextWidth, j.userConnect);
    PutText(p, layout::ConnectResponse, layout::TextWidth, j.connectResponse);
    PutI32(p, layout::FlashStart, j.flashStart);
    PutI32(p, layout::FlashLength, j.flashLength);
    PutI32(p, layout::ImageLength, int32_t(j.image.size()));
    PutI32(p, layout::FlashBlockSize, j.flashBlockSize);
    PutU16(p, layout::FlashCheckSeed, j.flashCheckSeed);
    PutU8(p, layout::FlashVerification, j.flashVerification);
    PutU8(p, layout::FlashEncryption, j.flashEncryption);
    PutU8(p, layout::PictureType, j.pictureType);
    PutRegion(p, layout::ImageRegion, layout::ImageRegionSize, j.image.data(), j.image.size());
    PutRegion(p, layout::IconRegion, layout::IconRegionSize, j.icon.data(), j.icon.size());
    PutRegion(p, layout::PictureRegion, layout::PictureRegionSize, j.picture.data(), j.picture.size());
    PutRegion(p, layout::Instructions, layout::InstructionsSize, j.instructions.data(), j.instructions.size());
    PutU8(p, layout::LogSwitch, j.log ? 1 : 0);
    return p;
}

namespace {

uint32_t U32(const uint8_t* p, int32_t at)
{
    return LoadLE32(p + at);
}

std::string FixedText(const uint8_t* p, int32_t at, int32_t width)
{
    const char* s = reinterpret_cast<const char*>(p + at);
    size_t n = 0;
    while (n < size_t(width) && s[n] != '\0')
        ++n;
    return std::string(s, n);
}

ordered_json SerialJson(const uint8_t* p, int32_t at)
{
    const uint32_t baud = U32(p, at) & 0xFF, data = U32(p, at + 4) & 0xFF, stop = U32(p, at + 8) & 0xFF,
                   parity = U32(p, at + 12) & 0xFF;
    ordered_json s;
    s["baud"] = baud >= 1 && baud < 16 ? json(StandardBaudRates[baud]) : json(nullptr);
    s["data_bits"] = data < 4 ? json(data + 5) : json(nullptr);
    // Ordinals 0, 1, 2 stand for 1, 1.5 and 2 stop bits.
    s["stop_bits"] = stop == 0 ? json(1) : stop == 1 ? json(1.5) : stop == 2 ? json(2) : json(nullptr);
    s["parity"] = parity < 5 ? json(ParityNames[parity]) : json(nullptr);
    return s;
}

} // namespace

std::string DescribePayload(const uint8_t* p)
{
    const int32_t version = int32_t(U32(p, layout::StructureVersion));
    if (version != layout::RequiredVersion)
        throw JobError("structure version " + std::to_string(version) + ", expected " +
                       std::to_string(layout::RequiredVersion));
    const int32_t imageLength = int32_t(U32(p, layout::ImageLength));
    if (imageLength < 0 || imageLength > layout::ImageRegionSize)
        throw JobError("image length " + std::to_string(imageLength) + " outside 0.." +
                       std::to_string(layout::ImageRegionSize));

    ordered_json o;
    o["identifier"] = FixedText(p, layout::ImageIdentifier, layout::TextWidth);
    o["title"] = FixedText(p, layout::ImageTitle, layout::TextWidth);
    o["connect_serial"] = SerialJson(p, layout::ConnectSerial);
    o["program_serial"] = SerialJson(p, layout::ProgramSerial);
    o["boot_connect"] = FixedText(p, layout::BootConnect, layout::TextWidth);
    o["user_connect"] = FixedText(p, layout::UserConnect, layout::TextWidth);
    o["connect_response"] = FixedText(p, layout::ConnectResponse, layout::TextWidth);
    o["flash_start"] = int32_t(U32(p, layout::FlashStart));
    o["flash_length"] = int32_t(U32(p, layout::FlashLength));
    o["flash_block_size"] = int32_t(U32(p, layout::FlashBlockSize));
    o["flash_check_seed"] = U32(p, layout::FlashCheckSeed) & 0xFFFF;
    o["flash_verification"] = p[layout::FlashVerification];
    o["flash_encryption"] = p[layout::FlashEncryption];
    ordered_json lines = ordered_json::array();
    for (const std::string& line : SplitLines(FixedText(p, layout::Instructions, layout::InstructionsSize)))
        lines.push_back(line);
    o["instructions"] = lines;
    o["log"] = p[layout::LogSwitch] != 0;
    o["image_length"] = imageLength;
    o["image_sha256"] = Sha256Hex({p + layout::ImageRegion, size_t(imageLength)});
    o["icon_size"] = IconFileSize(p + layout::IconRegion, layout::IconRegionSize);
    const uint8_t type = p[layout::PictureType];
    o["picture_size"] = PictureFileSize(type, p + layout::PictureRegion, layout::PictureRegionSize);
    o["picture_type"] = type == 0 ? json("bmp") : type == 1 ? json("jpeg") : json(type);
    return o.dump(2, ' ', false, json::error_handler_t::replace);
}

} // namespace job
