#pragma once
// The program's own serial port: a TComPort for a command-and-reply protocol that
// logs every buffer it sends and receives.
#include "serial/CPort.h"

MORAVENT_EXCEPTION(EBriskoComTimeout, Exception); // "No Reply Within Time Out Period"

class TBriskoComPort : public TComPort {
public:
    // Receive buffer 4096 bytes, a 1000 ms total read time-out and no interval.
    explicit TBriskoComPort(TComponent* owner = nullptr);
    ~TBriskoComPort() override { CloseForDestruction(); }

    // Discards pending input, then writes all count bytes. A write that moves
    // nothing within the write time-out raises EComPort code 2.
    void SendBuffer(const void* buffer, int32_t count);
    // SendBuffer, then one read of replyCount bytes; raises EBriskoComTimeout when
    // fewer arrive (the bytes that did arrive stay in reply).
    void SendBufferExpect(const void* data, int32_t dataCount, void* reply, int32_t replyCount);
    void SetReadTimeout(int32_t ms);
    // Returns after ms milliseconds; on the main thread messages (timers, window events,
    // the synchronisation queue) are processed meanwhile, sleeping between them.
    static void Delay(int32_t ms);
    // Takes over the line settings (not time-outs or buffer sizes) of source,
    // reopening this port when it was open.
    void CopySettings(TComPort* source);
    int32_t BaudRateValue() const;
};
