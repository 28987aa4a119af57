#include "flash/fdt.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <vector>

#include "flash/userprompt.h"
#include "framework/byteorder.h"
#include "framework/message_loop.h"
#include "framework/streams.h"
#include "serial/logging.h"
#include "storage/util.h"

namespace {

const uint8_t CmdRequestRegister[2] = {0x44, 0x05};
const uint8_t AckData[5] = {0x41, 0x42, 0x43, 0x44, 0x45};
const uint8_t CmdIdentify[4] = {0x63, 0xDE, 0x3D, 0x96};
const uint8_t CmdErase[4] = {0xD7, 0x68, 0xFE, 0xFA};
const uint8_t CmdProgram[4] = {0xB7, 0xD6, 0xF5, 0x3C};
const uint8_t CmdVerify[4] = {0x53, 0xE1, 0xA8, 0xD7};
const uint8_t CmdFinish[4] = {0xC3, 0x37, 0x23, 0xC6};

constexpr uint8_t EraseDone = 0x24;
constexpr uint8_t EraseDeviceFailure = 0x25;
constexpr uint8_t BlockAccepted = 0x00;
constexpr uint8_t TransferComplete = 0x22;
constexpr uint8_t FailedAtBlock = 0x23;

constexpr int BootAttempts = 100;

// Read time-outs, pauses and the keep-alive period, in milliseconds. A real unit needs
// every one of them: its boot loader restarts, its flash erases and writes slowly.
constexpr int32_t BootAttemptTimeoutMs = 100;  // one boot connect attempt
constexpr int32_t LinkTimeoutMs = 500;         // the negotiation and the identity requests after it
constexpr int32_t EraseTimeoutMs = 5000;       // the erase verdict
constexpr int32_t BlockTimeoutMs = 5000;       // each block reply of a transfer
constexpr int32_t DtrSettleMs = 200;           // after each open while DTR is in use
constexpr int32_t BootLoaderStartMs = 500;     // the unit restarts into its boot loader
constexpr int32_t TransferHeaderPauseMs = 100; // after a transfer's code, address and size
constexpr int KeepAliveIntervalMs = 1000;

std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* fmt, ...)
{
    char buf[512];
    va_list ap;
    va_start(ap, fmt);
    int n = std::vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    return std::string(buf, static_cast<size_t>(std::clamp(n, 0, static_cast<int>(sizeof buf) - 1)));
}

void Log(const std::string& text)
{
    CommsLog(text);
}

// A failing protocol step logs "TFlashFDTDevice.<step>: <logText>", then raises its short text.
[[noreturn]] void Fail(const char* step, const std::string& logText, const std::string& raised)
{
    Log(std::string("TFlashFDTDevice.") + step + ": " + logText);
    throw EFDTException(raised);
}

// One request and its reply of exactly replyCount bytes. A failure of the send or the wait
// (no reply, a short one, a port error) becomes the step's failure; with no step the
// failure is raised without a log line of its own.
void Exchange(TBriskoComPort& port, const void* data, int32_t count, void* reply, int32_t replyCount, const char* step,
              const char* failure)
{
    try {
        port.SendBufferExpect(data, count, reply, replyCount);
    } catch (const Exception&) {
        if (step)
            Fail(step, failure, failure);
        throw EFDTException(failure);
    }
}

// Sets the port's read time-out for a scope and sets restoreMs when it ends, however it ends.
class ReadTimeoutScope {
public:
    ReadTimeoutScope(TBriskoComPort& port, int32_t ms, int32_t restoreMs) : Port(port), RestoreMs(restoreMs)
    {
        Port.SetReadTimeout(ms);
    }
    ~ReadTimeoutScope()
    {
        try {
            Port.SetReadTimeout(RestoreMs);
        } catch (...) {
            // The step's own error, if any, is the one to report.
        }
    }
    ReadTimeoutScope(const ReadTimeoutScope&) = delete;
    ReadTimeoutScope& operator=(const ReadTimeoutScope&) = delete;

private:
    TBriskoComPort& Port;
    int32_t RestoreMs;
};

