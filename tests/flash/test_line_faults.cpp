// What the programmer makes of a unit or a line that fails it: every fault the simulator can
// inject, in each connect method, run by the headless programmer against in-process
// simulated units (several at once: most rows wait for a time-out); and the line going dead
// in each phase, through the programming run in this process and through the programmer.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "cli_rig.h"
#include "flash/run.h"
#include "flash_rig.h"
#include "framework/exceptions.h"

using namespace flashtest;
using namespace clitest;
using unitsim::FaultKind;
using unitsim::Reply;
using Clock = std::chrono::steady_clock;

namespace {

constexpr size_t ImageSize = 2 * 128; // block faults fall on block 2, the last

const char* const ReplyNames[unitsim::ReplyCount] = {"connect",       "register",     "ack",
                                                     "identity",      "erase",        "program-block",
                                                     "program-final", "verify-block", "verify-final"};
const char* const KindNames[] = {"none", "wrong", "short", "missing", "hangup"};

// Where the unit is once the programmer has ended.
enum class Left { Idle, InTransfer, LineDead };
const char* LeftName(Left l)
{
    return l == Left::Idle ? "idle" : l == Left::InTransfer ? "in transfer" : "line dead";
}

Left LeftOf(const unitsim::SimStats& s)
{
    if (s.hungUp)
        return Left::LineDead;
    return s.inTransfer || s.unfinishedTransfers > 0 ? Left::InTransfer : Left::Idle;
}

double Seconds(Clock::time_point since)
{
    return std::chrono::duration<double>(Clock::now() - since).count();
}

std::string LastLine(const std::string& text)
{
    const std::vector<std::string> lines = Lines(text);
    return lines.empty() ? "" : lines.back();
}

// ---------------------------------------------------------------- the fault matrix

struct FaultRow {
    std::string Fault;
    std::function<void(unitsim::SimConfig&)> Inject;
    std::string User, Boot; // the programmer's last line in each method
    // A transfer the host leaves without an end marker: only where a block's reply never
    // came (a lost or cut reply, a silent unit), as the protocol has the host give up there.
    Left Unit = Left::Idle;
};

std::vector<FaultRow> FaultRows()
{
    const auto spoil = [](Reply r, FaultKind k) { return [r, k](unitsim::SimConfig& c) { c.fault(r) = {k, 0}; }; };
    struct Expected {
        Reply R;
        FaultKind K;
        std::string User, Boot;
        Left Unit = Left::Idle;
    };
    const std::string bootWrong = "Unexpected reply to connect command.";
    const std::string bootNone = "No reply to connect command.";
    const std::vector<Expected> spoiled = {
        {Reply::Connect, FaultKind::Wrong, "Reply doesn't match.", bootWrong},
        {Reply::Connect, FaultKind::Short, "No reply to start command.", bootNone},
        {Reply::Connect, FaultKind::Missing, "No reply to start command.", bootNone},
        {Reply::Register, FaultKind::Wrong, "Acknowledge data doesn't match.", ""},
        {Reply::Register, FaultKind::Short, "Baud Rate Register not received.", ""},
        {Reply::Register, FaultKind::Missing, "Baud Rate Register not received.", ""},
        {Reply::Ack, FaultKind::Wrong, "Acknowledge data doesn't match.", ""},
        {Reply::Ack, FaultKind::Short, "Acknowledge data not received.", ""},
        {Reply::Ack, FaultKind::Missing, "Acknowledge data not received.", ""},
        {Reply::Identity, FaultKind::Wrong, "Flash uP does not match definition.", ""},
        {Reply::Identity, FaultKind::Short, "Can't Get ID.", ""},
        {Reply::Identity, FaultKind::Missing, "Can't Get ID.", ""},
        {Reply::Erase, FaultKind::Wrong, "Erase Failed: Unexpected Reply.", ""},
        {Reply::Erase, FaultKind::Short, "No Reply Within Time Out Period.", ""},
        {Reply::Erase, FaultKind::Missing, "No Reply Within Time Out Period.", ""},
        {Reply::ProgramBlock, FaultKind::Wrong, "Write Failed: Unexpected Response.", ""},
        {Reply::ProgramBlock, FaultKind::Short, "Write Failed: No reply.", "", Left::InTransfer},
        {Reply::ProgramBlock, FaultKind::Missing, "Write Failed: No reply.", "", Left::InTransfer},
        {Reply::ProgramFinal, FaultKind::Wrong, "Write Failed: Unexpected Response.", ""},
        {Reply::ProgramFinal, FaultKind::Short, "Write Failed: No reply.", ""},
        {Reply::ProgramFinal, FaultKind::Missing, "Write Failed: No reply.", ""},
        {Reply::VerifyBlock, FaultKind::Wrong, "Verify Failed: Unexpected Response.", ""},
        {Reply::VerifyBlock, FaultKind::Short, "Verify Failed: No Reply.", "", Left::InTransfer},
        {Reply::VerifyBlock, FaultKind::Missing, "Verify Failed: No Reply.", "", Left::InTransfer},
        {Reply::VerifyFinal, FaultKind::Wrong, "Verify Failed: Unexpected Response.", ""},
        {Reply::VerifyFinal, FaultKind::Short, "Verify Failed: No Reply.", ""},
        {Reply::VerifyFinal, FaultKind::Missing, "Verify Failed: No Reply.", ""},
    };
    std::vector<FaultRow> rows;
    for (const Expected& e : spoiled)
        rows.push_back({std::string(ReplyNames[int(e.R)]) + "=" + KindNames[int(e.K)], spoil(e.R, e.K), e.User,
                        e.Boot.empty() ? e.User : e.Boot, e.Unit});
    const std::string writeAt2 = "Write Failed at address 0x00000080 (128).";
    const std::string verifyAt2 = "Verify Failed at address 0x00000080 (128).";
    const std::vector<FaultRow> others = {
        {"# at program block 2", [](auto& c) { c.program.failBlock = 2; }, writeAt2, writeAt2},
        {"# at the program end", [](auto& c) { c.program.failBlock = 3; }, writeAt2, writeAt2},
        {"# at verify block 2", [](auto& c) { c.verify.failBlock = 2; }, verifyAt2, verifyAt2},
        {"# at the verify end", [](auto& c) { c.verify.failBlock = 3; }, verifyAt2, verifyAt2},
        {"silent from program block 2", [](auto& c) { c.program.silentFromBlock = 2; }, "Write Failed: No reply.",
         "Write Failed: No reply.", Left::InTransfer},
        {"silent from verify block 2", [](auto& c) { c.verify.silentFromBlock = 2; }, "Verify Failed: No Reply.",
         "Verify Failed: No Reply.", Left::InTransfer},
        {"hangup at program block 2", [](auto& c) { c.program.hangupAtBlock = 2; }, "Write Failed: No reply.",
         "Write Failed: No reply.", Left::LineDead},
        {"hangup at verify block 2", [](auto& c) { c.verify.hangupAtBlock = 2; }, "Verify Failed: No Reply.",
         "Verify Failed: No Reply.", Left::LineDead},
        {"erase verdict %", [](auto& c) { c.eraseVerdict = '%'; }, "Erase Failed: Device Failure.",
         "Erase Failed: Device Failure."},
        {"erase verdict A", [](auto& c) { c.eraseVerdict = 'A'; }, "Erase Failed: Unexpected Reply.",
         "Erase Failed: Unexpected Reply."},
    };
    rows.insert(rows.end(), others.begin(), others.end());
    return rows;
}

// One row in one method: the unit in this process, the programmer in its own.
struct MatrixRun {
    MatrixRun(const FaultRow& row, std::string method) : Row(&row), Method(std::move(method)) { }

