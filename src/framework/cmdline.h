#pragma once
// The command-line programs' shared conventions: options described once and parsed,
// --help and --version answered, usage errors exiting with 2 and other failures with 1,
// and Ctrl-C/TERM counted rather than killing the process.
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "framework/exceptions.h"

// A wrong command line; RunMain exits with 2 for it.
MORAVENT_EXCEPTION(EUsageError, Exception);

inline constexpr int ExitOk = 0;
inline constexpr int ExitFailed = 1;
inline constexpr int ExitUsage = 2;

class TCommandLine {
public:
    // usage is printed as it is for --help.
    TCommandLine(std::string program, std::string usage);
    ~TCommandLine();

    // names: without dashes ("o", "output"); the first is the one reported by Given.
    void AddFlag(std::vector<std::string> names);
    // A value may be empty only when allowed; "--opt=" and "--opt ''" are usage errors otherwise.
    void AddValue(std::vector<std::string> names, bool mayBeEmpty = false);

    // Wording of the errors the parser finds by itself; %1 is the option as written.
    std::string MissingValueText = "%1 needs a value";
    std::string EmptyValueText = "%1 has an empty value";
    std::string UnknownOptionText = "unknown option \"%1\" (see --help)";

    // Raises EUsageError. False when --help or --version was asked for and answered on
    // standard output: the program then ends with ExitOk.
    bool Parse(int argc, char** argv);

    bool Has(const std::string& name) const;
    // The last value given for the option, or "" when it was not given.
    std::string Value(const std::string& name) const;
    // Every option in the order given, by its first name; a flag has an empty value.
    const std::vector<std::pair<std::string, std::string>>& Given() const { return GivenOptions; }
    const std::vector<std::string>& Positional() const { return PositionalArgs; }

private:
    struct TOptionDef {
        std::vector<std::string> Names;
        bool TakesValue;
        bool MayBeEmpty;
    };
    // What the build's option parser found, before the checks of our own.
    struct TScan {
        bool Ok = true;
        std::vector<std::pair<std::string, std::string>> Found; // each mention: name as written, value
        std::vector<std::string> Positional;
        std::string Unknown;   // the first unknown option's name
        std::string ErrorText; // the parser's own complaint
    };
    TScan Scan(const std::vector<std::string>& args) const;
    const TOptionDef* Find(const std::string& name) const;
    [[noreturn]] void RefuseParse(const std::vector<std::string>& args, const std::string& unknown,
                                  const std::string& errorText) const;
    std::string WrittenWithoutValue(const std::vector<std::string>& args, const TOptionDef& def) const;

    std::string Program, Usage;
    std::vector<TOptionDef> Defs;
    std::vector<std::pair<std::string, std::string>> GivenOptions;
    std::vector<std::string> PositionalArgs;
};

// Runs a program's body and returns its exit status. A failure that escapes the body is
// printed once as "program: message" and gives ExitUsage for EUsageError (followed by a
// line that points to --help), else ExitFailed.
int RunMain(const char* program, const std::function<int()>& body);

// From now on SIGINT and SIGTERM are counted instead of ending the process; a system call
// they interrupt fails with EINTR. With secondSignalText, a second signal writes that
// line to standard error and ends the process at once with ExitFailed.
void CatchStopSignals(const char* secondSignalText = nullptr);
int StopSignalsReceived();
// Counts a stop request as a caught signal would (one that came another way: a pipe from a
// supervisor where the system has no signals between processes).
void RaiseStopSignal();