// Sets the device's Busy flag for the length of one operation. A plain flag, not a
// counter: an inner operation clears it when it ends.
class BusyScope {
public:
    explicit BusyScope(bool& flag) : Flag(flag) { Flag = true; }
    ~BusyScope() { Flag = false; }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

private:
    bool& Flag;
};

} // namespace

void ProcessPendingEvents()
{
    ProcessMessages();
}

TFlashFDTDevice::TFlashFDTDevice(TComponent* owner) : TComponent(owner)
{
    ComPort = new TBriskoComPort(this);
    KeepAliveTimer = new TTimer(this);
    KeepAliveTimer->SetInterval(KeepAliveIntervalMs);
    KeepAliveTimer->OnTimer = [this] {
        // Nothing may escape into the event loop from here.
        try {
            KeepAliveTick();
        } catch (const Exception& e) {
            if (OnKeepAliveError)
                OnKeepAliveError(e);
            else
                Warn(WithFullStop(e.message()));
        } catch (const std::exception& e) {
            Exception wrapped(e.what());
            if (OnKeepAliveError)
                OnKeepAliveError(wrapped);
            else
                Warn(e.what());
        }
    };
    KeepAliveTimer->Start();
}

TFlashFDTDevice::~TFlashFDTDevice()
{
    KeepAliveTimer->Stop();
}

// ---- status and progress -------------------------------------------------------------

void TFlashFDTDevice::ShowStatus(const std::string& text)
{
    if (StatusControl)
        StatusControl->SetStatusText(text);
}

void TFlashFDTDevice::StartProgress(int32_t n)
{
    if (!ProgressBar)
        return;
    ProgressBar->SetRange(0, n);
    ProgressBar->SetStep(1);
    ProgressBar->SetPosition(0);
}

void TFlashFDTDevice::StepProgress(int32_t n)
{
    if (ProgressBar)
        ProgressBar->StepBy(n);
}

void TFlashFDTDevice::KeepAliveTick()
{
    if (!ComPort->Connected() || Busy)
        return;
    try {
        PingDevice();
    } catch (...) {
        KeepAliveTimer->Stop();
        throw;
    }
}

// ---- raw helpers ---------------------------------------------------------------------

void TFlashFDTDevice::SendDWord(uint32_t value)
{
    uint8_t bytes[4];
    StoreBE32(bytes, value);
    ComPort->SendBuffer(bytes, 4);
}

void TFlashFDTDevice::SendDWordExpect(uint32_t value, void* reply, int32_t count)
{
    uint8_t bytes[4];
    StoreBE32(bytes, value);
    ComPort->SendBufferExpect(bytes, 4, reply, count);
}

uint8_t TFlashFDTDevice::ScaleBaudRegister(uint8_t value, int32_t oldRate, int32_t newRate)
{
    // Quotient and product in extended precision, rounded to binary32, truncated.
    const long double quotient = static_cast<long double>(oldRate) / static_cast<long double>(newRate);
    const long double product = quotient * static_cast<long double>(value);
    const float rounded = static_cast<float>(product);
    if (!std::isfinite(rounded) || std::fabs(rounded) >= 9.2e18f)
        throw EFDTException(Format("Cannot scale the baud rate register from %d to %d bit/s", oldRate, newRate));
    const int64_t whole = static_cast<int64_t>(rounded);
    return static_cast<uint8_t>(static_cast<uint64_t>(whole) & 0xFFu);
}

// ---- connect ---------------------------------------------------------------------------

void TFlashFDTDevice::ConnectDevice(const TFullConnectionInfo& info)
{
    BusyScope busy(Busy);
    Log("TFlashFDTDevice.ConnectDevice: Setting serial port settings");
    if (!info.ComConnect || !info.ComProgram)
        throw EFDTException("Connection settings are incomplete");
    ComPort->SetPort(info.ComConnect->Port());
    ComPort->CopySettings(info.ComConnect);
    if (info.UseDTR != 0)
        TBriskoComPort::Delay(DtrSettleMs);
    if (info.ConnectMethod == 0)
        UserConnect(info);
    else if (info.ConnectMethod == 1)
        BootConnect(info);
    TBriskoComPort::Delay(BootLoaderStartMs);
    FDTConnect(info);
    PingDevice();
    KeepAliveTimer->Start();
}

