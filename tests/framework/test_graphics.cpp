#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <random>

#include "framework/byteorder.h"
#include "framework/exceptions.h"
#include "framework/graphics.h"
#include "framework/streams.h"
#include "test_images.h"

namespace {

// A zero-padded region of regionSize bytes that starts with file, as stored graphics are.
std::string Region(const std::string& file, size_t regionSize)
{
    std::string r = file;
    if (r.size() < regionSize)
        r.resize(regionSize, '\0');
    return r;
}

void Load(TGraphic& g, const std::string& bytes)
{
    TMemoryStream s;
    s.LoadFrom(bytes.data(), int64_t(bytes.size()));
    g.LoadFromStream(s);
}

void Put32(std::string& s, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        s[at + size_t(i)] = char(v >> (8 * i));
}

// A file whose size field says how long it is, after it was cut or grown.
std::string Sized(std::string bmp)
{
    Put32(bmp, 2, uint32_t(bmp.size()));
    return bmp;
}

int Channel(uint32_t argb, int shift)
{
    return int((argb >> shift) & 255);
}

// Same size and alpha, and colours within tolerance where the pixel is not transparent.
void ExpectImage(const TRgbaImage& got, const TRgbaImage& want, int tolerance, const std::string& name)
{
    ASSERT_EQ(got.Width, want.Width) << name;
    ASSERT_EQ(got.Height, want.Height) << name;
    for (int y = 0; y < want.Height; ++y)
        for (int x = 0; x < want.Width; ++x) {
            const uint32_t g = testimg::Pixel(got, x, y), w = testimg::Pixel(want, x, y);
            bool same = g >> 24 == w >> 24;
            for (int shift = 0; same && shift < 24 && w >> 24; shift += 8)
                same = std::abs(Channel(g, shift) - Channel(w, shift)) <= tolerance;
            ASSERT_TRUE(same) << name << " at " << x << "," << y << std::hex << ": " << g << " for " << w;
        }
}

std::string RandomBytes(size_t n, unsigned seed)
{
    std::mt19937 gen(seed);
    std::string s(n, '\0');
    for (char& c : s)
        c = char(gen());
    return s;
}

struct BadCase {
    const char* name;
    std::function<std::string()> bytes;
    const char* says = ""; // part of the expected reason
};

// Every bad input must raise EInvalidGraphic naming the format and leave the graphic empty.
void ExpectAllRejected(TGraphic& g, const std::vector<BadCase>& cases)
{
    const std::string prefix = std::string(g.FormatName()) + " image is not valid";
    for (const BadCase& c : cases) {
        try {
            Load(g, c.bytes());
            ADD_FAILURE() << c.name << ": loaded " << g.Width() << "x" << g.Height();
        } catch (const EInvalidGraphic& e) {
            EXPECT_EQ(std::string(e.what()).rfind(prefix, 0), 0u) << c.name << ": " << e.what();
            EXPECT_NE(std::string(e.what()).find(c.says), std::string::npos) << c.name << ": " << e.what();
        }
        EXPECT_TRUE(g.Empty()) << c.name;
    }
}

} // namespace

TEST(Bitmap, LoadsFileAtStartOfPaddedRegionAndStopsAfterIt)
{
    const std::string bmp = testimg::Bmp(7, 5);
    TMemoryStream s;
    const std::string region = Region(bmp, 4096);
    s.LoadFrom(region.data(), int64_t(region.size()));
    TBitmap b;
    b.LoadFromStream(s);
    EXPECT_EQ(b.Width(), 7);
    EXPECT_EQ(b.Height(), 5);
    ExpectImage(b.Image(), testimg::Pattern(7, 5), 0, "24 bits");
    EXPECT_EQ(s.Position(), int64_t(bmp.size()));
}

