#include "options.h"

#include "cmdline.h"

namespace {

const char Usage[] =
    "usage: moravent-flash-cli --port PORT [--job FILE] [--method auto|user|boot] [--log FILE] [--no-progress]\n"
    "       moravent-flash-cli --list-ports [--json]\n"
    "       moravent-flash-cli --help | --version\n"
    "\n"
    "Programs the unit on PORT with the job stored in FILE (an executable stamped by\n"
    "'moravent-job build'), or with the job stamped into this program itself.\n"
    "  --port PORT     the serial port: a name (ttyUSB0), a path (/dev/ttyUSB0), usb:SERIAL\n"
    "                  (the adapter with that serial number) or usb-path:PATH (the adapter\n"
    "                  in that hub socket, as --list-ports shows it)\n"
    "  --method auto   user connect first, then the boot connect (default)\n"
    "  --method user   user connect only\n"
    "  --method boot   boot connect only (reset the unit when asked)\n"
    "  --log FILE      write the communications log to FILE\n"
    "  --no-progress   no progress bar on standard error\n"
    "  --list-ports    print the system's serial ports: name, description, VID:PID and\n"
    "                  serial number, one port per line (with a heading on a terminal)\n"
    "  --json          with --list-ports: a JSON array of the ports instead\n"
    "  --help          this text\n"
    "  --version       the program's name and version\n"
    "Exit status: 0 programmed, 1 failed, 2 usage error.\n";

void CheckOptions(const TCommandLine& cmd, TCliOptions& o)
{
    if (!cmd.Positional().empty())
        throw EUsageError("unknown argument '" + cmd.Positional()[0] + "'");
    for (const auto& [name, value] : cmd.Given())
        if (name == "port")
            o.Ports.push_back(value);
    o.Job = cmd.Value("job");
    if (cmd.Has("method"))
        o.Method = cmd.Value("method");
    o.LogFile = cmd.Value("log");
    o.NoProgress = cmd.Has("no-progress");
    o.ListPorts = cmd.Has("list-ports");
    o.Json = cmd.Has("json");
    if (o.ListPorts) {
        if (!o.Ports.empty() || !o.Job.empty() || !o.LogFile.empty())
            throw EUsageError("--list-ports takes no other options");
        return;
    }
    if (o.Json)
        throw EUsageError("--json goes with --list-ports");
    if (o.Ports.empty())
        throw EUsageError("--port is required");
    if (o.Ports.size() > 1)
        throw EUsageError("--port is given more than once");
    if (o.Method != "auto" && o.Method != "user" && o.Method != "boot")
        throw EUsageError("--method must be auto, user or boot, not '" + o.Method + "'");
}

} // namespace

bool ParseCliArguments(int argc, char** argv, TCliOptions& o)
{
    TCommandLine cmd("moravent-flash-cli", Usage);
    cmd.MissingValueText = "option %1 needs a value";
    cmd.UnknownOptionText = "unknown argument '%1'";
    for (const char* name : {"port", "job", "method", "log"})
        cmd.AddValue({name});
    for (const char* name : {"no-progress", "list-ports", "json"})
        cmd.AddFlag({name});
    try {
        if (!cmd.Parse(argc, argv))
            return false;
        CheckOptions(cmd, o);
    } catch (EUsageError& e) {
        e.setMessage(e.message() + "\n" + std::string(Usage, sizeof Usage - 2));
        throw;
    }
    return true;
}
