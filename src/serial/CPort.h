#pragma once
// The serial port component: one object owns one serial device, keeps its line
// settings, applies every change to the open device at once, and performs blocking
// reads and writes bounded by the port's time-outs. While open it runs an event
// thread that delivers device events to the hooks on the user-interface thread.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "framework/component.h"
#include "framework/exceptions.h"
#include "serial/com_hook.h"
#include "serial/serial_types.h"

class EComPort : public Exception {
public:
    // The message is the table text for code, plus " (win error code: N)" when a
    // system error (an errno value) is given.
    EComPort(int code, int systemError = -1);
    int ErrorCode() const { return FCode; }
    int SystemError() const { return FSystemError; }
    const char* className() const noexcept override { return "EComPort"; }

private:
    int FCode;
    int FSystemError;
};

// EComPort codes used by this layer.
enum : int {
    CError_OpenFailed = 1,
    CError_WriteFailed = 2,
    CError_ReadFailed = 3,
    CError_InvalidAsync = 4,
    CError_PurgeFailed = 5,
    CError_AsyncCheck = 6,
    CError_SetStateFailed = 7,
    CError_TimeoutsFailed = 8,
    CError_SetupComFailed = 9,
    CError_ClearComFailed = 10,
    CError_ModemStatFailed = 11,
    CError_EscapeComFailed = 12,
    CError_TransmitFailed = 13,
    CError_ConnChangeProp = 14,
    CError_EnumPortsFailed = 15,
    CError_StoreFailed = 16,
    CError_LoadFailed = 17,
    CError_RegFailed = 18,
    CError_LedStateFailed = 19,
    CError_ThreadCreated = 20,
    CError_WaitFailed = 21,
    CError_HasLink = 22,
    CError_RegError = 23,
};

class TCustomComPort;

class TComParity {
public:
    explicit TComParity(TCustomComPort* owner = nullptr) : FComPort(owner) { }
    TParityBits Bits() const { return FBits; }
    void SetBits(TParityBits v);
    bool Check() const { return FCheck; }
    void SetCheck(bool v);
    bool Replace() const { return FReplace; }
    void SetReplace(bool v);
    char ReplaceChar() const { return FReplaceChar; }
    void SetReplaceChar(char v);
    // Copies the fields only: applies nothing and keeps the owner.
    void Assign(const TComParity& source);
    TCustomComPort* ComPort() const { return FComPort; }

private:
    void Changed();
    TCustomComPort* FComPort;
    TParityBits FBits = prNone;
    bool FCheck = false;
    bool FReplace = false;
    char FReplaceChar = 0;
};

class TComFlowControl {
public:
    explicit TComFlowControl(TCustomComPort* owner = nullptr) : FComPort(owner) { }
    bool OutCTSFlow() const { return FOutCTSFlow; }
    void SetOutCTSFlow(bool v);
    bool OutDSRFlow() const { return FOutDSRFlow; }
    void SetOutDSRFlow(bool v);
    TDTRFlowControl ControlDTR() const { return FControlDTR; }
    void SetControlDTR(TDTRFlowControl v);
    TRTSFlowControl ControlRTS() const { return FControlRTS; }
    void SetControlRTS(TRTSFlowControl v);
    bool XonXoffOut() const { return FXonXoffOut; }
    void SetXonXoffOut(bool v);
    bool XonXoffIn() const { return FXonXoffIn; }
    void SetXonXoffIn(bool v);
    bool DSRSensitivity() const { return FDSRSensitivity; }
    void SetDSRSensitivity(bool v);
    bool TxContinueOnXoff() const { return FTxContinueOnXoff; }
    void SetTxContinueOnXoff(bool v);
    char XonChar() const { return FXonChar; }
    void SetXonChar(char v);
    char XoffChar() const { return FXoffChar; }
    void SetXoffChar(char v);
    // Summary of ControlRTS, OutCTSFlow, XonXoffIn and XonXoffOut. Writing it always
    // applies the line settings of an open owner, even when nothing changed.
    TFlowControl FlowControl() const;
    void SetFlowControl(TFlowControl v);
    void Assign(const TComFlowControl& source);
    TCustomComPort* ComPort() const { return FComPort; }

private:
    void Changed();
    TCustomComPort* FComPort;
    bool FOutCTSFlow = false;
    bool FOutDSRFlow = false;
    TDTRFlowControl FControlDTR = dtrDisable;
    TRTSFlowControl FControlRTS = rtsDisable;
    bool FXonXoffOut = false;
    bool FXonXoffIn = false;
    bool FDSRSensitivity = false;
    bool FTxContinueOnXoff = false;
    char FXonChar = 17;
    char FXoffChar = 19;
};

