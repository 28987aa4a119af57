// moravent-flash-cli: programs units from a stored job without a window.
//
//   moravent-flash-cli --port PORT [--port PORT]... [--job FILE] [--method auto|user|boot] [--log FILE]
//                      [--report FILE] [--json] [--loop] [--no-progress]
//   moravent-flash-cli --list-ports [--json]
//   moravent-flash-cli --help | --version
//
// Exit status: 0 programmed (every unit), 1 failed (message on standard error), 2 usage error.
#include "app/flash_cli/options.h"
#include "app/flash_cli/port_commands.h"
#include "app/flash_cli/single_run.h"
#include "app/flash_cli/station.h"
#include "app/flash_cli/worker.h"
#include "framework/cmdline.h"

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
