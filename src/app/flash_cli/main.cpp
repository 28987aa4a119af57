// moravent-flash-cli: programs a unit from a stored job without a window.
//
//   moravent-flash-cli --port PORT [--job FILE] [--method auto|user|boot] [--log FILE] [--no-progress]
//   moravent-flash-cli --list-ports [--json]
//   moravent-flash-cli --help | --version
//
// Exit status: 0 programmed, 1 failed (message on standard error), 2 usage error.
#include <unistd.h>

#include <cstdio>

#include "cmdline.h"
#include "logging.h"
#include "messages.h"
#include "options.h"
#include "ports.h"
#include "programmer.h"

namespace {

// Run failures are printed without the program's name: their last line is the error
// display's text, which scripts read. Lines that explain the failure come before it.
int Fail(const std::exception& e, const std::string& port)
{
    for (const std::string& line : ExplainFailure(e, port))
        std::fprintf(stderr, "%s\n", line.c_str());
    std::fprintf(stderr, "%s\n", WithFullStop(e.what()).c_str());
    return ExitFailed;
}

int ProgramUnit(int argc, char** argv, const TCliOptions& options)
{
    TApplication app(argc, argv);
    CatchStopSignals("\nInterrupted again: stopping at once\n");
    SetCommsLogErrorHook([](const std::string& text) { std::fprintf(stderr, "%s\n", text.c_str()); });

    const bool progressVisible = !options.NoProgress && isatty(STDERR_FILENO) != 0;
    std::string port;
    try {
        port = ResolvePort(options.Ports.front());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", WithFullStop(e.what()).c_str());
        return ExitFailed;
    }
    try {
        TProgrammer programmer(options, port, progressVisible);
        try {
            programmer.LoadJob();
            programmer.Program();
        } catch (...) {
            programmer.Out().EndLine();
            throw;
        }
    } catch (const std::exception& e) {
        return Fail(e, port);
    }
    std::printf("Unit Successfully Programmed!\n");
    return ExitOk;
}

} // namespace

int main(int argc, char** argv)
{
    return RunMain("moravent-flash-cli", [&] {
        TCliOptions options;
        if (!ParseCliArguments(argc, argv, options))
            return ExitOk;
        return options.ListPorts ? ListPortsCommand(options.Json) : ProgramUnit(argc, argv, options);
    });
}
