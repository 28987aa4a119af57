#pragma once
// One unit on one port from the stored job, with the terminal as the front end: the
// notice before the boot method, the reset prompt, Ctrl-C as cancel and transfer abort.
#include <memory>
#include <string>

#include "comms.h"
#include "options.h"
#include "progress.h"
#include "run.h"
#include "terminal.h"

class TProgrammer : private TRunFrontEnd {
public:
    TProgrammer(const TCliOptions& options, const std::string& port, bool progressVisible);
    ~TProgrammer() override;

    // The start-up checks; a failure reads "No Valid FLASH Image Present! (...)".
    void LoadJob();
    // One run; the port is closed on every way out.
    void Program();

    TTerminalLine& Out() { return Terminal; }

private:
    void PhaseStarted(TRunPhase phase) override { State.SetPhase(phase); }
    void CheckCancelled() override;
    void BootMethodNotice(const std::string& reason) override;
    void Notice(const std::string& text) override { Terminal.Say(text); }

    const TCliOptions& Opt;
    std::string Port;
    TProgressState State;
    TTerminalLine Terminal;
    TTerminalPrompt Prompt;
    TProgrammingRun Run;
    std::unique_ptr<TBriskoComPort> OperatorPort;
    TConnectChoice Choice;
};