class TComTimeouts {
public:
    explicit TComTimeouts(TCustomComPort* owner = nullptr) : FComPort(owner) { }
    int32_t ReadInterval() const { return FReadInterval; }
    void SetReadInterval(int32_t v);
    int32_t ReadTotalMultiplier() const { return FReadTotalMultiplier; }
    void SetReadTotalMultiplier(int32_t v);
    int32_t ReadTotalConstant() const { return FReadTotalConstant; }
    void SetReadTotalConstant(int32_t v);
    int32_t WriteTotalMultiplier() const { return FWriteTotalMultiplier; }
    void SetWriteTotalMultiplier(int32_t v);
    int32_t WriteTotalConstant() const { return FWriteTotalConstant; }
    void SetWriteTotalConstant(int32_t v);
    void Assign(const TComTimeouts& source);
    TCustomComPort* ComPort() const { return FComPort; }

private:
    void Set(int32_t& field, int32_t v);
    TCustomComPort* FComPort;
    int32_t FReadInterval = -1;
    int32_t FReadTotalMultiplier = 0;
    int32_t FReadTotalConstant = 0;
    int32_t FWriteTotalMultiplier = 100;
    int32_t FWriteTotalConstant = 1000;
};

class TComBuffer {
public:
    explicit TComBuffer(TCustomComPort* owner = nullptr) : FComPort(owner) { }
    int32_t InputSize() const { return FInputSize; }
    void SetInputSize(int32_t v); // a positive odd size is lowered by one
    int32_t OutputSize() const { return FOutputSize; }
    void SetOutputSize(int32_t v);
    void Assign(const TComBuffer& source);
    TCustomComPort* ComPort() const { return FComPort; }

private:
    void Set(int32_t& field, int32_t v);
    TCustomComPort* FComPort;
    int32_t FInputSize = 1024;
    int32_t FOutputSize = 1024;
};

class TSerialDevice;
class TComThread;

class TCustomComPort : public TComponent {
public:
    using TNotifyEvent = std::function<void(TCustomComPort* sender)>;
    using TRxCharEvent = std::function<void(TCustomComPort* sender, int32_t count)>;
    using TRxBufEvent = std::function<void(TCustomComPort* sender, const void* buffer, int32_t count)>;
    using TComSignalEvent = std::function<void(TCustomComPort* sender, bool onOff)>;
    using TComErrorEvent = std::function<void(TCustomComPort* sender, TComErrors errors)>;

    explicit TCustomComPort(TComponent* owner = nullptr);
    ~TCustomComPort() override; // CloseForDestruction, then frees the sub-objects

    void OpenPort();
    // Waits (bounded by the write time-out) until written bytes have left, then
    // stops event handling and closes the device.
    void ClosePort();
    bool Connected() const { return FConnected; }
    void SetConnected(bool v);

    int32_t WriteBytes(const void* buffer, int32_t count);
    int32_t ReadBytes(void* buffer, int32_t count);
    void PurgeBuffers(bool input, bool output);
    int32_t PendingInputCount();
    TComSignals ModemSignals();
    TComErrors LineErrors(); // reads and clears the error flags
    void AbortPending();

    const std::string& Port() const { return FPort; }
    void SetPort(const std::string& v);
    TBaudRate BaudRate() const { return FBaudRate; }
    void SetBaudRate(TBaudRate v);
    int32_t CustomBaudRate() const { return FCustomBaudRate; }
    void SetCustomBaudRate(int32_t v);
    TDataBits DataBits() const { return FDataBits; }
    void SetDataBits(TDataBits v);
    TStopBits StopBits() const { return FStopBits; }
    void SetStopBits(TStopBits v);
    bool DiscardNull() const { return FDiscardNull; }
    void SetDiscardNull(bool v);
    char EventChar() const { return FEventChar; }
    void SetEventChar(char v);
    TComEvents Events() const { return FEvents; }
    void SetEvents(TComEvents v); // takes effect at the next OpenPort
    TSyncMethod SyncMethod() const { return FSyncMethod; }
    void SetSyncMethod(TSyncMethod v); // refused with code 14 while open

