// moravent-flash-cli: programs one unit from a stored job without a window.
//
//   moravent-flash-cli --port PORT [--job FILE] [--method auto|user|boot] [--log FILE] [--no-progress]
//   moravent-flash-cli --list-ports
//   moravent-flash-cli --help | --version
//
// Exit status: 0 programmed, 1 failed (message on standard error), 2 usage error.
#include <QCoreApplication>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "cmdline.h"
#include "comms.h"
#include "dev_params.h"
#include "exceptions.h"
#include "fdt.h"
#include "files.h"
#include "h83664.h"
#include "logging.h"
#include "portlist.h"
#include "run.h"
#include "storeexe.h"
#include "userprompt.h"

namespace {

bool Interrupted()
{
    return StopSignalsReceived() > 0;
}

void ThrowIfInterrupted()
{
    if (Interrupted())
        throw EHitachiFlashException("Programming Interrupted by User");
}

struct Options {
    std::string Port;
    std::string Job;
    std::string Method = "auto";
    std::string LogFile;
    bool NoProgress = false;
    bool ListPorts = false;
};

const char Usage[] =
    "usage: moravent-flash-cli --port PORT [--job FILE] [--method auto|user|boot] [--log FILE] [--no-progress]\n"
    "       moravent-flash-cli --list-ports\n"
    "       moravent-flash-cli --help | --version\n"
    "\n"
    "Programs the unit on PORT with the job stored in FILE (an executable stamped by\n"
    "'moravent-job build'), or with the job stamped into this program itself.\n"
    "  --method auto   user connect first, then the boot connect (default)\n"
    "  --method user   user connect only\n"
    "  --method boot   boot connect only (reset the unit when asked)\n"
    "  --log FILE      write the communications log to FILE\n"
    "  --no-progress   no progress bar on standard error\n"
    "  --list-ports    print the system's serial ports, one per line\n"
    "  --help          this text\n"
    "  --version       the program's name and version\n"
    "Exit status: 0 programmed, 1 failed, 2 usage error.\n";

void CheckOptions(const TCommandLine& cmd, Options& o)
{
    if (!cmd.Positional().empty())
        throw EUsageError("unknown argument '" + cmd.Positional()[0] + "'");
    o.Port = cmd.Value("port");
    o.Job = cmd.Value("job");
    if (cmd.Has("method"))
        o.Method = cmd.Value("method");
    o.LogFile = cmd.Value("log");
    o.NoProgress = cmd.Has("no-progress");
    o.ListPorts = cmd.Has("list-ports");
    if (o.ListPorts) {
        if (!o.Port.empty() || !o.Job.empty() || !o.LogFile.empty())
            throw EUsageError("--list-ports takes no other options");
        return;
    }
    if (o.Port.empty())
        throw EUsageError("--port is required");
    if (o.Method != "auto" && o.Method != "user" && o.Method != "boot")
        throw EUsageError("--method must be auto, user or boot, not '" + o.Method + "'");
}

// False when --help or --version has been answered. A usage error carries the usage.
bool ParseArguments(int argc, char** argv, Options& o)
{
    TCommandLine cmd("moravent-flash-cli", Usage);
    cmd.MissingValueText = "option %1 needs a value";
    cmd.UnknownOptionText = "unknown argument '%1'";
    for (const char* name : {"port", "job", "method", "log"})
        cmd.AddValue({name});
    cmd.AddFlag({"no-progress"});
    cmd.AddFlag({"list-ports"});
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

// ---- terminal status, progress and prompt ------------------------------------------------

class TerminalProgress : public IStatusSink, public IProgressSink {
public:
    explicit TerminalProgress(bool visible) : Visible(visible) { }
    ~TerminalProgress() override { EndLine(); }

    // Called on every step; the CLI uses it to turn Ctrl-C into a transfer abort.
    std::function<void()> OnStep;

    void SetStatusText(const std::string& text) override
    {
        if (text != Phase)
            EndLine();
        Phase = text; // drawn once the new range is set
    }
    void SetRange(int min, int max) override
    {
        Min = min;
        Max = max;
        Pos = min;
        PhaseStart = Clock::now();
    }
    void SetStep(int step) override { Step = step; }
    void SetPosition(int position) override
    {
        Pos = Clamp(position);
        Draw(true);
    }
    void StepBy(int delta) override
    {
        Pos = Clamp(Pos + delta);
        if (OnStep)
            OnStep();
        Draw(Pos == Max);
    }
    int Position() const override { return Pos; }

    // The run's phase decides how progress reads: bytes while programming and verifying.
    void SetPhase(TRunPhase phase) { RunPhase = phase; }

    void EndLine()
    {
        if (Visible && LineOpen) {
            std::fputs("\n", stderr);
            std::fflush(stderr);
        }
        LineOpen = false;
    }

    // Writes a line of its own without tearing the progress line.
    void Say(const std::string& text)
    {
        EndLine();
        std::fprintf(stderr, "%s\n", text.c_str());
        std::fflush(stderr);
    }

private:
    using Clock = std::chrono::steady_clock;

    int Clamp(int v) const { return v < Min ? Min : (v > Max ? Max : v); }

    void Draw(bool force)
    {
        if (!Visible)
            return;
        const auto now = Clock::now();
        if (!force && now - LastDraw < std::chrono::milliseconds(100))
            return;
        LastDraw = now;
        const int span = Max - Min;
        const double fraction = span > 0 ? double(Pos - Min) / span : 0.0;
        constexpr int Width = 24;
        const int filled = static_cast<int>(fraction * Width + 0.5);
        std::string bar(static_cast<size_t>(filled), '#');
        bar.append(static_cast<size_t>(Width - filled), '.');
        std::ostringstream line;
        line << Phase << " [" << bar << "] ";
        const bool bytes = span > 1 && (RunPhase == TRunPhase::Program || RunPhase == TRunPhase::Verify);
        const int percent = static_cast<int>(fraction * 100.0);
        if (bytes) {
            const double seconds = std::chrono::duration<double>(now - PhaseStart).count();
            const double rate = seconds > 0.2 ? (Pos - Min) / seconds : 0.0;
            line << (Pos - Min) << "/" << span << " bytes " << percent << "% ";
            char tail[64];
            if (rate > 0) {
                const int left = static_cast<int>((Max - Pos) / rate + 0.5);
                std::snprintf(tail, sizeof tail, "%.1f KiB/s %d:%02d left", rate / 1024.0, left / 60, left % 60);
            } else {
                std::snprintf(tail, sizeof tail, "-- KiB/s");
            }
            line << tail;
        } else {
            line << percent << "%";
        }
        std::fprintf(stderr, "\r\033[K%s", line.str().c_str());
        std::fflush(stderr);
        LineOpen = true;
    }

    bool Visible;
    bool LineOpen = false;
    std::string Phase;
    TRunPhase RunPhase = TRunPhase::Connect;
    int Min = 0, Max = 100, Step = 1, Pos = 0;
    Clock::time_point PhaseStart = Clock::now();
    Clock::time_point LastDraw{};
};

// "Reset the Unit" on the terminal; Ctrl-C is the Cancel button.
class TerminalPrompt : public TUserPrompt {
public:
    explicit TerminalPrompt(TerminalProgress& out) : Out(out) { }
    void ShowPrompt(const std::string& text) override { Out.Say(text); }
    bool Cancelled() override { return Interrupted(); }
    void HidePrompt() override { }

private:
    TerminalProgress& Out;
};

// ---- the run ---------------------------------------------------------------------------

TConnectMode ModeOf(const std::string& method)
{
    return method == "user" ? TConnectMode::User : method == "boot" ? TConnectMode::Boot : TConnectMode::Auto;
}

class Programmer : private TRunFrontEnd {
public:
    Programmer(const Options& options, bool progressVisible)
        : Opt(options), Terminal(progressVisible), Prompt(Terminal), Run(&Terminal, &Terminal, &Prompt)
    {
        OperatorPort = std::make_unique<TBriskoComPort>(nullptr);
        Run.Flash().Device->OnKeepAliveError = [this](const Exception& e) { Terminal.Say(WithFullStop(e.message())); };
        Terminal.OnStep = [this] {
            if (Interrupted())
                Run.Flash().Device->AbortRequested = true;
        };
    }

    ~Programmer()
    {
        try {
            Run.Flash().Disconnect();
        } catch (const std::exception& e) {
            std::fprintf(stderr, "%s\n", WithFullStop(e.what()).c_str());
        }
        CommsLoggingDestroy();
    }

    // Start-up checks; a failure is reported as "No Valid FLASH Image Present! (...)".
    void LoadJob()
    {
        const auto startLog = [this](bool recordAsks) {
            if (!Opt.LogFile.empty())
                CommsLoggingInit(Opt.LogFile);
            else if (recordAsks)
                CommsLoggingInit(CommsLogFileFor(Opt.Job.empty() ? OwnExecutablePath() : Opt.Job));
        };
        try {
            if (Opt.Job.empty())
                Run.LoadJob(StoredDataBlock, startLog);
            else
                Run.LoadJobFile(Opt.Job, startLog);
        } catch (const std::exception& e) {
            throw Exception(NoValidImageMessage(e.what()));
        }
    }

    void Program()
    {
        OperatorPort->SetPort(Opt.Port);
        Choice.Port = OperatorPort.get();
        Run.Program(Choice, ModeOf(Opt.Method), *this);
        Terminal.EndLine();
    }

    TerminalProgress& Out() { return Terminal; }

private:
    void PhaseStarted(TRunPhase phase) override { Terminal.SetPhase(phase); }
    void CheckCancelled() override { ThrowIfInterrupted(); }

    void BootMethodNotice(const std::string& reason) override
    {
        const bool ask = isatty(STDIN_FILENO) != 0;
        Terminal.Say("User Connect Method Failed (" + reason + ").");
        Terminal.Say(ask ? "Now Trying Boot Method: Turn unit off, and press Enter."
                         : "Now Trying Boot Method: Turn unit off.");
        if (!ask)
            return;
        for (;;) {
            char c = 0;
            const ssize_t n = read(STDIN_FILENO, &c, 1);
            if (n < 0 && errno == EINTR) {
                if (Interrupted())
                    throw EHitachiFlashException("Connect Cancelled by User");
                continue;
            }
            if (n <= 0 || c == '\n')
                break;
        }
    }

    const Options& Opt;
    TerminalProgress Terminal;
    TerminalPrompt Prompt;
    TProgrammingRun Run;
    std::unique_ptr<TBriskoComPort> OperatorPort;
    TConnectChoice Choice;
};

int ListPorts()
{
    std::vector<std::string> ports;
    try {
        ListSerialPorts(ports);
    } catch (const Exception& e) {
        std::fprintf(stderr, "%s\n", WithFullStop(e.message()).c_str());
        return ExitFailed;
    }
    for (const std::string& port : ports)
        std::printf("%s\n", port.c_str());
    return ExitOk;
}

// Run failures are printed without the program's name: their last line is the error
// display's text, which scripts read.
int ProgramUnit(int argc, char** argv, const Options& options)
{
    QCoreApplication app(argc, argv);
    CatchStopSignals("\nInterrupted again: stopping at once\n");
    SetCommsLogErrorHook([](const std::string& text) { std::fprintf(stderr, "%s\n", text.c_str()); });

    const bool progressVisible = !options.NoProgress && isatty(STDERR_FILENO) != 0;
    try {
        Programmer programmer(options, progressVisible);
        try {
            programmer.LoadJob();
            programmer.Program();
        } catch (...) {
            programmer.Out().EndLine();
            throw;
        }
    } catch (const Exception& e) {
        std::fprintf(stderr, "%s\n", WithFullStop(e.message()).c_str());
        return ExitFailed;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", WithFullStop(e.what()).c_str());
        return ExitFailed;
    }
    std::printf("Unit Successfully Programmed!\n");
    return ExitOk;
}

} // namespace

int main(int argc, char** argv)
{
    return RunMain("moravent-flash-cli", [&] {
        Options options;
        if (!ParseArguments(argc, argv, options))
            return ExitOk;
        return options.ListPorts ? ListPorts() : ProgramUnit(argc, argv, options);
    });
}
