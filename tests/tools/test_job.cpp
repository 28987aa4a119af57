// The job builder: image readers, content checks, job parsing, the stored payload and the
// command line (build, show, marker rules, atomic output).
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "framework/byteorder.h"
#include "framework/file_input.h"
#include "job/assets.h"
#include "job/image_reader.h"
#include "job/job.h"
#include "storage/record_layout.h"

using namespace job;
using json = nlohmann::json;
namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;

std::string SRecord(int type, uint32_t address, const Bytes& data)
{
    static const int addrLen[10] = {2, 2, 3, 4, 0, 2, 3, 4, 3, 2};
    Bytes body{uint8_t(data.size() + size_t(addrLen[type]) + 1)};
    for (int i = addrLen[type] - 1; i >= 0; --i)
        body.push_back(uint8_t(address >> (8 * i)));
    body.insert(body.end(), data.begin(), data.end());
    unsigned sum = 0;
    for (uint8_t b : body)
        sum += b;
    body.push_back(uint8_t(~sum));
    std::string s = "S" + std::to_string(type);
    char buf[3];
    for (uint8_t b : body) {
        std::snprintf(buf, sizeof buf, "%02X", b);
        s += buf;
    }
    return s + "\n";
}

std::string HexRecord(int type, uint16_t address, const Bytes& data)
{
    Bytes body{uint8_t(data.size()), uint8_t(address >> 8), uint8_t(address), uint8_t(type)};
    body.insert(body.end(), data.begin(), data.end());
    unsigned sum = 0;
    for (uint8_t b : body)
        sum += b;
    body.push_back(uint8_t(0x100 - (sum & 0xFF)));
    std::string s = ":";
    char buf[3];
    for (uint8_t b : body) {
        std::snprintf(buf, sizeof buf, "%02X", b);
        s += buf;
    }
    return s + "\r\n";
}

const Bytes PartA = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
const Bytes PartB = {0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7};
constexpr uint32_t Start = 0x12000; // above 64 KiB, so HEX needs an address record

Bytes ExpectedImage()
{
    Bytes image(384, 0xFF); // data reaches 0x128: padded to three blocks
    std::copy(PartA.begin(), PartA.end(), image.begin());
    std::copy(PartB.begin(), PartB.end(), image.begin() + 0x120);
    return image;
}

Bytes Icon()
{
    Bytes ico = {0, 0, 1, 0, 1, 0, 16, 16, 0, 0, 1, 0, 32, 0, 40, 0, 0, 0, 22, 0, 0, 0};
    ico.resize(22 + 40, 0x11);
    return ico;
}

Bytes Bitmap()
{
    Bytes bmp(14 + 40 + 16, 0);
    bmp[0] = 'B';
    bmp[1] = 'M';
    bmp[2] = uint8_t(bmp.size());
    bmp[10] = 54;
    bmp[14] = 40;
    return bmp;
}

Bytes Jpeg()
{
    return {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x04, 0x4A, 0x46, 0xFF, 0xC0, 0x00, 0x0B, 0x08, 0x00, 0x10, 0x00, 0x20, 0x01,
            0x01, 0x11, 0x00, 0xFF, 0xDA, 0x00, 0x08, 0x01, 0x01, 0x00, 0x00, 0x3F, 0x00, 0x12, 0x34, 0xFF, 0xD9};
}

class TempDir {
public:
    TempDir()
    {
        char tmpl[] = "/tmp/moravent-job-test-XXXXXX";
        Path = ::mkdtemp(tmpl);
    }
    ~TempDir() { fs::remove_all(Path); }
    std::string File(const std::string& name) const { return Path + "/" + name; }
    void Write(const std::string& name, const std::string& text) const
    {
        std::ofstream(File(name), std::ios::binary) << text;
    }
    void Write(const std::string& name, const Bytes& b) const { Write(name, std::string(b.begin(), b.end())); }
    std::string Path;
};

json Describe(const Job& j)
{
    const Bytes payload = BuildPayload(j);
    return json::parse(DescribePayload(payload.data()));
}

struct Result {
    int status;
    std::string out, err;
};

Result RunCommand(const std::string& command, const TempDir& dir)
{
    const std::string out = dir.File(".stdout"), err = dir.File(".stderr");
    const int raw = std::system((command + " >" + out + " 2>" + err).c_str());
    auto slurp = [](const std::string& p) { return ReadFileBytes(p, size_t(1) << 30); };
    Result r{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, slurp(out), slurp(err)};
    fs::remove(out);
    fs::remove(err);
    return r;
}

std::string JobText(const std::string& body)
{
    return "{" + body + "}";
}

} // namespace

// ---------------------------------------------------------------- image readers

