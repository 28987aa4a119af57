#include <gtest/gtest.h>

#include "framework/exceptions.h"
#include "framework/streams.h"

TEST(MemoryStream, GrowsOnWriteAndReadsBack)
{
    TMemoryStream s;
    const char text[] = "hello";
    s.WriteBuffer(text, 5);
    EXPECT_EQ(s.Size(), 5);
    s.Seek(10, soBeginning);
    s.WriteBuffer("x", 1);
    EXPECT_EQ(s.Size(), 11);
    EXPECT_EQ(s.Memory()[7], 0) << "gap is zero-filled";
    char out[5];
    s.SetPosition(0);
    s.ReadBuffer(out, 5);
    EXPECT_EQ(std::string(out, 5), "hello");
}

TEST(MemoryStream, ReadBufferPastEndRaisesReadError)
{
    TMemoryStream s;
    s.WriteBuffer("ab", 2);
    s.SetPosition(1);
    char out[2];
    try {
        s.ReadBuffer(out, 2);
        FAIL() << "expected EReadError";
    } catch (const EReadError& e) {
        EXPECT_STREQ(e.what(), "Stream read error");
    }
}

TEST(Exceptions, FullStopRule)
{
    struct Case {
        const char* in;
        const char* out;
    };
    const Case cases[] = {
        {"", ""},
        {"Connect Cancelled by User", "Connect Cancelled by User."},
        {"Present! (x).", "Present! (x)."},
        {"Done!", "Done!"},
        {"(x)", "(x)"},
        {"ends 7", "ends 7."},
        {"space ", "space "},
    };
    for (const auto& c : cases)
        EXPECT_EQ(WithFullStop(c.in), c.out) << c.in;
}
