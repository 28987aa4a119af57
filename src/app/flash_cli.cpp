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
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include "cmdline.h"
#include "comms.h"
#include "dev_params.h"
#include "exceptions.h"
#include "exist_ms.h"
#include "fdt.h"
#include "h83664.h"
#include "logging.h"
#include "portlist.h"
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
        const bool bytes = span > 1 && (Phase == "Programming FLASH..." || Phase == "Verifying FLASH...");
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

// ---- the job ---------------------------------------------------------------------------

std::string ReadWholeFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw Exception("Cannot open job file " + path + " (" + std::strerror(errno) + ")");
    std::ostringstream data;
    data << in.rdbuf();
    if (in.bad())
        throw Exception("Cannot read job file " + path);
    return data.str();
}

// Returns the stored block of FILE, or of this program when no file is named. The
// returned pointer stays valid for the life of the process (the file bytes are kept).
const uint8_t* LocateBlock(const std::string& jobFile, std::string& keep)
{
    if (jobFile.empty())
        return StoredDataBlock;
    keep = ReadWholeFile(jobFile);
    const std::vector<size_t> found = FindStoredBlock(keep);
    if (found.empty())
        throw Exception("No stored data block in " + jobFile);
    if (found.size() > 1)
        throw Exception("More than one stored data block in " + jobFile);
    if (found[0] + static_cast<size_t>(layout::BlockSize) > keep.size())
        throw Exception("Stored data block in " + jobFile + " is cut short");
    return reinterpret_cast<const uint8_t*>(keep.data() + found[0]);
}

// The log file beside FILE (or this program), its extension replaced by "_log.txt".
std::string LogFileBeside(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    const size_t dot = path.find_last_of('.');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash))
        return path.substr(0, dot) + "_log.txt";
    return path + "_log.txt";
}

std::string OwnExecutable()
{
    std::error_code ec;
    auto p = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string("moravent-flash-cli") : p.string();
}

// ---- the run ---------------------------------------------------------------------------

class Programmer {
public:
    Programmer(const Options& options, bool progressVisible) : Opt(options), Terminal(progressVisible), Prompt(Terminal)
    {
        Flash = std::make_unique<THitachiFlash>(nullptr, &Terminal, &Terminal, &Prompt);
        OperatorPort = std::make_unique<TBriskoComPort>(nullptr);
        Flash->Device->OnKeepAliveError = [this](const Exception& e) { Terminal.Say(WithFullStop(e.message())); };
        Terminal.OnStep = [this] {
            if (Interrupted())
                Flash->Device->AbortRequested = true;
        };
    }

    ~Programmer()
    {
        try {
            Flash->Disconnect();
        } catch (const std::exception& e) {
            std::fprintf(stderr, "%s\n", WithFullStop(e.what()).c_str());
        }
        CommsLoggingDestroy();
    }

    // Start-up checks; a failure is reported as "No Valid FLASH Image Present! (...)".
    void LoadJob()
    {
        try {
            const uint8_t* block = LocateBlock(Opt.Job, JobBytes);
            const uint8_t* payload = CheckStoredData(block);
            Info = std::make_unique<TExeProgrammingInfo>(payload);
            Info->CheckVersion();
            if (!Opt.LogFile.empty())
                CommsLoggingInit(Opt.LogFile);
            else if (Info->GetLogEnabled())
                CommsLoggingInit(LogFileBeside(Opt.Job.empty() ? OwnExecutable() : Opt.Job));
            Info->ConfigureFlash(*Flash);
        } catch (const Exception& e) {
            throw Exception("No Valid FLASH Image Present! (" + e.message() + ").");
        }
    }

    void Run()
    {
        // The image is checked before the port opens: a job that can never be programmed
        // leaves the unit untouched.
        const std::span<const uint8_t> image = Info->GetImage();
        TExistingMemoryStream stream(image.data(), static_cast<int64_t>(image.size()));
        CheckImageForRun(*Flash, stream);

        ConnectUnit();
        ThrowIfInterrupted();
        Flash->Erase();
        ThrowIfInterrupted();
        Flash->ProgramImage(stream);
        ThrowIfInterrupted();
        Flash->VerifyImage(stream);
        ThrowIfInterrupted();
        Flash->Finish();
        Flash->Disconnect();
        Terminal.EndLine();
    }

    TerminalProgress& Out() { return Terminal; }

private:
    void SelectAndConnect(uint8_t method)
    {
        Choice.ConnectMethod = method;
        Flash->SelectConnection(Choice);
        Flash->Connect();
    }

    void ConnectUnit()
    {
        OperatorPort->SetPort(Opt.Port);
        Choice.Port = OperatorPort.get();
        Choice.UseDTR = 1;
        if (Opt.Method == "user") {
            SelectAndConnect(0);
            return;
        }
        if (Opt.Method == "boot") {
            SelectAndConnect(1);
            return;
        }
        try {
            SelectAndConnect(0);
            return;
        } catch (const Exception& e) {
            Flash->Disconnect();
            ThrowIfInterrupted();
            BootMethodNotice(e.message());
        }
        try {
            SelectAndConnect(1);
        } catch (...) {
            Flash->Disconnect();
            throw;
        }
    }

    void BootMethodNotice(const std::string& reason)
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
    std::unique_ptr<THitachiFlash> Flash;
    std::unique_ptr<TBriskoComPort> OperatorPort;
    std::unique_ptr<TExeProgrammingInfo> Info;
    std::string JobBytes;
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
            programmer.Run();
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
