// Whole programming runs from the main window against the simulated unit.
#include <gtest/gtest.h>

#include "app_fixture.h"
#include "injected_failure.h"
#include "ui/user.h"
#include "ui/userprompt_dialog.h"
#include "ui/wizard.h"
#include "unitsim/unitsim.h"

using unitsim::SimConfig;
using unitsim::UnitSimulator;

namespace {

constexpr const char* BootNotice = "Now Trying Boot Method: Turn unit off, and click Ok.";

struct SimFixture {
    explicit SimFixture(SimConfig config = {}) : Sim(config) { Sim.Start(); }
    UnitSimulator Sim;
    Operator Op() const
    {
        Operator op;
        op.port = Sim.SlavePath();
        return op;
    }
};

void ExpectReset(AppHarness& app)
{
    EXPECT_EQ(app.Form()->lblProgress.Caption(), "Progress");
    EXPECT_EQ(app.Form()->ProgressBar.Position(), 0);
    EXPECT_TRUE(app.Form()->btnStart.Enabled());
    EXPECT_FALSE(app.Form()->Busy);
    EXPECT_FALSE(app.Form()->Flash->Device->ComPort->Connected()) << "port closed on every way out";
}

bool FlashHolds(const UnitSimulator& sim, const std::vector<uint8_t>& image)
{
    const std::vector<uint8_t> flash = sim.Flash();
    return flash.size() >= image.size() && std::equal(image.begin(), image.end(), flash.begin());
}

} // namespace

TEST(Run, UserConnectProgramsTheUnit)
{
    JobSpec job;
    job.image = AppHarness::TestImage(8);
    AppHarness app(job);
    SimFixture unit;
    app.Run(unit.Op());

    EXPECT_EQ(app.Kinds(), (std::vector<std::string>{"UsrSerial", "Wizard", "Information"}));
    const Shown* success = app.Find("Information");
    ASSERT_NE(success, nullptr);
    EXPECT_EQ(success->text, "Unit Successfully Programmed!");
    EXPECT_FALSE(success->startEnabled) << "success is shown while the run is still busy";
    EXPECT_TRUE(success->busy);
    EXPECT_EQ(success->label, "Verifying FLASH...");
    EXPECT_TRUE(FlashHolds(unit.Sim, job.image));
    EXPECT_TRUE(unit.Sim.WaitForFinish(std::chrono::seconds(2)));
    EXPECT_EQ(unit.Sim.Stats().userConnects, 1);
    EXPECT_EQ(unit.Sim.Stats().bootAttempts, 0);
    EXPECT_TRUE(unit.Sim.Violations().empty());
    ExpectReset(app);
}

TEST(Run, BootMethodAfterUserConnectFails)
{
    JobSpec job;
    job.image = AppHarness::TestImage(2);
    AppHarness app(job);
    SimConfig config;
    config.applicationRunning = false;
    config.bootAnswerFrom = 3;
    SimFixture unit(config);
    app.Run(unit.Op());

    EXPECT_EQ(app.Kinds(), (std::vector<std::string>{"UsrSerial", "Wizard", "Confirm", "Information"}));
    const Shown* notice = app.Find("Confirm");
    ASSERT_NE(notice, nullptr);
    EXPECT_EQ(notice->text, std::string("User Connect Method Failed (No reply to start command).\r\r") + BootNotice);
    EXPECT_TRUE(FlashHolds(unit.Sim, job.image));
    EXPECT_GE(unit.Sim.Stats().bootAttempts, 3);
    ExpectReset(app);
}

// What ends the user connect from below the system's own exceptions (a failed thread start)
// is its reason, and the boot method follows as for any other.
TEST(Run, AFailureFromBelowInTheUserConnectLeadsToTheBootMethod)
{
    JobSpec job;
    job.image = AppHarness::TestImage(2);
    TInjectedFailureScope failing(0, true); // before the window makes its ports
    AppHarness app(job);
    SimFixture unit;
    app.Run(unit.Op());

    EXPECT_EQ(app.Kinds(), (std::vector<std::string>{"UsrSerial", "Wizard", "Confirm", "Information"}));
    EXPECT_EQ(app.Find("Confirm")->text,
              std::string("User Connect Method Failed (thread start failed: Resource temporarily unavailable).\r\r") +
                  BootNotice);
    EXPECT_TRUE(FlashHolds(unit.Sim, job.image));
    EXPECT_EQ(unit.Sim.Stats().userConnects, 0);
    ExpectReset(app);
}

