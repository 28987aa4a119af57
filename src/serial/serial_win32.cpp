// Win32 serial backend: the communications API on a device opened for overlapped I/O.
// Errors are GetLastError values, so the port's messages read "(win error code: N)" as
// they say.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include "serial/line_time.h"
#include "serial/serial_deadline.h"
#include "serial/serial_platform.h"

namespace {

DWORD AsDword(int32_t v)
{
    return v == -1 ? MAXDWORD : DWORD(v);
}

// Errors of calls a device without modem lines (a pseudo-terminal under Wine) cannot serve.
bool NotSupported(DWORD err)
{
    return err == ERROR_INVALID_FUNCTION || err == ERROR_NOT_SUPPORTED || err == ERROR_INVALID_PARAMETER;
}

// One overlapped request with its own manual-reset event, freed with the request.
class TOverlapped {
public:
    TOverlapped() { Block.hEvent = ::CreateEventA(nullptr, TRUE, TRUE, nullptr); }
    ~TOverlapped()
    {
        if (Block.hEvent)
            ::CloseHandle(Block.hEvent);
    }
    TOverlapped(const TOverlapped&) = delete;
    TOverlapped& operator=(const TOverlapped&) = delete;
    bool Valid() const { return Block.hEvent != nullptr; }
    OVERLAPPED Block{};
};

// Starts a read or write and waits for it; the device's time-outs bound it.
int Transfer(HANDLE h, bool write, void* buffer, DWORD count, int32_t& done)
{
    TOverlapped ov;
    if (!ov.Valid())
        return int(::GetLastError());
    DWORD n = 0;
    const BOOL started =
        write ? ::WriteFile(h, buffer, count, nullptr, &ov.Block) : ::ReadFile(h, buffer, count, nullptr, &ov.Block);
    if (!started && ::GetLastError() != ERROR_IO_PENDING)
        return int(::GetLastError());
    if (!::GetOverlappedResult(h, &ov.Block, &n, TRUE)) {
        // A transfer the time-outs ended is a short count, not a failure (Wine reports it so).
        if (::GetLastError() != ERROR_TIMEOUT)
            return int(::GetLastError());
    }
    done = int32_t(n);
    return 0;
}

class TWin32EventWait : public TSerialEventWait {
public:
    TWin32EventWait(HANDLE device, uint32_t mask) : FDevice(device), FFullMask(mask)
    {
        FStop = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
        SetMask(mask);
    }
    ~TWin32EventWait() override
    {
        ::SetCommMask(FDevice, 0); // ends a wait still pending
        if (FStop)
            ::CloseHandle(FStop);
    }

    void SetMask(uint32_t mask) override
    {
        mask &= FFullMask;
        if (mask == FMask && FMaskSet)
            return;
        FMaskSet = true;
        FMask = mask;
        ::SetCommMask(FDevice, mask);
    }

    bool Wait(uint32_t& events) override
    {
        events = 0;
        if (!FStop)
            return false;
        if (FMask == 0) {
            // Nothing to wait for: come back now and then so the caller can widen the mask.
            return ::WaitForSingleObject(FStop, IdleRecheckMs) != WAIT_OBJECT_0;
        }
        TOverlapped ov;
        DWORD mask = 0;
        if (!ov.Valid())
            return ::WaitForSingleObject(FStop, IdleRecheckMs) != WAIT_OBJECT_0;
        ::ResetEvent(ov.Block.hEvent);
        if (!::WaitCommEvent(FDevice, &mask, &ov.Block) && ::GetLastError() != ERROR_IO_PENDING) {
            // A device that cannot wait (gone, or an emulation without events): do not spin.
            return ::WaitForSingleObject(FStop, IdleRecheckMs) != WAIT_OBJECT_0;
        }
        const HANDLE handles[2] = {FStop, ov.Block.hEvent};
        const DWORD which = ::WaitForMultipleObjects(2, handles, FALSE, INFINITE);
        if (which != WAIT_OBJECT_0 + 1 || ::WaitForSingleObject(FStop, 0) == WAIT_OBJECT_0) {
            ::SetCommMask(FDevice, FMask); // cancels the pending wait before its block goes
            DWORD n = 0;
            ::GetOverlappedResult(FDevice, &ov.Block, &n, TRUE);
            return false;
        }
        DWORD n = 0;
        if (!::GetOverlappedResult(FDevice, &ov.Block, &n, FALSE))
            return ::WaitForSingleObject(FStop, IdleRecheckMs) != WAIT_OBJECT_0;
        events = mask & FMask;
        // A completion that names no event (Wine reports an empty mask) must not make the loop spin.
        if (events == 0 && ::WaitForSingleObject(FStop, 10) == WAIT_OBJECT_0)
            return false;
        return true;
    }