    const FaultRow* Row;
    std::string Method;
    std::unique_ptr<unitsim::UnitSimulator> Sim;
    std::unique_ptr<TChildProcess> Programmer;
    Clock::time_point Started;
    Outcome Result;
    double Elapsed = 0;

    const std::string& Expected() const { return Method == "user" ? Row->User : Row->Boot; }
};

// Most rows only wait for a reply that never comes: a few at a time keep the wall time
// near that of the slowest rows without loading the machine.
constexpr size_t ConcurrentRows = 12;

void StartRow(MatrixRun& r, const std::string& programmer)
{
    unitsim::SimConfig cfg;
    cfg.keepTrace = false;
    r.Row->Inject(cfg);
    r.Sim = std::make_unique<unitsim::UnitSimulator>(cfg);
    r.Sim->Start();
    r.Started = Clock::now();
    r.Programmer = StartProgram(programmer, Args({"--port", r.Sim->SlavePath(), "--method", r.Method}));
}

// True once the row's programmer has ended (or was given up after limitMs and killed).
bool PollRow(MatrixRun& r, int limitMs)
{
    const bool ended = r.Programmer->WaitForFinished(20);
    if (!ended && Seconds(r.Started) * 1000 < limitMs)
        return false;
    r.Elapsed = Seconds(r.Started);
    if (!ended)
        ::kill(r.Programmer->Pid(), SIGKILL); // a hang: the row fails below
    r.Result = Finish(*r.Programmer, 5000);
    r.Sim->Stop();
    return true;
}

void RunAll(std::vector<MatrixRun>& runs, const std::string& programmer, int limitMs)
{
    size_t next = 0, done = 0;
    std::vector<MatrixRun*> active;
    while (done < runs.size()) {
        while (active.size() < ConcurrentRows && next < runs.size()) {
            StartRow(runs[next], programmer);
            active.push_back(&runs[next++]);
        }
        for (size_t i = 0; i < active.size();) {
            if (PollRow(*active[i], limitMs)) {
                ++done;
                active.erase(active.begin() + long(i));
            } else {
                ++i;
            }
        }
    }
}

void PrintMatrix(const std::vector<MatrixRun>& runs)
{
    std::printf("\nFault matrix: %zu rows (%zu faults x 2 connect methods)\n", runs.size(), runs.size() / 2);
    std::printf("%-30s %-6s %-4s %-12s %7s  %s\n", "fault", "method", "exit", "unit", "seconds", "last line");
    for (const MatrixRun& r : runs)
        std::printf("%-30s %-6s %-4d %-12s %7.2f  %s\n", r.Row->Fault.c_str(), r.Method.c_str(), r.Result.Exit,
                    LeftName(LeftOf(r.Sim->Stats())), r.Elapsed, LastLine(r.Result.Err).c_str());
    std::fflush(stdout);
}

} // namespace

