#include "serial/CPort.h"

#include <atomic>
#include <cstdio>
#include <thread>

#include "framework/syncqueue.h"
#include "serial/line_settings.h"
#include "serial/serial_platform.h"

namespace {

// Device mask bit of each TComEvent, by ordinal.
constexpr uint32_t EventMaskBits[10] = {emRxChar, emTxEmpty, emRxFlag, emRing, emBreak,
                                        emCTS,    emDSR,     emErr,    emRLSD, emRx80Full};

void Check(int err, int code)
{
    if (err != 0)
        throw EComPort(code, err);
}

} // namespace

namespace {
std::function<std::unique_ptr<TSerialDevice>()>& DeviceFactory()
{
    static std::function<std::unique_ptr<TSerialDevice>()> factory;
    return factory;
}
} // namespace

std::unique_ptr<TSerialDevice> CreateSerialDevice()
{
    return DeviceFactory() ? DeviceFactory()() : CreatePlatformSerialDevice();
}

void SetSerialDeviceFactory(std::function<std::unique_ptr<TSerialDevice>()> factory)
{
    DeviceFactory() = std::move(factory);
}

uint32_t EventsToMask(TComEvents events)
{
    uint32_t mask = 0;
    for (int i = 0; i < 10; ++i)
        if (events & (1u << i))
            mask |= EventMaskBits[i];
    return mask;
}

TComEvents MaskToEvents(uint32_t mask)
{
    TComEvents events = 0;
    for (int i = 0; i < 10; ++i)
        if (mask & EventMaskBits[i])
            events |= TComEvents(1u << i);
    return events;
}

// ---------------------------------------------------------------- event thread

// Touches the port only through HandledEvents and the deliveries; the events and the sync
// method are taken at creation, so changing them while open cannot race with the thread.
class TComThread {
public:
    TComThread(TCustomComPort* port, TComEvents events, std::unique_ptr<TSerialEventWait> wait)
        : FPort(port), FEvents(events), FSyncMethod(port->SyncMethod()), FWait(std::move(wait)),
          FThread([this] { Execute(); })
    {
    }

    // Stops the loop and returns once the thread has ended, servicing the
    // deliveries it asks the user-interface thread for meanwhile.
    ~TComThread()
    {
        FWait->Stop();
        while (!FFinished.load()) {
            if (!ServiceSyncQueue())
                WaitForSyncQueue(20);
        }
        FThread.join();
    }

private:
    void Execute()
    {
        uint32_t mask = 0;
        for (;;) {
            // Only events with a hook are worth a wake-up; hooks assigned while open are
            // picked up at the next return of the wait.
            FWait->SetMask(EventsToMask(FEvents & FPort->HandledEvents()));
            if (!FWait->Wait(mask))
                break;
            TComEvents events = MaskToEvents(mask);
            if (events)
                DeliverEvents(events);
        }
        FFinished.store(true);
        WakeSyncQueueWaiters();
    }

    void DeliverEvents(TComEvents events)
    {
        events &= FPort->HandledEvents();
        if (!events)
            return;
        // A failing query (an unplugged device) has nobody to report to here; the
        // next read or write on the user-interface thread reports it.
        try {
            if (FSyncMethod == smNone)
                FPort->DispatchEvents(events);
            else
                Synchronize([this, events] {
                    if (FPort->Connected())
                        FPort->DispatchEvents(events);
                });
        } catch (...) {
        }
    }

    TCustomComPort* FPort;
    const TComEvents FEvents;
    const TSyncMethod FSyncMethod;
    std::unique_ptr<TSerialEventWait> FWait;
    std::atomic<bool> FFinished{false};
    std::thread FThread; // last: starts once everything above exists
};

// ---------------------------------------------------------------- port

TCustomComPort::TCustomComPort(TComponent* owner)
    : TComponent(owner), FDevice(CreateSerialDevice()), FParity(std::make_unique<TComParity>(this)),
      FFlowControl(std::make_unique<TComFlowControl>(this)), FTimeouts(std::make_unique<TComTimeouts>(this)),
      FBuffer(std::make_unique<TComBuffer>(this))
{
}

