#include "app/flash_cli/single_run.h"

#include <unistd.h>

#include <cstdio>
#include <exception>
#include <memory>

#include "app/flash_cli/job_load.h"
#include "app/flash_cli/port_commands.h"
#include "app/flash_cli/programmer.h"
#include "app/flash_cli/report.h"
#include "app/flash_cli/unit_records.h"
#include "framework/cmdline.h"
#include "framework/message_loop.h"
#include "serial/logging.h"
#include "serial/port_diagnosis.h"

namespace {

// Run failures are printed without the program's name: their last line is the error
// display's text, which scripts read. Lines that explain the failure come before it.
void PrintFailure(const std::vector<std::string>& lines, const std::exception& e)
{
    for (const std::string& line : lines)
        std::fprintf(stderr, "%s\n", line.c_str());
    std::fprintf(stderr, "%s\n", WithFullStop(e.what()).c_str());
}

// The record of the one unit, when --report or --records asks for it. A job that cannot be
// read touches no unit, so it leaves no record; the run then says why.
class TOptionalRecord {
public:
    // Raises EFileError when the report file cannot be opened, Exception when the records
    // database cannot be used.
    explicit TOptionalRecord(const TCliOptions& options)
        : Who{options.Operator, options.UnitSerial}, Mode(options.Mode),
          Fixture(options.Fixtures.empty() ? std::string() : options.Fixtures.front()), Records(options)
    {
        if (!options.Report.empty())
            File = std::make_unique<TReportFile>(options.Report);
        Wanted = File || !options.Records.empty();
    }
    // The job the unit is programmed with; without one there is nothing to record.
    void Begin(const std::string& port, const TJob* job)
    {
        if (Wanted && job) {
            Job = DescribeJob(*job);
            Record = std::make_unique<TUnitRecord>(port, PortUsbJson(port), Job);
            Record->SetWho(Who);
            Record->SetMode(Mode);
            Record->SetFixture(Fixture, 1);
        }
    }
    TUnitObserver* Observer() { return Record.get(); }
    // False when the record could not be written (said on standard error).
    bool End(const std::string& result, const std::string& error, const std::string& detail = "")
    {
        if (!Record)
            return true;
        Record->End(result, error, detail);
        const std::string lost = Records.Keep(*Record);
        if (!lost.empty()) {
            Record->End(ResultFailed, lost, detail);
            std::fprintf(stderr, "%s\n", lost.c_str());
        }
        try {
            if (File)
                File->Append(Record->Json());
        } catch (const std::exception& e) {
            std::fprintf(stderr, "%s\n", WithFullStop(e.what()).c_str());
            return false;
        }
        return lost.empty();
    }

private:
    TUnitWho Who;
    TRunMode Mode;
    std::string Fixture;
    TUnitRecords Records;
    bool Wanted = false;
    std::unique_ptr<TReportFile> File;
    TJobFacts Job;
    std::unique_ptr<TUnitRecord> Record;
};

std::string FailureResult()
{
    return StopSignalsReceived() > 0 ? ResultCancelled : ResultFailed;
}

} // namespace

int ProgramOnePort(int argc, char** argv, const TCliOptions& options)
{
    TApplication app(argc, argv);
    CatchStopSignals("\nInterrupted again: stopping at once\n");
    SetCommsLogErrorHook([](const std::string& text) { std::fprintf(stderr, "%s\n", text.c_str()); });
    std::unique_ptr<TOptionalRecord> record;
    try {
        record = std::make_unique<TOptionalRecord>(options);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", WithFullStop(e.what()).c_str());
        return ExitFailed;
    }
    // Read once: the bytes programmed are the bytes the record names. A port that cannot be
    // found is told first, as it always was; a job that cannot be read leaves no record.
    std::unique_ptr<TJob> job;
    std::exception_ptr jobFailure;
    try {
        job = std::make_unique<TJob>(LoadCliJob(options.Job));
    } catch (const EJobRefused&) {
        jobFailure = std::current_exception();
    }

    const bool progressVisible = !options.NoProgress && isatty(STDERR_FILENO) != 0;
    std::string port = options.Ports.front();
    try {
        port = ResolvePort(port);
    } catch (const std::exception& e) {
        record->Begin(port, job.get());
        record->End(ResultFailed, WithFullStop(e.what()));
        std::fprintf(stderr, "%s\n", WithFullStop(e.what()).c_str());
        return ExitFailed;
    }
    if (jobFailure) {
        try {
            std::rethrow_exception(jobFailure);
        } catch (const EJobRefused& e) {
            PrintFailure(e.Details(), e);
        }
        return ExitFailed;
    }
    record->Begin(port, job.get());
    std::string outcome;
    try {
        TProgrammer programmer(options, port, progressVisible, record->Observer());
        try {
            programmer.LoadJob(*job);
            programmer.Program();
            outcome = programmer.OutcomeText();
        } catch (...) {
            programmer.Out().EndLine();
            throw;
        }
    } catch (const std::exception& e) {
        const std::vector<std::string> lines = ExplainFailure(e, port);
        record->End(FailureResult(), WithFullStop(e.what()), DetailText(lines));
        PrintFailure(lines, e);
        return ExitFailed;
    }
    if (!record->End(ResultOk, ""))
        return ExitFailed;
    std::printf("%s\n", outcome.c_str());
    return ExitOk;
}