TEST(Bitmap, DecodesEveryStorageFormat)
{
    using testimg::BmpFormat;
    const TRgbaImage gradient = testimg::Pattern(9, 5), two = testimg::FewColours(11, 3, 2),
                     sixteen = testimg::FewColours(13, 6, 16), many = testimg::FewColours(9, 7, 40);
    TRgbaImage translucent = gradient;
    for (size_t i = 3; i < translucent.Pixels.size(); i += 4)
        translucent.Pixels[i] = uint8_t(i * 7);
    TRgbaImage opaque = translucent;
    for (size_t i = 3; i < opaque.Pixels.size(); i += 4)
        opaque.Pixels[i] = 255;
    const struct {
        const char* name;
        const TRgbaImage& image;
        BmpFormat format;
        const TRgbaImage& shown;
        int tolerance = 0;
    } cases[] = {
        {"1 bit", two, {1}, two},
        {"4 bits", sixteen, {4}, sixteen},
        {"8 bits", many, {8}, many},
        {"8 bits, top-down", many, {8, 0, 40, true}, many},
        {"8 bits, OS/2 core header", many, {8, 0, 12}, many},
        {"4 bits, run-length encoded", sixteen, {4, 2}, sixteen},
        {"8 bits, run-length encoded", many, {8, 1}, many},
        {"16 bits, 5-5-5", gradient, {16}, gradient, 8},
        {"16 bits, 5-6-5 bit fields", gradient, {16, 3}, gradient, 8},
        {"24 bits, OS/2 core header", gradient, {24, 0, 12}, gradient},
        {"24 bits, top-down V4 header", gradient, {24, 0, 108, true}, gradient},
        {"32 bits: the fourth byte is no alpha", translucent, {32}, opaque},
        {"32 bits, masks after the info header", translucent, {32, 3}, opaque},
        {"32 bits with alpha, V5 header", translucent, {32, 3, 124}, translucent},
    };
    for (const auto& c : cases) {
        const std::string file = testimg::Bmp(c.image, c.format);
        TMemoryStream s;
        const std::string region = Region(file, file.size() + 64);
        s.LoadFrom(region.data(), int64_t(region.size()));
        TBitmap b;
        ASSERT_NO_THROW(b.LoadFromStream(s)) << c.name;
        ExpectImage(b.Image(), c.shown, c.tolerance, c.name);
        EXPECT_EQ(s.Position(), int64_t(file.size())) << c.name;
    }
}

TEST(Bitmap, RunLengthDeltaSkipsPixelsThatKeepTheFirstColour)
{
    // 4 x 2, 8 bits, colours black, 6A163A, 350B1D: two of colour 1 at the bottom left, a
    // delta one right and one up, one of colour 2, the end.
    std::string bmp = testimg::Bmp(testimg::FewColours(4, 2, 3), {8, 1});
    const size_t pixels = LoadLE32(reinterpret_cast<const uint8_t*>(&bmp[10]));
    bmp = Sized(bmp.substr(0, pixels) + std::string("\x02\x01\x00\x02\x01\x01\x01\x02\x00\x01", 10));
    TBitmap b;
    Load(b, bmp);
    const uint32_t c0 = 0xFF000000, c1 = 0xFF6A163A, c2 = 0xFF350B1D;
    const uint32_t rows[2][4] = {{c0, c0, c0, c2}, {c1, c1, c0, c0}};
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(testimg::Pixel(b.Image(), x, y), rows[y][x]) << x << "," << y;
}

