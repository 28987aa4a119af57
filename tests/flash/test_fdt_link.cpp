// The link half of the boot protocol against the simulated unit: connect sequences,
// bit-rate negotiation, identity, keep-alive and every connect failure with its log line.
#include <gtest/gtest.h>

#include "flash_rig.h"

using namespace flashtest;
using unitsim::FaultKind;
using unitsim::Reply;

namespace {

std::string SimName()
{
    std::string name = "MORAVENT SIM UNIT";
    name.resize(20, '\0');
    return name;
}

std::string IdentityLine()
{
    return "TFlashFDTDevice.IdentifyDevice: Got device id, name: " + SimName() +
        ", start 6144, length 256000, seed 129";
}

} // namespace

TEST(ScaleBaudRegister, ArithmeticAndWrap)
{
    struct Case {
        uint8_t reg;
        int32_t from, to;
        uint8_t expected;
    } cases[] = {
        {0x40, 9600, 19200, 0x20},
        {0x9B, 9600, 57600, 0x19}, // 25.83 truncated
        {0x81, 9600, 9600, 0x81},  // equal rates keep the register
        {0x40, 57600, 9600, 0x80}, // faster to slower grows it
        {0x80, 19200, 9600, 0x00}, // 256 wraps to 0
        {0xFF, 256000, 110, uint8_t(255LL * 256000 / 110)},
        {0x00, 9600, 115200, 0x00},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(TFlashFDTDevice::ScaleBaudRegister(c.reg, c.from, c.to), c.expected)
            << int(c.reg) << " " << c.from << "->" << c.to;
        EXPECT_EQ(TFlashFDTDevice::ScaleBaudRegister(c.reg, c.from, c.to),
                  unitsim::ScaleBaudRegister(c.reg, c.from, c.to));
    }
    EXPECT_THROW(TFlashFDTDevice::ScaleBaudRegister(0x40, 9600, 0), EFDTException);
}

TEST(Connect, UserMethodLogsEveryStepAndVerifiesTheUnit)
{
    LogCapture log;
    Rig rig;
    rig.Start();
    rig.Connect(0);
    const std::vector<std::string> expected = {
        "THitachiFlash.ConnectNoVerify: Opening port",
        "TFlashFDTDevice.ConnectDevice: Setting serial port settings",
        "TFlashFDTDevice.UserConnect: Sending connect string \"%02XM5281%03\", expecting \"SyNcBoOt\"",
        "TFlashFDTDevice.UserConnect: Got connect response",
        "TFlashFDTDevice.FDTConnect: Sending ACK length",
        "TFlashFDTDevice.FDTConnect: Baud scaling factor is 0x40, sending new baud scaling factor 0x0A "
        "(old baud 9600, new baud 57600)",
        "TFlashFDTDevice.FDTConnect: Sending acknowledge data",
        "TFlashFDTDevice.FDTConnect: Acknowledge data received correctly",
        "TFlashFDTDevice.IdentifyDevice: Requesting device identity",
        IdentityLine(),
        "THitachiFlash.Connect: Verifying device against hardware",
        "TFlashFDTDevice.IdentifyDevice: Requesting device identity",
        IdentityLine(),
    };
    EXPECT_EQ(log.StepLines(), expected);
    EXPECT_TRUE(rig.Sim->Violations().empty()) << rig.Sim->Trace();
    const unitsim::SimStats stats = rig.Sim->Stats();
    EXPECT_EQ(stats.userConnects, 1);
    EXPECT_EQ(stats.lastRegister, 0x0A);
    EXPECT_EQ(stats.lastBitRate, 57600);
    EXPECT_EQ(rig.Sinks.Statuses, std::vector<std::string>{"Connecting..."});
    EXPECT_FALSE(rig.Flash->Device->Busy);
    EXPECT_TRUE(rig.Flash->Device->ComPort->Connected());

    // The data lines carry the bytes of the table: escaped connect string, register request, echo.
    const std::vector<std::string> lines = log.Lines();
    const std::string port = rig.Sim->SlavePath();
    auto has = [&](const std::string& l) { return std::find(lines.begin(), lines.end(), l) != lines.end(); };
    EXPECT_TRUE(has(port + " out: \\x02XM5281\\x03"));
    EXPECT_TRUE(has(port + " out: D\\x05"));
    EXPECT_TRUE(has(port + " out: ABCDE"));
    EXPECT_TRUE(has(port + " in: ABCDE"));
    EXPECT_TRUE(has(port + " out: c\\xDE=\\x96"));
}

