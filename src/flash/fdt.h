#pragma once
// The link to the unit's boot loader: connect sequences, bit-rate negotiation,
// identity/keep-alive and the flash commands (erase, program, verify, finish).
#include <cstdint>
#include <functional>
#include <string>

#include "framework/component.h"
#include "framework/exceptions.h"
#include "framework/timers.h"
#include "serial/comms.h"

class TStream;
class TUserPrompt;

MORAVENT_EXCEPTION(EFDTException, Exception);
// The unit refused a block ("... Failed at address ..."): its flash differs, the link stays usable.
MORAVENT_EXCEPTION(EFDTBlockFailed, EFDTException);

// Where status texts go (a label in the window, the terminal in the CLI). Borrowed, may be null.
struct IStatusSink {
    virtual ~IStatusSink() = default;
    virtual void SetStatusText(const std::string& text) = 0;
};

// Where progress goes (a progress bar in the window, the terminal in the CLI). Borrowed, may be null.
// Behaves like a progress bar: StepBy clamps the position to the range.
struct IProgressSink {
    virtual ~IProgressSink() = default;
    virtual void SetRange(int min, int max) = 0;
    virtual void SetStep(int step) = 0;
    virtual void SetPosition(int position) = 0;
    virtual void StepBy(int delta) = 0;
    virtual int Position() const = 0;
};

// Connection settings handed to the device. The ports only carry settings; they are never opened.
struct TFullConnectionInfo {
    uint8_t ConnectMethod = 0; // 0 user connect, 1 boot connect, other: no connect-string exchange
    uint8_t UseDTR = 0;        // nonzero: 200 ms pause after every reopen
    TBriskoComPort* ComConnect = nullptr;
    TBriskoComPort* ComProgram = nullptr;
    std::string BootConnect; // %xx escaped, decoded at the moment of use
    std::string UserConnect;
    std::string ConnectResponse;
    TUserPrompt* Prompt = nullptr;
};

enum TTransferDirection { tdProgram, tdVerify };

class TFlashFDTDevice : public TComponent {
public:
    explicit TFlashFDTDevice(TComponent* owner = nullptr);
    ~TFlashFDTDevice() override;

    bool Busy = false;
    TTimer* KeepAliveTimer = nullptr; // owned, 1000 ms
    bool AbortRequested = false;
    TBriskoComPort* ComPort = nullptr;    // owned; opened and closed by the flash controller
    IStatusSink* StatusControl = nullptr; // borrowed
    IProgressSink* ProgressBar = nullptr; // borrowed
    int32_t BlockSize = 128;

    // Receives an error raised by a keep-alive tick, which must never reach the event loop.
    // Unset: the message goes to the warning channel.
    std::function<void(const Exception&)> OnKeepAliveError;

    // Link
    void ConnectDevice(const TFullConnectionInfo& info);
    void UserConnect(const TFullConnectionInfo& info);
    void BootConnect(const TFullConnectionInfo& info);
    void FDTConnect(const TFullConnectionInfo& info);
    void IdentifyDevice(int32_t& start, int32_t& length, uint16_t& seed, std::string& name);
    void PingDevice();
    static uint8_t ScaleBaudRegister(uint8_t value, int32_t oldRate, int32_t newRate);
    void SendDWord(uint32_t value);
    void SendDWordExpect(uint32_t value, void* reply, int32_t count);

    // Status and progress
    void ShowStatus(const std::string& text);
    void StartProgress(int32_t n);
    void StepProgress(int32_t n);
    void KeepAliveTick();

    // Flash commands
    void EraseFlash(int32_t startAddress, int32_t endAddress);
    void ProgramFlash(TStream& stream, int32_t address);
    void VerifyFlash(TStream& stream, int32_t address);
    void Finish();
    static bool CheckImageSum(TStream& stream, uint16_t seed);
    static bool FindBlockSum(TStream& stream, uint16_t seed, int32_t blockSize);

private:
    struct TransferTexts {
        const char* NoReply;
        const char* Unexpected;
        const char* FailedAt;
    };
    void TransferImage(TStream& stream, int32_t address, TTransferDirection direction);
    void CheckBlockReply(uint8_t reply, bool final, TStream& stream, int32_t lastBlockLength,
                         const TransferTexts& texts);
};

// Processes pending messages once (the window's or the CLI's), so Cancel, progress and timers stay live.
void ProcessPendingEvents();
