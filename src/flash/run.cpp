#include "flash/run.h"

#include <cstdio>
#include <span>

#include "flash/apply_record.h"
#include "serial/logging.h"
#include "serial/port_diagnosis.h"
#include "serial/serial_platform.h"
#include "storage/exist_ms.h"

namespace {

constexpr uint8_t MethodUser = 0;
constexpr uint8_t MethodBoot = 1;

} // namespace

const char* RunPhaseName(TRunPhase phase)
{
    switch (phase) {
    case TRunPhase::Connect: return "connect";
    case TRunPhase::Erase: return "erase";
    case TRunPhase::Program: return "program";
    case TRunPhase::Verify: return "verify";
    case TRunPhase::Finish: return "finish";
    case TRunPhase::Done: return "done";
    }
    return "unknown";
}

const char* RunModeName(TRunMode mode)
{
    switch (mode) {
    case TRunMode::Program: return "program";
    case TRunMode::Identify: return "identify";
    case TRunMode::Verify: return "verify";
    case TRunMode::SkipIfCurrent: return "skip-if-current";
    }
    return "unknown";
}

std::string UnitIdentityText(const TUnitIdentity& unit)
{
    char text[160];
    std::snprintf(text, sizeof text, "The unit reports name \"%s\", seed 0x%04X, start 0x%08X, length %d",
                  unit.Name.substr(0, unit.Name.find('\0')).c_str(), unit.Seed, uint32_t(unit.Start), unit.Length);
    return text;
}

std::string IdentityMismatchText(const TUnitIdentity& unit, const THitachiFlash& flash)
{
    char text[256];
    std::snprintf(text, sizeof text,
                  "The unit reports name \"%s\", seed 0x%04X, start 0x%08X, length %d; the job expects "
                  "seed 0x%04X, start 0x%08X, length %d.",
                  unit.Name.substr(0, unit.Name.find('\0')).c_str(), unit.Seed, uint32_t(unit.Start), unit.Length,
                  flash.FlashCheckSeed, uint32_t(flash.FlashStart), flash.FlashLength);
    return text;
}

TProgrammingRun::TProgrammingRun(IStatusSink* status, IProgressSink* progress, TUserPrompt* prompt)
    : FFlash(std::make_unique<THitachiFlash>(nullptr, status, progress, prompt))
{
}

TProgrammingRun::~TProgrammingRun() = default;

void TProgrammingRun::LoadJob(const TJob& job, const std::function<void(bool)>& startLog)
{
    FJob.reset();
    if (startLog)
        startLog(job.Info().GetLogEnabled());
    ConfigureFlash(job.Info(), *FFlash);
    FJob = std::make_unique<TJob>(job);
}

void TProgrammingRun::CheckImage() const
{
    if (!FJob)
        throw Exception("No job is loaded");
    const std::span<const uint8_t> image = FJob->Image();
    TExistingMemoryStream stream(image.data(), static_cast<int64_t>(image.size()));
    CheckImageForRun(*FFlash, stream);
}

void TProgrammingRun::Enter(TRunPhase phase, TRunFrontEnd& frontEnd)
{
    FPhase = phase;
    frontEnd.PhaseStarted(phase);
}

void TProgrammingRun::Program(TConnectChoice& choice, TConnectMode mode, TRunFrontEnd& frontEnd)
{
    Run(choice, mode, TRunMode::Program, frontEnd);
}

void TProgrammingRun::Run(TConnectChoice& choice, TConnectMode mode, TRunMode runMode, TRunFrontEnd& frontEnd)
{
    FConnectedMethod = -1;
    FProgrammed = false;
    FPhase = TRunPhase::Connect;
    FFlash->LastIdentity = {};
    // An image that can never be programmed must not cost the unit its flash contents.
    CheckImage();
    frontEnd.BeforeConnect();
    const std::span<const uint8_t> image = FJob->Image();
    if (image.empty() && runMode == TRunMode::Program)
        frontEnd.Notice("Note: the job carries no image: the unit's flash region is erased and nothing is "
                        "programmed.");
    TExistingMemoryStream stream(image.data(), static_cast<int64_t>(image.size()));
    THitachiFlash& flash = *FFlash;
    try {
        Enter(TRunPhase::Connect, frontEnd);
        ConnectUnit(choice, mode, frontEnd);
        CheckAdapterLatency(frontEnd);
        frontEnd.CheckCancelled();
        Steps(runMode, stream, frontEnd);
    } catch (Exception& e) {
        flash.Disconnect();
        // Said beside the message by every front end: who holds the port, that the adapter went.
        e.SetDetails(ExplainFailure(e, choice.Port->Port()));
        throw;
    } catch (...) {
        flash.Disconnect();
        throw;
    }
    flash.Disconnect();
    Enter(TRunPhase::Done, frontEnd);
}

