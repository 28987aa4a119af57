#include "app/flash_cli/programmer.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "framework/cmdline.h"
#include "framework/file_input.h"
#include "serial/logging.h"

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

std::string RecordLogFile(const TCliOptions& options)
{
    return CommsLogFileFor(options.Job.empty() ? OwnExecutablePath() : options.Job);
}

void TSinkTee::SetStatusText(const std::string& text)
{
    State.SetStatusText(text);
    if (Observer)
        Observer->Status(text);
}

void TSinkTee::SetRange(int min, int max)
{
    State.SetRange(min, max);
    if (Observer)
        Observer->Range(max - min);
}

void TSinkTee::SetPosition(int position)
{
    State.SetPosition(position);
    if (Observer)
        Observer->Position(State.Done());
}

void TSinkTee::StepBy(int delta)
{
    State.StepBy(delta);
    if (Observer)
        Observer->Position(State.Done());
}

TProgrammer::TProgrammer(const TCliOptions& options, const std::string& port, bool progressVisible,
                         TUnitObserver* observer, bool quiet)
    : Opt(options), Port(port), Observer(observer), Quiet(quiet), PhaseLines(!progressVisible && !quiet),
      Sinks(State, observer), Terminal(State, progressVisible && !quiet), Prompt([this](const std::string& text) {
          if (!text.empty() && !Quiet)
              Terminal.Say(text);
          if (Observer)
              Observer->Prompt(text);
      }),
      Run(&Sinks, &Sinks, &Prompt)
{
    OperatorPort = std::make_unique<TBriskoComPort>(nullptr);
    Run.Flash().Device->OnKeepAliveError = [this](const Exception& e) { Tell(WithFullStop(e.message())); };
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

void TProgrammer::LoadJob(const TJob& job)
{
    Run.LoadJob(job, [this](bool recordAsks) {
        if (!Opt.LogFile.empty())
            CommsLoggingInit(Opt.LogFile);
        else if (recordAsks)
            CommsLoggingInit(RecordLogFile(Opt));
    });
}

void TProgrammer::Program()
{
    OperatorPort->SetPort(Port);
    Choice.Port = OperatorPort.get();
    try {
        Run.Run(Choice, ModeOf(Opt.Method), Opt.Mode, *this);
    } catch (...) {
        TellIdentity();
        throw;
    }
    Terminal.EndLine();
}

std::string TProgrammer::OutcomeText() const
{
    return SuccessLine(Opt.Mode, Run.Programmed(), Run.Flash().LastIdentity);
}

std::string SuccessLine(TRunMode mode, bool programmed, const TUnitIdentity& unit)
{
    if (programmed)
        return SuccessText;
    switch (mode) {
    case TRunMode::Identify:
        return UnitIdentityText(unit) + ": it matches the job.";
    case TRunMode::Verify:
    case TRunMode::SkipIfCurrent:
        return "The unit already carries the job's image.";
    case TRunMode::Program:
        break;
    }
    return SuccessText;
}

void TProgrammer::PhaseStarted(TRunPhase phase)
{
    State.SetPhase(phase);
    // A log of a run without a terminal shows where it stopped.
    if (PhaseLines && phase != TRunPhase::Done)
        Terminal.Say(Port + ": " + RunPhaseName(phase));
    if (!Observer)
        return;
    // Told once the unit has connected, whichever step follows in this mode.
    if (phase != TRunPhase::Connect && !MethodTold) {
        MethodTold = true;
        Observer->Method(Run.ConnectedMethod());
        TellIdentity();
    }
    Observer->Phase(phase);
}

void TProgrammer::TellIdentity()
{
    const TUnitIdentity& unit = Run.Flash().LastIdentity;
    if (Observer && unit.Known && !IdentityTold)
        Observer->Identity(unit);
    IdentityTold = IdentityTold || unit.Known;
}

void TProgrammer::Tell(const std::string& text)
{
    if (!Quiet)
        Terminal.Say(text);
    if (Observer)
        Observer->Notice(text);
}

void TProgrammer::CheckCancelled()
{
    if (Interrupted())
        throw EHitachiFlashException("Programming Interrupted by User");
}

// The lines that explain the reason are said once, before the error of a boot method that
// fails the same way.
void TProgrammer::BootMethodNotice(const std::string& reason, const std::vector<std::string>& /*details*/)
{
    const bool ask = isatty(STDIN_FILENO) != 0;
    Tell("User Connect Method Failed (" + reason + ").");
    Tell(ask ? "Now Trying Boot Method: Turn unit off, and press Enter." : "Now Trying Boot Method: Turn unit off.");
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