TCustomComPort::~TCustomComPort()
{
    CloseForDestruction();
    FBuffer.reset();
    FFlowControl.reset();
    FTimeouts.reset();
    FParity.reset();
}

void TCustomComPort::CloseForDestruction() noexcept
{
    try {
        ClosePort();
    } catch (...) {
        // Nobody is left to report to; what the close did not finish is done below.
    }
    FEventThread.reset();
    FThreadCreated = false;
    FDevice->Close();
    FConnected = false;
}

void TCustomComPort::SetConnected(bool v)
{
    if (v == FConnected)
        return;
    if (v)
        OpenPort();
    else
        ClosePort();
}

void TCustomComPort::OpenPort()
{
    if (FConnected)
        return;
    DoBeforeOpen();
    CreateDeviceHandle();
    FConnected = true;
    try {
        ApplyAllSettings();
    } catch (...) {
        CloseDeviceHandle();
        FConnected = false;
        throw;
    }
    if (FEvents != 0) {
        FEventThread = std::make_unique<TComThread>(this, FEvents, FDevice->CreateEventWait(EventsToMask(FEvents)));
        FThreadCreated = true;
    }
    DoAfterOpen();
    if (OnCTSChange)
        DoCTSChange(ModemSignals() & (1u << csCTS));
    if (OnDSRChange)
        DoDSRChange(ModemSignals() & (1u << csDSR));
    if (OnRLSDChange)
        DoRLSDChange(ModemSignals() & (1u << csRLSD));
}

bool TCustomComPort::DrainOutput()
{
    // write() only queues bytes in the kernel, and the purge of the close would
    // discard bytes of a write that has already returned, such as a final command.
    // A failure here (an unplugged device) leaves nothing to save.
    return FDevice->Drain() == 0;
}

void TCustomComPort::ClosePort()
{
    if (!FConnected)
        return;
    DoCTSChange(false);
    DoDSRChange(false);
    DoRLSDChange(false);
    DoBeforeClose();
    const bool drained = DrainOutput();
    AbortPending();
    if (FThreadCreated) {
        FEventThread.reset();
        FThreadCreated = false;
    }
    // Unread input is discarded. Output is purged only when it could not be sent in
    // time: once drained there is nothing left to discard, and on a pseudo-terminal an
    // output purge would also throw away what the other side has not read yet.
    FDevice->Purge(true, !drained);
    // DTR and RTS are on only while open: the unit sees the line go down between one
    // connect and the next. A device without modem lines, or one unplugged, has nothing to lower.
    FDevice->SetLines(false, false);
    CloseDeviceHandle();
    FConnected = false;
    DoAfterClose();
}

int TCustomComPort::LatencyTimerMs() const
{
    return ::LatencyTimerMs(FPort);
}

void TCustomComPort::CreateDeviceHandle()
{
    int err = FDevice->Open(FPort);
    if (err != 0)
        throw EComPort(CError_OpenFailed, err);
}

void TCustomComPort::CloseDeviceHandle()
{
    FDevice->Close();
}

void TCustomComPort::ApplyAllSettings()
{
    ApplyBufferSizes();
    ApplyLineSettings();
    ApplyTimeoutSettings();
}

void TCustomComPort::ApplyLineSettings()
{
    if (!FConnected)
        return;
    Check(FDevice->ApplyLineSettings(BuildLineSettings(*this)), CError_SetStateFailed);
}

void TCustomComPort::ApplyTimeoutSettings()
{
    if (!FConnected)
        return;
    TTimeoutSettings t;
    t.ReadInterval = FTimeouts->ReadInterval();
    t.ReadTotalMultiplier = FTimeouts->ReadTotalMultiplier();
    t.ReadTotalConstant = FTimeouts->ReadTotalConstant();
    t.WriteTotalMultiplier = FTimeouts->WriteTotalMultiplier();
    t.WriteTotalConstant = FTimeouts->WriteTotalConstant();
    Check(FDevice->ApplyTimeouts(t), CError_TimeoutsFailed);
}

