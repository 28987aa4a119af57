#include "app/flash_cli/station.h"

#include <signal.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>

#include "app/flash_cli/fixture_probe.h"
#include "app/flash_cli/job_load.h"
#include "app/flash_cli/json_events.h"
#include "app/flash_cli/port_commands.h"
#include "app/flash_cli/port_slot.h"
#include "app/flash_cli/programmer.h"
#include "app/flash_cli/station_operator.h"
#include "app/flash_cli/station_scan.h"
#include "app/flash_cli/station_terminal.h"
#include "app/flash_cli/unit_records.h"
#include "framework/cmdline.h"
#include "framework/file_input.h"
#include "serial/port_diagnosis.h"
#include "storage/record_layout.h"

namespace {

using TSlots = std::vector<std::unique_ptr<TPortSlot>>;

class TStation {
public:
    // job: the bytes every worker programs, the very ones described by facts.
    TStation(const TCliOptions& options, const TJobFacts& facts, const TSharedBytes& job, TReportFile* report,
             TUnitRecords& records);
    // Opens every fixture's port for a moment; false when one cannot be and --skip-missing
    // was not given (said on standard error).
    bool Start();
    // One unit on every chosen fixture; false when any of them failed.
    bool Round(const std::vector<bool>& chosen);
    // Asks the operator for the next round and which fixtures it programs; false to stop.
    bool Next(std::vector<bool>& chosen);
    bool ReportLost() const { return FReportLost; }
    bool RecordLost() const { return FRecordLost; }

private:
    std::unique_ptr<TPortSlot> Launch(size_t fixture, const std::string& unitSerial,
                                      std::map<std::string, std::string>& taken);
    std::unique_ptr<TPortSlot> Skip(size_t fixture, const TFixtureProbe& probe);
    std::unique_ptr<TPortSlot> NewSlot(size_t fixture, const std::string& port, TJson usb,
                                       const std::string& unitSerial);
    std::vector<std::string> WorkerArgs(const std::string& port) const;
    void Serve(TSlots& units);
    void PassOnSignals(TSlots& units);
    void Reap(TPortSlot& slot);
    void Finish(TPortSlot& slot, const std::string& result, const std::string& error, const std::string& detail = "");
    std::vector<bool> Retry() const;

