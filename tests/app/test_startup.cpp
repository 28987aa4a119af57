// Start-up of the main window: the stored job's checks, title, icon, log and About line.
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

#include "app_fixture.h"
#include "injected_failure.h"
#include "ui/about.h"
#include "ui/user.h"

TEST(Startup, ValidJobEnablesStartAndTakesTitle)
{
    JobSpec job;
    job.image = AppHarness::TestImage(4);
    AppHarness app(job);
    EXPECT_TRUE(app.Form()->ImageValid);
    EXPECT_TRUE(app.Form()->btnStart.Enabled());
    EXPECT_EQ(app.Form()->Form().Caption(), "Test Scale 2.1");
    EXPECT_EQ(ApplicationTitle(), "Test Scale 2.1");
    EXPECT_TRUE(app.Dialogs.empty());
    EXPECT_FALSE(std::filesystem::exists(LogFileNameFor(app.ExePath()))) << "log switch off: no file";
    // COM1 under the name the port list shows for it, so the selection finds it when present.
    EXPECT_EQ(app.Form()->ConnectChoice.Port->Port(), "ttyS0");

    std::string imageLine;
    QTimer::singleShot(50, [&imageLine] {
        if (TForm::ActiveModal() == &frmAbout->Form()) {
            imageLine = frmAbout->lblBinaryImage.Caption();
            frmAbout->btnOk.Click();
        }
    });
    app.Form()->WMSysCommand(AboutCommand);
    EXPECT_EQ(imageLine, "Flash Image: Test Scale 2.1");
}

TEST(Startup, InvalidJobsDisableStartWithTheReason)
{
    struct Case {
        const char* name;
        bool spoilChecksum;
        int32_t version;
        const char* message;
        int32_t imageLength = -1;
        bool blank = false;
    };
    const Case cases[] = {
        {"checksum", true, 4, "No Valid FLASH Image Present! (Stored data is not valid)."},
        {"version 5", false, 5, "No Valid FLASH Image Present! (Structure version does not match)."},
        {"version 3", false, 3, "No Valid FLASH Image Present! (Structure version does not match)."},
        // A crafted length is a record check like the others: Start never enabled.
        {"image length negative", false, 4,
         "No Valid FLASH Image Present! (Image length -5 is outside the image region of 262144 bytes).", -5},
        {"image length 2^31-1", false, 4,
         "No Valid FLASH Image Present! (Image length 2147483647 is outside the image region of 262144 bytes).",
         2147483647},
        // The error box says what to do after the message it always shows.
        {"no job stamped", false, 4,
         "No Valid FLASH Image Present! (Stored data is not valid).\n\nThis program carries no job: a release "
         "engineer stamps one into a copy of it with 'moravent-job build JOB.json -o OUT'.",
         -1, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        JobSpec job;
        job.image = AppHarness::TestImage(1);
        job.spoilChecksum = c.spoilChecksum;
        job.version = c.version;
        job.imageLength = c.imageLength;
        job.blank = c.blank;
        job.log = true;
        AppHarness app(job);
        ASSERT_EQ(app.Dialogs.size(), 1u);
        EXPECT_EQ(app.Dialogs[0].kind, "error-display");
        EXPECT_EQ(app.Dialogs[0].text, c.message);
        EXPECT_FALSE(app.Form()->btnStart.Enabled());
        EXPECT_FALSE(app.Form()->ImageValid);
        EXPECT_EQ(app.Form()->Form().Caption(), "Moravent Flash Programmer");
        EXPECT_EQ(frmAbout->lblBinaryImage.Caption(), "No Flash Image Available");
        if (c.spoilChecksum) {
            EXPECT_FALSE(std::filesystem::exists(LogFileNameFor(app.ExePath()))) << "nothing read from a bad block";
        }
    }
}

// A failure from below the system's own exceptions (here an allocation failure while the
// controller builds its ports) is a start-up failure with its message, like any other.
TEST(Startup, AFailureFromBelowIsAnInvalidImageToo)
{
    JobSpec job;
    job.image = AppHarness::TestImage(1);
    TInjectedFailureScope failing(2, false); // the operator's port is the first device, the controller's next
    AppHarness app(job);
    ASSERT_EQ(app.Dialogs.size(), 1u);
    EXPECT_EQ(app.Dialogs[0].kind, "error-display");
    EXPECT_EQ(app.Dialogs[0].text, "No Valid FLASH Image Present! (std::bad_alloc).");
    EXPECT_FALSE(app.Form()->btnStart.Enabled());
    EXPECT_FALSE(app.Form()->ImageValid);
}

TEST(Startup, EmptyTitleKeepsTheDefault)
{
    JobSpec job;
    job.title = "";
    job.image = AppHarness::TestImage(1);
    AppHarness app(job);
    EXPECT_TRUE(app.Form()->btnStart.Enabled());
    EXPECT_EQ(app.Form()->Form().Caption(), "Moravent Flash Programmer");
}

TEST(Startup, LogFileSitsBesideTheExecutable)
{
    JobSpec job;
    job.image = AppHarness::TestImage(1);
    job.log = true;
    {
        AppHarness app(job, "programmer.exe");
        const std::string logPath = LogFileNameFor(app.ExePath());
        EXPECT_TRUE(logPath.ends_with("/programmer_log.txt"));
        std::ifstream log(logPath, std::ios::binary);
        ASSERT_TRUE(log.good());
        const std::string text((std::istreambuf_iterator<char>(log)), {});
        EXPECT_NE(text.find("CommsLoggingInit: Log file created\r\n"), std::string::npos);
        EXPECT_NE(text.find("CommsLoggingInit: Logging started\r\n"), std::string::npos);
    }
}

TEST(Startup, LogThatCannotBeOpenedIsSaidInAMessageBox)
{
    JobSpec job;
    job.image = AppHarness::TestImage(1);
    job.log = true;
    AppHarness app(job, "no-such-folder/programmer");
    ASSERT_EQ(app.Dialogs.size(), 1u);
    EXPECT_EQ(app.Dialogs[0].kind, "message");
    EXPECT_EQ(app.Dialogs[0].text.rfind("Log file ", 0), 0u) << app.Dialogs[0].text;
    EXPECT_NE(app.Dialogs[0].text.find("programmer_log.txt cannot be opened ("), std::string::npos);
    EXPECT_TRUE(app.Form()->btnStart.Enabled()) << "the tool runs on without a log";
}

TEST(Startup, LogFileNames)
{
    const std::pair<const char*, const char*> cases[] = {
        {"/opt/tools/moravent-flash", "/opt/tools/moravent-flash_log.txt"},
        {"/opt/tools/programmer.exe", "/opt/tools/programmer_log.txt"},
        {"/opt/v1.2/flash", "/opt/v1.2/flash_log.txt"},
        {"/opt/tools/flash.job.bin", "/opt/tools/flash.job_log.txt"},
    };
    for (const auto& [in, out] : cases)
        EXPECT_EQ(LogFileNameFor(in), out) << in;
}
