#include "app/flash_cli/worker.h"

#include "app/flash_cli/job_load.h"
#include "app/flash_cli/programmer.h"
#include "app/flash_cli/worker_link.h"
#include "app/flash_cli/worker_process.h"
#include "framework/cmdline.h"
#include "framework/message_loop.h"
#include "serial/logging.h"
#include "serial/port_diagnosis.h"

int RunWorker(int argc, char** argv, const TCliOptions& options)
{
    TApplication app(argc, argv);
    // The supervisor passes on every Ctrl-C: the first cancels, a second ends at once.
    CatchStopSignals("");
    HearSupervisorStops();
    IgnoreBrokenPipes();
    TWorkerPipe pipe(ChildMessageChannel());
    SetCommsLogErrorHook([&pipe](const std::string& text) { pipe.Notice(text); });
    const std::string& port = options.Ports.front();
    std::string error, detail;
    try {
        // Closed (and the log stopped) before the end is told, so the port is free by then.
        TProgrammer programmer(options, port, false, &pipe, true);
        // The supervisor's bytes: the job it has hashed for the record.
        programmer.LoadJob(LoadCliJob(options.Job));
        programmer.Program();
    } catch (const std::exception& e) {
        const std::vector<std::string> lines = ExplainFailure(e, port);
        for (const std::string& line : lines)
            pipe.Notice(line);
        error = WithFullStop(e.what());
        detail = DetailText(lines);
    }
    if (error.empty()) {
        pipe.End(ResultOk, "", "");
        return ExitOk;
    }
    pipe.End(StopSignalsReceived() > 0 ? ResultCancelled : ResultFailed, error, detail);
    return ExitFailed;
}
