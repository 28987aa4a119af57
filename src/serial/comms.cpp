#include "serial/comms.h"

#include <thread>

#include "framework/message_loop.h"
#include "framework/timers.h"
#include "serial/logging.h"
#include "serial/serial_platform.h"

TBriskoComPort::TBriskoComPort(TComponent* owner) : TComPort(owner)
{
    Buffer()->SetInputSize(4096);
    Timeouts()->SetReadTotalConstant(1000);
    Timeouts()->SetReadTotalMultiplier(0);
    Timeouts()->SetReadInterval(0);
}

void TBriskoComPort::SendBuffer(const void* buffer, int32_t count)
{
    if (count < 0 || (count > 0 && buffer == nullptr))
        throw EComPort(CError_WriteFailed, PortFaultCode(TPortFault::InvalidArgument));
    const auto* bytes = static_cast<const char*>(buffer);
    const std::string logged = count > 0 ? std::string(bytes, size_t(count)) : std::string();
    PurgeBuffers(true, false);
    int32_t left = count;
    while (left > 0) {
        const int32_t written = WriteBytes(bytes + (count - left), left);
        // A write time-out that moved nothing (output held back by flow control, or
        // a stalled adapter) would otherwise repeat for ever.
        if (written <= 0)
            throw EComPort(CError_WriteFailed, PortFaultCode(TPortFault::TimedOut));
        left -= written;
    }
    CommsLogData(Port(), false, logged);
}

void TBriskoComPort::SendBufferExpect(const void* data, int32_t dataCount, void* reply, int32_t replyCount)
{
    if (replyCount < 0 || (replyCount > 0 && reply == nullptr))
        throw EComPort(CError_ReadFailed, PortFaultCode(TPortFault::InvalidArgument));
    SendBuffer(data, dataCount);
    const int32_t received = ReadBytes(reply, replyCount);
    CommsLogData(Port(), true, std::string(static_cast<const char*>(reply), size_t(received)));
    if (received != replyCount) {
        CommsLog("TBriskoComPort.SendBufferExpect: No Reply Within Time Out Period");
        throw EBriskoComTimeout("No Reply Within Time Out Period");
    }
}

void TBriskoComPort::SetReadTimeout(int32_t ms)
{
    Timeouts()->SetReadTotalConstant(ms);
}

void TBriskoComPort::Delay(int32_t ms)
{
    if (!IsMainThread()) {
        if (ms > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        return;
    }
    if (ms <= 0) {
        ProcessMessages();
        return;
    }
    bool expired = false;
    TTimer timer;
    timer.SetSingleShot(true);
    timer.SetPrecise(true);
    timer.SetInterval(ms);
    timer.OnTimer = [&expired] { expired = true; };
    timer.Start();
    // Sleeps until something arrives: the timer, a window event or a synchronisation
    // request (which wakes the wait).
    while (!expired)
        WaitAndProcessMessages();
}

void TBriskoComPort::CopySettings(TComPort* source)
{
    if (!source)
        throw Exception("No port to copy the serial settings from");
    if (source == this)
        return;
    const bool wasOpen = Connected();
    if (wasOpen)
        ClosePort();
    SetBaudRate(source->BaudRate());
    SetCustomBaudRate(source->CustomBaudRate());
    SetDataBits(source->DataBits());
    SetParity(*source->Parity());
    SetPort(source->Port());
    SetStopBits(source->StopBits());
    SetFlowControl(*source->FlowControl());
    if (wasOpen)
        OpenPort();
}

int32_t TBriskoComPort::BaudRateValue() const
{
    return BaudRate() == brCustom ? CustomBaudRate() : StandardBaudRate(BaudRate());
}
