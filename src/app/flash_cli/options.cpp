#include "app/flash_cli/options.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>

#include "app/flash_cli/station_file.h"
#include "app/flash_cli/unit_who.h"
#include "framework/cmdline.h"

namespace {

const char Usage[] = "usage: moravent-flash-cli --port [NAME=]PORT [--port [NAME=]PORT]... [--station FILE]\n"
                     "                          [--job FILE] [--method auto|user|boot] [--log FILE] [--report FILE]\n"
                     "                          [--records TARGET] [--operator NAME] [--skip-missing]\n"
                     "                          [--unit-serial S | --loop [--scan]] [--json] [--no-progress]\n"
                     "                          [--identify | --verify-only | --skip-if-current]\n"
                     "       moravent-flash-cli --list-ports [--json]\n"
                     "       moravent-flash-cli --help | --version\n"
                     "\n"
                     "Programs the unit on PORT with the job stored in FILE (an executable stamped by\n"
                     "'moravent-job build'), or with the job stamped into this program itself.\n"
                     "  --port PORT     the serial port: a name (ttyUSB0), a path (/dev/ttyUSB0), usb:SERIAL\n"
                     "                  (the adapter with that serial number) or usb-path:PATH (the adapter\n"
                     "                  in that hub socket, as --list-ports shows it); given several times,\n"
                     "                  one unit on each port is programmed at once; NAME=PORT names the\n"
                     "                  fixture (A1=usb:FT1A2B) for the live lines, the summary and the records\n"
                     "  --station FILE  the station's options from a JSON file: job, fixtures ({\"A1\": PORT, ...}),\n"
                     "                  method, log, report, records, operator, skip_missing; options given\n"
                     "                  here override the file's, --port replaces its fixtures\n"
                     "  --skip-missing  a station whose fixture's port cannot be opened starts without it\n"
                     "                  (recorded as skipped) instead of refusing to start\n"
                     "  --method auto   user connect first, then the boot connect (default)\n"
                     "  --method user   user connect only\n"
                     "  --method boot   boot connect only (reset the unit when asked)\n"
                     "  --log FILE      write the communications log to FILE (with several ports one log\n"
                     "                  per port, the port's name added to the file name)\n"
                     "  --report FILE   append the record of every unit to FILE when it ends, one JSON\n"
                     "                  object a line\n"
                     "  --records TARGET  keep the record of every unit in a database before its result is\n"
                     "                  shown: a file or sqlite:PATH (SQLite), a postgresql:// URI or libpq\n"
                     "                  keywords (PostgreSQL); while it cannot be reached, records wait in a\n"
                     "                  local spool and are forwarded when it answers\n"
                     "  --operator NAME the operator named in the records (default: the login name)\n"
                     "  --unit-serial S the serial number of the one unit programmed, for its record\n"
                     "  --scan          with --loop: before every round, read each port's unit serial from\n"
                     "                  standard input (a barcode scanner); an empty line skips that port\n"
                     "  --identify      only connect and identify the unit and say whether it is the job's;\n"
                     "                  nothing is erased or programmed, the unit stays in its boot loader\n"
                     "  --verify-only   only verify the unit's flash against the job's image, then finish\n"
                     "  --skip-if-current  verify first; program the unit only when its flash differs\n"
                     "  --no-progress   no progress bar on standard error\n"
                     "  --loop          after every port has ended, show the counts and wait for the operator:\n"
                     "                  Enter programs every fixture again, r retries the failed and cancelled\n"
                     "                  ones, fixture names (A1 A3) program only those, q or end of input\n"
                     "                  quits; needs a terminal\n"
                     "  --list-ports    print the system's serial ports: name, description, VID:PID and\n"
                     "                  serial number, one port per line (with a heading on a terminal)\n"
                     "  --json          with --list-ports: a JSON array of the ports instead; with a run:\n"
                     "                  progress as JSON events on standard output, one object a line\n"
                     "  --help          this text\n"
                     "  --version       the program's name and version\n"
                     "Exit status: 0 programmed (every unit), 1 failed (any unit, or a fixture that cannot be\n"
                     "opened without --skip-missing), 2 usage error. With --identify\n"
                     "0 means the unit is the job's, with --verify-only that it carries the job's image.\n";

// Each names one run mode; at most one may be given.
const TRunMode ModeFlags[] = {TRunMode::Identify, TRunMode::Verify, TRunMode::SkipIfCurrent};

void ReadMode(const TCommandLine& cmd, TCliOptions& o)
{
    std::string given;
    for (const TRunMode mode : ModeFlags) {
        const std::string name = RunModeOption(mode);
        if (!cmd.Has(name))
            continue;
        if (!given.empty())
            throw EUsageError("--" + given + " and --" + name + " cannot be given together");
        given = name;
        o.Mode = mode;
    }
    if (!given.empty() && o.ListPorts)
        throw EUsageError("--list-ports takes no other options");
}

void CheckListPorts(const TCliOptions& o)
{
    if (!o.Ports.empty() || o.SkipMissing || !o.Job.empty() || !o.LogFile.empty() || !o.Report.empty() || o.Loop ||
        !o.Records.empty() || !o.UnitSerial.empty() || o.Scan)
        throw EUsageError("--list-ports takes no other options");
}

void CheckUnitSerial(const TCliOptions& o)
{
    if (!o.UnitSerial.empty() && (o.Ports.size() != 1 || o.Loop))
        throw EUsageError("--unit-serial names one unit: give one --port and no --loop (--loop --scan asks for "
                          "each unit's serial)");
    if (o.Scan && !o.Loop)
        throw EUsageError("--scan needs --loop");
}

bool IsFixtureName(const std::string& name)
{
    return !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' || c == '.';
    });
}

