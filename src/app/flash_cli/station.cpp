#include "app/flash_cli/station.h"

#include <signal.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <map>
#include <memory>

#include "app/flash_cli/job_load.h"
#include "app/flash_cli/json_events.h"
#include "app/flash_cli/port_commands.h"
#include "app/flash_cli/port_slot.h"
#include "app/flash_cli/programmer.h"
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
    // One unit on every port; false when any of them failed.
    bool Round();
    // Asks the operator for the next round; false to stop.
    bool Next();
    bool ReportLost() const { return FReportLost; }
    bool RecordLost() const { return FRecordLost; }

private:
    std::unique_ptr<TPortSlot> Launch(const std::string& selector, const std::string& unitSerial,
                                      std::map<std::string, std::string>& taken);
    std::vector<std::string> WorkerArgs(const std::string& port) const;
    void Serve(TSlots& units);
    void PassOnSignals(TSlots& units);
    void Reap(TPortSlot& slot);
    void Finish(TPortSlot& slot, const std::string& result, const std::string& error, const std::string& detail = "");

    const TCliOptions& Opt;
    const TJobFacts& Job;
    const TSharedBytes& JobBytes;
    TReportFile* Report;
    TUnitRecords& Records;
    std::unique_ptr<TStationOutput> Out;
    int Forwarded = 0;
    bool HardStop = false;
    bool FReportLost = false;
    bool FRecordLost = false;
    bool Quit = false;
    int Programmed = 0, Failed = 0;
};

TStation::TStation(const TCliOptions& options, const TJobFacts& facts, const TSharedBytes& job, TReportFile* report,
                   TUnitRecords& records)
    : Opt(options), Job(facts), JobBytes(job), Report(report), Records(records)
{
    if (Opt.Json)
        Out = std::make_unique<TJsonEvents>();
    else
        Out = std::make_unique<TStationTerminal>(!Opt.NoProgress && isatty(STDERR_FILENO) != 0);
}

bool TStation::Round()
{
    std::vector<std::string> serials(Opt.Ports.size());
    if (Opt.Scan && !ScanUnitSerials(Opt.Ports, serials)) {
        Quit = true;
        return true;
    }
    TSlots units;
    std::map<std::string, std::string> taken; // port: the selector that named it
    for (size_t i = 0; i < Opt.Ports.size(); ++i)
        if (!Opt.Scan || !serials[i].empty())
            units.push_back(Launch(Opt.Ports[i], Opt.UnitSerial.empty() ? serials[i] : Opt.UnitSerial, taken));
    Serve(units);
    std::vector<const TPortView*> views;
    bool allOk = true;
    for (const auto& slot : units) {
        views.push_back(&slot->View());
        allOk = allOk && slot->Record().Result() == ResultOk;
    }
    Out->RoundEnded(views);
    return allOk;
}

std::unique_ptr<TPortSlot> TStation::Launch(const std::string& selector, const std::string& unitSerial,
                                            std::map<std::string, std::string>& taken)
{
    Records.Forward();
    std::string port = selector, failure;
    try {
        port = ResolvePort(selector);
    } catch (const std::exception& e) {
        failure = WithFullStop(e.what());
    }
    if (const auto first = taken.find(port); failure.empty() && first != taken.end())
        failure = "--port " + selector + " is " + port + ", which --port " + first->second + " names already.";
    taken.emplace(port, selector);
    auto slot = std::make_unique<TPortSlot>(port, failure.empty() ? PortUsbJson(port) : TJson(nullptr), Job, *Out);
    slot->SetWho({Opt.Operator, unitSerial});
    slot->SetMode(Opt.Mode);
    Out->Started(slot->View());
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
    (slot.Record().Result() == ResultOk ? Programmed : Failed)++;
    if (!Report)
        return;
    try {
        Report->Append(slot.Record().Json());
    } catch (const std::exception& e) {
        FReportLost = true;
        std::fprintf(stderr, "%s: %s\n", slot.Record().Port().c_str(), WithFullStop(e.what()).c_str());
    }
}

bool TStation::Next()
{
    if (Quit)
        return false;
    const int all = Programmed + Failed;
    std::fprintf(stderr, "Programmed: %d  Failed: %d  Yield: %.1f%%\n", Programmed, Failed,
                 all > 0 ? 100.0 * Programmed / all : 0.0);
    // A unit whose record could be kept nowhere stops the line: the next ones would lose theirs too.
    if (StopSignalsReceived() > 0 || FRecordLost || Quit)
        return false;
    if (Opt.Scan)
        return true; // scanning the next units' serials starts the next round
    std::fputs("Press Enter to program the next units, q to quit: ", stderr);
    std::fflush(stderr);
    std::string line;
    for (char c = 0;;) {
        const ssize_t n = ::read(STDIN_FILENO, &c, 1);
        if (n < 0 && errno == EINTR && StopSignalsReceived() == 0)
            continue;
        if (n <= 0) {
            std::fputs("\n", stderr);
            return false;
        }
        if (c == '\n')
            break;
        line += c;
    }
    return line.find_first_of("qQ") == std::string::npos;
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
    bool allOk = true;
    do
        allOk = station.Round() && allOk;
    while (options.Loop && station.Next());
    return allOk && !station.ReportLost() && !station.RecordLost() ? ExitOk : ExitFailed;
}