TEST(FaultMatrix, EveryFaultInEachConnectMethodFailsCleanly)
{
    TempDir dir;
    const std::string programmer = BuildJob(dir, Pattern(ImageSize));
    const std::vector<FaultRow> rows = FaultRows();
    std::vector<MatrixRun> runs;
    for (const FaultRow& row : rows)
        for (const char* method : {"user", "boot"})
            runs.emplace_back(row, method);
    // The slowest rows wait out 100 boot connect attempts; a programmer still running well
    // after that has hung.
    constexpr int LimitMs = 40000;
    RunAll(runs, programmer, LimitMs);
    PrintMatrix(runs);
    for (const MatrixRun& r : runs) {
        SCOPED_TRACE(r.Row->Fault + " / " + r.Method);
        EXPECT_LT(r.Elapsed * 1000, LimitMs) << "the programmer did not end";
        EXPECT_EQ(r.Result.Exit, 1);
        EXPECT_EQ(r.Result.Out.find("Unit Successfully Programmed!"), std::string::npos);
        EXPECT_EQ(LastLine(r.Result.Err), r.Expected()) << r.Result.Err;
        EXPECT_EQ(LeftName(LeftOf(r.Sim->Stats())), std::string(LeftName(r.Row->Unit)));
        EXPECT_EQ(r.Sim->Stats().finishes, 0);
    }
}

// ---------------------------------------------------------------- unplugged in the middle