// NAME=SELECTOR names a fixture; a path that merely holds '=' stays a selector.
void AddPort(const std::string& given, TCliOptions& o)
{
    const size_t eq = given.find('=');
    std::string name = eq == std::string::npos ? "" : given.substr(0, eq);
    if (!IsFixtureName(name)) {
        o.Ports.push_back(given);
        o.Fixtures.emplace_back();
        return;
    }
    if (eq + 1 == given.size())
        throw EUsageError("--port " + given + " names no port");
    std::string lower = name;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    // Between rounds the operator types fixture names, r and q.
    if (lower == "r" || lower == "q")
        throw EUsageError("fixture name " + name + " is one of the operator's keys (r, q); choose another");
    o.Ports.push_back(given.substr(eq + 1));
    o.Fixtures.push_back(name);
}

void CheckRun(const TCliOptions& o)
{
    if (o.Ports.empty())
        throw EUsageError("--port is required");
    for (auto p = o.Ports.begin(); p != o.Ports.end(); ++p)
        if (std::find(o.Ports.begin(), p, *p) != p)
            throw EUsageError("--port " + *p + " is given twice");
    for (auto f = o.Fixtures.begin(); f != o.Fixtures.end(); ++f)
        if (!f->empty() && std::find(o.Fixtures.begin(), f, *f) != f)
            throw EUsageError("fixture " + *f + " is named twice");
    if (o.Method != "auto" && o.Method != "user" && o.Method != "boot")
        throw EUsageError("--method must be auto, user or boot, not '" + o.Method + "'");
    if (o.Loop && isatty(STDIN_FILENO) == 0)
        throw EUsageError("--loop needs a terminal on standard input (Enter starts the next units)");
    if (o.Worker && (o.Ports.size() != 1 || o.Loop || o.Json || !o.Report.empty() || !o.Records.empty()))
        throw EUsageError("a station worker programs one port");
    CheckUnitSerial(o);
}

void CheckOptions(const TCommandLine& cmd, TCliOptions& o)
{
    if (!cmd.Positional().empty())
        throw EUsageError("unknown argument '" + cmd.Positional()[0] + "'");
    TStationFile station;
    if (cmd.Has("station"))
        station = ReadStationFile(cmd.Value("station"));
    // The command line overrides the station file, option by option.
    const auto value = [&](const char* name) {
        const auto found = station.Values.find(name);
        return cmd.Has(name) || found == station.Values.end() ? cmd.Value(name) : found->second;
    };
    for (const auto& [name, given] : cmd.Given())
        if (name == "port")
            AddPort(given, o);
    if (o.Ports.empty())
        for (const std::string& given : station.Ports)
            AddPort(given, o);
    o.Job = value("job");
    if (const std::string method = value("method"); !method.empty())
        o.Method = method;
    o.LogFile = value("log");
    o.Report = value("report");
    o.Records = value("records");
    o.Operator = cmd.Has("operator") || station.Values.count("operator") ? value("operator") : LoginName();
    o.SkipMissing = cmd.Has("skip-missing") || station.SkipMissing;
    o.UnitSerial = cmd.Value("unit-serial");
    o.Scan = cmd.Has("scan");
    o.NoProgress = cmd.Has("no-progress");
    o.ListPorts = cmd.Has("list-ports");
    o.Json = cmd.Has("json");
    o.Loop = cmd.Has("loop");
    o.Worker = cmd.Has(WorkerOption);
    ReadMode(cmd, o);
    if (o.ListPorts)
        CheckListPorts(o);
    else
        CheckRun(o);
}

} // namespace

std::string FixtureLabel(const TCliOptions& options, size_t i)
{
    return i < options.Fixtures.size() && !options.Fixtures[i].empty() ? options.Fixtures[i] : options.Ports.at(i);
}

const char* RunModeOption(TRunMode mode)
{
    switch (mode) {
    case TRunMode::Identify: return "identify";
    case TRunMode::Verify: return "verify-only";
    case TRunMode::SkipIfCurrent: return "skip-if-current";
    case TRunMode::Program: break;
    }
    return "";
}

bool ParseCliArguments(int argc, char** argv, TCliOptions& o)
{
    TCommandLine cmd("moravent-flash-cli", Usage);
    cmd.MissingValueText = "option %1 needs a value";
    cmd.EmptyValueText = "option %1 has an empty value";
    cmd.UnknownOptionText = "unknown argument '%1'";
    for (const char* name : {"port", "station", "job", "method", "log", "report", "records", "operator", "unit-serial"})
        cmd.AddValue({name});
    // The station's own re-execution of this program; not for people, so not in the usage.
    for (const char* name : {"no-progress", "list-ports", "json", "loop", "scan", "skip-missing", WorkerOption})
        cmd.AddFlag({name});
    for (const TRunMode mode : ModeFlags)
        cmd.AddFlag({RunModeOption(mode)});
    if (!cmd.Parse(argc, argv))
        return false;
    CheckOptions(cmd, o);
    return true;
}