void TFlashFDTDevice::UserConnect(const TFullConnectionInfo& info)
{
    ShowStatus("Connecting...");
    StartProgress(1);
    Log("TFlashFDTDevice.UserConnect: Sending connect string \"" + info.UserConnect + "\", expecting \"" +
        info.ConnectResponse + "\"");
    const std::string request = UnescapeText(info.UserConnect);
    const std::string expected = UnescapeText(info.ConnectResponse);
    std::string reply(expected.size(), '\0');
    Exchange(*ComPort, request.data(), static_cast<int32_t>(request.size()), reply.data(),
             static_cast<int32_t>(reply.size()), "UserConnect", "No reply to start command");
    if (reply != expected)
        Fail("UserConnect", "Reply \"" + reply + "\" doesn't match", "Reply doesn't match");
    StepProgress(1);
    Log("TFlashFDTDevice.UserConnect: Got connect response");
}

void TFlashFDTDevice::BootConnect(const TFullConnectionInfo& info)
{
    ShowStatus("Connecting...");
    StartProgress(BootAttempts);
    Log("TFlashFDTDevice.BootConnect: Sending connect string \"" + info.BootConnect + "\" up to " +
        std::to_string(BootAttempts) + " times, expecting \"" + info.ConnectResponse + "\"");
    const std::string request = UnescapeText(info.BootConnect);
    const std::string expected = UnescapeText(info.ConnectResponse);
    ComPort->SetReadTimeout(BootAttemptTimeoutMs);
    bool wrongReply = false;

    TUserPrompt* prompt = info.Prompt;
    if (prompt)
        prompt->ShowPrompt("Reset the Unit");
    struct PromptHider {
        TUserPrompt* P;
        ~PromptHider()
        {
            if (P)
                P->HidePrompt();
        }
    } hider{prompt};

    std::string reply(expected.size(), '\0');
    for (int attempt = 0; attempt < BootAttempts; ++attempt) {
        try {
            ComPort->SendBufferExpect(request.data(), static_cast<int32_t>(request.size()), reply.data(),
                                      static_cast<int32_t>(reply.size()));
            if (reply == expected) {
                StartProgress(1);
                StepProgress(1);
                hider.P = nullptr;
                if (prompt)
                    prompt->HidePrompt();
                Log("TFlashFDTDevice.BootConnect: Got connect response");
                return;
            }
            wrongReply = true;
        } catch (const EBriskoComTimeout&) {
            ProcessPendingEvents();
        }
        if (prompt && prompt->Cancelled())
            throw EFDTException("Connect Cancelled by User");
        StepProgress(1);
    }
    if (wrongReply)
        Fail("BootConnect", "Unexpected reply to connect command", "Unexpected reply to connect command");
    Fail("BootConnect", "No reply to start command", "No reply to connect command");
}

void TFlashFDTDevice::FDTConnect(const TFullConnectionInfo& info)
{
    ComPort->SetReadTimeout(LinkTimeoutMs);
    ComPort->SetParity(*info.ComProgram->Parity());
    ComPort->SetDataBits(info.ComProgram->DataBits());
    ComPort->SetStopBits(info.ComProgram->StopBits());

    Log("TFlashFDTDevice.FDTConnect: Sending ACK length");
    uint8_t reg = 0;
    Exchange(*ComPort, CmdRequestRegister, 2, &reg, 1, "FDTConnect", "Baud Rate Register not received");

    const int32_t oldRate = ComPort->BaudRateValue();
    const int32_t newRate = info.ComProgram->BaudRateValue();
    const uint8_t newReg = ScaleBaudRegister(reg, oldRate, newRate);
    Log(Format("TFlashFDTDevice.FDTConnect: Baud scaling factor is 0x%02X, sending new baud scaling factor "
               "0x%02X (old baud %d, new baud %d)",
               reg, newReg, oldRate, newRate));
    try {
        ComPort->SendBuffer(&newReg, 1);
    } catch (const Exception&) {
        Fail("FDTConnect", "Couldn't send Baud Rate Register", "Couldn't send Baud Rate Register");
    }

    ComPort->CopySettings(info.ComProgram);
    if (info.UseDTR != 0)
        TBriskoComPort::Delay(DtrSettleMs);

    Log("TFlashFDTDevice.FDTConnect: Sending acknowledge data");
    uint8_t echo[5] = {};
    Exchange(*ComPort, AckData, 5, echo, 5, "FDTConnect", "Acknowledge data not received");
    if (!std::equal(std::begin(echo), std::end(echo), AckData))
        Fail("FDTConnect", "Acknowledge data doesn't match", "Acknowledge data doesn't match");
    Log("TFlashFDTDevice.FDTConnect: Acknowledge data received correctly");
}

