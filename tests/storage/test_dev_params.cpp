#include <gtest/gtest.h>

#include <algorithm>

#include "framework/exceptions.h"
#include "record_fixture.h"
#include "storage/dev_params.h"

using namespace recordtest;

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
    TStringList lines;
    TExeProgrammingInfo(guarded.Data).GetInstructions(lines);
    size_t characters = size_t(std::count(text.begin(), text.end(), '\r') + std::count(text.begin(), text.end(), '\n'));
    for (const auto& l : lines)
        characters += l.size();
    EXPECT_EQ(characters, 2048u);
    ASSERT_FALSE(lines.Empty());
    EXPECT_EQ(lines[lines.Count() - 1].back(), 'Z');
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
        {"Turn \xE9 off\r\nPlug in", {"Turn \xE9 off", "Plug in"}}, // bytes, not UTF-8
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> p = TypicalPayload();
        PutText(p, layout::Instructions, 2048, c.text);
        TStringList lines{"left over"};
        TExeProgrammingInfo(p.data()).GetInstructions(lines);
        EXPECT_EQ(lines.Strings(), c.lines) << testing::PrintToString(c.text);
    }
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