    void Stop() override
    {
        if (FStop)
            ::SetEvent(FStop);
    }

private:
    static constexpr DWORD IdleRecheckMs = 100;
    HANDLE FDevice;
    const uint32_t FFullMask;
    uint32_t FMask = 0;
    bool FMaskSet = false;
    HANDLE FStop = nullptr;
};

class TWin32SerialDevice : public TSerialDevice {
public:
    ~TWin32SerialDevice() override { Close(); }

    int Open(const std::string& portName) override
    {
        if (FHandle != INVALID_HANDLE_VALUE)
            return ERROR_BUSY;
        const std::string path = SerialDevicePath(portName);
        if (path.empty())
            return ERROR_FILE_NOT_FOUND;
        // Not shared: a second open of the port, by anyone, is refused with access denied.
        const HANDLE h = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                       FILE_FLAG_OVERLAPPED, nullptr);
        if (h == INVALID_HANDLE_VALUE)
            return int(::GetLastError());
        FHandle = h;
        FApplied = {};
        FAppliedValid = false;
        FLineTime.Clear();
        return 0;
    }

    void Close() override
    {
        if (FHandle == INVALID_HANDLE_VALUE)
            return;
        ::CloseHandle(FHandle);
        FHandle = INVALID_HANDLE_VALUE;
    }

    bool IsOpen() const override { return FHandle != INVALID_HANDLE_VALUE; }

    int ApplyLineSettings(const TLineSettings& s) override
    {
        if (!IsOpen())
            return ERROR_INVALID_HANDLE;
        DCB dcb{}; // built from scratch: every field not set is zero
        dcb.DCBlength = sizeof dcb;
        dcb.BaudRate = s.BaudRate;
        dcb.fBinary = TRUE;
        dcb.fParity = (s.Flags & lsParityCheck) ? TRUE : FALSE;
        dcb.fOutxCtsFlow = (s.Flags & lsOutCTSFlow) ? TRUE : FALSE;
        dcb.fOutxDsrFlow = (s.Flags & lsOutDSRFlow) ? TRUE : FALSE;
        dcb.fDtrControl = (s.Flags & lsDTRControlMask) >> 4;
        dcb.fDsrSensitivity = (s.Flags & lsDSRSensitivity) ? TRUE : FALSE;
        dcb.fTXContinueOnXoff = (s.Flags & lsTxContinueOnXoff) ? TRUE : FALSE;
        dcb.fOutX = (s.Flags & lsOutX) ? TRUE : FALSE;
        dcb.fInX = (s.Flags & lsInX) ? TRUE : FALSE;
        dcb.fErrorChar = (s.Flags & lsErrorChar) ? TRUE : FALSE;
        dcb.fNull = (s.Flags & lsNull) ? TRUE : FALSE;
        dcb.fRtsControl = (s.Flags & lsRTSControlMask) >> 12;
        dcb.fAbortOnError = FALSE;
        dcb.XonLim = s.XonLim;
        dcb.XoffLim = s.XoffLim;
        dcb.ByteSize = s.ByteSize;
        dcb.Parity = s.Parity;
        dcb.StopBits = s.StopBits;
        dcb.XonChar = s.XonChar;
        dcb.XoffChar = s.XoffChar;
        dcb.ErrorChar = s.ErrorChar;
        dcb.EvtChar = s.EventChar;
        if (!::SetCommState(FHandle, &dcb))
            return int(::GetLastError());
        FLineTime.SetSettings(s);
        return 0;
    }