TEST(Connect, BootMethodShowsAndHidesThePromptAndFillsTheBar)
{
    LogCapture log;
    Rig rig;
    rig.Config.bootAnswerFrom = 3; // the unit is reset during the third attempt
    rig.Start();
    rig.Connect(1);
    EXPECT_EQ(rig.Prompt.Calls, (std::vector<std::string>{"show Reset the Unit", "hide"}));
    EXPECT_EQ(rig.Sim->Stats().bootAttempts, 3);
    const std::vector<std::string> steps = log.StepLines();
    ASSERT_GE(steps.size(), 6u);
    EXPECT_EQ(steps[2],
              "TFlashFDTDevice.BootConnect: Sending connect string \"SyNcBoOt\" up to 100 times, "
              "expecting \"SyNcBoOt\"");
    EXPECT_EQ(steps[3], "TBriskoComPort.SendBufferExpect: No Reply Within Time Out Period");
    EXPECT_EQ(steps[4], "TBriskoComPort.SendBufferExpect: No Reply Within Time Out Period");
    EXPECT_EQ(steps[5], "TFlashFDTDevice.BootConnect: Got connect response");
    // Two failed attempts step the 100-attempt bar, success shows it full at 1 of 1.
    const std::vector<std::string> events(rig.Sinks.Events.begin(), rig.Sinks.Events.begin() + 9);
    EXPECT_EQ(events,
              (std::vector<std::string>{"range 0 100", "step 1", "pos 0", "by 1", "by 1", "range 0 1", "step 1",
                                        "pos 0", "by 1"}));
    EXPECT_TRUE(rig.Sim->Violations().empty()) << rig.Sim->Trace();
}

TEST(Connect, OtherMethodSkipsTheConnectStringExchange)
{
    LogCapture log;
    Rig rig;
    rig.Config.startInBootLoader = true;
    rig.Start();
    rig.Connect(2);
    const std::vector<std::string> steps = log.StepLines();
    ASSERT_GE(steps.size(), 3u);
    EXPECT_EQ(steps[2], "TFlashFDTDevice.FDTConnect: Sending ACK length");
    EXPECT_EQ(rig.HostBytes().substr(0, 2), Bytes({0x44, 0x05}));
}

TEST(Connect, EmptyResponseSucceedsAtOnce)
{
    Rig rig;
    rig.Config.applicationRunning = false;
    rig.Start();
    rig.Flash->ConnectionInfo.ConnectResponse = "";
    rig.Connect(1);
    EXPECT_EQ(rig.Prompt.Calls.size(), 2u);
    EXPECT_EQ(rig.HostBytes().substr(0, 10), std::string("SyNcBoOt") + Bytes({0x44, 0x05}));
}

struct ConnectFailure {
    const char* Name;
    uint8_t Method;
    std::function<void(unitsim::SimConfig&)> Setup;
    const char* Message;
    const char* LogLine; // last step line before the raise; nullptr: none of its own
    bool HitachiClass = false;
};

void PrintTo(const ConnectFailure& c, std::ostream* os)
{
    *os << c.Name;
}

class ConnectFailures : public ::testing::TestWithParam<ConnectFailure> { };

TEST_P(ConnectFailures, RaiseTheirMessageAfterTheirLogLine)
{
    const ConnectFailure& c = GetParam();
    LogCapture log;
    Rig rig;
    c.Setup(rig.Config);
    rig.Start();
    rig.Select(c.Method);
    try {
        rig.Flash->Connect();
        FAIL() << "no exception";
    } catch (const EFDTException& e) {
        EXPECT_FALSE(c.HitachiClass);
        EXPECT_EQ(e.message(), c.Message);
    } catch (const EHitachiFlashException& e) {
        EXPECT_TRUE(c.HitachiClass);
        EXPECT_EQ(e.message(), c.Message);
    }
    if (c.LogLine) {
        const std::vector<std::string> steps = log.StepLines();
        ASSERT_FALSE(steps.empty());
        EXPECT_EQ(steps.back().substr(0, std::string(c.LogLine).size()), c.LogLine);
    }
    EXPECT_FALSE(rig.Flash->Device->Busy);
    // The link leaves the port open; the caller's Disconnect closes it.
    EXPECT_TRUE(rig.Flash->Device->ComPort->Connected());
    rig.Flash->Disconnect();
    EXPECT_FALSE(rig.Flash->Device->ComPort->Connected());
}

