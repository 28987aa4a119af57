#include "framework/cmdline.h"

#include <cstdio>

#include "framework/product.h"

namespace {

std::string StripDashes(const std::string& arg)
{
    const size_t start = arg.find_first_not_of('-');
    const size_t eq = arg.find('=');
    return start == std::string::npos ? std::string() : arg.substr(start, eq == std::string::npos ? eq : eq - start);
}

[[noreturn]] void Refuse(const std::string& pattern, const std::string& option)
{
    std::string text = pattern;
    if (const size_t at = text.find("%1"); at != std::string::npos)
        text.replace(at, 2, option);
    throw EUsageError(text);
}

} // namespace

TCommandLine::TCommandLine(std::string program, std::string usage)
    : Program(std::move(program)), Usage(std::move(usage))
{
    AddFlag({"help", "h"});
    AddFlag({"version"});
}

TCommandLine::~TCommandLine() = default;

void TCommandLine::AddFlag(std::vector<std::string> names)
{
    Defs.push_back({std::move(names), false, false});
}

void TCommandLine::AddValue(std::vector<std::string> names, bool mayBeEmpty)
{
    Defs.push_back({std::move(names), true, mayBeEmpty});
}

const TCommandLine::TOptionDef* TCommandLine::Find(const std::string& name) const
{
    for (const TOptionDef& def : Defs)
        for (const std::string& n : def.Names)
            if (n == name)
                return &def;
    return nullptr;
}

bool TCommandLine::Parse(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    const TScan scan = Scan(args);
    if (!scan.Ok)
        RefuseParse(args, scan.Unknown, scan.ErrorText);
    const auto asked = [&](const char* option) {
        for (const auto& [name, value] : scan.Found)
            if (Find(name) == Find(option))
                return true;
        return false;
    };
    if (asked("help")) {
        std::fputs(Usage.c_str(), stdout);
        return false;
    }
    if (asked("version")) {
        std::printf("%s %s\n", Program.c_str(), ProductVersion);
        return false;
    }
    for (const auto& [name, value] : scan.Found) {
        const TOptionDef* def = Find(name);
        if (def->TakesValue && value.empty() && !def->MayBeEmpty)
            Refuse(EmptyValueText, WrittenWithoutValue(args, *def));
        GivenOptions.emplace_back(def->Names[0], value);
    }
    PositionalArgs = scan.Positional;
    return true;
}

void TCommandLine::RefuseParse(const std::vector<std::string>& args, const std::string& unknown,
                               const std::string& errorText) const
{
    if (!unknown.empty()) {
        for (const std::string& a : args)
            if (a.size() > 1 && a[0] == '-' && StripDashes(a) == unknown)
                Refuse(UnknownOptionText, a.substr(0, a.find('=')));
        Refuse(UnknownOptionText, "--" + unknown);
    }
    // The parser's only other complaints: a value missing at the end, or one given to a flag.
    const TOptionDef* last = args.empty() ? nullptr : Find(StripDashes(args.back()));
    if (last && last->TakesValue)
        Refuse(MissingValueText, args.back());
    throw EUsageError(errorText);
}

// How the option whose value is empty was written ("--output=", or "-o" before "").
std::string TCommandLine::WrittenWithoutValue(const std::vector<std::string>& args, const TOptionDef& def) const
{
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a.size() < 2 || a[0] != '-' || Find(StripDashes(a)) != &def)
            continue;
        if (a.back() == '=')
            return a.substr(0, a.size() - 1);
        if (i + 1 < args.size() && args[i + 1].empty())
            return a;
    }
    return "--" + def.Names[0];
}

bool TCommandLine::Has(const std::string& name) const
{
    const TOptionDef* def = Find(name);
    for (const auto& [given, value] : GivenOptions)
        if (def && given == def->Names[0])
            return true;
    return false;
}

std::string TCommandLine::Value(const std::string& name) const
{
    const TOptionDef* def = Find(name);
    std::string last;
    for (const auto& [given, value] : GivenOptions)
        if (def && given == def->Names[0])
            last = value;
    return last;
}

int RunMain(const char* program, const std::function<int()>& body)
{
    try {
        return body();
    } catch (const EUsageError& e) {
        std::fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n", program, e.what(), program);
        return ExitUsage;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s\n", program, e.what());
    } catch (...) {
        std::fprintf(stderr, "%s: unexpected failure\n", program);
    }
    return ExitFailed;
}
