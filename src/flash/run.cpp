#include "run.h"

#include <span>

#include "dev_params.h"
#include "exist_ms.h"
#include "files.h"
#include "logging.h"
#include "storeexe.h"

namespace {

// A job executable is a program with one stored block in it; nothing real comes near this.
constexpr size_t JobFileLimit = 256u << 20;

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

std::string ReadJobFile(const std::string& path)
{
    return ReadFileBytes(path, JobFileLimit, "job file");
}

const uint8_t* JobBlockIn(const std::string& jobBytes, const std::string& path)
{
    return reinterpret_cast<const uint8_t*>(jobBytes.data() + LocateStoredBlock(jobBytes, path));
}

std::string NoValidImageMessage(const std::string& reason)
{
    return "No Valid FLASH Image Present! (" + reason + ").";
}

TProgrammingRun::TProgrammingRun(IStatusSink* status, IProgressSink* progress, TUserPrompt* prompt)
    : FFlash(std::make_unique<THitachiFlash>(nullptr, status, progress, prompt))
{
}

TProgrammingRun::~TProgrammingRun() = default;

void TProgrammingRun::LoadJob(const uint8_t* block, const std::function<void(bool)>& startLog)
{
    FInfo.reset();
    const uint8_t* payload = CheckStoredData(block);
    auto info = std::make_unique<TExeProgrammingInfo>(payload);
    info->CheckVersion();
    if (startLog)
        startLog(info->GetLogEnabled());
    info->ConfigureFlash(*FFlash);
    FInfo = std::move(info);
}

void TProgrammingRun::LoadJobFile(const std::string& path, const std::function<void(bool)>& startLog)
{
    FInfo.reset();
    FJobBytes = ReadJobFile(path);
    LoadJob(JobBlockIn(FJobBytes, path), startLog);
}

void TProgrammingRun::CheckImage() const
{
    if (!FInfo)
        throw Exception("No job is loaded");
    // GetImage refuses a stored length outside the image region instead of reading past it.
    const std::span<const uint8_t> image = FInfo->GetImage();
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
    FConnectedMethod = -1;
    FPhase = TRunPhase::Connect;
    FFlash->LastIdentity = {};
    // An image that can never be programmed must not cost the unit its flash contents.
    CheckImage();
    frontEnd.BeforeConnect();
    const std::span<const uint8_t> image = FInfo->GetImage();
    TExistingMemoryStream stream(image.data(), static_cast<int64_t>(image.size()));
    THitachiFlash& flash = *FFlash;
    try {
        Enter(TRunPhase::Connect, frontEnd);
        ConnectUnit(choice, mode, frontEnd);
        CheckAdapterLatency(frontEnd);
        frontEnd.CheckCancelled();
        Enter(TRunPhase::Erase, frontEnd);
        flash.Erase();
        frontEnd.CheckCancelled();
        Enter(TRunPhase::Program, frontEnd);
        flash.ProgramImage(stream);
        frontEnd.CheckCancelled();
        Enter(TRunPhase::Verify, frontEnd);
        flash.VerifyImage(stream);
        frontEnd.CheckCancelled();
        Enter(TRunPhase::Finish, frontEnd);
        flash.Finish();
    } catch (...) {
        flash.Disconnect();
        throw;
    }
    flash.Disconnect();
    Enter(TRunPhase::Done, frontEnd);
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
    CommsLog("TProgrammingRun.Connect: The adapter's latency timer is " + msText +
             " ms: each acknowledged block may "
             "wait that long (the udev rule in contrib/udev sets it to 1 ms)");
    frontEnd.Notice("Note: the adapter's latency timer is " + msText +
                    " ms, so each acknowledged block may wait up to " + msText +
                    " ms; the udev rule in contrib/udev (/usr/share/doc/moravent-flash-programmer/udev) sets "
                    "it to 1 ms.");
}

void TProgrammingRun::ConnectBy(TConnectChoice& choice, uint8_t method)
{
    choice.ConnectMethod = method;
    FFlash->SelectConnection(choice);
    FFlash->Connect();
    FConnectedMethod = method;
}

void TProgrammingRun::ConnectUnit(TConnectChoice& choice, TConnectMode mode, TRunFrontEnd& frontEnd)
{
    choice.UseDTR = 1;
    if (mode != TConnectMode::Auto) {
        ConnectBy(choice, mode == TConnectMode::User ? MethodUser : MethodBoot);
        return;
    }
    std::string reason;
    try {
        ConnectBy(choice, MethodUser);
        return;
    } catch (const std::exception& e) {
        // Whatever stopped the user connect (a failed thread start or an allocation
        // failure included) is only the reason for the boot method.
        reason = e.what();
    }
    FFlash->Disconnect();
    frontEnd.CheckCancelled();
    frontEnd.BootMethodNotice(reason);
    ConnectBy(choice, MethodBoot);
}