INSTANTIATE_TEST_SUITE_P(
    Table, ConnectFailures,
    ::testing::Values(
        ConnectFailure{"UserNoReply", 0,
                       [](auto& c) {
                           c.fault(Reply::Connect) = {FaultKind::Missing, 0};
                       },
                       "No reply to start command", "TFlashFDTDevice.UserConnect: No reply to start command"},
        ConnectFailure{"UserShortReply", 0,
                       [](auto& c) {
                           c.fault(Reply::Connect) = {FaultKind::Short, 0};
                       },
                       "No reply to start command", "TFlashFDTDevice.UserConnect: No reply to start command"},
        ConnectFailure{"UserWrongReply", 0,
                       [](auto& c) {
                           c.fault(Reply::Connect) = {FaultKind::Wrong, 0};
                       },
                       "Reply doesn't match", "TFlashFDTDevice.UserConnect: Reply \"SyNcBoO"},
        ConnectFailure{"BootAlwaysWrong", 1,
                       [](auto& c) {
                           c.fault(Reply::Connect) = {FaultKind::Wrong, 0};
                       },
                       "Unexpected reply to connect command",
                       "TFlashFDTDevice.BootConnect: Unexpected reply to connect command"},
        ConnectFailure{"RegisterMissing", 0,
                       [](auto& c) {
                           c.fault(Reply::Register) = {FaultKind::Missing, 0};
                       },
                       "Baud Rate Register not received",
                       "TFlashFDTDevice.FDTConnect: Baud Rate Register not received"},
        ConnectFailure{"AckMissing", 0,
                       [](auto& c) {
                           c.fault(Reply::Ack) = {FaultKind::Missing, 0};
                       },
                       "Acknowledge data not received", "TFlashFDTDevice.FDTConnect: Acknowledge data not received"},
        ConnectFailure{"AckShort", 0,
                       [](auto& c) {
                           c.fault(Reply::Ack) = {FaultKind::Short, 0};
                       },
                       "Acknowledge data not received", "TFlashFDTDevice.FDTConnect: Acknowledge data not received"},
        ConnectFailure{"AckLastByteWrong", 0,
                       [](auto& c) {
                           c.fault(Reply::Ack) = {FaultKind::Wrong, 0};
                       },
                       "Acknowledge data doesn't match", "TFlashFDTDevice.FDTConnect: Acknowledge data doesn't match"},
        ConnectFailure{"IdentityMissing", 0,
                       [](auto& c) {
                           c.fault(Reply::Identity) = {FaultKind::Missing, 0};
                       },
                       "Can't Get ID", "TFlashFDTDevice.IdentifyDevice: Can't Get ID"},
        ConnectFailure{"IdentityShort", 0,
                       [](auto& c) {
                           c.fault(Reply::Identity) = {FaultKind::Short, 0};
                       },
                       "Can't Get ID", "TFlashFDTDevice.IdentifyDevice: Can't Get ID"},
        ConnectFailure{"OtherSeed", 0, [](auto& c) { c.seed = 0x0082; }, "Flash uP does not match definition", nullptr,
                       true},
        ConnectFailure{"OtherLength", 0, [](auto& c) { c.flashLength = 128000; }, "Flash uP does not match definition",
                       nullptr, true}),
    [](const auto& info) { return std::string(info.param.Name); });

// Controller built for the default unit, unit reporting another identity.
TEST(Connect, IdentityIsComparedWithTheDescriptionNotTheName)
{
    Rig rig;
    rig.Config.name = "SOMETHING ELSE";
    rig.Start();
    EXPECT_NO_THROW(rig.Connect(0));
}

TEST(Connect, BadEscapeInTheConnectStringRaisesTheConversionErrorBeforeSending)
{
    Rig rig;
    rig.Start();
    rig.Flash->ConnectionInfo.UserConnect = "AB%G1";
    rig.Select(0);
    try {
        rig.Flash->Connect();
        FAIL();
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.message(), "Can't convert non-hex character: G");
    }
    EXPECT_TRUE(rig.HostBytes().empty());
}

TEST(Connect, CancelOnThePromptEndsTheBootConnectAfterTheFailedAttempt)
{
    LogCapture log;
    Rig rig;
    rig.Config.bootAnswerFrom = 0;
    rig.Start();
    rig.Prompt.CancelAfter = 3;
    rig.Select(1);
    try {
        rig.Flash->Connect();
        FAIL();
    } catch (const EFDTException& e) {
        EXPECT_EQ(e.message(), "Connect Cancelled by User");
    }
    EXPECT_EQ(rig.Sim->Stats().bootAttempts, 3);
    EXPECT_EQ(rig.Prompt.Calls, (std::vector<std::string>{"show Reset the Unit", "hide"}));
    EXPECT_EQ(log.StepLines().back(), "TBriskoComPort.SendBufferExpect: No Reply Within Time Out Period");
}