TEST(ImageReaders, EveryFormatGivesTheSameBytes)
{
    const ImageRegion region{Start, 0x1000};
    const std::string s19Header = SRecord(0, 0, {'h', 'd', 'r'});
    const struct {
        const char* what;
        std::string text;
        bool hex;
    } cases[] = {
        {"S28", s19Header + SRecord(2, Start, PartA) + SRecord(2, Start + 0x120, PartB) + SRecord(8, 0, {}), false},
        {"S37", SRecord(3, Start + 0x120, PartB) + SRecord(3, Start, PartA) + SRecord(5, 2, {}) + SRecord(7, Start, {}),
         false},
        {"HEX linear",
         HexRecord(4, 0, {0x00, 0x01}) + HexRecord(0, 0x2000, PartA) + HexRecord(0, 0x2120, PartB) +
             HexRecord(5, 0, {0, 0, 0, 0}) + HexRecord(1, 0, {}),
         true},
        {"HEX segment",
         HexRecord(2, 0, {0x12, 0x00}) + HexRecord(0, 0x0000, PartA) + HexRecord(0, 0x0120, PartB) + "\n" +
             HexRecord(1, 0, {}),
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Bytes image = c.hex ? ReadIntelHex(c.text, region) : ReadSRecords(c.text, region);
        EXPECT_EQ(image, ExpectedImage());
    }
    // S1 records carry 16-bit addresses.
    EXPECT_EQ(ReadSRecords(SRecord(1, 0x1800, Bytes(130, 0x5A)), {0x1800, 1024}).size(), 256u);
    EXPECT_TRUE(ReadSRecords("", {0, 1024}).empty());
}

TEST(ImageReaders, RejectBadFilesNamingTheLine)
{
    const ImageRegion region{0x1000, 0x400};
    std::string badSum = SRecord(1, 0x1000, PartA);
    badSum[badSum.size() - 2] ^= 1;
    std::string badHexSum = HexRecord(0, 0x1000, PartA);
    badHexSum[badHexSum.size() - 3] ^= 1;
    const struct {
        const char* what;
        bool hex;
        std::string text;
        const char* message;
    } cases[] = {
        {"checksum", false, SRecord(1, 0x1000, PartA) + badSum, "line 2: bad checksum"},
        {"not hex", false, "S1130000G0\n", "line 1: bad syntax: 'G' is not a hex digit"},
        {"count", false, "S10600001000EA\n", "line 1: bad syntax: byte count"},
        {"odd digits", false, "S1050000100\n", "odd number of hex digits"},
        {"S4", false, "S4030000FC\n", "line 1: bad syntax: not an S-record"},
        {"junk line", false, SRecord(1, 0x1000, PartA) + "hello\n", "line 2: bad syntax"},
        {"below start", false, SRecord(1, 0x0FFF, PartA),
         "line 1: record at 0x00000FFF lies below flash_start 0x00001000"},
        {"beyond region", false, SRecord(1, 0x13F8, PartA), "beyond the flash region, which ends at 0x00001400"},
        {"overlap", false, SRecord(1, 0x1000, PartA) + SRecord(1, 0x1008, PartB), "line 2: record overlaps"},
        {"hex checksum", true, badHexSum + HexRecord(1, 0, {}), "line 1: bad checksum"},
        {"hex no colon", true, "00000001FF\n", "line 1: bad syntax: a record starts with ':'"},
        {"hex no end", true, HexRecord(0, 0x1000, PartA), "no end-of-file record"},
        {"hex after end", true, HexRecord(1, 0, {}) + HexRecord(0, 0x1000, PartA),
         "line 2: data after the end-of-file"},
        {"hex type", true, HexRecord(6, 0, {}) + HexRecord(1, 0, {}), "line 1: unknown record type 0x06"},
        {"hex ext length", true, HexRecord(4, 0, {0}) + HexRecord(1, 0, {}), "must hold 2 bytes"},
        {"hex count", true, ":0500000001FA\n", "byte count does not match"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        try {
            c.hex ? ReadIntelHex(c.text, region) : ReadSRecords(c.text, region);
            ADD_FAILURE() << "accepted";
        } catch (const ImageError& e) {
            EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
        }
    }
}

TEST(ImageReaders, KeepToTheImageRegionAndTheFlash)
{
    // The image region holds 262,144 bytes even when the flash is bigger.
    EXPECT_EQ(ReadSRecords(SRecord(3, 262144 - 16, PartA), {0, 1 << 20}).size(), 262144u);
    EXPECT_THROW(ReadSRecords(SRecord(3, 262144 - 8, PartA), {0, 1 << 20}), ImageError);
    // Padding to whole blocks may not run past a flash that ends mid-block.
    EXPECT_THROW(ReadSRecords(SRecord(1, 0, PartA), {0, 100}), ImageError);
    // Raw images are taken as they are, but must fit.
    EXPECT_EQ(CheckRawImage(Bytes(130, 1), {0, 1024}).size(), 130u);
    EXPECT_THROW(CheckRawImage(Bytes(1025, 1), {0, 1024}), ImageError);
    EXPECT_THROW(CheckRawImage(Bytes(262145, 1), {0, 1 << 20}), ImageError);
    EXPECT_EQ(FormatOf("fw.S19"), ImageFormat::SRecord);
    EXPECT_EQ(FormatOf("dir.hex/fw"), ImageFormat::Raw);
    EXPECT_EQ(FormatOf("fw.ihex"), ImageFormat::IntelHex);
}

// ---------------------------------------------------------------- icon and picture

TEST(Assets, JudgedByContent)
{
    EXPECT_NO_THROW(CheckIcon(Icon()));
    EXPECT_EQ(PictureTypeOf(Bitmap()), 0);
    EXPECT_EQ(PictureTypeOf(Jpeg()), 1);

    Bytes iconOutside = Icon();
    iconOutside[14] = 200; // image size runs past the file
    Bytes noImages = Icon();
    noImages[4] = 0;
    Bytes cutJpeg = Jpeg();
    cutJpeg.resize(cutJpeg.size() - 2);
    Bytes noFrame = {0xFF, 0xD8, 0xFF, 0xDA, 0x00, 0x02, 0xFF, 0xD9};
    Bytes badBmp = Bitmap();
    badBmp[2] = 0xF0; // claims more than the file holds
    // 4096 pixels wide and 4096 or 4097 high, stored top-down (a negative height).
    auto tallBmp = [](int32_t height) {
        Bytes b = Bitmap();
        StoreLE32(&b[18], 4096);
        StoreLE32(&b[22], uint32_t(-height));
        return b;
    };
    EXPECT_EQ(PictureTypeOf(tallBmp(4096)), 0);
    const struct {
        const char* what;
        bool icon;
        Bytes bytes;
        const char* message;
    } cases[] = {
        {"bitmap as icon", true, Bitmap(), "not an icon file"},
        {"icon image outside", true, iconOutside, "lies outside the file"},
        {"icon without images", true, noImages, "holds no images"},
        {"icon too big", true, Bytes(5121, 0), "more than the 5120-byte icon region"},
        {"icon as picture", false, Icon(), "neither a Windows bitmap nor a JPEG"},
        {"cut JPEG", false, cutJpeg, "no end marker"},
        {"JPEG without frame", false, noFrame, "no frame header"},
        {"bitmap size", false, badBmp, "size field says 240 bytes"},
        {"picture too big", false, Bytes(131073, 0), "more than the 131072-byte picture region"},
        {"bitmap of too many pixels", false, tallBmp(4097),
         "4096 x 4097 pixels, more than the 16,777,216 (4096 x 4096) a picture may have"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        try {
            c.icon ? CheckIcon(c.bytes) : (void)PictureTypeOf(c.bytes);
            ADD_FAILURE() << "accepted";
        } catch (const AssetError& e) {
            EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
        }
    }
    EXPECT_EQ(IconFileSize(Icon().data(), Icon().size()), Icon().size());
}

// ---------------------------------------------------------------- job file and payload

TEST(JobFile, EveryKeyReachesThePayload)
{
    TempDir dir;
    dir.Write("fw.s19", SRecord(1, 0x1800, PartA));
    dir.Write("unit.ico", Icon());
    dir.Write("unit.jpg", Jpeg());
    dir.Write("steps.txt", std::string("Plug in the cable\nTurn the unit on\r\n"));
    const std::string text = JobText(R"(
        "identifier": "PN-4711 rev C", "title": "Scale firmware 2.1",
        "connect_serial": {"baud": 19200, "data_bits": 7, "stop_bits": 2, "parity": "even"},
        "program_serial": {"baud": 115200, "stop_bits": 1.5, "parity": "space"},
        "boot_connect": "BOOT%0D", "user_connect": "%02GO%03", "connect_response": "OK%0D%0A",
        "flash_start": "0x1800", "flash_length": 4096, "flash_block_size": 2048, "flash_check_seed": 129,
        "flash_verification": 1, "flash_encryption": 255,
        "image": "fw.s19", "icon": "unit.ico", "picture": "unit.jpg", "instructions": "steps.txt", "log": true)");
    const ParsedJob parsed = ParseJob(text, dir.Path, "job.json");
    EXPECT_TRUE(parsed.warnings.empty());
    const Bytes payload = BuildPayload(parsed.job);
    ASSERT_EQ(payload.size(), size_t(layout::PayloadSize));
    // Spot checks against the record layout itself.
    EXPECT_EQ(payload[layout::ConnectSerial], 9);
    EXPECT_EQ(payload[layout::ConnectSerial + 4], 2);
    EXPECT_EQ(payload[layout::ConnectSerial + 8], 2);
    EXPECT_EQ(payload[layout::ConnectSerial + 12], 2);
    EXPECT_EQ(payload[layout::ProgramSerial], 13);
    EXPECT_EQ(payload[layout::ProgramSerial + 8], 1);
    EXPECT_EQ(payload[layout::ProgramSerial + 12], 4);
    EXPECT_EQ(std::string(payload.begin() + layout::BootConnect, payload.begin() + layout::BootConnect + 8),
              std::string("BOOT%0D\0", 8));
    EXPECT_EQ(payload[layout::PictureType], 1);
    EXPECT_EQ(payload[layout::LogSwitch], 1);
    EXPECT_EQ(payload[layout::ImageRegion + 15], 16);
    EXPECT_EQ(payload[layout::ImageRegion + 16], 0xFF);

    const json d = json::parse(DescribePayload(payload.data()));
    EXPECT_EQ(d["identifier"], "PN-4711 rev C");
    EXPECT_EQ(d["title"], "Scale firmware 2.1");
    EXPECT_EQ(d["connect_serial"], json::parse(R"({"baud":19200,"data_bits":7,"stop_bits":2,"parity":"even"})"));
    EXPECT_EQ(d["program_serial"], json::parse(R"({"baud":115200,"data_bits":8,"stop_bits":1.5,"parity":"space"})"));
    EXPECT_EQ(d["boot_connect"], "BOOT%0D");
    EXPECT_EQ(d["user_connect"], "%02GO%03");
    EXPECT_EQ(d["connect_response"], "OK%0D%0A");
    EXPECT_EQ(d["flash_start"], 0x1800);
    EXPECT_EQ(d["flash_length"], 4096);
    EXPECT_EQ(d["flash_block_size"], 2048);
    EXPECT_EQ(d["flash_check_seed"], 129);
    EXPECT_EQ(d["flash_verification"], 1);
    EXPECT_EQ(d["flash_encryption"], 255);
    EXPECT_EQ(d["instructions"], json::parse(R"(["Plug in the cable", "Turn the unit on"])"));
    EXPECT_EQ(d["log"], true);
    EXPECT_EQ(d["image_length"], 128);
    EXPECT_EQ(d["icon_size"], Icon().size());
    EXPECT_EQ(d["picture_size"], Jpeg().size());
    EXPECT_EQ(d["picture_type"], "jpeg");
    EXPECT_EQ(std::string(d["image_sha256"]).size(), 64u);
}

TEST(JobFile, OmittedKeysTakeTheControllersDefaults)
{
    const json d = Describe(ParseJob(R"({"allow_empty_image": true})", "", "job.json").job);
    EXPECT_EQ(d["boot_connect"], "SyNcBoOt");
    EXPECT_EQ(d["user_connect"], "%02XM5281%03");
    EXPECT_EQ(d["connect_response"], "SyNcBoOt");
    const json n81 = json::parse(R"({"baud":9600,"data_bits":8,"stop_bits":1,"parity":"none"})");
    EXPECT_EQ(d["connect_serial"], n81);
    EXPECT_EQ(d["program_serial"], n81);
    EXPECT_EQ(d["flash_verification"], 2);
    EXPECT_EQ(d["flash_encryption"], 1);
    EXPECT_EQ(d["flash_start"], 0);
    EXPECT_EQ(d["image_length"], 0);
    // SHA-256 of nothing.
    EXPECT_EQ(d["image_sha256"], "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(d["instructions"], json::array());
    EXPECT_EQ(d["log"], false);
}

TEST(JobFile, InstructionsAndRawImagesWarn)
{
    TempDir dir;
    dir.Write("fw.bin", Bytes(130, 0x42));
    json lines = json::array();
    for (int i = 0; i < 16; ++i)
        lines.push_back("line " + std::to_string(i));
    const ParsedJob p = ParseJob(JobText(R"("flash_length": 1024, "image": "fw.bin", "instructions": )" + lines.dump()),
                                 dir.Path, "job.json");
    ASSERT_EQ(p.warnings.size(), 2u);
    const std::string all = p.warnings[0] + "|" + p.warnings[1];
    EXPECT_NE(all.find("key \"image\": "), std::string::npos) << all;
    EXPECT_NE(all.find("not a multiple of 128"), std::string::npos) << all;
    EXPECT_NE(all.find("key \"instructions\": 16 lines"), std::string::npos) << all;
    EXPECT_EQ(p.job.image.size(), 130u);
    EXPECT_EQ(p.job.instructions.substr(0, 14), "line 0\r\nline 1");
}

TEST(JobFile, ValidationErrorsNameTheKeyAndTheLimit)
{
    TempDir dir;
    dir.Write("fw.mot", SRecord(1, 0x1000, PartA) + "S1FF\n");
    dir.Write("big.bin", Bytes(2048, 0));
    dir.Write("pic.png", Bytes{0x89, 'P', 'N', 'G'});
    dir.Write("unit.ico", Icon());
    dir.Write("long.txt", std::string(2100, 'x'));
    dir.Write("empty.bin", Bytes());
    Bytes huge = Jpeg();
    huge[13] = 0x10, huge[14] = 0x00, huge[15] = 0x20, huge[16] = 0x00; // the frame says 8192 x 4096
    dir.Write("huge.jpg", huge);
    const std::string fifo = dir.File("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string many = json(std::vector<std::string>(21, "x")).dump();
    const struct {
        std::string body, message;
    } cases[] = {
        {R"("title": "12345678901234567890123456789012345678901")", "key \"title\": 41 bytes, at most 40"},
        {R"("identifier": 5)", "key \"identifier\": expected a string"},
        {R"("colour": "red")", "key \"colour\": unknown key"},
        {R"("connect_serial": {"baud": 9601})", "key \"connect_serial.baud\": 9601 is not one of the rates"},
        {R"("program_serial": {"stop_bits": 3})", "key \"program_serial.stop_bits\": must be 1, 1.5 or 2"},
        {R"("program_serial": {"parity": "sometimes"})", "key \"program_serial.parity\""},
        {R"("program_serial": {"data_bits": 9})", "key \"program_serial.data_bits\": 9 is outside 5..8"},
        {R"("program_serial": {"speed": 9600})", "key \"program_serial.speed\": unknown key"},
        {R"("boot_connect": "AB%0")", "key \"boot_connect\": bad %xx escape in \"AB%0\": String too short"},
        {R"("user_connect": "%G1")",
         "key \"user_connect\": bad %xx escape in \"%G1\": Can't convert non-hex character: G"},
        {R"("flash_check_seed": 65536)", "key \"flash_check_seed\": 65536 is outside 0..65535"},
        {R"("flash_encryption": -1)", "key \"flash_encryption\": -1 is outside 0..255"},
        {R"("flash_start": 2147483648)", "key \"flash_start\": 2147483648 is outside"},
        {R"("flash_length": "12k")", "key \"flash_length\": \"12k\" is not an integer"},
        {R"("flash_start": 4096, "flash_length": 1024, "image": "fw.mot")", "key \"image\": "},
        {R"("flash_start": 4096, "flash_length": 1024, "image": "missing.s19")", "missing.s19 (No such file"},
        {R"("flash_length": 1024, "image": "big.bin")", "2048 bytes, more than flash_length 1024"},
        {R"("picture": "pic.png")", "key \"picture\": "},
        {R"("icon": "pic.png")", "not an icon file"},
        {R"("picture": "unit.ico")", "neither a Windows bitmap nor a JPEG"},
        {R"("instructions": "long.txt")", "2100 bytes joined with CR LF, at most 2048"},
        {R"("instructions": )" + many, "21 lines, at most 20"},
        {R"("instructions": ["a\nb"])", "a line holds CR, LF or NUL"},
        {R"("log": 1)", "key \"log\": expected true or false"},
        {R"("title": "no image")",
         "key \"image\": missing; a job without an image erases a unit and leaves it empty (add "
         "\"allow_empty_image\": true if that is meant)"},
        {R"("flash_length": 1024, "image": "empty.bin")",
         "empty.bin: the image is empty; a job without an image erases a unit"},
        {R"("allow_empty_image": "yes", "image": "empty.bin")", "key \"allow_empty_image\": expected true or false"},
        {R"("picture": "huge.jpg")",
         "key \"picture\": " + dir.File("huge.jpg") +
             ": 8192 x 4096 pixels, more than the 16,777,216 (4096 x 4096) a picture may have"},
        // Only regular files are read, and never a device or a FIFO that would block or never end.
        {R"("flash_length": 1024, "image": "/dev/zero")", "Cannot read file /dev/zero (it is a device, not a file)"},
        {R"("flash_length": 1024, "image": "fifo")", "fifo (it is a FIFO, not a file)"},
        {R"("icon": "/etc")", "Cannot read file /etc (it is a directory)"},
        {R"("instructions": "/dev/zero")", "(it is a device, not a file)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.body);
        try {
            ParseJob(JobText(c.body), dir.Path, "demo.json");
            ADD_FAILURE() << "accepted";
        } catch (const JobError& e) {
            const std::string m = e.what();
            EXPECT_EQ(m.rfind("demo.json: ", 0), 0u) << m;
            EXPECT_NE(m.find(c.message), std::string::npos) << m;
        }
    }
    // The S-record error carries the file and its line.
    try {
        ParseJob(JobText(R"("flash_start": 4096, "flash_length": 1024, "image": "fw.mot")"), dir.Path, "demo.json");
    } catch (const JobError& e) {
        EXPECT_NE(std::string(e.what()).find("fw.mot: line 2: bad syntax"), std::string::npos) << e.what();
    }
    EXPECT_THROW(ParseJob("[1, 2]", "", "demo.json"), JobError);
}

TEST(JobFile, AnEmptyImageOnlyWhenAllowed)
{
    TempDir dir;
    dir.Write("empty.bin", Bytes());
    const ParsedJob p = ParseJob(JobText(R"("allow_empty_image": true, "image": "empty.bin")"), dir.Path, "job.json");
    EXPECT_TRUE(p.job.image.empty());
    ASSERT_EQ(p.warnings.size(), 1u);
    EXPECT_EQ(p.warnings[0], "job.json: key \"image\": " + dir.File("empty.bin") + ": the image is empty");
}

// The place is the line and the column in characters; the words are ours, not the parser's.
TEST(JobFile, JsonErrorsNameTheLineAndColumn)
{
    const struct {
        std::string text, message;
    } cases[] = {
        {"", "demo.json: not valid JSON (the file is empty)"},
        {"{\"title\": ", "demo.json: not valid JSON (the text ends early)"},
        {"{\"flash_start\": 55E999990}", "demo.json: not valid JSON (a number too large to hold)"},
        {"{\n  \"title\": \"x\",\n}", "demo.json:3:1: not valid JSON (unexpected '}' after a comma)"},
        {"{\"flash_start\": 1\n  \"title\": \"x\"}", "demo.json:2:3: not valid JSON (unexpected string \"title\")"},
        {"{\"title\": \"W\u00e4gezelle\" \"x\"}", "demo.json:1:23: not valid JSON (unexpected string \"x\")"},
        {"{title: \"x\"}", "demo.json:1:2: not valid JSON (unexpected 'title')"},
        {"{'title': \"x\"}", "demo.json:1:2: not valid JSON (unexpected \"'\")"},
        {"{\"flash_start\": 0x1800}", "demo.json:1:17: not valid JSON (unexpected '0x1800')"},
        {"{\"log\": tru}", "demo.json:1:9: not valid JSON (unexpected 'tru')"},
        {"{\"log\": true} x", "demo.json:1:15: not valid JSON (unexpected 'x')"},
        {"{\"log\": true}\n// note", "demo.json:2:1: not valid JSON (unexpected '/')"},
        {"{\"image\": \"fw\n.s19\"}", "demo.json:1:11: not valid JSON (a string not closed on its line)"},
        {"{\"image\": \"C:\\qa\"}",
         "demo.json:1:15: not valid JSON (a bad escape in a string; a backslash is written \\\\)"},
        {"{\"title\": \"\\u12G4\"}",
         "demo.json:1:16: not valid JSON (a bad escape in a string; a backslash is written \\\\)"},
        {"{\"title\": \"a\tb\"}",
         "demo.json:1:13: not valid JSON (control character 0x09 in a string; write it escaped, as \\t for a tab)"},
        {"{\"title\": \"\xC3\x28\"}", "demo.json:1:13: not valid JSON (a string holds text that is not valid UTF-8)"},
        {"\xEF\xBB\xBF{,}", "demo.json:1:2: not valid JSON (unexpected ',')"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        try {
            ParseJob(c.text, "", "demo.json");
            ADD_FAILURE() << "accepted";
        } catch (const JobError& e) {
            EXPECT_EQ(std::string(e.what()), c.message);
        }
    }
}

TEST(JobFile, DescribeRefusesAForeignStructureVersion)
{
    Bytes payload = BuildPayload({});
    payload[0] = 3;
    EXPECT_THROW(DescribePayload(payload.data()), JobError);
}

// ---------------------------------------------------------------- command line

class JobCommand : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir.Write("fw.s37", SRecord(3, 0x1800, PartA) + SRecord(3, 0x1900, PartB));
        dir.Write("unit.bmp", Bitmap());
        dir.Write("job.json", JobText(R"("title": "CLI demo", "flash_start": 6144, "flash_length": 65536,
                                     "image": "fw.s37", "picture": "unit.bmp", "instructions": ["one", "two"])"));
    }
    Result Tool(const std::string& args) { return RunCommand(std::string(MORAVENT_JOB) + " " + args, dir); }
    TempDir dir;
    const std::string probe = JOB_TEMPLATE_PROBE;
};

TEST_F(JobCommand, BuildThenShowRoundTrips)
{
    const std::string out = dir.File("flash.exe");
    Result r = Tool("build " + dir.File("job.json") + " -o " + out + " --template " + probe);
    ASSERT_EQ(r.status, 0) << r.err;
    struct stat st { };
    ASSERT_EQ(::stat(out.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0755u);
    // The stamped executable accepts its own block.
    r = RunCommand(out, dir);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "valid\n");

    r = Tool("show " + out);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, ""); // nothing to note about a job with an image
    const json d = json::parse(r.out);
    EXPECT_EQ(d["title"], "CLI demo");
    EXPECT_EQ(d["image_length"], 384);
    EXPECT_EQ(d["picture_type"], "bmp");
    EXPECT_EQ(d["picture_size"], Bitmap().size());
    EXPECT_EQ(d["instructions"], json::parse(R"(["one","two"])"));
    // Nothing is left behind beside OUT.
    size_t files = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir.Path))
        ++files;
    EXPECT_EQ(files, 4u); // job, image, picture and OUT: nothing temporary
    // File names are bytes: one that is not UTF-8 reaches the file system unchanged.
    fs::copy_file(out, dir.File("\xff.exe"));
    EXPECT_EQ(Tool("show " + dir.File("\xff.exe")).status, 0);
}

// Such a job erases units and programs nothing: refused, unless the job file says it is meant.
TEST_F(JobCommand, AJobWithoutAnImageIsRefusedUnlessAllowed)
{
    const std::string job = dir.File("none.json"), out = dir.File("none.exe");
    const std::string build = "build " + job + " -o " + out + " --template " + probe;
    dir.Write("none.json", std::string("{}"));
    Result r = Tool(build);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
              "moravent-job: " + job +
                  ": key \"image\": missing; a job without an image erases a unit and leaves it empty (add "
                  "\"allow_empty_image\": true if that is meant)\n");
    EXPECT_FALSE(fs::exists(out));

    dir.Write("none.json", std::string(R"({"allow_empty_image": true})"));
    ASSERT_EQ(Tool(build).status, 0);
    r = Tool("show " + out);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(json::parse(r.out)["image_length"], 0); // standard output stays JSON alone
    EXPECT_EQ(r.err,
              "moravent-job: note: " + out +
                  ": the job carries no image (image_length 0): a unit it programs is erased and left empty\n");
}

// diff names each key that differs, the image by its hashes and its first differing offset.
TEST_F(JobCommand, DiffNamesWhatDiffers)
{
    Bytes changed = PartB;
    changed[3] ^= 0xFF;
    dir.Write("fw2.s37", SRecord(3, 0x1800, PartA) + SRecord(3, 0x1900, changed));
    const struct {
        const char* name;
        std::string body;
    } jobs[] = {
        {"a", R"("title": "CLI demo", "flash_start": 6144, "flash_length": 65536, "image": "fw.s37")"},
        {"b", R"("title": "Other", "flash_start": 6144, "flash_length": 65536, "image": "fw.s37")"},
        {"c", R"("title": "CLI demo", "flash_start": 6144, "flash_length": 65536, "image": "fw2.s37")"},
    };
    for (const auto& j : jobs) {
        dir.Write(std::string(j.name) + ".json", JobText(j.body));
        ASSERT_EQ(Tool("build " + dir.File(std::string(j.name) + ".json") + " -o " + dir.File(std::string(j.name) +
                       ".exe") + " --template " + probe).status, 0);
    }
    // The probe carries no version information.
    EXPECT_TRUE(json::parse(Tool("show " + dir.File("a.exe")).out)["template_version"].is_null());
    const struct {
        const char *a, *b;
        int status;
        std::string out;
    } cases[] = {
        {"a", "a", 0, ""},
        {"a", "b", 1, "title: \"CLI demo\" -> \"Other\"\n"},
        {"a", "c", 1, "image: sha256 "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.a) + " " + c.b);
        const Result r = Tool("diff " + dir.File(std::string(c.a) + ".exe") + " " + dir.File(std::string(c.b) + ".exe"));
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_EQ(c.status == 0 ? r.out : r.out.substr(0, c.out.size()), c.out);
    }
    EXPECT_NE(Tool("diff " + dir.File("a.exe") + " " + dir.File("c.exe")).out.find(", first difference at offset 0x103\n"),
              std::string::npos);
}

TEST_F(JobCommand, MarkerMustOccurExactlyOnce)
{
    const std::string probeBytes = ReadFileBytes(probe, size_t(1) << 30);
    dir.Write("twice.exe", probeBytes + probeBytes);
    dir.Write("none.exe", std::string("no block here"));
    const struct {
        const char* templ;
        const char* message;
    } cases[] = {{"twice.exe", "occurs 2 times, it must occur exactly once"}, {"none.exe", "No stored data block in"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.templ);
        const Result r =
            Tool("build " + dir.File("job.json") + " -o " + dir.File("out.exe") + " --template " + dir.File(c.templ));
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_FALSE(fs::exists(dir.File("out.exe")));
        const Result show = Tool("show " + dir.File(c.templ));
        EXPECT_EQ(show.status, 1);
        EXPECT_NE(show.err.find(c.message), std::string::npos) << show.err;
    }
}

// A device, a FIFO or a directory where a job file, template or job executable belongs is
// refused at once, naming the file, instead of blocking or reading without end.
TEST_F(JobCommand, DevicesFifosAndDirectoriesAreRefusedAtOnce)
{
    const std::string fifo = dir.File("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const struct {
        std::string args, message;
    } cases[] = {
        {"show /dev/zero", "Cannot read file /dev/zero (it is a device, not a file)"},
        {"show " + fifo, "Cannot read file " + fifo + " (it is a FIFO, not a file)"},
        {"show /etc", "Cannot read file /etc (it is a directory)"},
        {"build " + fifo + " -o " + dir.File("out.exe"), "Cannot read job file " + fifo + " (it is a FIFO"},
        {"build " + dir.File("job.json") + " -o " + dir.File("out.exe") + " --template /dev/zero",
         "Cannot read template /dev/zero (it is a device, not a file)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        const Result r = Tool(c.args);
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_FALSE(fs::exists(dir.File("out.exe")));
    }
}

TEST_F(JobCommand, AFailedBuildLeavesOutAlone)
{
    dir.Write("bad.json", JobText(R"("title": 7)"));
    dir.Write("old.exe", std::string("previous build"));
    Result r = Tool("build " + dir.File("bad.json") + " -o " + dir.File("old.exe") + " --template " + probe);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("bad.json: key \"title\": expected a string"), std::string::npos) << r.err;
    EXPECT_EQ(ReadFileBytes(dir.File("old.exe"), 1024), "previous build");
    // An unwritable destination fails without leaving a temporary file.
    r = Tool("build " + dir.File("job.json") + " -o " + dir.File("nodir/out.exe") + " --template " + probe);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("nodir/out.exe"), std::string::npos) << r.err;
}