    const TCliOptions& Opt;
    const TJobFacts& Job;
    const TSharedBytes& JobBytes;
    TReportFile* Report;
    TUnitRecords& Records;
    std::unique_ptr<TStationOutput> Out;
    std::vector<std::string> Labels;      // each fixture's name, or its port as given
    std::vector<std::string> LastResults; // each fixture's last unit's result
    std::vector<TFixtureProbe> Probes;    // this round's: what opening each fixture's port found
    int RoundNumber = 0;
    TRoundCounts Total, ThisRound;
    int Forwarded = 0;
    bool HardStop = false;
    bool FReportLost = false;
    bool FRecordLost = false;
    bool Quit = false;
};

TStation::TStation(const TCliOptions& options, const TJobFacts& facts, const TSharedBytes& job, TReportFile* report,
                   TUnitRecords& records)
    : Opt(options), Job(facts), JobBytes(job), Report(report), Records(records)
{
    if (Opt.Json)
        Out = std::make_unique<TJsonEvents>();
    else
        Out = std::make_unique<TStationTerminal>(!Opt.NoProgress && isatty(STDERR_FILENO) != 0);
    for (size_t i = 0; i < Opt.Ports.size(); ++i)
        Labels.push_back(FixtureLabel(Opt, i));
    LastResults.resize(Opt.Ports.size());
}

bool TStation::Start()
{
    std::vector<std::string> missing;
    for (size_t i = 0; i < Opt.Ports.size(); ++i) {
        Probes.push_back(ProbeFixture(Opt.Ports[i]));
        const TFixtureProbe& probe = Probes.back();
        if (probe.Ok())
            continue;
        missing.push_back(Labels[i]);
        for (const std::string& line : probe.Lines)
            std::fprintf(stderr, "%s\n", line.c_str());
        // With --skip-missing the fixture's "skipped" line tells the error.
        if (!Opt.SkipMissing)
            std::fprintf(stderr, "%s: %s\n", Labels[i].c_str(), probe.Error.c_str());
    }
    if (missing.empty() || Opt.SkipMissing)
        return true;
    std::fprintf(stderr, "The station did not start: %s cannot be opened (--skip-missing starts without %s).\n",
                 Listed(missing, ", ").c_str(), missing.size() > 1 ? "them" : "it");
    return false;
}

bool TStation::Round(const std::vector<bool>& chosen)
{
    ++RoundNumber;
    ThisRound = {};
    std::vector<std::string> serials(Opt.Ports.size());
    if (Opt.Scan && !ScanUnitSerials(Labels, serials)) {
        Quit = true;
        return true;
    }
    // The first round uses what the start found; later ones look again only for --skip-missing,
    // so that a fixture whose adapter is back joins in.
    if (RoundNumber > 1)
        Probes.assign(Opt.Ports.size(), TFixtureProbe{});
    const auto start = TPortView::Clock::now();
    TSlots units;
    std::map<std::string, std::string> taken; // port: the selector that named it
    for (size_t i = 0; i < Opt.Ports.size(); ++i) {
        if (!chosen[i] || (Opt.Scan && serials[i].empty()))
            continue;
        if (RoundNumber > 1 && Opt.SkipMissing)
            Probes[i] = ProbeFixture(Opt.Ports[i]);
        const std::string serial = Opt.UnitSerial.empty() ? serials[i] : Opt.UnitSerial;
        units.push_back(Probes[i].Ok() ? Launch(i, serial, taken) : Skip(i, Probes[i]));
    }
    Serve(units);
    std::vector<const TPortView*> views;
    bool allOk = true;
    for (const auto& slot : units) {
        views.push_back(&slot->View());
        const std::string& result = slot->Record().Result();
        allOk = allOk && (result == ResultOk || result == ResultSkipped);
    }
    const double wall = std::chrono::duration<double>(TPortView::Clock::now() - start).count();
    Out->RoundEnded(views, {RoundNumber, ThisRound, wall});
    Total.Add(ThisRound);
    return allOk;
}

std::unique_ptr<TPortSlot> TStation::NewSlot(size_t fixture, const std::string& port, TJson usb,
                                             const std::string& unitSerial)
{
    Records.Forward();
    auto slot = std::make_unique<TPortSlot>(port, std::move(usb), Job, *Out);
    slot->SetWho({Opt.Operator, unitSerial});
    slot->SetMode(Opt.Mode);
    slot->SetFixture(Opt.Fixtures.at(fixture), RoundNumber);
    slot->Fixture = fixture;
    Out->Started(slot->View());
    return slot;
}

// A fixture whose port could not be opened sits the round out, with a record that says why.
std::unique_ptr<TPortSlot> TStation::Skip(size_t fixture, const TFixtureProbe& probe)
{
    auto slot = NewSlot(fixture, probe.Port, nullptr, std::string());
    Finish(*slot, ResultSkipped, probe.Error, DetailText(probe.Lines));
    return slot;
}

std::unique_ptr<TPortSlot> TStation::Launch(size_t fixture, const std::string& unitSerial,
                                            std::map<std::string, std::string>& taken)
{
    const std::string& selector = Opt.Ports[fixture];
    std::string port = selector, failure;
    try {
        port = ResolvePort(selector);
    } catch (const std::exception& e) {
        failure = WithFullStop(e.what());
    }
    if (const auto first = taken.find(port); failure.empty() && first != taken.end())
        failure = "--port " + selector + " is " + port + ", which --port " + first->second + " names already.";
    taken.emplace(port, selector);
    auto slot = NewSlot(fixture, port, failure.empty() ? PortUsbJson(port) : TJson(nullptr), unitSerial);
    if (failure.empty() && StopSignalsReceived() == 0) {
        try {
            slot->Child = StartChild(SelfForChildren(), WorkerArgs(port), &JobBytes);
        } catch (const std::exception& e) {
            failure = WithFullStop(e.what());
        }
    }
    if (!failure.empty() || slot->Child.Pid < 0)
        Finish(*slot, failure.empty() ? ResultCancelled : ResultFailed,
               failure.empty() ? "Programming Interrupted by User." : failure);
    return slot;
}

std::vector<std::string> TStation::WorkerArgs(const std::string& port) const
{
    std::vector<std::string> args = {
        "moravent-flash-cli", std::string("--") + WorkerOption, "--port", port, "--method", Opt.Method, "--job",
        JobBytes.ChildPath()};
    // The log is named after the job as given, which the worker does not know. Every worker
    // writes its own: two on one file would interleave, and the log's lock would refuse the second.
    std::string log = Opt.LogFile;
    if (log.empty() && Job.LogSwitch)
        log = RecordLogFile(Opt);
    if (!log.empty() && Opt.Ports.size() > 1)
        log = PortLogFile(log, port);
    if (!log.empty())
        args.insert(args.end(), {"--log", log});
    if (Opt.Mode != TRunMode::Program)
        args.push_back(std::string("--") + RunModeOption(Opt.Mode));
    return args;
}

void TStation::Serve(TSlots& units)
{
    for (;;) {
        PassOnSignals(units);
        std::vector<int> fds;
        std::vector<TPortSlot*> owners;
        for (const auto& slot : units)
            for (int fd : {slot->Child.MessageFd, slot->Child.ErrorFd})
                if (fd >= 0) {
                    fds.push_back(fd);
                    owners.push_back(slot.get());
                }
        if (fds.empty())
            return;
        std::vector<bool> ready;
        WaitForInput(fds, 100, ready);
        for (size_t i = 0; i < fds.size(); ++i)
            if (ready[i])
                owners[i]->Read(fds[i]);
        for (const auto& slot : units)
            if (slot->Silent() && slot->Child.Pid > 0)
                Reap(*slot);
        Out->Tick();
    }
}

// The terminal's Ctrl-C reaches only this process: each one goes on to every worker,
// so the first cancels every port cleanly and a second ends them at once.
void TStation::PassOnSignals(TSlots& units)
{
    for (const int received = StopSignalsReceived(); Forwarded < received; ++Forwarded)
        for (const auto& slot : units)
            SignalChild(slot->Child, SIGINT);
    if (Forwarded >= 2 && !HardStop) {
        HardStop = true;
        std::fputs("\nInterrupted again: stopping at once\n", stderr);
    }
}

void TStation::Reap(TPortSlot& slot)
{
    std::string reason = WaitChild(slot.Child);
    if (slot.WorkerEnd.Seen) {
        Finish(slot, slot.WorkerEnd.Result, slot.WorkerEnd.Error, slot.WorkerEnd.Detail);
        return;
    }
    if (HardStop) {
        Finish(slot, ResultCancelled, "Stopped at once by a second interrupt.");
        return;
    }
    if (reason.empty())
        reason = "worker ended without a result";
    reason[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(reason[0])));
    Finish(slot, ResultFailed, WithFullStop(reason));
}