TEST(Bitmap, CorruptInputsRaise)
{
    const std::string bmp = testimg::Bmp(16, 16);
    TBitmap b;
    Load(b, bmp); // a failed load must also clear what was loaded before
    ExpectAllRejected(b,
                      {
                          {"empty", [] { return std::string(); }},
                          {"all zero region", [] { return std::string(4096, '\0'); }},
                          {"random bytes", [] { return RandomBytes(2000, 1); }},
                          {"truncated", [&] { return bmp.substr(0, bmp.size() / 2); }},
                          {"info header cut off, then padding", [&] { return Region(bmp.substr(0, 20), 8192); }},
                          {"declared size beyond region",
                           [&] {
                               auto s = bmp;
                               Put32(s, 2, 1u << 30);
                               return s;
                           }},
                          {"pixel offset beyond file",
                           [&] {
                               auto s = bmp;
                               Put32(s, 10, uint32_t(bmp.size()) + 10);
                               return s;
                           }},
                          {"huge width",
                           [&] {
                               auto s = bmp;
                               Put32(s, 18, 1000000);
                               return s;
                           }},
                          {"huge height",
                           [&] {
                               auto s = bmp;
                               Put32(s, 22, 0x7FFFFFFF);
                               return s;
                           }},
                          {"header only", [&] { return bmp.substr(0, 14); }},
                          {"more pixels than a picture may have",
                           [&] {
                               auto s = bmp;
                               Put32(s, 18, 8192);
                               Put32(s, 22, 4096);
                               return s;
                           },
                           "8192 x 4096 pixels, more than the 16,777,216 (4096 x 4096) a picture may have"},
                          {"one column more than a picture may have",
                           [&] {
                               auto s = bmp;
                               Put32(s, 18, 4097);
                               Put32(s, 22, 4096);
                               return s;
                           },
                           "4097 x 4096 pixels, more than"},
                          {"unknown info header",
                           [&] {
                               auto s = bmp;
                               Put32(s, 14, 41);
                               return s;
                           },
                           "unknown info header size 41"},
                          {"16 bits run-length encoded",
                           [] { return testimg::Bmp(testimg::Pattern(4, 4), {16, 1}); }, "unsupported format"},
                          {"pixel rows cut short", [&] { return Sized(bmp.substr(0, bmp.size() - 1)); },
                           "pixel data is truncated"},
                          {"run-length data without its end",
                           [] {
                               const std::string rle = testimg::Bmp(testimg::FewColours(8, 8, 16), {8, 1});
                               return Sized(rle.substr(0, rle.size() - 2));
                           },
                           "compressed pixel data is truncated"},
                          {"colour table beyond the file",
                           [] {
                               std::string s = testimg::Bmp(testimg::FewColours(2, 2, 2), {8});
                               Put32(s, 46, 0); // every one of 256 entries
                               return Region(s.substr(0, 14 + 40 + 8), 4096);
                           },
                           "colour table is truncated"},
                      });
}

TEST(Icon, LoadsEveryImageAndOffersTheLargest)
{
    const std::string ico = testimg::Ico({16, 32});
    TIcon icon;
    Load(icon, Region(ico, 5120));
    ASSERT_EQ(icon.Images().size(), 2u);
    EXPECT_EQ(icon.Images()[0].Width, 16);
    EXPECT_EQ(icon.Width(), 32);
    EXPECT_EQ(icon.Height(), 32);
}

TEST(Icon, ImagesKeepTheirTransparency)
{
    // Transparent corners; the 32-bit images' alpha is graded.
    TRgbaImage graded = testimg::FewColours(9, 6, 2), flat = graded;
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 9; ++x) {
            const bool corner = (x == 0 || x == 8) && (y == 0 || y == 5);
            graded.Row(y)[4 * x + 3] = corner ? 0 : uint8_t(40 + x * 20);
            flat.Row(y)[4 * x + 3] = corner ? 0 : 255;
        }
    const std::string png = "\x89PNG\r\n\x1a\n" + std::string(40, 'p');
    const struct {
        const char* name;
        std::vector<std::string> images;
        const TRgbaImage& shown;
    } cases[] = {
        {"32 bits with alpha", {testimg::IconImage(graded)}, graded},
        {"32 bits without alpha: the mask", {testimg::IconImage(flat, 32, false)}, flat},
        {"24 bits and the mask", {testimg::IconImage(flat, 24)}, flat},
        {"4 bits and the mask", {testimg::IconImage(flat, 4)}, flat},
        {"1 bit and the mask", {testimg::IconImage(flat, 1)}, flat},
        {"a PNG image is passed over", {png, testimg::IconImage(graded)}, graded},
    };
    for (const auto& c : cases) {
        TIcon icon;
        ASSERT_NO_THROW(Load(icon, testimg::IcoFile(c.images))) << c.name;
        ASSERT_EQ(icon.Images().size(), 1u) << c.name;
        ExpectImage(icon.Image(), c.shown, 0, c.name);
    }
}