void TFlashFDTDevice::IdentifyDevice(int32_t& start, int32_t& length, uint16_t& seed, std::string& name)
{
    uint8_t reply[30] = {};
    {
        BusyScope busy(Busy);
        Log("TFlashFDTDevice.IdentifyDevice: Requesting device identity");
        Exchange(*ComPort, CmdIdentify, 4, reply, 30, "IdentifyDevice", "Can't Get ID");
        seed = LoadBE16(reply);
        start = static_cast<int32_t>(LoadBE32(reply + 2));
        length = static_cast<int32_t>(LoadBE32(reply + 6));
        name.assign(reinterpret_cast<const char*>(reply + 10), 20);
    }
    Log("TFlashFDTDevice.IdentifyDevice: Got device id, name: " + name +
        Format(", start %d, length %d, seed %d", start, length, seed));
}

void TFlashFDTDevice::PingDevice()
{
    int32_t start = 0, length = 0;
    uint16_t seed = 0;
    std::string name;
    IdentifyDevice(start, length, seed, name);
}

// ---- flash commands ----------------------------------------------------------------------

void TFlashFDTDevice::EraseFlash(int32_t startAddress, int32_t endAddress)
{
    BusyScope busy(Busy);
    AbortRequested = false;
    ShowStatus("Erasing FLASH...");
    StartProgress(1);
    ComPort->SendBuffer(CmdErase, 4);
    SendDWord(static_cast<uint32_t>(startAddress));
    {
        // A missing verdict passes on as the port's own time-out.
        ReadTimeoutScope verdictWait(*ComPort, EraseTimeoutMs, LinkTimeoutMs);
        uint8_t verdict = 0;
        SendDWordExpect(static_cast<uint32_t>(endAddress) - static_cast<uint32_t>(startAddress), &verdict, 1);
        if (verdict == EraseDeviceFailure)
            throw EFDTException("Erase Failed: Device Failure");
        if (verdict != EraseDone)
            throw EFDTException("Erase Failed: Unexpected Reply");
    }
    PingDevice();
    StepProgress(1);
}

void TFlashFDTDevice::ProgramFlash(TStream& stream, int32_t address)
{
    TransferImage(stream, address, tdProgram);
}

void TFlashFDTDevice::VerifyFlash(TStream& stream, int32_t address)
{
    TransferImage(stream, address, tdVerify);
}