void TStation::Finish(TPortSlot& slot, const std::string& result, const std::string& error, const std::string& detail)
{
    slot.End(result, error, detail, [&](const TUnitRecord& record) {
        std::string lost = Records.Keep(record);
        FRecordLost = FRecordLost || !lost.empty();
        return lost;
    });
    ThisRound.Add(slot.Record().Result());
    LastResults.at(slot.Fixture) = slot.Record().Result();
    if (!Report)
        return;
    try {
        Report->Append(slot.Record().Json());
    } catch (const std::exception& e) {
        FReportLost = true;
        std::fprintf(stderr, "%s: %s\n", slot.View().Label().c_str(), WithFullStop(e.what()).c_str());
    }
}

std::vector<bool> TStation::Retry() const
{
    std::vector<bool> retry;
    for (const std::string& result : LastResults)
        retry.push_back(result == ResultFailed || result == ResultCancelled);
    return retry;
}

bool TStation::Next(std::vector<bool>& chosen)
{
    if (Quit)
        return false;
    std::fprintf(stderr, "%s\n", Total.Text().c_str());
    // A unit whose record could be kept nowhere stops the line: the next ones would lose theirs too.
    if (StopSignalsReceived() > 0 || FRecordLost)
        return false;
    chosen.assign(Opt.Ports.size(), true);
    if (Opt.Scan)
        return true; // scanning the next units' serials starts the next round
    const std::vector<bool> retry = Retry();
    std::vector<std::string> again;
    for (size_t i = 0; i < retry.size(); ++i)
        if (retry[i])
            again.push_back(Labels[i]);
    if (!again.empty())
        std::fprintf(stderr, "To program again: %s (r: only those; fixture names: only the ones named)\n",
                     Listed(again).c_str());
    for (;;) {
        std::fputs("Press Enter to program the next units, q to quit: ", stderr);
        std::fflush(stderr);
        const std::optional<std::string> line = ReadOperatorLine();
        if (!line) {
            std::fputs("\n", stderr);
            return false;
        }
        std::string problem;
        switch (ParseOperatorLine(*line, Labels, retry, chosen, problem)) {
        case TOperatorAnswer::Go: return true;
        case TOperatorAnswer::Quit: return false;
        case TOperatorAnswer::AskAgain: std::fprintf(stderr, "%s\n", problem.c_str()); break;
        }
    }
}

} // namespace