// On a slow line the request itself takes most of an attempt's 100 ms ("SyNcBoOt" is 67 ms at
// 1200 bit/s): the reply's time-out counts from the moment the request has left the line, so
// a paced unit that answers at once is reached by the first attempt of either method.
TEST(Connect, SlowLinesAreAnsweredAtTheFirstAttempt)
{
    for (const TBaudRate rate : {br1200, br2400}) {
        for (const uint8_t method : {uint8_t(0), uint8_t(1)}) {
            SCOPED_TRACE(std::to_string(StandardBaudRate(rate)) + (method == 0 ? " user" : " boot"));
            LogCapture log;
            Rig rig;
            rig.Config.pace = true;
            rig.Config.applicationRunning = method == 0;
            rig.Start();
            rig.OperatorPort->SetBaudRate(rate);
            rig.Flash->ComConnect()->SetBaudRate(rate);
            rig.Connect(method);
            const unitsim::SimStats stats = rig.Sim->Stats();
            EXPECT_EQ(method == 0 ? stats.userConnects : stats.bootAttempts, 1);
            for (const std::string& line : log.StepLines())
                EXPECT_EQ(line.find("No Reply Within Time Out Period"), std::string::npos);
        }
    }
}

// The boot loader is called at the job's connect-phase rate: a user connect before it, in the
// same run or an earlier one, takes the operator port's settings but must not keep them.
TEST(Connect, TheBootFallbackKeepsTheStoredConnectRate)
{
    LogCapture log;
    Rig rig;
    rig.Config.applicationRunning = false; // the user connect goes unanswered
    rig.Start();
    rig.Flash->ComConnect()->SetBaudRate(br19200);
    rig.Flash->KeepStoredConnect();
    for (int run = 1; run <= 2; ++run) {
        SCOPED_TRACE("run " + std::to_string(run));
        EXPECT_THROW(rig.Connect(0), EFDTException);
        EXPECT_EQ(rig.Flash->ComConnect()->BaudRate(), br9600) << "the user connect uses the operator port's";
        rig.Flash->Disconnect();
        rig.Connect(1);
        EXPECT_EQ(rig.Flash->ComConnect()->BaudRate(), br19200);
        rig.Flash->Disconnect();
    }
    int scaledFrom19200 = 0;
    for (const std::string& line : log.StepLines())
        scaledFrom19200 += line.find("(old baud 19200, new baud 57600)") != std::string::npos;
    EXPECT_EQ(scaledFrom19200, 2);
    EXPECT_TRUE(rig.Sim->Violations().empty()) << rig.Sim->Trace();
}

// The one slow path: 100 unanswered attempts of 100 ms, one wrong full reply among them.
TEST(Connect, BootConnectGivesUpAfterAHundredAttempts)
{
    LogCapture log;
    Rig rig;
    rig.Config.bootAnswerFrom = 0;
    rig.Config.bootWrongReplyAt = 50;
    rig.Start();
    rig.Select(1);
    try {
        rig.Flash->Connect();
        FAIL();
    } catch (const EFDTException& e) {
        EXPECT_EQ(e.message(), "Unexpected reply to connect command");
    }
    EXPECT_EQ(rig.Sim->Stats().bootAttempts, 100);
    EXPECT_EQ(log.StepLines().back(), "TFlashFDTDevice.BootConnect: Unexpected reply to connect command");
    EXPECT_EQ(rig.Sinks.Pos, 100);
    EXPECT_EQ(rig.Prompt.Calls.back(), "hide");
}

TEST(KeepAlive, HeldOffWhileBusyAndStoppedByAFailure)
{
    Rig rig;
    rig.Config.fault(Reply::Identity) = {FaultKind::Missing, 4};
    rig.Start();
    rig.Connect(0); // identities 1 and 2
    std::vector<std::string> errors;
    rig.Flash->Device->OnKeepAliveError = [&](const Exception& e) { errors.push_back(e.message()); };

    rig.Flash->Device->Busy = true;
    Pump(2300);
    EXPECT_EQ(rig.Sim->Stats().identities, 2) << "a tick sent an identity request while busy";

    rig.Flash->Device->Busy = false;
    Pump(1300); // identity 3 answers
    EXPECT_GE(rig.Sim->Stats().identities, 3);
    Pump(2000); // identity 4 goes unanswered: reported once, timer stopped
    EXPECT_EQ(errors, std::vector<std::string>{"Can't Get ID"});
    EXPECT_FALSE(rig.Flash->Device->KeepAliveTimer->Enabled());
    const int after = rig.Sim->Stats().identities;
    Pump(1500);
    EXPECT_EQ(rig.Sim->Stats().identities, after);

    // The next connect restarts it.
    rig.Flash->Disconnect();
    rig.Connect(2);
    EXPECT_TRUE(rig.Flash->Device->KeepAliveTimer->Enabled());
}

TEST(KeepAlive, IdleWhileThePortIsClosed)
{
    Rig rig;
    rig.Start();
    Pump(1300);
    EXPECT_EQ(rig.Sim->Stats().identities, 0);
    EXPECT_TRUE(rig.HostBytes().empty());
}