TEST_F(JobCommand, ShowRejectsUnstampedAndDamagedBlocks)
{
    Result r = Tool("show " + probe);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("stored data is not valid"), std::string::npos) << r.err;

    const std::string out = dir.File("flash.exe");
    ASSERT_EQ(Tool("build " + dir.File("job.json") + " -o " + out + " --template " + probe).status, 0);
    std::fstream f(out, std::ios::in | std::ios::out | std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    const size_t at = s.str().find("CLI demo");
    ASSERT_NE(at, std::string::npos);
    f.seekp(std::streamoff(at));
    f.put('X');
    f.close();
    r = Tool("show " + out);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("checksum"), std::string::npos) << r.err;
    EXPECT_EQ(RunCommand(out, dir).out, "Stored data is not valid\n");
}

TEST_F(JobCommand, UsageAndHelp)
{
    const Result help = Tool("--help");
    EXPECT_EQ(help.status, 0);
    for (const char* key : {"identifier", "connect_serial", "boot_connect", "flash_check_seed", "image", "icon",
                            "picture", "instructions", "log", "show", "build"})
        EXPECT_NE(help.out.find(key), std::string::npos) << key;
    for (const std::string& usage : std::vector<std::string>{
             "", "frob", "build " + dir.File("job.json"), "build " + dir.File("job.json") + " -o x --bogus",
             "build a b -o x", "build " + dir.File("job.json") + " -o ''", "show", "show a b", "show a -o b",
             "build " + dir.File("job.json") + " -o x --key k"}) {
        const Result r = Tool(usage);
        EXPECT_EQ(r.status, 2) << usage;
        EXPECT_EQ(r.err.rfind("moravent-job: ", 0), 0u) << usage;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 2) << r.err;
        EXPECT_NE(r.err.find("\nTry 'moravent-job --help' for more information.\n"), std::string::npos) << r.err;
    }
    const Result missing = Tool("build " + dir.File("nope.json") + " -o " + dir.File("o"));
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("nope.json"), std::string::npos);
}

