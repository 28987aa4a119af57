// Version information: the block layout, path look-ups, the version split, reading from
// ELF files with and without the block, and the program's own block.
#include "framework/forms/application.h"
#include "framework/forms/qt/form_qt.h"
#include "framework/versionblock.h"
#include "ui/about.h"
#include "ui/CEVersionInfo.h"
#include "ui/version.h"
#include "ui_test_util.h"

#include <QTimer>
#include <QWidget>
#include <cstring>
#include <gtest/gtest.h>

namespace {

const std::string NA = VersionInfoNotAvailable;

TVersionBlockSpec SampleSpec(const std::string& fileVersion)
{
    TVersionBlockSpec info;
    info.FileVersion[0] = 2;
    info.FileVersion[2] = 1;
    info.Strings = {{"CompanyName", "Acme"}, {"FileDescription", "Test Tool"}, {"FileVersion", fileVersion},
                    {"InternalName", "tt"},  {"LegalCopyright", "(C) Acme"},   {"LegalTrademarks", ""},
                    {"ProductName", "TT-1"}, {"ProductVersion", fileVersion}};
    return info;
}

class VersionFile : public ::testing::Test {
protected:
    std::string Write(const std::string& name, const std::string& bytes)
    {
        std::string path = Dir.filePath(QString::fromStdString(name)).toStdString();
        WriteFile(path, bytes);
        return path;
    }
    QTemporaryDir Dir;
};

} // namespace

TEST(VersionBlock, PathsWithDoubledSeparatorsAndAnyCaseFindTheStrings)
{
    std::vector<uint8_t> block = BuildVersionBlock(SampleSpec("2.0.1.0"));
    const auto size = static_cast<uint32_t>(block.size());
    struct Case {
        const char* path;
        bool found;
        const char* text;
    };
    const Case cases[] = {
        {"\\StringFileInfo\\040904E4\\CompanyName", true, "Acme"},
        {"\\\\StringFileInfo\\\\040904E4\\\\CompanyName", true, "Acme"},
        {"\\stringfileinfo\\040904e4\\LEGALTRADEMARKS", true, ""},
        {"\\\\StringFileInfo\\\\040904E4\\\\Internalname", true, "tt"},
        {"\\StringFileInfo\\040904E4\\Comments", false, ""},
        {"\\StringFileInfo\\040704E4\\CompanyName", false, ""},
        {"\\StringFileInfo\\040904E4\\CompanyNam", false, ""},
    };
    for (const Case& c : cases) {
        std::string text = "unchanged";
        EXPECT_EQ(VerQueryString(block.data(), size, c.path, text), c.found) << c.path;
        if (c.found) {
            EXPECT_EQ(text, c.text) << c.path;
        }
    }

    const void* value = nullptr;
    uint32_t length = 0;
    ASSERT_TRUE(VerQueryValue(block.data(), size, "\\\\VarFileInfo\\\\Translation", &value, &length));
    ASSERT_EQ(length, 4u);
    const auto* t = static_cast<const uint8_t*>(value);
    EXPECT_EQ(t[0] | (t[1] << 8), 0x0409);
    EXPECT_EQ(t[2] | (t[3] << 8), 0x04E4);

    ASSERT_TRUE(VerQueryValue(block.data(), size, "\\", &value, &length));
    ASSERT_EQ(length, 52u);
    uint32_t fixed[13];
    std::memcpy(fixed, value, sizeof fixed);
    EXPECT_EQ(fixed[0], 0xFEEF04BDu);
    EXPECT_EQ(fixed[2], 0x00020000u); // 2.0
    EXPECT_EQ(fixed[3], 0x00010000u); // .1.0
}

TEST(VersionBlock, DamagedBlocksAreRefusedWithoutReadingOutside)
{
    std::vector<uint8_t> block = BuildVersionBlock(SampleSpec("2.0.1.0"));
    std::string text;
    // Every truncation: the look-up may fail but must stay inside the given size
    // (the sanitizer build checks the reads).
    for (size_t n = 0; n < block.size(); ++n) {
        std::vector<uint8_t> cut(block.begin(), block.begin() + static_cast<long>(n));
        VerQueryString(cut.data(), static_cast<uint32_t>(n), "\\StringFileInfo\\040904E4\\ProductVersion", text);
    }
    // Corrupt each length word in turn.
    for (size_t at = 0; at + 1 < block.size(); at += 2) {
        std::vector<uint8_t> bad = block;
        bad[at] = 0xFF;
        bad[at + 1] = 0xFF;
        VerQueryString(bad.data(), static_cast<uint32_t>(bad.size()), "\\StringFileInfo\\040904E4\\Comments", text);
    }
    EXPECT_FALSE(VerQueryString(block.data(), 0, "\\", text));
    EXPECT_FALSE(VerQueryValue(nullptr, 100, "\\", nullptr, nullptr));
}

