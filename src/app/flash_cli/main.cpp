// moravent-flash-cli: programs units from a stored job without a window.
//
//   moravent-flash-cli --port PORT [--port PORT]... [--job FILE] [--method auto|user|boot] [--log FILE]
//                      [--report FILE] [--json] [--loop] [--no-progress]
//   moravent-flash-cli --list-ports [--json]
//   moravent-flash-cli --help | --version
//
// Exit status: 0 programmed (every unit), 1 failed (message on standard error), 2 usage error.
#include "cmdline.h"
#include "options.h"
#include "ports.h"
#include "single_run.h"
#include "station.h"
#include "worker.h"

int main(int argc, char** argv)
{
    return RunMain("moravent-flash-cli", [&] {
        TCliOptions options;
        if (!ParseCliArguments(argc, argv, options))
            return ExitOk;
        if (options.ListPorts)
            return ListPortsCommand(options.Json);
        if (options.Worker)
            return RunWorker(argc, argv, options);
        return options.Station() ? RunStation(options) : ProgramOnePort(argc, argv, options);
    });
}
