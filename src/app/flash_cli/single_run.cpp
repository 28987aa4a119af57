#include "single_run.h"

#include <unistd.h>

#include <cstdio>
#include <memory>

#include "cmdline.h"
#include "logging.h"
#include "messages.h"
#include "ports.h"
#include "programmer.h"
#include "report.h"

namespace {

// Run failures are printed without the program's name: their last line is the error
// display's text, which scripts read. Lines that explain the failure come before it.
void PrintFailure(const std::exception& e, const std::string& port)
{
    for (const std::string& line : ExplainFailure(e, port))
        std::fprintf(stderr, "%s\n", line.c_str());
    std::fprintf(stderr, "%s\n", WithFullStop(e.what()).c_str());
}

// The record of the one unit, when --report asks for it. A job that cannot be read
// touches no unit, so it leaves no record; the run then says why.
class TOptionalRecord {
public:
    // Raises EFileError when the report file cannot be opened.
    explicit TOptionalRecord(const TCliOptions& options)
    {
        if (options.Report.empty())
            return;
        File = std::make_unique<TReportFile>(options.Report);
        try {
            Job = DescribeJob(options.Job);
        } catch (const std::exception&) {
            File.reset();
        }
    }
    void Begin(const std::string& port)
    {
        if (File)
            Record = std::make_unique<TUnitRecord>(port, PortUsbJson(port), Job);
    }
    TUnitObserver* Observer() { return Record.get(); }
    // False when the record could not be written (said on standard error).
    bool End(const std::string& result, const std::string& error)
    {
        if (!Record)
            return true;
        Record->End(result, error);
        try {
            File->Append(Record->Json());
        } catch (const std::exception& e) {
            std::fprintf(stderr, "%s\n", WithFullStop(e.what()).c_str());
            return false;
        }
        return true;
    }

private:
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

    const bool progressVisible = !options.NoProgress && isatty(STDERR_FILENO) != 0;
    std::string port = options.Ports.front();
    try {
        port = ResolvePort(port);
    } catch (const std::exception& e) {
        record->Begin(port);
        record->End(ResultFailed, WithFullStop(e.what()));
        std::fprintf(stderr, "%s\n", WithFullStop(e.what()).c_str());
        return ExitFailed;
    }
    record->Begin(port);
    try {
        TProgrammer programmer(options, port, progressVisible, record->Observer());
        try {
            programmer.LoadJob();
            programmer.Program();
        } catch (...) {
            programmer.Out().EndLine();
            throw;
        }
    } catch (const std::exception& e) {
        record->End(FailureResult(), WithFullStop(e.what()));
        PrintFailure(e, port);
        return ExitFailed;
    }
    if (!record->End(ResultOk, ""))
        return ExitFailed;
    std::printf("%s\n", SuccessText);
    return ExitOk;
}
