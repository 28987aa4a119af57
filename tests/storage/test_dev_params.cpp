#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <stdexcept>

#include "block_writer.h"
#include "dev_params.h"
#include "exceptions.h"
#include "graphics.h"
#include "test_images.h"

namespace {

// A payload copy in fresh pages where [guard, guard + guardSize) is unreadable, so a
// read of bytes an operation must not touch crashes the test instead of passing.
class GuardedPayload {
public:
    GuardedPayload(const std::vector<uint8_t>& payload, size_t guard, size_t guardSize)
    {
        const size_t page = size_t(sysconf(_SC_PAGESIZE));
        const size_t lead = (page - guard % page) % page; // makes data + guard page-aligned
        Length = (lead + payload.size() + page - 1) / page * page + page;
        Base = static_cast<uint8_t*>(mmap(nullptr, Length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
        if (Base == MAP_FAILED)
            throw std::runtime_error("mmap failed");
        Data = Base + lead;
        std::memcpy(Data, payload.data(), payload.size());
        const size_t guarded = (guardSize + page - 1) / page * page;
        if (mprotect(Data + guard, guarded, PROT_NONE) != 0)
            throw std::runtime_error("mprotect failed");
    }
    ~GuardedPayload() { munmap(Base, Length); }
    uint8_t* Data;

private:
    uint8_t* Base;
    size_t Length;
};

// The record of a typical job.
std::vector<uint8_t> TypicalPayload()
{
    std::vector<uint8_t> p = NewPayload();
    PutI32(p, layout::StructureVersion, 4);
    PutText(p, layout::ImageIdentifier, 40, "PN-1234 rev C");
    PutText(p, layout::ImageTitle, 40, "Moravent Scale Firmware 2.3");
    PutSerialSettings(p, layout::ConnectSerial, 7, 3, 0, 0);
    PutSerialSettings(p, layout::ProgramSerial, 12, 3, 0, 0);
    PutText(p, layout::BootConnect, 40, "%55");
    PutText(p, layout::UserConnect, 40, "AB%0D");
    PutText(p, layout::ConnectResponse, 40, "%E6");
    PutI32(p, layout::FlashStart, 0x1800);
    PutI32(p, layout::FlashLength, 256000);
    PutI32(p, layout::ImageLength, 245760);
    PutI32(p, layout::FlashBlockSize, 2048);
    PutU16(p, layout::FlashCheckSeed, 0x81);
    PutU8(p, layout::FlashVerification, 1);
    PutU8(p, layout::FlashEncryption, 0xFF);
    PutU8(p, layout::PictureType, 1);
    return p;
}

std::string Message(const std::function<void()>& f)
{
    try {
        f();
    } catch (const Exception& e) {
        return e.message();
    }
    return "<no exception>";
}

} // namespace

TEST(ProgrammingInfo, TypicalRecordAccessors)
{
    const std::vector<uint8_t> p = TypicalPayload();
    const TExeProgrammingInfo info(p.data());
    EXPECT_EQ(info.Data(), p.data());
    EXPECT_EQ(info.GetStructureVersion(), 4);
    EXPECT_NO_THROW(info.CheckVersion());
    EXPECT_EQ(info.GetImageTitle(), "Moravent Scale Firmware 2.3");
    EXPECT_EQ(info.GetBootConnect(), "%55");
    EXPECT_EQ(info.GetUserConnect(), "AB%0D") << "escapes stay undecoded";
    EXPECT_EQ(info.GetConnectResponse(), "%E6");
    EXPECT_EQ(info.GetFlashStart(), 0x1800);
    EXPECT_EQ(info.GetFlashLength(), 256000);
    EXPECT_EQ(info.GetImageLength(), 245760);
    EXPECT_EQ(info.GetFlashBlockSize(), 2048);
    EXPECT_EQ(info.GetFlashCheckSeed(), 0x81);
    EXPECT_EQ(info.GetFlashVerification(), 1);
    EXPECT_EQ(info.GetFlashEncryption(), 0xFF);
    EXPECT_EQ(info.GetPictureType(), 1);
    EXPECT_FALSE(info.GetLogEnabled());
    EXPECT_EQ(info.GetImageData(), p.data() + 257);
    EXPECT_EQ(info.GetImage().size(), 245760u);
    const TSerialSettingsIndices c = TExeProgrammingInfo::ReadSerialSettings(info.GetConnectSettings());
    EXPECT_EQ(c.BaudRate, 7);
    EXPECT_EQ(TExeProgrammingInfo::ReadSerialSettings(info.GetProgramSettings()).BaudRate, 12);
}

TEST(ProgrammingInfo, NumbersAreLittleEndianAndUnaligned)
{
    std::vector<uint8_t> p = TypicalPayload();
    PutI32(p, layout::FlashStart, -1);
    PutI32(p, layout::FlashBlockSize, 0x01020304);
    PutU16(p, layout::FlashCheckSeed, 0xBEEF);
    PutU8(p, layout::LogSwitch, 0x80);
    const TExeProgrammingInfo info(p.data());
    EXPECT_EQ(info.GetFlashStart(), -1);
    EXPECT_EQ(info.GetFlashBlockSize(), 0x01020304);
    EXPECT_EQ(info.GetFlashCheckSeed(), 0xBEEF);
    EXPECT_EQ(info.GetFlashEncryption(), 0xFF) << "neighbour of the seed untouched";
    EXPECT_TRUE(info.GetLogEnabled());
}

TEST(ProgrammingInfo, SerialBlockUsesLowBytesOnly)
{
    std::vector<uint8_t> p = TypicalPayload();
    PutSerialSettings(p, layout::ProgramSerial, 0x1200000D, 0x0303, 0xFF000002, 2);
    const TSerialSettingsIndices s = TExeProgrammingInfo::ReadSerialSettings(p.data() + layout::ProgramSerial);
    EXPECT_EQ(s.BaudRate, 13); // 115200 bit/s
    EXPECT_EQ(s.DataBits, 3);  // eight
    EXPECT_EQ(s.StopBits, 2);  // two
    EXPECT_EQ(s.Parity, 2);    // even
}

TEST(ProgrammingInfo, StructureVersion)
{
    for (int32_t v : {3, 5, 0, -4, 0x104}) {
        std::vector<uint8_t> p = TypicalPayload();
        PutI32(p, layout::StructureVersion, v);
        EXPECT_EQ(Message([&] { TExeProgrammingInfo(p.data()).CheckVersion(); }), "Structure version does not match")
            << v;
    }
}

TEST(ProgrammingInfo, FixedWidthTexts)
{
    struct Case {
        std::string stored;
        std::string expected;
    };
    const std::string full(40, 'W');
    const Case cases[] = {
        {full, full},
        {"", ""},
        {std::string("ab\0cd", 5), "ab"},
        {"\xB0\xE9 caf\xE9", "\xB0\xE9 caf\xE9"}, // single-byte characters kept as bytes
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> p = TypicalPayload();
        PutText(p, layout::ImageTitle, 40, c.stored);
        p[layout::ImageTitle + 40] = 'X'; // next field's first byte must not be read
        EXPECT_EQ(TExeProgrammingInfo(p.data()).GetImageTitle(), c.expected);
    }
    EXPECT_EQ(TExeProgrammingInfo::ReadFixedText(reinterpret_cast<const uint8_t*>("abc"), 0), "");
}

TEST(ProgrammingInfo, FullInstructionTextStopsBeforeTheLogSwitch)
{
    std::vector<uint8_t> p = TypicalPayload();
    std::string text;
    while (text.size() < 2048)
        text += "Line " + std::to_string(text.size()) + "\r\n";
    text.resize(2048);
    text.back() = 'Z';
    PutText(p, layout::Instructions, 2048, text);
    PutU8(p, layout::LogSwitch, 1);
    GuardedPayload guarded(p, layout::LogSwitch, 1);
    std::vector<std::string> lines;
    TExeProgrammingInfo(guarded.Data).GetInstructions(lines);
    size_t characters = size_t(std::count(text.begin(), text.end(), '\r') + std::count(text.begin(), text.end(), '\n'));
    for (const auto& l : lines)
        characters += l.size();
    EXPECT_EQ(characters, 2048u);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back().back(), 'Z');
}

TEST(ProgrammingInfo, InstructionLinesSplitAtAnyLineBreak)
{
    struct Case {
        std::string text;
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        {"", {}},
        {"one", {"one"}},
        {"one\r\ntwo\r\n", {"one", "two"}},
        {"a\rb\nc\r\nd", {"a", "b", "c", "d"}},
        {"a\r\n\r\nb", {"a", "", "b"}},
        {"a\n\rb", {"a", "", "b"}},
        {"\r\n", {""}},
        {"x\r", {"x"}},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> p = TypicalPayload();
        PutText(p, layout::Instructions, 2048, c.text);
        std::vector<std::string> lines;
        TExeProgrammingInfo(p.data()).GetInstructions(lines);
        EXPECT_EQ(lines, c.lines) << testing::PrintToString(c.text);
    }
    std::vector<uint8_t> p = TypicalPayload();
    PutText(p, layout::Instructions, 2048, "Turn \xE9 off\r\nPlug in");
    QStringList q;
    TExeProgrammingInfo(p.data()).GetInstructions(q);
    ASSERT_EQ(q.size(), 2);
    EXPECT_EQ(q[0], QString::fromLatin1("Turn \xE9 off"));
}

TEST(ProgrammingInfo, PictureTypes)
{
    const std::string jpg = testimg::Jpeg(20, 10);
    const std::string bmp = testimg::Bmp(6, 3);
    struct Case {
        uint8_t type;
        const std::string* file;
        int width;
        const char* error;
    };
    const Case cases[] = {
        {1, &jpg, 20, nullptr},
        {0, &bmp, 6, nullptr},
        {0, &jpg, 0, "Bitmap image is not valid"},
        {1, &bmp, 0, "JPEG image is not valid"},
        {1, nullptr, 0, "JPEG image is not valid"},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> p = TypicalPayload();
        PutU8(p, layout::PictureType, c.type);
        if (c.file)
            PutRegion(p, layout::PictureRegion, layout::PictureRegionSize, c.file->data(), c.file->size());
        TPicture picture;
        const std::string message = Message([&] { TExeProgrammingInfo(p.data()).LoadPicture(picture); });
        if (c.error) {
            EXPECT_EQ(message.rfind(c.error, 0), 0u) << message;
            EXPECT_TRUE(picture.Empty());
        } else {
            EXPECT_EQ(message, "<no exception>");
            EXPECT_EQ(picture.Width(), c.width);
        }
    }
}

TEST(ProgrammingInfo, UnknownPictureTypeNeverTouchesTheRegion)
{
    for (uint8_t type : {2, 0xFF}) {
        std::vector<uint8_t> p = TypicalPayload();
        PutU8(p, layout::PictureType, type);
        GuardedPayload guarded(p, layout::PictureRegion, layout::PictureRegionSize);
        TPicture picture;
        EXPECT_EQ(Message([&] { TExeProgrammingInfo(guarded.Data).LoadPicture(picture); }), "Image type not supported");
    }
}

TEST(ProgrammingInfo, IconRegion)
{
    std::vector<uint8_t> p = TypicalPayload();
    TIcon icon;
    EXPECT_THROW(TExeProgrammingInfo(p.data()).LoadIcon(icon), EInvalidGraphic) << "an empty region is no icon";
    const std::string ico = testimg::Ico({32});
    PutRegion(p, layout::IconRegion, layout::IconRegionSize, ico.data(), ico.size());
    // The picture region right after the icon is unreadable: the icon stays in its region.
    GuardedPayload guarded(p, layout::PictureRegion, layout::PictureRegionSize);
    TExeProgrammingInfo(guarded.Data).LoadIcon(icon);
    EXPECT_EQ(icon.Width(), 32);
}

TEST(ProgrammingInfo, ImageLengthOutsideTheRegionIsRefused)
{
    for (int32_t length : {-1, layout::ImageRegionSize + 1, 0x7FFFFFFF}) {
        std::vector<uint8_t> p = TypicalPayload();
        PutI32(p, layout::ImageLength, length);
        EXPECT_THROW(TExeProgrammingInfo(p.data()).GetImage(), Exception) << length;
    }
    std::vector<uint8_t> p = TypicalPayload();
    PutI32(p, layout::ImageLength, layout::ImageRegionSize);
    EXPECT_EQ(TExeProgrammingInfo(p.data()).GetImage().size(), size_t(layout::ImageRegionSize));
}