namespace {

struct UnplugRow {
    const char* Where;
    const char* Method; // as --method takes it
    Reply At;           // the reply the line goes dead in place of
    int Occurrence;
    TRunPhase Phase;    // the phase the run was in
    int PhaseTimeoutMs; // the longest the host waits for a reply in that phase
};

const UnplugRow UnplugRows[] = {
    {"user connect", "user", Reply::Connect, 1, TRunPhase::Connect, 1000},
    {"boot connect", "boot", Reply::Connect, 1, TRunPhase::Connect, 100},
    // The boot method's second open finds no device any more.
    {"user connect, then boot", "auto", Reply::Connect, 1, TRunPhase::Connect, 1000},
    {"identity after the negotiation", "user", Reply::Identity, 1, TRunPhase::Connect, 500},
    {"erase", "user", Reply::Erase, 1, TRunPhase::Erase, 5000},
    {"program block 2", "user", Reply::ProgramBlock, 2, TRunPhase::Program, 5000},
    {"verify block 2", "boot", Reply::VerifyBlock, 2, TRunPhase::Verify, 5000},
};

TConnectMode ModeNamed(const std::string& method)
{
    return method == "user" ? TConnectMode::User : method == "boot" ? TConnectMode::Boot : TConnectMode::Auto;
}

struct QuietFrontEnd : TRunFrontEnd {
    void BootMethodNotice(const std::string&, const std::vector<std::string>&) override { }
};

// A unit whose line goes dead at the row's reply, reached through its own path or through
// a link standing for the device node (which goes with the line, as an unplugged adapter's).
std::unique_ptr<unitsim::UnitSimulator> CutUnit(const UnplugRow& row, const std::string& link)
{
    unitsim::SimConfig cfg;
    cfg.fault(row.At) = {FaultKind::HangUp, row.Occurrence};
    auto sim = std::make_unique<unitsim::UnitSimulator>(cfg);
    if (!link.empty())
        sim->Link(link);
    sim->Start();
    return sim;
}

} // namespace

TEST(Unplugged, InEachPhaseTheRunEndsWithAMessageAndThePortClosed)
{
    TempDir dir;
    const std::string programmer = BuildJob(dir, Pattern(ImageSize));
    std::printf("\n%-32s %-6s %-7s %9s  %s\n", "line dead at", "method", "device", "ms after", "message");
    for (const UnplugRow& row : UnplugRows) {
        for (const bool unplug : {false, true}) {
            SCOPED_TRACE(std::string(row.Where) + (unplug ? ", unplugged" : ", hung up"));
            const std::string link = unplug ? dir / "ttyUNIT" : "", cliLink = unplug ? dir / "ttyCLI" : "";
            // The programmer's run goes beside the one in this process, on a unit of its own.
            auto cliUnit = CutUnit(row, cliLink);
            auto cli = StartProgram(
                programmer,
                Args({"--port", unplug ? cliLink : cliUnit->SlavePath(), "--method", row.Method, "--no-progress"}));
            auto sim = CutUnit(row, link);
            RecordingSinks sinks;
            StubPrompt prompt;
            TProgrammingRun run(&sinks, &sinks, &prompt);
            run.LoadJob(TJob::FromFile(programmer), {});
            TBriskoComPort operatorPort;
            operatorPort.SetPort(unplug ? link : sim->SlavePath());
            TConnectChoice choice;
            choice.Port = &operatorPort;
            QuietFrontEnd frontEnd;
            std::string message;
            try {
                run.Program(choice, ModeNamed(row.Method), frontEnd);
            } catch (const std::exception& e) {
                message = e.what();
            }
            sim->Note("run ended");
            const std::string trace = sim->Trace();
            const double afterCut = NoteTime(trace, "run ended") - NoteTime(trace, "hang-up: the line goes dead");
            std::printf("%-32s %-6s %-7s %9.1f  %s\n", row.Where, row.Method, unplug ? "link" : "pty", afterCut * 1000,
                        message.c_str());
            EXPECT_TRUE(sim->Stats().hungUp);
            EXPECT_FALSE(message.empty()) << "the run reported success";
            EXPECT_LT(afterCut * 1000, row.PhaseTimeoutMs + 1000) << message;
            EXPECT_EQ(run.Phase(), row.Phase);
            EXPECT_FALSE(run.Flash().Device->ComPort->Connected());
            EXPECT_FALSE(operatorPort.Connected());
            EXPECT_EQ(sim->Stats().finishes, 0);
            if (unplug) {
                EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
            }
            const Outcome o = Finish(*cli);
            EXPECT_EQ(o.Exit, 1);
            EXPECT_EQ(o.Out, "");
            EXPECT_EQ(LastLine(o.Err), WithFullStop(message)) << o.Err;
        }
    }
    std::fflush(stdout);
}
