// The option parser of the builds without Qt. It reads a command line exactly as the Qt
// builds' parser does with single-dash words taken as long options: "--name", "-name",
// "--name=value" or the value as the next argument (whatever it looks like), "--" ending
// the options, a lone "-" positional, and its complaints worded alike.
#include "framework/cmdline.h"

namespace {

std::string JoinedUnknown(const std::vector<std::string>& unknown)
{
    if (unknown.size() == 1)
        return "Unknown option '" + unknown[0] + "'.";
    std::string names = unknown[0];
    for (size_t i = 1; i < unknown.size(); ++i)
        names += ", " + unknown[i];
    return "Unknown options: " + names + ".";
}

} // namespace

TCommandLine::TScan TCommandLine::Scan(const std::vector<std::string>& args) const
{
    TScan scan;
    std::vector<std::string> unknown;
    bool onlyPositional = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (onlyPositional || arg.size() < 2 || arg[0] != '-') {
            scan.Positional.push_back(arg);
            continue;
        }
        if (arg == "--") {
            onlyPositional = true;
            continue;
        }
        const size_t start = arg[1] == '-' ? 2 : 1;
        const size_t eq = arg.find('=', start);
        const std::string name = arg.substr(start, eq == std::string::npos ? eq : eq - start);
        const TOptionDef* def = Find(name);
        if (!def) {
            unknown.push_back(name);
            continue;
        }
        std::string value;
        if (def->TakesValue && eq != std::string::npos) {
            value = arg.substr(eq + 1);
        } else if (def->TakesValue) {
            if (i + 1 == args.size()) {
                scan.ErrorText = "Missing value after '" + arg + "'.";
                continue;
            }
            value = args[++i];
        } else if (eq != std::string::npos) {
            scan.ErrorText = "Unexpected value after '" + arg.substr(0, eq) + "'.";
        }
        scan.Found.emplace_back(name, value);
    }
    if (unknown.empty() && scan.ErrorText.empty())
        return scan;
    scan.Ok = false;
    scan.Unknown = unknown.empty() ? std::string() : unknown.front();
    if (scan.ErrorText.empty())
        scan.ErrorText = JoinedUnknown(unknown);
    return scan;
}