void TCustomComPort::ApplyBufferSizes()
{
    if (!FConnected)
        return;
    Check(FDevice->ApplyBufferSizes(FBuffer->InputSize(), FBuffer->OutputSize()), CError_SetupComFailed);
}

int32_t TCustomComPort::WriteBytes(const void* buffer, int32_t count)
{
    if (count < 0 || (count > 0 && buffer == nullptr))
        throw EComPort(CError_WriteFailed, PortFaultCode(TPortFault::InvalidArgument));
    int32_t done = 0;
    Check(FDevice->Write(buffer, count, done), CError_WriteFailed);
    return done;
}

int32_t TCustomComPort::ReadBytes(void* buffer, int32_t count)
{
    if (count < 0 || (count > 0 && buffer == nullptr))
        throw EComPort(CError_ReadFailed, PortFaultCode(TPortFault::InvalidArgument));
    int32_t done = 0;
    Check(FDevice->Read(buffer, count, done), CError_ReadFailed);
    return done;
}

void TCustomComPort::PurgeBuffers(bool input, bool output)
{
    Check(FDevice->Purge(input, output), CError_PurgeFailed);
}

int32_t TCustomComPort::PendingInputCount()
{
    int32_t n = 0;
    Check(FDevice->QueuedInput(n), CError_ClearComFailed);
    return n;
}

TComSignals TCustomComPort::ModemSignals()
{
    uint32_t status = 0;
    Check(FDevice->ModemStatus(status), CError_ModemStatFailed);
    TComSignals s = 0;
    if (status & msCTS)
        s |= 1u << csCTS;
    if (status & msDSR)
        s |= 1u << csDSR;
    if (status & msRing)
        s |= 1u << csRing;
    if (status & msRLSD)
        s |= 1u << csRLSD;
    return s;
}

TComErrors TCustomComPort::LineErrors()
{
    uint32_t flags = 0;
    Check(FDevice->ErrorFlags(flags), CError_ClearComFailed);
    return ComErrorsFromFlags(flags, FParity->Check());
}

void TCustomComPort::AbortPending()
{
    Check(FDevice->AbortPending(), CError_PurgeFailed);
}

void TCustomComPort::SetPort(const std::string& v)
{
    if (v == FPort)
        return;
    FPort = v;
    if (FConnected) {
        ClosePort();
        OpenPort();
    }
}

void TCustomComPort::SetBaudRate(TBaudRate v)
{
    if (v == FBaudRate)
        return;
    FBaudRate = v;
    ApplyLineSettings();
}
void TCustomComPort::SetCustomBaudRate(int32_t v)
{
    if (v == FCustomBaudRate)
        return;
    FCustomBaudRate = v;
    ApplyLineSettings();
}
void TCustomComPort::SetDataBits(TDataBits v)
{
    if (v == FDataBits)
        return;
    FDataBits = v;
    ApplyLineSettings();
}
void TCustomComPort::SetStopBits(TStopBits v)
{
    if (v == FStopBits)
        return;
    FStopBits = v;
    ApplyLineSettings();
}
void TCustomComPort::SetDiscardNull(bool v)
{
    if (v == FDiscardNull)
        return;
    FDiscardNull = v;
    ApplyLineSettings();
}
void TCustomComPort::SetEventChar(char v)
{
    if (v == FEventChar)
        return;
    FEventChar = v;
    ApplyLineSettings();
}
void TCustomComPort::SetEvents(TComEvents v)
{
    FEvents = TComEvents(v & AllComEvents);
}

void TCustomComPort::SetSyncMethod(TSyncMethod v)
{
    if (v == FSyncMethod)
        return;
    if (FConnected)
        throw EComPort(CError_ConnChangeProp);
    FSyncMethod = v;
}

