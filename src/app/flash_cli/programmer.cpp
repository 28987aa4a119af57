#include "programmer.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "cmdline.h"
#include "files.h"
#include "logging.h"
#include "storeexe.h"

namespace {

bool Interrupted()
{
    return StopSignalsReceived() > 0;
}

TConnectMode ModeOf(const std::string& method)
{
    return method == "user" ? TConnectMode::User : method == "boot" ? TConnectMode::Boot : TConnectMode::Auto;
}

} // namespace

TProgrammer::TProgrammer(const TCliOptions& options, const std::string& port, bool progressVisible)
    : Opt(options), Port(port), Terminal(State, progressVisible), Prompt(Terminal), Run(&State, &State, &Prompt)
{
    OperatorPort = std::make_unique<TBriskoComPort>(nullptr);
    Run.Flash().Device->OnKeepAliveError = [this](const Exception& e) { Terminal.Say(WithFullStop(e.message())); };
    State.OnStep = [this] {
        if (Interrupted())
            Run.Flash().Device->AbortRequested = true;
    };
}

TProgrammer::~TProgrammer()
{
    try {
        Run.Flash().Disconnect();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", WithFullStop(e.what()).c_str());
    }
    CommsLoggingDestroy();
}

void TProgrammer::LoadJob()
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

void TProgrammer::Program()
{
    OperatorPort->SetPort(Port);
    Choice.Port = OperatorPort.get();
    Run.Program(Choice, ModeOf(Opt.Method), *this);
    Terminal.EndLine();
}

void TProgrammer::CheckCancelled()
{
    if (Interrupted())
        throw EHitachiFlashException("Programming Interrupted by User");
}

void TProgrammer::BootMethodNotice(const std::string& reason)
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