std::string PortLogFile(const std::string& file, const std::string& port)
{
    std::string name = port.rfind("/dev/", 0) == 0 ? port.substr(5) : port;
    name.erase(0, name.find_first_not_of('/'));
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-' && c != '_')
            c = '_';
    const size_t slash = file.find_last_of('/');
    const size_t dot = file.find_last_of('.');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash) && dot > 0)
        return file.substr(0, dot) + "_" + name + file.substr(dot);
    return file + "_" + name;
}

int RunStation(const TCliOptions& options)
{
    CatchStopSignals();
    IgnoreBrokenPipes();
    // Read once for the whole station: what the workers program is what the records name.
    std::unique_ptr<TJob> job;
    std::unique_ptr<TSharedBytes> shared;
    TJobFacts facts;
    try {
        job = std::make_unique<TJob>(LoadCliJob(options.Job));
        facts = DescribeJob(*job);
        shared = std::make_unique<TSharedBytes>(
            std::string(reinterpret_cast<const char*>(job->Block()), size_t(layout::BlockSize)));
    } catch (const std::exception& e) {
        for (const std::string& line : ExplainFailure(e, ""))
            std::fprintf(stderr, "%s\n", line.c_str());
        std::fprintf(stderr, "%s\n", WithFullStop(e.what()).c_str());
        return ExitFailed;
    }
    std::unique_ptr<TReportFile> report;
    if (!options.Report.empty()) {
        try {
            report = std::make_unique<TReportFile>(options.Report);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "%s\n", WithFullStop(e.what()).c_str());
            return ExitFailed;
        }
    }
    std::unique_ptr<TUnitRecords> records;
    try {
        records = std::make_unique<TUnitRecords>(options);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", WithFullStop(e.what()).c_str());
        return ExitFailed;
    }
    TStation station(options, facts, *shared, report.get(), *records);
    if (!station.Start())
        return ExitFailed;
    bool allOk = true;
    std::vector<bool> chosen(options.Ports.size(), true);
    do
        allOk = station.Round(chosen) && allOk;
    while (options.Loop && station.Next(chosen));
    return allOk && !station.ReportLost() && !station.RecordLost() ? ExitOk : ExitFailed;
}
