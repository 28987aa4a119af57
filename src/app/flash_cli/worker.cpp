#include "worker.h"

#include "cmdline.h"
#include "logging.h"
#include "messages.h"
#include "ports.h"
#include "process.h"
#include "programmer.h"
#include "worker_link.h"

int RunWorker(int argc, char** argv, const TCliOptions& options)
{
    TApplication app(argc, argv);
    // The supervisor passes on every Ctrl-C: the first cancels, a second ends at once.
    CatchStopSignals("");
    IgnoreBrokenPipes();
    TWorkerPipe pipe(ChildMessageFd);
    SetCommsLogErrorHook([&pipe](const std::string& text) { pipe.Notice(text); });
    const std::string& port = options.Ports.front();
    std::string error;
    try {
        // Closed (and the log stopped) before the end is told, so the port is free by then.
        TProgrammer programmer(options, port, false, &pipe, true);
        programmer.LoadJob();
        programmer.Program();
    } catch (const std::exception& e) {
        for (const std::string& line : ExplainFailure(e, port))
            pipe.Notice(line);
        error = WithFullStop(e.what());
    }
    if (error.empty()) {
        pipe.End(ResultOk, "");
        return ExitOk;
    }
    pipe.End(StopSignalsReceived() > 0 ? ResultCancelled : ResultFailed, error);
    return ExitFailed;
}