TEST(Icon, CorruptInputsRaise)
{
    const std::string ico = testimg::Ico({16});
    TIcon icon;
    ExpectAllRejected(icon,
                      {
                          {"empty", [] { return std::string(); }},
                          {"all zero region", [] { return std::string(5120, '\0'); }},
                          {"random bytes", [] { return RandomBytes(5120, 2); }},
                          {"directory count beyond data",
                           [&] {
                               auto s = ico;
                               s[4] = char(200);
                               return s;
                           }},
                          {"image beyond region",
                           [&] {
                               auto s = ico;
                               Put32(s, 6 + 8, 1u << 20);
                               return s;
                           }},
                          {"image offset inside directory",
                           [&] {
                               auto s = ico;
                               Put32(s, 6 + 12, 2);
                               return s;
                           }},
                          {"truncated", [&] { return ico.substr(0, ico.size() - 100); }},
                          {"garbage image body", [&] { return ico.substr(0, 22) + RandomBytes(ico.size() - 22, 3); }},
                          {"only PNG images",
                           [] { return testimg::IcoFile({"\x89PNG\r\n\x1a\n" + std::string(40, 'p')}); },
                           "every image is stored as PNG"},
                          {"mask cut short",
                           [] {
                               const std::string image = testimg::IconImage(testimg::FewColours(8, 8, 2), 8);
                               return testimg::IcoFile({image.substr(0, image.size() - 4)});
                           },
                           "image 1: transparency mask is truncated"},
                      });
}

TEST(JPEGImage, DecodesRgbAndGrayFromPaddedRegion)
{
    struct Case {
        int w, h, components;
        testimg::Scans scans;
    };
    for (const Case& c : {Case{16, 8, 3, testimg::Scans::Baseline}, Case{9, 13, 1, testimg::Scans::Baseline},
                          Case{24, 16, 3, testimg::Scans::Progressive}}) {
        TJPEGImage j;
        Load(j, Region(testimg::Jpeg(c.w, c.h, c.components, c.scans), 131072));
        EXPECT_EQ(j.Width(), c.w);
        EXPECT_EQ(j.Height(), c.h);
        const uint32_t px = testimg::Pixel(j.Image(), c.w / 2, c.h / 2);
        EXPECT_NEAR(Channel(px, 16), 200, 6) << c.components;
        EXPECT_EQ(px >> 24, 255u);
        if (c.components == 3) {
            EXPECT_NEAR(Channel(px, 8), 30, 6);
            EXPECT_NEAR(Channel(px, 0), 90, 6);
        }
    }
}

// The file with the frame header (baseline SOF0 or progressive SOF2) saying w x h.
std::string WithFrameSize(std::string jpg, int w, int h)
{
    size_t sof = jpg.find("\xFF\xC0");
    if (sof == std::string::npos)
        sof = jpg.find("\xFF\xC2");
    jpg[sof + 5] = char(h >> 8), jpg[sof + 6] = char(h);
    jpg[sof + 7] = char(w >> 8), jpg[sof + 8] = char(w);
    return jpg;
}