TEST(VersionSplit, FileVersionPartsFollowTheSeparatorRules)
{
    struct Case {
        const char* version;
        const char* major;
        const char* minor;
        const char* release;
        const char* build;
    };
    const char* na = VersionInfoNotAvailable;
    const Case cases[] = {
        {"2.0.1.0", "2", "0", "1", "0"},
        {"2,0,1,0", "2", "0", "1", "0"},
        {"1.0", "1", "", "", "0"},
        {"7", na, na, na, na},
        {"", na, na, na, na},
        {"1.2.3.4.5", "1", "2", "3", "4.5"},
        {"3,4", "3", "", "", "4"},
        {"1,2.3", "1,2", "", "", "3"}, // a full stop wins as the separator
    };
    for (const Case& c : cases) {
        TCEVersionInfo info{TCEVersionInfo::NoRead{}};
        info.FileVersion = c.version;
        info.SplitFileVersion();
        EXPECT_EQ(info.MajorVersion, c.major) << c.version;
        EXPECT_EQ(info.MinorVersion, c.minor) << c.version;
        EXPECT_EQ(info.Release, c.release) << c.version;
        EXPECT_EQ(info.Build, c.build) << c.version;
    }
}

TEST_F(VersionFile, ReadsTheBlockFromAnElfSection)
{
    std::string path = Write("tool", MakeElf(VersionSectionName, BuildVersionBlock(SampleSpec("2,0,1,0"))));
    TCEVersionInfo info{TCEVersionInfo::NoRead{}};
    info.ReadVersionInfo(path);
    EXPECT_EQ(info.CompanyName, "Acme");
    EXPECT_EQ(info.FileDescription, "Test Tool");
    EXPECT_EQ(info.Internalname, "tt");
    EXPECT_EQ(info.LegalTradeMarks, "");
    EXPECT_EQ(info.Comments, ""); // a key the table lacks reads empty
    EXPECT_EQ(info.OriginalFilename, "");
    EXPECT_EQ(info.MajorVersion, "2");
    EXPECT_EQ(info.Build, "0");

    std::string description, line, notice;
    GetVersionStrings(path, description, line, notice);
    EXPECT_EQ(description, "Test Tool");
    EXPECT_EQ(line, "TT-1-2.0.1\r");
    EXPECT_EQ(notice, "(C) Acme");

    GetVersionStrings(Write("short", MakeElf(VersionSectionName, BuildVersionBlock(SampleSpec("1.0")))), description,
                      line, notice);
    EXPECT_EQ(line, "TT-1-1..\r");
}

TEST_F(VersionFile, FilesWithoutUsableInformationGiveNotAvailableEverywhere)
{
    TVersionBlockSpec noTranslation = SampleSpec("2.0.1.0");
    noTranslation.WithTranslation = false;
    std::string elf = MakeElf(VersionSectionName, BuildVersionBlock(SampleSpec("2.0.1.0")));
    std::string badOffset = elf;
    badOffset[40] = '\x7f'; // section headers far beyond the end of the file

    const std::vector<std::pair<const char*, std::string>> files = {
        {"no section", MakeElf(".text", {1, 2, 3, 4})},
        {"only names", MakeElf("", {})},
        {"empty section", MakeElf(VersionSectionName, {})},
        {"no translation", MakeElf(VersionSectionName, BuildVersionBlock(noTranslation))},
        {"not elf", "#!/bin/sh\necho hello\n"},
        {"empty file", ""},
        {"truncated", elf.substr(0, 40)},
        {"bad header offset", badOffset},
    };
    for (const auto& [what, bytes] : files) {
        std::string path = Write("f", bytes);
        TCEVersionInfo info{TCEVersionInfo::NoRead{}};
        info.ReadVersionInfo(path);
        for (const std::string* s :
             {&info.CompanyName, &info.FileDescription, &info.FileVersion, &info.Internalname, &info.LegalCopyright,
              &info.LegalTradeMarks, &info.OriginalFilename, &info.ProductName, &info.ProductVersion, &info.Comments,
              &info.MajorVersion, &info.MinorVersion, &info.Release, &info.Build})
            EXPECT_EQ(*s, NA) << what;
    }
    std::string description, line, notice;
    GetVersionStrings(Dir.filePath("missing").toStdString(), description, line, notice);
    EXPECT_EQ(description, NA);
    EXPECT_EQ(line, NA + "-" + NA + "." + NA + "." + NA + "\r");
    EXPECT_EQ(notice, NA);
}