// What the command line prints before its error the window adds to its boxes, after their
// own texts: why the port could not be opened, what a unit that is not the job's reports.
TEST(Run, BoxesSayWhyAfterTheirOwnTexts)
{
    const std::string missing = "/dev/ttyMORAVENT-NO-SUCH-PORT";
    const std::string identity = "The unit reports name \"MORAVENT SIM UNIT\", seed 0x0001, start 0x00001800, length "
                                 "256000; the job expects seed 0x0081, start 0x00001800, length 256000.";
    const struct {
        const char* Name;
        std::string Port; // "" for the simulated unit's
        uint16_t UnitSeed;
        std::string Reason, Why, Error;
    } cases[] = {
        {"no such port", missing, 0x81, "Unable to open com port (win error code: 2)",
         "There is no serial port " + missing, "Unable to open com port (win error code: 2)"},
        {"another unit", "", 0x01, "Flash uP does not match definition", identity,
         "Flash uP does not match definition."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        JobSpec job;
        job.image = AppHarness::TestImage(2);
        AppHarness app(job);
        SimConfig config;
        config.seed = c.UnitSeed;
        config.bootAnswerFrom = 2;
        SimFixture unit(config);
        Operator op = unit.Op();
        if (!c.Port.empty())
            op.port = c.Port;
        app.Run(op);
        const Shown* notice = app.Find("Confirm");
        ASSERT_NE(notice, nullptr);
        const std::string told = "User Connect Method Failed (" + c.Reason + ").\r\r" + BootNotice + "\r\r";
        EXPECT_EQ(notice->text.rfind(told + c.Why, 0), 0u) << notice->text;
        EXPECT_EQ(app.Dialogs.back().kind, "error-display");
        EXPECT_EQ(app.Dialogs.back().text.rfind(c.Error + "\n\n" + c.Why, 0), 0u) << app.Dialogs.back().text;
        ExpectReset(app);
    }
}

TEST(Run, BootMethodFailsToo)
{
    JobSpec job;
    job.image = AppHarness::TestImage(2);
    AppHarness app(job);
    SimConfig config;
    config.applicationRunning = false;
    config.bootAnswerFrom = 0;
    SimFixture unit(config);
    app.Run(unit.Op());

    EXPECT_EQ(app.Kinds(), (std::vector<std::string>{"UsrSerial", "Wizard", "Confirm", "error-display"}));
    const Shown* error = app.Find("error-display");
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->text, "No reply to connect command."); // the full stop the box adds
    EXPECT_TRUE(error->startEnabled) << "the window is reset before the error shows";
    EXPECT_EQ(error->label, "Progress");
    EXPECT_EQ(unit.Sim.Stats().bootAttempts, 100);
    ExpectReset(app);
}

TEST(Run, CancelOnTheResetPromptEndsTheBootConnect)
{
    JobSpec job;
    job.image = AppHarness::TestImage(1);
    AppHarness app(job);
    SimConfig config;
    config.applicationRunning = false;
    config.bootAnswerFrom = 0;
    SimFixture unit(config);
    Operator op = unit.Op();
    op.cancelResetPrompt = true;
    app.Run(op);

    EXPECT_EQ(app.Kinds(), (std::vector<std::string>{"UsrSerial", "Wizard", "Confirm", "Prompt", "error-display"}));
    EXPECT_EQ(app.Find("Prompt")->text, "Reset the Unit");
    EXPECT_EQ(app.Dialogs.back().text, "Connect Cancelled by User.");
    EXPECT_LT(unit.Sim.Stats().bootAttempts, 100) << "Cancel ends the attempts early";
    EXPECT_FALSE(app.Form()->PromptDialog->Dialog()->Form().Visible()) << "the prompt is hidden on the way out";
    ExpectReset(app);
}