    int ApplyTimeouts(const TTimeoutSettings& t) override
    {
        if (!IsOpen())
            return ERROR_INVALID_HANDLE;
        FTimeouts = t;
        return SetTimeouts(ToComm(t));
    }

    int ApplyBufferSizes(int32_t inputSize, int32_t outputSize) override
    {
        if (!IsOpen())
            return ERROR_INVALID_HANDLE;
        return ::SetupComm(FHandle, DWORD(inputSize), DWORD(outputSize)) ? 0 : int(::GetLastError());
    }

    int Read(void* buffer, int32_t count, int32_t& done) override
    {
        done = 0;
        if (!IsOpen())
            return ERROR_INVALID_HANDLE;
        if (count <= 0)
            return 0;
        // A completed write has only queued its bytes: a reply's total time-out counts from
        // the moment the request has left the line, so the constant grows by what is still
        // on its way out.
        COMMTIMEOUTS wanted = ToComm(FTimeouts);
        const int64_t busyMs = (FLineTime.BusyNs() + 999999) / 1000000;
        const bool totalTimed = (wanted.ReadTotalTimeoutConstant != 0 || wanted.ReadTotalTimeoutMultiplier != 0) &&
            wanted.ReadTotalTimeoutConstant != MAXDWORD;
        if (totalTimed && busyMs > 0)
            wanted.ReadTotalTimeoutConstant =
                DWORD(std::min<int64_t>(MAXDWORD - 1, wanted.ReadTotalTimeoutConstant + busyMs));
        if (int err = SetTimeouts(wanted); err != 0)
            return err;
        const int err = Transfer(FHandle, false, buffer, DWORD(count), done);
        if (done > 0)
            FLineTime.Answered();
        return err;
    }

    int Write(const void* buffer, int32_t count, int32_t& done) override
    {
        done = 0;
        if (!IsOpen())
            return ERROR_INVALID_HANDLE;
        if (count <= 0)
            return 0;
        if (int err = SetTimeouts(ToComm(FTimeouts)); err != 0)
            return err;
        const int err = Transfer(FHandle, true, const_cast<void*>(buffer), DWORD(count), done);
        if (done > 0)
            FLineTime.Queued(done);
        return err;
    }

    int Purge(bool input, bool output) override
    {
        if (!IsOpen())
            return ERROR_INVALID_HANDLE;
        const DWORD flags = (input ? PURGE_RXCLEAR : 0) | (output ? PURGE_TXCLEAR : 0);
        if (flags == 0)
            return 0;
        if (output)
            FLineTime.Clear();
        return ::PurgeComm(FHandle, flags) ? 0 : int(::GetLastError());
    }

    int AbortPending() override
    {
        if (!IsOpen())
            return ERROR_INVALID_HANDLE;
        return ::PurgeComm(FHandle, PURGE_TXABORT | PURGE_RXABORT) ? 0 : int(::GetLastError());
    }

    int Drain() override
    {
        if (!IsOpen())
            return ERROR_INVALID_HANDLE;
        // Emulated ports report queue counts that cannot be trusted; what was written
        // leaves at the line's pace, so waiting for that (bounded by the write time-out) is
        // what a close needs before it lowers the lines.
        const int64_t busy = FLineTime.BusyNs();
        if (busy <= 0)
            return 0;
        TDeadline limit =
            TDeadline::ForTotal(AsDword(FTimeouts.WriteTotalMultiplier), AsDword(FTimeouts.WriteTotalConstant), 0);
        if (limit.Infinite())
            limit = TDeadline::After(10000);
        const int64_t waitNs = std::min(busy, limit.RemainingNs());
        std::this_thread::sleep_for(std::chrono::nanoseconds(std::max<int64_t>(0, waitNs)));
        return busy > waitNs ? int(ERROR_TIMEOUT) : 0;
    }

    int QueuedInput(int32_t& count) override
    {
        count = 0;
        COMSTAT stat{};
        DWORD errors = 0;
        if (!IsOpen())
            return ERROR_INVALID_HANDLE;
        if (!::ClearCommError(FHandle, &errors, &stat))
            return int(::GetLastError());
        count = int32_t(stat.cbInQue);
        return 0;
    }