TEST(JPEGImage, CorruptInputsRaiseWithLibraryMessage)
{
    const std::string jpg = testimg::Jpeg(64, 48);
    // The frame header (SOF0) holds height and width after its length and precision.
    const size_t sof = jpg.find("\xFF\xC0");
    const size_t sos = jpg.find("\xFF\xDA");
    ASSERT_NE(sof, std::string::npos);
    ASSERT_NE(sos, std::string::npos);
    // The entropy-coded data runs from after the scan header to the end marker.
    const size_t scan = sos + 2 + ((uint8_t(jpg[sos + 2]) << 8) | uint8_t(jpg[sos + 3])), scanEnd = jpg.size() - 2;
    TJPEGImage j;
    ExpectAllRejected(
        j,
        {
            {"empty", [] { return std::string(); }},
            {"all zero region", [] { return std::string(131072, '\0'); }},
            {"random bytes", [] { return RandomBytes(4000, 4); }},
            {"truncated", [&] { return jpg.substr(0, jpg.size() / 2); }, "Premature end of JPEG file"},
            {"truncated then padded", [&] { return Region(jpg.substr(0, jpg.size() / 2), 131072); },
             "Premature end of JPEG file"},
            {"end marker missing", [&] { return jpg.substr(0, jpg.size() - 2); }, "Premature end of JPEG file"},
            {"header only", [&] { return jpg.substr(0, sof + 2); }},
            {"huge declared size",
             [&] {
                 auto s = jpg;
                 s[sof + 5] = s[sof + 6] = s[sof + 7] = s[sof + 8] = char(0xF0);
                 return s;
             }},
            {"zero width",
             [&] {
                 auto s = jpg;
                 s[sof + 7] = s[sof + 8] = 0;
                 return s;
             }},
            {"scrambled scan data",
             [&] {
                 auto s = jpg;
                 for (size_t i = scan + 4; i < scanEnd; ++i)
                     s[i] = char(0xFF);
                 return s;
             },
             "Corrupt JPEG data"},
            {"scan data of all one bits",
             [&] {
                 // Stuffed 0xFF 0x00 pairs: no Huffman code of the tables is all ones.
                 auto s = jpg;
                 for (size_t i = scan; i + 1 < scanEnd; i += 2)
                     s.replace(i, 2, "\xFF\x00", 2);
                 return s;
             },
             "Corrupt JPEG data: bad Huffman code"},
            {"more scans than any encoder writes", [] { return testimg::Jpeg(8, 8, 1, testimg::Scans::EveryBit); },
             "more than 100 scans"},
            // Refused from the header, before the decoder allocates for the whole image.
            {"progressive, 8192 x 4096 pixels",
             [] { return WithFrameSize(testimg::Jpeg(16, 8, 3, testimg::Scans::Progressive), 8192, 4096); },
             "8192 x 4096 pixels, more than the 16,777,216 (4096 x 4096) a picture may have"},
            {"one column more than a picture may have", [&] { return WithFrameSize(jpg, 4097, 4096); },
             "4097 x 4096 pixels, more than"},
            {"as many pixels as a picture may have, and the scan data of 64 x 48",
             [&] { return WithFrameSize(jpg, 4096, 4096); }, "Corrupt JPEG data"},
        });
    try {
        Load(j, std::string(100, '\0'));
    } catch (const EInvalidGraphic& e) {
        EXPECT_NE(std::string(e.what()).find("Not a JPEG file"), std::string::npos) << e.what();
    }
}

TEST(JPEGImage, FilesWithOnlyRecoverableWarningsLoad)
{
    // What image viewers show in spite of libjpeg's warning must show here too.
    const std::string jpg = testimg::Jpeg(64, 48);
    const size_t dqt = jpg.find("\xFF\xDB");
    const size_t jfif = jpg.find("JFIF");
    ASSERT_NE(dqt, std::string::npos);
    ASSERT_NE(jfif, std::string::npos);
    const struct {
        const char* name;
        std::string bytes;
    } cases[] = {
        {"extraneous bytes before the end marker", jpg.substr(0, jpg.size() - 2) + "\x12\x34\x56\xFF\xD9"},
        {"extraneous bytes between header segments", jpg.substr(0, dqt) + std::string(7, '\0') + jpg.substr(dqt)},
        {"unknown JFIF revision", jpg.substr(0, jfif + 5) + "\x03" + jpg.substr(jfif + 6)},
    };
    for (const auto& c : cases) {
        TJPEGImage j;
        EXPECT_NO_THROW(Load(j, Region(c.bytes, 4096))) << c.name;
        EXPECT_EQ(j.Width(), 64) << c.name;
        EXPECT_EQ(j.Height(), 48) << c.name;
        EXPECT_NEAR(Channel(testimg::Pixel(j.Image(), 32, 24), 16), 200, 6) << c.name;
    }
}

TEST(Picture, KeepsItsOwnCopyOfTheAssignedGraphic)
{
    TPicture picture;
    EXPECT_TRUE(picture.Empty());
    EXPECT_TRUE(picture.Image().Null());
    EXPECT_EQ(picture.Graphic(), nullptr);
    {
        TJPEGImage j;
        Load(j, testimg::Jpeg(10, 4));
        picture.Assign(j);
        EXPECT_ANY_THROW(Load(j, "junk")); // the source changes; the copy must not
    }
    ASSERT_NE(dynamic_cast<const TJPEGImage*>(picture.Graphic()), nullptr);
    EXPECT_EQ(picture.Width(), 10);
    TPicture copy = picture;
    picture.Clear();
    EXPECT_EQ(copy.Height(), 4);
    EXPECT_EQ(copy.Image().Width, 10);
}