void TFlashFDTDevice::TransferImage(TStream& stream, int32_t address, TTransferDirection direction)
{
    BusyScope busy(Busy);
    const int64_t size = stream.Size();
    AbortRequested = false;

    static const TransferTexts programTexts = {"Write Failed: No reply", "Write Failed: Unexpected Response.",
                                               "Write Failed at address 0x%08X (%d)."};
    static const TransferTexts verifyTexts = {"Verify Failed: No Reply.", "Verify Failed: Unexpected Response.",
                                              "Verify Failed at address 0x%08X (%d)."};
    const TransferTexts& texts = direction == tdProgram ? programTexts : verifyTexts;
    const uint8_t* code = direction == tdProgram ? CmdProgram : CmdVerify;

    // Refused before anything is sent: a zero block size would never advance, and the
    // size travels as 32 bits.
    if (BlockSize <= 0)
        throw EFDTException(Format("Programming block size %d is not usable", BlockSize));
    if (size > INT32_MAX)
        throw EFDTException("Image is too large to transfer");

    ShowStatus(direction == tdProgram ? "Programming FLASH..." : "Verifying FLASH...");
    StartProgress(static_cast<int32_t>(size));

    ComPort->SendBuffer(code, 4);
    SendDWord(static_cast<uint32_t>(address));
    SendDWord(static_cast<uint32_t>(size));
    TBriskoComPort::Delay(TransferHeaderPauseMs);
    ComPort->SetReadTimeout(BlockTimeoutMs);

    stream.SetPosition(0);
    int64_t remaining = size;
    int32_t lastBlockLength = 0;
    std::vector<uint8_t> block(static_cast<size_t>(BlockSize));
    uint8_t reply = 0;
    while (remaining > 0) {
        const int32_t chunk = static_cast<int32_t>(std::min<int64_t>(remaining, BlockSize));
        stream.ReadBuffer(block.data(), chunk);
        lastBlockLength = chunk;
        Exchange(*ComPort, block.data(), chunk, &reply, 1, nullptr, texts.NoReply);
        CheckBlockReply(reply, false, stream, lastBlockLength, texts);
        StepProgress(chunk);
        remaining -= chunk;
        ProcessPendingEvents();
        if (AbortRequested)
            break;
        if (remaining > 0) {
            const uint8_t continueByte = 0x00;
            ComPort->SendBuffer(&continueByte, 1);
        }
    }

    const uint8_t endMarker = AbortRequested ? 0xFF : 0x00;
    Exchange(*ComPort, &endMarker, 1, &reply, 1, nullptr, texts.NoReply);
    CheckBlockReply(reply, true, stream, lastBlockLength, texts);
    PingDevice();
    if (AbortRequested)
        throw EFDTException("Programming Aborted by User.");
}

void TFlashFDTDevice::CheckBlockReply(uint8_t reply, bool final, TStream& stream, int32_t lastBlockLength,
                                      const TransferTexts& texts)
{
    if (reply == FailedAtBlock) {
        // Offset of the block last sent, from the start of the image.
        const int64_t offset = stream.Position() - lastBlockLength;
        const std::string message = Format(texts.FailedAt, static_cast<unsigned>(offset), static_cast<int>(offset));
        PingDevice();
        throw EFDTBlockFailed(message);
    }
    if (reply != (final ? TransferComplete : BlockAccepted))
        throw EFDTException(texts.Unexpected);
}

void TFlashFDTDevice::Finish()
{
    BusyScope busy(Busy);
    ComPort->SendBuffer(CmdFinish, 4);
}

// ---- image checksums ---------------------------------------------------------------------

bool TFlashFDTDevice::CheckImageSum(TStream& stream, uint16_t seed)
{
    stream.SetPosition(0);
    const int64_t size = stream.Size();
    uint16_t sum = seed;
    uint8_t buf[4096];
    for (int64_t left = size - 2; left > 0;) {
        const int32_t n = static_cast<int32_t>(std::min<int64_t>(left, sizeof buf));
        stream.ReadBuffer(buf, n);
        for (int32_t i = 0; i < n; ++i)
            sum = static_cast<uint16_t>(sum + buf[i]);
        left -= n;
    }
    uint8_t stored[2];
    stream.ReadBuffer(stored, 2);
    return sum == LoadBE16(stored);
}

bool TFlashFDTDevice::FindBlockSum(TStream& stream, uint16_t seed, int32_t blockSize)
{
    if (blockSize == 0)
        throw EFDTException("Checksum block size must not be zero");
    stream.SetPosition(0);
    const int64_t size = stream.Size();
    uint16_t sum = seed;
    while (stream.Position() < size - 2) {
        uint8_t b;
        stream.ReadBuffer(&b, 1);
        sum = static_cast<uint16_t>(sum + b);
        if ((stream.Position() + 2) % blockSize == 0) {
            uint8_t stored[2];
            stream.ReadBuffer(stored, 2);
            if (sum == LoadBE16(stored))
                return true;
            stream.Seek(-2, soCurrent);
        }
    }
    return false;
}