TEST_F(JobCommand, LauncherStartsTheToolFromTheDesktop)
{
    // A folder whose name needs the desktop entry's quoting.
    const std::string folder = dir.File("a b$c");
    fs::create_directory(folder);
    const std::string out = folder + "/demo flash";
    // An icon of 4 x 4 and 8 x 8 pixels: the launcher shows the larger.
    dir.Write("icons.json",
              JobText(R"("title": "Two sizes", "flash_start": 6144, "flash_length": 65536,
                                       "image": "fw.s37", "icon": ")" +
                      std::string(ICON_SEEDS_DIR) + R"(/two_sizes.ico")"));
    const struct {
        std::string job, name;
        uint32_t iconSide; // 0: no icon
    } cases[] = {{std::string(EXAMPLES_DIR) + "/demo-job.json", "Moravent Demo Scale 1.0", 16},
                 {dir.File("icons.json"), "Two sizes", 8},
                 {dir.File("job.json"), "CLI demo", 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.job);
        fs::remove(out + ".png");
        const Result r = Tool("build " + c.job + " -o '" + out + "' --launcher --template " + probe);
        ASSERT_EQ(r.status, 0) << r.err;
        const std::string text = ReadFileBytes(out + ".desktop", 65536);
        std::string expected =
            "[Desktop Entry]\nType=Application\nName=" + c.name + "\nExec=\"" + folder + "/demo flash\"\n";
        expected.replace(expected.find("$c"), 2, "\\\\$c");
        if (c.iconSide)
            expected += "Icon=" + out + ".png\n";
        EXPECT_EQ(text, expected + "Terminal=false\nCategories=Development;Electronics;\n");
        std::ifstream png(out + ".png", std::ios::binary);
        std::string header(24, '\0'); // signature, then the IHDR chunk: width and height
        png.read(header.data(), 24);
        EXPECT_EQ(header.substr(0, 4) == "\x89PNG", c.iconSide != 0);
        if (c.iconSide) {
            const auto* h = reinterpret_cast<const uint8_t*>(header.data());
            EXPECT_EQ(LoadBE32(h + 16), c.iconSide);
            EXPECT_EQ(LoadBE32(h + 20), c.iconSide);
        }
        if (std::system("command -v desktop-file-validate >/dev/null") == 0) {
            const Result valid = RunCommand("desktop-file-validate '" + out + ".desktop'", dir);
            EXPECT_EQ(valid.status, 0);
            EXPECT_EQ(valid.out + valid.err, "");
        }
    }
}

TEST_F(JobCommand, DemoJobBuildsIntoAValidExecutable)
{
    const std::string out = dir.File("demo.exe");
    const Result r = Tool("build " + std::string(EXAMPLES_DIR) + "/demo-job.json -o " + out + " --template " + probe);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, ""); // no warnings either
    EXPECT_EQ(RunCommand(out, dir).out, "valid\n");
    const json d = json::parse(Tool("show " + out).out);
    EXPECT_EQ(d["image_length"], 4096);
    EXPECT_EQ(d["picture_type"], "jpeg");
    EXPECT_EQ(d["flash_check_seed"], 0x81);
}