TEST(Run, CancelEndsTheRunBeforeAnyPortIsOpened)
{
    struct Case {
        const char* name;
        bool cancelPort;
        bool cancelWizard;
        std::vector<std::string> kinds;
    };
    const Case cases[] = {
        {"port selection", true, false, {"UsrSerial", "error-display"}},
        {"wizard", false, true, {"UsrSerial", "Wizard", "error-display"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        JobSpec job;
        job.image = AppHarness::TestImage(1);
        AppHarness app(job);
        SimFixture unit;
        Operator op = unit.Op();
        op.cancelPortSelection = c.cancelPort;
        op.cancelWizard = c.cancelWizard;
        app.Run(op);
        EXPECT_EQ(app.Kinds(), c.kinds);
        EXPECT_EQ(app.Dialogs.back().text, "Connect Cancelled by User.");
        EXPECT_TRUE(app.Dialogs.back().startEnabled);
        EXPECT_EQ(app.Dialogs.back().label, "Progress");
        EXPECT_EQ(unit.Sim.Stats().userConnects + unit.Sim.Stats().bootAttempts, 0);
        ExpectReset(app);
    }
}

TEST(Run, WizardContents)
{
    std::vector<std::string> many;
    for (int i = 1; i <= 21; ++i)
        many.push_back("Line " + std::to_string(i));
    struct Case {
        const char* name;
        bool picture;
        std::vector<std::string> lines;
        bool wizardShown;
        int labels;
    };
    const Case cases[] = {
        {"both", true, {"One", "Two", "Three"}, true, 3},
        {"text only", false, {"One"}, true, 1},
        {"picture only", true, {}, true, 0},
        {"neither", false, {}, false, 0},
        {"too many lines", true, many, true, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        JobSpec job;
        job.image = AppHarness::TestImage(1);
        job.picture = c.picture;
        job.instructions = c.lines;
        AppHarness app(job);
        SimFixture unit;
        app.Run(unit.Op());
        EXPECT_EQ(app.Find("Wizard") != nullptr, c.wizardShown);
        ASSERT_NE(app.Find("Information"), nullptr) << "the run goes on whatever the wizard had";
        int labels = 0;
        for (TLabel* label : frmConnectWiz->Labels)
            labels += label != nullptr;
        if (c.wizardShown) {
            EXPECT_EQ(labels, c.labels);
        }
    }
}

TEST(Run, ClosingIsRefusedWhileBusy)
{
    JobSpec job;
    job.image = AppHarness::TestImage(1);
    AppHarness app(job);
    SimFixture unit;
    Operator op = unit.Op();
    bool closed = true;
    op.duringSuccess = [&] { closed = app.Form()->Form().Close(); };
    app.Run(op);
    EXPECT_FALSE(closed);
    const Shown* refusal = app.Find("Error");
    ASSERT_NE(refusal, nullptr);
    EXPECT_EQ(refusal->text, "Programming in Progress. Please wait until programming is complete.");
    EXPECT_TRUE(app.Form()->Form().Visible());
    EXPECT_TRUE(app.Form()->Form().Close()) << "closing after the run is allowed";
}

TEST(Run, SecondRunStartsWithUserConnectOnTheLastPort)
{
    JobSpec job;
    job.image = AppHarness::TestImage(1);
    AppHarness app(job);
    SimFixture unit;
    Operator first = unit.Op();
    first.cancelWizard = true;
    app.Run(first);
    ASSERT_EQ(app.Dialogs.back().text, "Connect Cancelled by User.");

    app.Dialogs.clear();
    Operator second; // Ok without a pick: the port chosen last stays
    app.Run(second);
    ASSERT_FALSE(app.Dialogs.empty());
    EXPECT_EQ(app.Dialogs[0].kind, "UsrSerial");
    EXPECT_EQ(app.Dialogs[0].text, unit.Sim.SlavePath()) << "the port chosen last is offered";
    EXPECT_NE(app.Find("Information"), nullptr);
    EXPECT_EQ(app.Find("Confirm"), nullptr) << "user connect first, and it works";
    EXPECT_EQ(unit.Sim.Stats().userConnects, 1);
}

TEST(Run, AnImageThatCannotBeProgrammedIsRefusedBeforeErase)
{
    struct Case {
        const char* name;
        int32_t length;
        int blocks;
        int32_t flashLength;
    };
    const Case cases[] = {
        {"not whole blocks", 130, 2, 256000},
        {"larger than the flash region", 256, 2, 128},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        JobSpec job;
        job.image = AppHarness::TestImage(c.blocks);
        job.imageLength = c.length;
        job.flashLength = c.flashLength;
        AppHarness app(job);
        SimFixture unit;
        app.Run(unit.Op());
        ASSERT_FALSE(app.Dialogs.empty());
        EXPECT_EQ(app.Dialogs.back().kind, "error-display");
        EXPECT_EQ(unit.Sim.Stats().erases, 0) << "the unit keeps its flash";
        ExpectReset(app);
    }
}
