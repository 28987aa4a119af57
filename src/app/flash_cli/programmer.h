#pragma once
// One unit on one port from the stored job, with the terminal as the front end: the
// notice before the boot method, the reset prompt, Ctrl-C as cancel and transfer abort.
// An observer hears the same (a report record, a station worker's pipe).
#include <memory>
#include <string>

#include "app/flash_cli/options.h"
#include "app/flash_cli/progress.h"
#include "app/flash_cli/terminal.h"
#include "app/flash_cli/unit_events.h"
#include "flash/run.h"
#include "serial/comms.h"

// The log the job's log switch asks for: beside the job, named after it.
std::string RecordLogFile(const TCliOptions& options);

// Hands the run's status and progress to the terminal's state and to an observer.
class TSinkTee : public IStatusSink, public IProgressSink {
public:
    TSinkTee(TProgressState& state, TUnitObserver* observer) : State(state), Observer(observer) { }
    void SetStatusText(const std::string& text) override;
    void SetRange(int min, int max) override;
    void SetStep(int step) override { State.SetStep(step); }
    void SetPosition(int position) override;
    void StepBy(int delta) override;
    int Position() const override { return State.Position(); }

private:
    TProgressState& State;
    TUnitObserver* Observer;
};

class TProgrammer : private TRunFrontEnd {
public:
    // observer is borrowed and may be null; quiet: nothing on the terminal (a station
    // worker, whose supervisor draws for it).
    TProgrammer(const TCliOptions& options, const std::string& port, bool progressVisible,
                TUnitObserver* observer = nullptr, bool quiet = false);
    ~TProgrammer() override;

    // Takes the job (read and checked once by its reader), starts the log it asks for and
    // configures the run.
    void LoadJob(const TJob& job);
    // One run; the port is closed on every way out.
    void Program();

    TTerminalLine& Out() { return Terminal; }
    // The last line of a successful run: the success text whenever the unit was programmed.
    std::string OutcomeText() const;

private:
    void PhaseStarted(TRunPhase phase) override;
    void CheckCancelled() override;
    void BootMethodNotice(const std::string& reason, const std::vector<std::string>& details) override;
    void Notice(const std::string& text) override { Tell(text); }
    void Tell(const std::string& text);
    void TellIdentity();

    const TCliOptions& Opt;
    std::string Port;
    TUnitObserver* Observer;
    bool Quiet;
    bool PhaseLines; // no bar drawn: a line at each phase change instead
    bool IdentityTold = false;
    bool MethodTold = false;
    TProgressState State;
    TSinkTee Sinks;
    TTerminalLine Terminal;
    TTerminalPrompt Prompt;
    TProgrammingRun Run;
    std::unique_ptr<TBriskoComPort> OperatorPort;
    TConnectChoice Choice;
};