    int ModemStatus(uint32_t& status) override
    {
        status = 0;
        if (!IsOpen())
            return ERROR_INVALID_HANDLE;
        DWORD bits = 0;
        if (!::GetCommModemStatus(FHandle, &bits)) {
            const DWORD err = ::GetLastError();
            return NotSupported(err) ? 0 : int(err); // no modem lines: all off
        }
        status = bits & (MS_CTS_ON | MS_DSR_ON | MS_RING_ON | MS_RLSD_ON);
        return 0;
    }

    int ErrorFlags(uint32_t& flags) override
    {
        flags = 0;
        if (!IsOpen())
            return ERROR_INVALID_HANDLE;
        DWORD errors = 0;
        COMSTAT stat{};
        if (!::ClearCommError(FHandle, &errors, &stat))
            return int(::GetLastError());
        flags = errors; // the CE_ bits are the error flags' own values
        return 0;
    }

    int SetLines(bool dtr, bool rts) override
    {
        if (!IsOpen())
            return ERROR_INVALID_HANDLE;
        for (DWORD f : {dtr ? DWORD(SETDTR) : DWORD(CLRDTR), rts ? DWORD(SETRTS) : DWORD(CLRRTS)}) {
            if (!::EscapeCommFunction(FHandle, f)) {
                const DWORD err = ::GetLastError();
                if (!NotSupported(err))
                    return int(err);
            }
        }
        return 0;
    }

    std::unique_ptr<TSerialEventWait> CreateEventWait(uint32_t mask) override
    {
        return std::make_unique<TWin32EventWait>(FHandle, mask);
    }

private:
    static COMMTIMEOUTS ToComm(const TTimeoutSettings& t)
    {
        COMMTIMEOUTS c{};
        c.ReadIntervalTimeout = AsDword(t.ReadInterval);
        c.ReadTotalTimeoutMultiplier = AsDword(t.ReadTotalMultiplier);
        c.ReadTotalTimeoutConstant = AsDword(t.ReadTotalConstant);
        // "Return at once with what is queued" (all ones, zero totals): Wine then waits for
        // bytes without end, so ask for "what arrives within 1 ms" instead.
        if (c.ReadIntervalTimeout == MAXDWORD && c.ReadTotalTimeoutMultiplier == 0 && c.ReadTotalTimeoutConstant == 0) {
            c.ReadIntervalTimeout = 0;
            c.ReadTotalTimeoutConstant = 1;
        }
        c.WriteTotalTimeoutMultiplier = AsDword(t.WriteTotalMultiplier);
        c.WriteTotalTimeoutConstant = AsDword(t.WriteTotalConstant);
        return c;
    }

    // Hands the time-outs to the device when they differ from those it holds.
    int SetTimeouts(COMMTIMEOUTS c)
    {
        if (FAppliedValid && std::memcmp(&c, &FApplied, sizeof c) == 0)
            return 0;
        if (!::SetCommTimeouts(FHandle, &c))
            return int(::GetLastError());
        FApplied = c;
        FAppliedValid = true;
        return 0;
    }

    HANDLE FHandle = INVALID_HANDLE_VALUE;
    TTimeoutSettings FTimeouts;
    COMMTIMEOUTS FApplied{};
    bool FAppliedValid = false;
    TLineTime FLineTime;
};

} // namespace

std::unique_ptr<TSerialDevice> CreatePlatformSerialDevice()
{
    return std::make_unique<TWin32SerialDevice>();
}

std::string ListedPortName(const std::string& portName)
{
    return portName;
}

int PortFaultCode(TPortFault fault)
{
    return fault == TPortFault::TimedOut ? ERROR_COUNTER_TIMEOUT : ERROR_INVALID_PARAMETER;
}

std::string SerialDevicePath(const std::string& portName)
{
    if (portName.empty() || portName.find('\0') != std::string::npos)
        return {};
    if (portName.rfind("\\\\.\\", 0) == 0)
        return portName;
    return "\\\\.\\" + portName;
}