    TComParity* Parity() { return FParity.get(); }
    const TComParity* Parity() const { return FParity.get(); }
    void SetParity(const TComParity& v); // copy, then apply once
    TComFlowControl* FlowControl() { return FFlowControl.get(); }
    const TComFlowControl* FlowControl() const { return FFlowControl.get(); }
    void SetFlowControl(const TComFlowControl& v);
    TComTimeouts* Timeouts() { return FTimeouts.get(); }
    const TComTimeouts* Timeouts() const { return FTimeouts.get(); }
    void SetTimeouts(const TComTimeouts& v);
    TComBuffer* Buffer() { return FBuffer.get(); }
    const TComBuffer* Buffer() const { return FBuffer.get(); }
    void SetBuffer(const TComBuffer& v);

    // The latency timer of the adapter behind Port in milliseconds (FTDI), or -1 when it has none.
    int LatencyTimerMs() const;

    // True while the event thread runs.
    bool ThreadCreated() const { return FThreadCreated; }

    // Apply steps, called by the sub-objects; each does nothing while closed.
    virtual void ApplyLineSettings();
    virtual void ApplyTimeoutSettings();
    virtual void ApplyBufferSizes();

    // Notification hooks, unassigned by default; each may be assigned while the port is
    // open. OnRxBuf is never fired: the port never reads received data on its own initiative.
    TComHook<TNotifyEvent> OnAfterOpen, OnAfterClose, OnBeforeOpen, OnBeforeClose;
    TComHook<TRxCharEvent> OnRxChar;
    TComHook<TRxBufEvent> OnRxBuf;
    TComHook<TNotifyEvent> OnTxEmpty, OnBreak, OnRing, OnRxFlag, OnRx80Full;
    TComHook<TComSignalEvent> OnCTSChange, OnDSRChange, OnRLSDChange;
    TComHook<TComErrorEvent> OnError;

protected:
    // Closes the port and ends its event thread, whatever fails on the way. The event
    // thread calls virtual steps of the port, so every class derived from a port calls
    // this in its own destructor: the thread must have ended before any part of the
    // object is destroyed.
    void CloseForDestruction() noexcept;

    virtual void CreateDeviceHandle();
    virtual void CloseDeviceHandle();
    virtual void ApplyAllSettings();

    virtual void DoAfterClose();
    virtual void DoAfterOpen();
    virtual void DoBeforeClose();
    virtual void DoBeforeOpen();
    virtual void DoRxChar(int32_t count);
    virtual void DoRxBuf(const void* buffer, int32_t count);
    virtual void DoTxEmpty();
    virtual void DoBreak();
    virtual void DoRing();
    virtual void DoRxFlag();
    virtual void DoCTSChange(bool onOff);
    virtual void DoDSRChange(bool onOff);
    virtual void DoError(TComErrors errors);
    virtual void DoRLSDChange(bool onOff);
    virtual void DoRx80Full();
    // The events a delivery has work for: those whose hook is assigned. A delivery for
    // none of them is skipped, so an open port without hooks costs the user-interface
    // thread nothing. A subclass that overrides a notification step widens this too.
    // Called on the event thread: an override reads only what is safe to read there.
    virtual TComEvents HandledEvents() const;

private:
    friend class TComThread;
    // Runs the per-event steps for one batch of events (event thread delivery).
    void DispatchEvents(TComEvents events);
    bool DrainOutput();

    std::unique_ptr<TComThread> FEventThread;
    bool FThreadCreated = false;
    std::unique_ptr<TSerialDevice> FDevice;
    bool FConnected = false;
    TBaudRate FBaudRate = br9600;
    int32_t FCustomBaudRate = 9600;
    std::string FPort = "COM1";
    TStopBits FStopBits = sbOneStopBit;
    TDataBits FDataBits = dbEight;
    bool FDiscardNull = false;
    char FEventChar = 0;
    TComEvents FEvents = AllComEvents;
    std::unique_ptr<TComParity> FParity;
    std::unique_ptr<TComFlowControl> FFlowControl;
    std::unique_ptr<TComTimeouts> FTimeouts;
    std::unique_ptr<TComBuffer> FBuffer;
    TSyncMethod FSyncMethod = smThreadSync;
};

class TComPort : public TCustomComPort {
public:
    using TCustomComPort::TCustomComPort;
    ~TComPort() override { CloseForDestruction(); }
};