void TProgrammingRun::Steps(TRunMode runMode, TStream& stream, TRunFrontEnd& frontEnd)
{
    switch (runMode) {
    case TRunMode::Identify:
        // No finish: the unit stays in its boot loader, as after a failed identity check.
        return;
    case TRunMode::Verify:
        Enter(TRunPhase::Verify, frontEnd);
        FFlash->VerifyImage(stream);
        break;
    case TRunMode::SkipIfCurrent:
        if (!AlreadyCurrent(stream, frontEnd))
            ProgramSteps(stream, frontEnd);
        break;
    case TRunMode::Program:
        ProgramSteps(stream, frontEnd);
        break;
    }
    frontEnd.CheckCancelled();
    Enter(TRunPhase::Finish, frontEnd);
    FFlash->Finish();
}

void TProgrammingRun::ProgramSteps(TStream& stream, TRunFrontEnd& frontEnd)
{
    THitachiFlash& flash = *FFlash;
    Enter(TRunPhase::Erase, frontEnd);
    flash.Erase();
    frontEnd.CheckCancelled();
    Enter(TRunPhase::Program, frontEnd);
    flash.ProgramImage(stream);
    FProgrammed = true;
    frontEnd.CheckCancelled();
    Enter(TRunPhase::Verify, frontEnd);
    flash.VerifyImage(stream);
}

bool TProgrammingRun::AlreadyCurrent(TStream& stream, TRunFrontEnd& frontEnd)
{
    Enter(TRunPhase::Verify, frontEnd);
    try {
        FFlash->VerifyImage(stream);
        return true;
    } catch (const EFDTBlockFailed& e) {
        // A refused block ends the transfer on the unit's side and the link has answered a
        // ping since, so the erase follows on the same connection. Any other verify failure
        // (no reply, a garbled one) is a fault of the line and ends the run.
        frontEnd.Notice(std::string("The unit's flash differs from the job's image: ") + e.what() +
                        " Programming it.");
    }
    frontEnd.CheckCancelled();
    return false;
}

void TProgrammingRun::CheckAdapterLatency(TRunFrontEnd& frontEnd)
{
    // An adapter that holds received bytes back costs every acknowledged block that long.
    constexpr int TolerableLatencyMs = 2;
    const int ms = FFlash->Device->ComPort->LatencyTimerMs();
    if (FLatencyNoted || ms <= TolerableLatencyMs)
        return;
    FLatencyNoted = true;
    const std::string msText = std::to_string(ms);
    const std::string fix = LatencyTimerFix();
    CommsLog("TProgrammingRun.Connect: The adapter's latency timer is " + msText +
             " ms: each acknowledged block may wait that long (" + fix + ")");
    frontEnd.Notice("Note: the adapter's latency timer is " + msText +
                    " ms, so each acknowledged block may wait up to " + msText + " ms; " + fix + ".");
}

void TProgrammingRun::ConnectBy(TConnectChoice& choice, uint8_t method, TRunFrontEnd& frontEnd)
{
    choice.ConnectMethod = method;
    FFlash->SelectConnection(choice);
    try {
        FFlash->Connect();
    } catch (const EUnitMismatch&) {
        // The unit answered, but is not the job's: say what it is before the failure is told.
        frontEnd.Notice(IdentityMismatchText(FFlash->LastIdentity, *FFlash));
        throw;
    }
    FConnectedMethod = method;
}

void TProgrammingRun::ConnectUnit(TConnectChoice& choice, TConnectMode mode, TRunFrontEnd& frontEnd)
{
    choice.UseDTR = 1;
    if (mode != TConnectMode::Auto) {
        ConnectBy(choice, mode == TConnectMode::User ? MethodUser : MethodBoot, frontEnd);
        return;
    }
    std::string reason;
    std::vector<std::string> details;
    try {
        ConnectBy(choice, MethodUser, frontEnd);
        return;
    } catch (const std::exception& e) {
        // Whatever stopped the user connect (a failed thread start or an allocation
        // failure included) is only the reason for the boot method.
        reason = e.what();
        details = ExplainFailure(e, choice.Port->Port());
    }
    FFlash->Disconnect();
    frontEnd.CheckCancelled();
    frontEnd.BootMethodNotice(reason, details);
    ConnectBy(choice, MethodBoot, frontEnd);
}