void TCustomComPort::SetParity(const TComParity& v)
{
    FParity->Assign(v);
    ApplyLineSettings();
}
void TCustomComPort::SetFlowControl(const TComFlowControl& v)
{
    FFlowControl->Assign(v);
    ApplyLineSettings();
}
void TCustomComPort::SetTimeouts(const TComTimeouts& v)
{
    FTimeouts->Assign(v);
    ApplyTimeoutSettings();
}
void TCustomComPort::SetBuffer(const TComBuffer& v)
{
    FBuffer->Assign(v);
    ApplyBufferSizes();
}

void TCustomComPort::DispatchEvents(TComEvents events)
{
    auto has = [events](TComEvent e) { return (events & ComEvent(e)) != 0; };
    if (has(evError)) {
        TComErrors errors = LineErrors();
        if (errors)
            DoError(errors);
    }
    if (has(evRxChar)) {
        int32_t n = PendingInputCount();
        if (n > 0)
            DoRxChar(n);
    }
    if (has(evTxEmpty))
        DoTxEmpty();
    if (has(evBreak))
        DoBreak();
    if (has(evRing))
        DoRing();
    if (has(evCTS))
        DoCTSChange(ModemSignals() & (1u << csCTS));
    if (has(evDSR))
        DoDSRChange(ModemSignals() & (1u << csDSR));
    if (has(evRxFlag))
        DoRxFlag();
    if (has(evRLSD))
        DoRLSDChange(ModemSignals() & (1u << csRLSD));
    if (has(evRx80Full))
        DoRx80Full();
}

TComEvents TCustomComPort::HandledEvents() const
{
    TComEvents handled = 0;
    auto add = [&handled](bool assigned, TComEvent e) {
        if (assigned)
            handled |= ComEvent(e);
    };
    add(bool(OnError), evError);
    add(bool(OnRxChar), evRxChar);
    add(bool(OnTxEmpty), evTxEmpty);
    add(bool(OnBreak), evBreak);
    add(bool(OnRing), evRing);
    add(bool(OnCTSChange), evCTS);
    add(bool(OnDSRChange), evDSR);
    add(bool(OnRxFlag), evRxFlag);
    add(bool(OnRLSDChange), evRLSD);
    add(bool(OnRx80Full), evRx80Full);
    return handled;
}

void TCustomComPort::DoAfterClose()
{
    if (OnAfterClose)
        OnAfterClose(this);
}
void TCustomComPort::DoAfterOpen()
{
    if (OnAfterOpen)
        OnAfterOpen(this);
}
void TCustomComPort::DoBeforeClose()
{
    if (OnBeforeClose)
        OnBeforeClose(this);
}
void TCustomComPort::DoBeforeOpen()
{
    if (OnBeforeOpen)
        OnBeforeOpen(this);
}
void TCustomComPort::DoRxChar(int32_t count)
{
    if (OnRxChar)
        OnRxChar(this, count);
}
void TCustomComPort::DoRxBuf(const void* buffer, int32_t count)
{
    if (OnRxBuf)
        OnRxBuf(this, buffer, count);
}
void TCustomComPort::DoTxEmpty()
{
    if (OnTxEmpty)
        OnTxEmpty(this);
}
void TCustomComPort::DoBreak()
{
    if (OnBreak)
        OnBreak(this);
}
void TCustomComPort::DoRing()
{
    if (OnRing)
        OnRing(this);
}
void TCustomComPort::DoRxFlag()
{
    if (OnRxFlag)
        OnRxFlag(this);
}
void TCustomComPort::DoCTSChange(bool onOff)
{
    if (OnCTSChange)
        OnCTSChange(this, onOff);
}
void TCustomComPort::DoDSRChange(bool onOff)
{
    if (OnDSRChange)
        OnDSRChange(this, onOff);
}
void TCustomComPort::DoError(TComErrors errors)
{
    if (OnError)
        OnError(this, errors);
}
void TCustomComPort::DoRLSDChange(bool onOff)
{
    if (OnRLSDChange)
        OnRLSDChange(this, onOff);
}
void TCustomComPort::DoRx80Full()
{
    if (OnRx80Full)
        OnRx80Full(this);
}
