#pragma once
// One programming run, from a stored job to a programmed unit, shared by every front end
// (the window tool, the headless programmer, its station workers). The front end brings
// the status and progress sinks, the reset prompt, the boot-method notice and its cancel.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "flash/fdt.h"
#include "flash/h83664.h"
#include "flash/job.h"

// Where a run is. Progress output and reports name the phases by these, never by status texts.
enum class TRunPhase { Connect, Erase, Program, Verify, Finish, Done };
// "connect", "erase", "program", "verify", "finish", "done".
const char* RunPhaseName(TRunPhase phase);

// How the unit is reached: the user connect with the boot connect as its fallback, or one alone.
enum class TConnectMode { Auto, User, Boot };

// What a run does with the unit. Identify only connects and identifies, leaving the unit in
// its boot loader; Verify checks the image without touching the flash; SkipIfCurrent verifies
// first and programs only when the unit's flash differs.
enum class TRunMode { Program, Identify, Verify, SkipIfCurrent };
// "program", "identify", "verify", "skip-if-current".
const char* RunModeName(TRunMode mode);

// What a front end supplies to a run beyond the controller's sinks and prompt.
class TRunFrontEnd {
public:
    virtual ~TRunFrontEnd() = default;
    // Once the image has passed its check and before the port opens (the window's port
    // selection and connect wizard). Raising here ends the run with nothing touched.
    virtual void BeforeConnect() { }
    virtual void PhaseStarted(TRunPhase /*phase*/) { }
    // The user connect failed for reason (details: the lines that explain it, such as why
    // the port could not be opened): the operator must turn the unit off before the boot
    // connect. Returns once the operator may go on; raising ends the run.
    virtual void BootMethodNotice(const std::string& reason, const std::vector<std::string>& details) = 0;
    // Asked between the steps of a run; raising ends it there (the port is closed).
    virtual void CheckCancelled() { }
    // Something the operator should know that is no failure (a slow adapter).
    virtual void Notice(const std::string& /*text*/) { }
};

// "The unit reports name "...", seed ..., start ..., length ..." (no full stop).
std::string UnitIdentityText(const TUnitIdentity& unit);
// "The unit reports ...; the job expects ..." for a unit whose identity is not the job's.
std::string IdentityMismatchText(const TUnitIdentity& unit, const THitachiFlash& flash);

class TProgrammingRun {
public:
    // The sinks and the prompt are borrowed and may be null; the controller is owned.
    TProgrammingRun(IStatusSink* status, IProgressSink* progress, TUserPrompt* prompt);
    ~TProgrammingRun();
    TProgrammingRun(const TProgrammingRun&) = delete;
    TProgrammingRun& operator=(const TProgrammingRun&) = delete;

    THitachiFlash& Flash() const { return *FFlash; }
    // The record of the loaded job; null until LoadJob.
    const TExeProgrammingInfo* Info() const { return FJob ? &FJob->Info() : nullptr; }
    const TJob* Job() const { return FJob.get(); }

    // Takes a job that has passed its checks (TJob's factories check it), calls startLog
    // (true when the record's log switch is on, so the front end names the file), then
    // configures the controller from the record.
    void LoadJob(const TJob& job, const std::function<void(bool recordAsks)>& startLog);

    // Refuses an image that is not a whole number of programming blocks or does not fit the
    // flash region.
    void CheckImage() const;

    // One run: the image check, the front end's BeforeConnect, the connect (choice.Port
    // carries the operator's port; ConnectMethod and UseDTR are set afresh), erase,
    // program, verify and finish. The port is closed on every way out.
    void Program(TConnectChoice& choice, TConnectMode mode, TRunFrontEnd& frontEnd);
    // The same run in another mode; Program is Run in TRunMode::Program. A unit that is not
    // the job's fails every mode with the controller's mismatch exception.
    void Run(TConnectChoice& choice, TConnectMode mode, TRunMode runMode, TRunFrontEnd& frontEnd);

    // Whether the last run erased and programmed the unit (false for identify, verify and a
    // skip-if-current run that found the image already in place).
    bool Programmed() const { return FProgrammed; }

    // The method that connected in the last run (0 user, 1 boot), -1 before any connect.
    int ConnectedMethod() const { return FConnectedMethod; }
    // The phase the last run reached (Done after a success).
    TRunPhase Phase() const { return FPhase; }

private:
    void Enter(TRunPhase phase, TRunFrontEnd& frontEnd);
    void ConnectUnit(TConnectChoice& choice, TConnectMode mode, TRunFrontEnd& frontEnd);
    void ConnectBy(TConnectChoice& choice, uint8_t method, TRunFrontEnd& frontEnd);
    void CheckAdapterLatency(TRunFrontEnd& frontEnd);
    void Steps(TRunMode runMode, TStream& stream, TRunFrontEnd& frontEnd);
    void ProgramSteps(TStream& stream, TRunFrontEnd& frontEnd);
    bool AlreadyCurrent(TStream& stream, TRunFrontEnd& frontEnd);

    std::unique_ptr<THitachiFlash> FFlash;
    std::unique_ptr<TJob> FJob;
    int FConnectedMethod = -1;
    bool FLatencyNoted = false;
    bool FProgrammed = false;
    TRunPhase FPhase = TRunPhase::Connect;
};