TEST(OwnVersion, TheBuiltProgramCarriesItsVersionBlock)
{
    TCEVersionInfo info; // reads the running executable
    EXPECT_EQ(info.CompanyName, "Moravent Instruments Ltd");
    EXPECT_EQ(info.FileDescription, "Moravent Flash Programmer");
    EXPECT_EQ(info.FileVersion, "2.0.1.0");
    EXPECT_EQ(info.ProductVersion, "2.0.1.0");
    EXPECT_EQ(info.ProductName, "MV-FLASH");
    EXPECT_EQ(info.LegalTradeMarks, "");
    EXPECT_EQ(info.Comments, "");
    EXPECT_EQ(info.MajorVersion + info.MinorVersion + info.Release + info.Build, "2010");

    std::vector<uint8_t> block(GetFileVersionInfoSize(ApplicationExeName()));
    ASSERT_FALSE(block.empty());
    ASSERT_TRUE(GetFileVersionInfo(ApplicationExeName(), static_cast<uint32_t>(block.size()), block.data()));
    const void* value = nullptr;
    uint32_t length = 0;
    ASSERT_TRUE(VerQueryValue(block.data(), static_cast<uint32_t>(block.size()), "\\", &value, &length));
    uint32_t fixed[4];
    std::memcpy(fixed, value, sizeof fixed);
    EXPECT_EQ(fixed[2], 0x00020000u);
    EXPECT_EQ(fixed[3], 0x00010000u);
}

TEST(About, ShowsTheProgramsTextsAndTheImageLine)
{
    std::vector<std::string> opened;
    auto savedHook = OpenUrlHook;
    OpenUrlHook = [&opened](const std::string& address) { opened.push_back(address); };

    TfrmAbout about;
    QWidget* window = QtWindowOf(about.Form());
    EXPECT_EQ(about.Form().Caption(), "About Moravent Flash Programmer");
    EXPECT_EQ(about.lblProgram.Caption(), "Moravent Flash Programmer");
    EXPECT_EQ(about.lblVersion.Caption(), "MV-FLASH-2.0.1");
    EXPECT_EQ(about.lblCopyright.Caption(), "Copyright (C) 2026 Moravent Instruments Ltd");
    EXPECT_EQ(about.lblBinaryImage.Caption(), "No Flash Image Available");
    EXPECT_TRUE(about.ImageMV.HasPicture());
    EXPECT_FALSE(window->windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_EQ(window->size(), QSize(455, 199));

    about.SetImageText("Flash Image: WX-300 v4.2");
    EXPECT_EQ(about.lblBinaryImage.Caption(), "Flash Image: WX-300 v4.2");
    // A title too long for the window is elided, not cut off at the edge.
    about.SetImageText("Flash Image: " + std::string(200, 'W'));
    EXPECT_LE(about.lblBinaryImage.Bounds().Right(), about.Form().ClientWidth() - 8);
    EXPECT_TRUE(about.lblBinaryImage.Caption().ends_with("...")) << about.lblBinaryImage.Caption();

    about.lblBriskoWeb.Click();
    EXPECT_EQ(opened, std::vector<std::string>{"http://www.moravent.example"});

    bool shown = false;
    QTimer::singleShot(0, [&] {
        shown = about.Form().Visible();
        about.btnOk.Click();
    });
    EXPECT_EQ(about.Form().ShowModal(), mrCancel);
    EXPECT_TRUE(shown);
    EXPECT_FALSE(about.Form().Visible());
    OpenUrlHook = savedHook;
}
