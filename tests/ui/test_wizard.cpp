// Connect wizard: instruction layout, the 20-line limit, picture scaling and results.
#include "framework/exceptions.h"
#include "framework/forms/qt/controls_qt.h"
#include "framework/forms/qt/form_qt.h"
#include "framework/streams.h"
#include "ui/wizard.h"
#include "ui_test_util.h"

#include <QBuffer>
#include <QLabel>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

std::vector<std::string> Lines(int n)
{
    std::vector<std::string> lines;
    for (int i = 0; i < n; ++i)
        lines.push_back("Step " + std::to_string(i + 1));
    return lines;
}

// The labels the toolkit has on the panel, whatever the window code keeps.
int LabelsOnPanel(const TfrmConnectWiz& wiz)
{
    return static_cast<int>(QtWidgetOf(wiz.PanelText)->findChildren<QLabel*>().size());
}

QLabel* Shown(const TLabel* label)
{
    return qobject_cast<QLabel*>(QtWidgetOf(*label));
}

} // namespace

TEST(Wizard, LinesSitOnATwelveAndThreeQuarterPixelPitchRoundedHalfToEven)
{
    const int tops[20] = {5, 18, 31, 43, 56, 69, 81, 94, 107, 120, 133, 145, 158, 171, 183, 196, 209, 222, 235, 247};
    TfrmConnectWiz wiz;
    wiz.SetInstructions(Lines(20));
    ASSERT_EQ(LabelsOnPanel(wiz), 20);
    for (int i = 0; i < 20; ++i) {
        ASSERT_NE(wiz.Labels[i], nullptr);
        EXPECT_EQ(TfrmConnectWiz::LabelTop(i), tops[i]) << i;
        EXPECT_EQ(Shown(wiz.Labels[i])->pos(), QPoint(5, tops[i])) << i;
        EXPECT_EQ(wiz.Labels[i]->Caption(), "Step " + std::to_string(i + 1));
        EXPECT_FALSE(Shown(wiz.Labels[i])->wordWrap());
    }
}

TEST(Wizard, InstructionsReplaceEachOtherAndTooManyLeaveTheOldOnes)
{
    TfrmConnectWiz wiz;
    wiz.SetInstructions({"first", "", "third"});
    EXPECT_EQ(LabelsOnPanel(wiz), 3);
    EXPECT_EQ(wiz.Labels[1]->Bounds().Top, 18); // an empty line keeps its place
    EXPECT_EQ(wiz.Labels[2]->Bounds().Top, 31);
    TLabel* kept = wiz.Labels[0];

    try {
        wiz.SetInstructions(Lines(21));
        FAIL() << "21 lines accepted";
    } catch (const Exception& e) {
        EXPECT_STREQ(e.what(), "Too Many Strings");
    }
    EXPECT_EQ(wiz.Labels[0], kept);
    EXPECT_EQ(kept->Caption(), "first");
    EXPECT_EQ(LabelsOnPanel(wiz), 3);

    // Same lines twice: same layout, nothing left behind.
    wiz.SetInstructions(Lines(5));
    std::vector<TRect> first;
    for (int i = 0; i < 5; ++i)
        first.push_back(wiz.Labels[i]->Bounds());
    wiz.SetInstructions(Lines(5));
    EXPECT_EQ(LabelsOnPanel(wiz), 5);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(wiz.Labels[i]->Bounds(), first[i]);
    EXPECT_EQ(wiz.Labels[5], nullptr);

    wiz.SetInstructions({});
    EXPECT_EQ(LabelsOnPanel(wiz), 0);
    wiz.SetInstructions(Lines(2));
    wiz.ClearInstructions();
    EXPECT_EQ(LabelsOnPanel(wiz), 0);
    for (TLabel* label : wiz.Labels)
        EXPECT_EQ(label, nullptr);
}

TEST(Wizard, PictureLongerSideBecomesTwoHundredPixels)
{
    struct Case {
        int w, h, shownW, shownH;
    };
    const Case cases[] = {
        {640, 480, 200, 150}, {300, 400, 150, 200},
        {200, 200, 200, 200}, {50, 50, 200, 200}, // small pictures are enlarged
        {3, 2, 200, 133},     {80, 5, 200, 12},   // 12.5 goes to the even 12
        {400, 3, 200, 2},                         // 1.5 goes to the even 2
        {5, 80, 12, 200},     {1000, 1, 200, 0},  // 0.2 rounds away
    };
    TfrmConnectWiz wiz;
    for (const Case& c : cases) {
        wiz.SetPicture(TSizedGraphic(c.w, c.h));
        EXPECT_EQ(wiz.Image.Bounds(), (TRect{0, 0, c.shownW, c.shownH})) << c.w << "x" << c.h;
        EXPECT_EQ(wiz.Picture().Width(), c.w);
    }
}

TEST(Wizard, PictureWithoutSizeIsRefusedBeforeAnythingChanges)
{
    TfrmConnectWiz wiz;
    wiz.SetPicture(TSizedGraphic(640, 480));
    for (auto [w, h] : {std::pair{0, 0}, std::pair{0, 10}, std::pair{10, 0}}) {
        EXPECT_THROW(wiz.SetPicture(TSizedGraphic(w, h)), EInvalidGraphic);
        EXPECT_EQ(wiz.Image.Bounds(), (TRect{0, 0, 200, 150}));
        EXPECT_EQ(wiz.Picture().Width(), 640);
    }
}

TEST(Wizard, JpegPictureIsShownScaledAndIsACopy)
{
    QImage source(320, 240, QImage::Format_RGB32);
    source.fill(Qt::red);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    ASSERT_TRUE(source.save(&buffer, "JPG"));
    TMemoryStream stream;
    stream.LoadFrom(bytes.constData(), bytes.size());

    TfrmConnectWiz wiz;
    {
        TJPEGImage jpeg;
        jpeg.LoadFromStream(stream);
        wiz.SetPicture(jpeg);
    } // the caller's graphic is gone; the window keeps its copy
    EXPECT_EQ(wiz.Image.Bounds(), (TRect{0, 0, 200, 150}));
    EXPECT_EQ(wiz.Picture().Height(), 240);
    EXPECT_TRUE(wiz.Image.HasPicture());
}

TEST(Wizard, EnterGoesOnEscapeAndCloseBoxCancel)
{
    TfrmConnectWiz wiz;
    QWidget* window = QtWindowOf(wiz.Form());
    EXPECT_EQ(wiz.Form().Caption(), "Connecting the Unit to the PC");
    EXPECT_EQ(window->size(), QSize(484, 272));

    struct Case {
        const char* what;
        std::function<void()> act;
        int result;
    };
    const Case cases[] = {
        {"Enter", [&] { QTest::keyClick(window, Qt::Key_Return); }, mrOk},
        {"Next", [&] { wiz.btnNext.Click(); }, mrOk},
        {"Esc", [&] { QTest::keyClick(window, Qt::Key_Escape); }, mrCancel},
        {"Cancel", [&] { wiz.btnCancel.Click(); }, mrCancel},
        {"close box", [&] { EXPECT_TRUE(wiz.Form().Close()); }, mrCancel},
    };
    for (const Case& c : cases) {
        bool shown = false;
        QTimer::singleShot(0, [&] {
            shown = wiz.Form().Visible();
            c.act();
        });
        EXPECT_EQ(wiz.Form().ShowModal(), c.result) << c.what;
        EXPECT_TRUE(shown) << c.what;
        EXPECT_FALSE(wiz.Form().Visible()) << c.what;
    }
}
