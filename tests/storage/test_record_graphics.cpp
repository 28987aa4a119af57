// The record's icon and picture (builds with the graphics).
#include <gtest/gtest.h>

#include "framework/graphics.h"
#include "record_fixture.h"
#include "storage/dev_params.h"
#include "tests/framework/test_images.h"

using namespace recordtest;

TEST(ProgrammingInfo, PictureTypes)
{
    const std::string jpg = testimg::Jpeg(20, 10);
    const std::string bmp = testimg::Bmp(6, 3);
    std::string huge = jpg; // the frame header says 8192 x 4096
    const size_t sof = huge.find("\xFF\xC0");
    huge.replace(sof + 5, 4, "\x10\x00\x20\x00", 4);
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
        {1, &huge, 0, "JPEG image is not valid: 8192 x 4096 pixels, more than"},
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
