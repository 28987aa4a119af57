// The protocol's waits and time-outs, read from the simulated unit's time-stamped trace: every
// mandated pause shows as a gap on the line, every time-out lets a slow unit through and gives up
// on a silent one in time. Bounds are generous; these guard the protocol, not speed. Registered as
// a test entry of its own (the Timing/ rows) so it runs beside the rest of the suite.
#include <gtest/gtest.h>

#include "flash_rig.h"

using namespace flashtest;
using unitsim::FaultKind;
using unitsim::Reply;

namespace {

const std::string UserConnectBytes = Bytes({0x02, 'X', 'M', '5', '2', '8', '1', 0x03});
const std::string RegisterExchange = Bytes({0x44, 0x05, 0x0A}); // request, then 0x40 scaled to 57600 bit/s
const std::string Acknowledge = "ABCDE";
const std::string Identify = Bytes({0x63, 0xDE, 0x3D, 0x96});
const std::string ProgramHeader = Bytes({0xB7, 0xD6, 0xF5, 0x3C}) + BE32(0x1800) + BE32(256);
const std::string VerifyHeader = Bytes({0x53, 0xE1, 0xA8, 0xD7}) + BE32(0x1800) + BE32(256);
const char* const PortOpening = "test: the host opens the port";
const char* const HostGivesUp = "test: the host gives up";

// Where seq appears for the n-th time, counted from the end when n is negative.
size_t Occurrence(const std::string& data, const std::string& seq, int n)
{
    std::vector<size_t> all;
    for (size_t at = data.find(seq); at != std::string::npos; at = data.find(seq, at + 1))
        all.push_back(at);
    const long i = n > 0 ? n - 1 : long(all.size()) + n;
    return i >= 0 && size_t(i) < all.size() ? all[size_t(i)] : std::string::npos;
}

// Seconds from the last byte of before (its n-th appearance) to the first byte of after that
// follows it, or to the very next byte when after is empty. NaN when either is not on the line.
double Gap(const Timeline& t, const std::string& before, const std::string& after, int n = 1)
{
    const size_t from = Occurrence(t.Data, before, n);
    if (from == std::string::npos)
        return std::nan("");
    const size_t last = from + before.size() - 1;
    const size_t next = after.empty() ? last + 1 : t.Data.find(after, last + 1);
    return next < t.At.size() ? t.At[next] - t.At[last] : std::nan("");
}

struct MandatedWait {
    const char* Name;
    std::function<double(const Timeline& host, double portOpened)> Seconds;
    int Ms;
    bool Interval = false; // a period: also no longer than twice it
};

void PrintTo(const MandatedWait& w, std::ostream* os)
{
    *os << w.Name;
}

// One recorded run serves every row: connect with DTR, erase, program and verify two blocks, then
// two keep-alive ticks.
class MandatedWaits : public ::testing::TestWithParam<MandatedWait> {
public:
    static void SetUpTestSuite()
    {
        Rig rig;
        try {
            rig.Start();
            rig.Sim->Note(PortOpening);
            rig.Connect(0);
            TMemoryStream image;
            Fill(image, Pattern(256));
            rig.Flash->Erase();
            rig.Flash->ProgramImage(image);
            rig.Flash->VerifyImage(image);
            Pump(2200);
        } catch (const std::exception& e) {
            Failure = e.what();
        }
        if (rig.Sim)
            Trace = rig.Sim->Trace();
    }
    static inline std::string Trace, Failure;
};

TEST_P(MandatedWaits, ShowAsAGapOnTheLine)
{
    const MandatedWait& w = GetParam();
    ASSERT_EQ(Failure, "") << Trace;
    const double ms = 1000 * w.Seconds(Timeline(Trace, "host> "), NoteTime(Trace, PortOpening));
    EXPECT_GE(ms, 0.9 * w.Ms) << Trace;
    if (w.Interval) {
        EXPECT_LE(ms, 2.0 * w.Ms) << Trace;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Timing, MandatedWaits,
    ::testing::Values(
        MandatedWait{"ConnectDevice_DtrSettleAfterOpen",
                     [](const Timeline& t, double opened) {
                         const size_t first = t.Data.find(UserConnectBytes);
                         return first < t.At.size() ? t.At[first] - opened : std::nan("");
                     },
                     200},
        MandatedWait{"ConnectDevice_PauseBeforeNegotiation",
                     [](const Timeline& t, double) { return Gap(t, UserConnectBytes, RegisterExchange); }, 500},
        MandatedWait{"FDTConnect_DtrSettleAfterSwitch",
                     [](const Timeline& t, double) { return Gap(t, RegisterExchange, Acknowledge); }, 200},
        MandatedWait{"TransferImage_PauseAfterProgramHeader",
                     [](const Timeline& t, double) { return Gap(t, ProgramHeader, ""); }, 100},
        MandatedWait{"TransferImage_PauseAfterVerifyHeader",
                     [](const Timeline& t, double) { return Gap(t, VerifyHeader, ""); }, 100},
        MandatedWait{"KeepAliveTick_Interval", [](const Timeline& t, double) { return Gap(t, Identify, Identify, -2); },
                     1000, true}),
    [](const auto& info) { return std::string(info.param.Name); });

struct TimeOut {
    const char* Name;
    uint8_t Method;
    enum Step { Connect, Erase, Program } WaitsIn;
    std::function<void(Rig&)> AnswerLate; // the unit answers just inside the time-out
    std::function<void(Rig&)> StaySilent; // the unit never answers
    const char* Message;                  // what the silent unit earns
    int Ms;
};

void PrintTo(const TimeOut& t, std::ostream* os)
{
    *os << t.Name;
}

// Connects without the DTR settle (not under test here) and runs the step that waits.
void RunUntil(Rig& rig, const TimeOut& row)
{
    rig.Start();
    rig.Select(row.Method, 0);
    rig.Flash->Connect();
    if (row.WaitsIn == TimeOut::Erase)
        rig.Flash->Erase();
    if (row.WaitsIn == TimeOut::Program) {
        TMemoryStream image;
        Fill(image, Pattern(128));
        rig.Flash->ProgramImage(image);
    }
}

class TimeOuts : public ::testing::TestWithParam<TimeOut> { };

TEST_P(TimeOuts, LetAUnitAnsweringJustInsideThrough)
{
    const TimeOut& row = GetParam();
    Rig rig;
    row.AnswerLate(rig);
    try {
        RunUntil(rig, row);
    } catch (const Exception& e) {
        FAIL() << e.message() << "\n" << rig.Sim->Trace();
    }
    // A boot connect reply that came too late would be taken by the next attempt.
    EXPECT_LE(rig.Sim->Stats().bootAttempts, 1) << rig.Sim->Trace();
}

TEST_P(TimeOuts, GiveUpOnASilentUnitInTime)
{
    const TimeOut& row = GetParam();
    Rig rig;
    row.StaySilent(rig);
    try {
        RunUntil(rig, row);
        FAIL() << "no failure";
    } catch (const Exception& e) {
        rig.Sim->Note(HostGivesUp);
        EXPECT_EQ(e.message(), row.Message);
        // Only the erase lets the port's own time-out through untranslated.
        EXPECT_EQ(dynamic_cast<const EBriskoComTimeout*>(&e) != nullptr, row.WaitsIn == TimeOut::Erase);
    }
    const std::string trace = rig.Sim->Trace();
    const Timeline host(trace, "host> ");
    ASSERT_FALSE(host.At.empty());
    const double waited = 1000 * (NoteTime(trace, HostGivesUp) - host.At.back());
    EXPECT_GE(waited, 0.9 * row.Ms) << trace;
    EXPECT_LE(waited, 2.0 * row.Ms) << trace;
}

// The erase and block rows cost seconds each; keep slow rows few.
INSTANTIATE_TEST_SUITE_P(
    Timing, TimeOuts,
    ::testing::Values(
        // Measured on one attempt: the prompt cancels after the third, not after all hundred.
        TimeOut{"BootConnect_AttemptTimeout", 1, TimeOut::Connect,
                [](Rig& r) { r.Config.replyDelay(Reply::Connect) = 70; },
                [](Rig& r) {
                    r.Config.bootAnswerFrom = 0;
                    r.Prompt.CancelAfter = 3;
                },
                "Connect Cancelled by User", 100},
        TimeOut{"FDTConnect_RegisterReplyWait", 0, TimeOut::Connect,
                [](Rig& r) { r.Config.replyDelay(Reply::Register) = 400; },
                [](Rig& r) {
                    r.Config.fault(Reply::Register) = {FaultKind::Missing, 0};
                },
                "Baud Rate Register not received", 500},
        TimeOut{"EraseFlash_VerdictWait", 0, TimeOut::Erase, [](Rig& r) { r.Config.eraseDelayMs = 3000; },
                [](Rig& r) {
                    r.Config.fault(Reply::Erase) = {FaultKind::Missing, 0};
                },
                "No Reply Within Time Out Period", 5000},
        TimeOut{"TransferImage_BlockReplyWait", 0, TimeOut::Program,
                [](Rig& r) {
                    r.Config.initialFill = 0xFF; // erased: no erase needed before programming
                    r.Config.blockDelayMs = 2000;
                },
                [](Rig& r) { r.Config.program.silentFromBlock = 1; }, "Write Failed: No reply", 5000}),
    [](const auto& info) { return std::string(info.param.Name); });

} // namespace
