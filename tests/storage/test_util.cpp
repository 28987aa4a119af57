#include <gtest/gtest.h>

#include "framework/exceptions.h"
#include "framework/streams.h"
#include "storage/exist_ms.h"
#include "storage/hex.h"
#include "storage/util.h"

namespace {

template <typename E, typename F> std::string MessageOf(F&& f)
{
    try {
        f();
    } catch (const E& e) {
        return e.message();
    }
    return "<no exception>";
}

} // namespace

TEST(Hex, PairValues)
{
    struct Case {
        std::string in;
        int value;
    };
    for (const Case& c :
         {Case{"ff", 255}, Case{"FF", 255}, Case{"fF", 255}, Case{"0A7", 10}, Case{"00", 0}, Case{"9a", 0x9A}})
        EXPECT_EQ(HexPairValue(c.in), c.value) << c.in;
}

TEST(Hex, BadInputMessages)
{
    struct Case {
        std::string in;
        std::string message;
    };
    for (const Case& c :
         {Case{"7", "String too short to convert"}, Case{"", "String too short to convert"},
          Case{"G1", "Can't convert non-hex character: G"}, Case{"1g", "Can't convert non-hex character: g"},
          Case{" 1", "Can't convert non-hex character:  "}})
        EXPECT_EQ(MessageOf<EConvertError>([&] { HexPairValue(c.in); }), c.message) << c.in;
}

TEST(Util, Swaps)
{
    EXPECT_EQ(Swap16(0x0081), 0x8100);
    EXPECT_EQ(Swap16(0x1234), 0x3412);
    EXPECT_EQ(Swap32(0x12345678u), 0x78563412u);
    EXPECT_EQ(Swap32(0x63DE3D96u), 0x963DDE63u);
}

TEST(Util, UnescapeText)
{
    struct Case {
        std::string in;
        std::string out;
    };
    const Case cases[] = {
        {"", ""},
        {"%41%42", "AB"},
        {"AB%0D", "AB\r"},
        {"%02AB%03",
         "\x02"
         "AB"
         "\x03"},
        {"plain text", "plain text"},
        {"%25", "%"},
        {"a%00b", std::string("a\0b", 3)}, // a counted string keeps the NUL
        {"%ff%FF", "\xFF\xFF"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(UnescapeText(c.in), c.out) << c.in;
}

TEST(Util, UnescapeBadEscapes)
{
    struct Case {
        std::string in;
        std::string message;
    };
    for (const Case& c :
         {Case{"A%", "String too short to convert"}, Case{"AB%4", "String too short to convert"},
          Case{"%G1", "Can't convert non-hex character: G"}, Case{"x%1Z", "Can't convert non-hex character: Z"}})
        EXPECT_EQ(MessageOf<EConvertError>([&] { UnescapeText(c.in); }), c.message) << c.in;
}

TEST(PadStream, FillsMemoryStreams)
{
    TMemoryStream s;
    s.SetSize(300);
    EXPECT_EQ(PadStreamToSize(s, 384, 0xFF), 384);
    ASSERT_EQ(s.Size(), 384);
    for (int i = 0; i < 384; ++i)
        ASSERT_EQ(s.Memory()[i], i < 300 ? 0 : 0xFF) << i;

    s.SetPosition(17);
    EXPECT_EQ(PadStreamToSize(s, 200, 0xFF), 384);
    EXPECT_EQ(s.Size(), 384);
    EXPECT_EQ(s.Position(), 17) << "no fill needed: position untouched";

    // A range starting past the end is reached by filling from the end.
    TMemoryStream r;
    r.SetSize(10);
    EXPECT_EQ(PadStreamRange(r, 20, 5, 0xAA), 25);
    ASSERT_EQ(r.Size(), 25);
    for (int i = 10; i < 25; ++i)
        EXPECT_EQ(r.Memory()[i], 0xAA) << i;

    EXPECT_EQ(PadStreamTo(r, 3, 0x11), 25) << "already beyond target";
}

TEST(PadStream, ExistingMemoryRefusesFillButAllowsNoOp)
{
    uint8_t mem[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    TExistingMemoryStream s(mem, sizeof mem);
    EXPECT_EQ(PadStreamToSize(s, 8, 0xFF), 8);
    EXPECT_EQ(PadStreamToSize(s, 4, 0xFF), 8);
    s.SetPosition(2);
    EXPECT_EQ(MessageOf<EWriteError>([&] { PadStreamTo(s, 5, 0xFF); }), "Stream write error");
    EXPECT_EQ(MessageOf<EWriteError>([&] { PadStreamToSize(s, 9, 0xFF); }), "Stream write error");
    EXPECT_EQ(mem[2], 3);
    EXPECT_EQ(mem[7], 8);
}
