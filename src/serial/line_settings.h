#pragma once
// The platform-neutral line settings record, built from a port's properties. Field
// values follow the device control block the port's settings were designed around,
// so any backend can translate the one record.
#include <cstdint>

#include "serial/serial_types.h"

class TCustomComPort;

// Flag word bits.
enum : uint32_t {
    lsBinary = 0x0001,
    lsParityCheck = 0x0002,
    lsOutCTSFlow = 0x0004,
    lsOutDSRFlow = 0x0008,
    lsDTRControlMask = 0x0030, // 0x10 on, 0x20 handshake
    lsDSRSensitivity = 0x0040,
    lsTxContinueOnXoff = 0x0080,
    lsOutX = 0x0100,
    lsInX = 0x0200,
    lsErrorChar = 0x0400,
    lsNull = 0x0800,
    lsRTSControlMask = 0x3000, // 0x1000 on, 0x2000 handshake, 0x3000 toggle
    lsAbortOnError = 0x4000,
};

struct TLineSettings {
    uint32_t BaudRate = 0;
    uint32_t Flags = 0;
    uint16_t XonLim = 0;
    uint16_t XoffLim = 0;
    uint8_t ByteSize = 8;
    uint8_t Parity = 0;   // TParityBits ordinal
    uint8_t StopBits = 0; // TStopBits ordinal
    char XonChar = 0;
    char XoffChar = 0;
    char ErrorChar = 0;
    char EventChar = 0;

    TDTRFlowControl DTRControl() const { return TDTRFlowControl((Flags & lsDTRControlMask) >> 4); }
    TRTSFlowControl RTSControl() const { return TRTSFlowControl((Flags & lsRTSControlMask) >> 12); }
};

TLineSettings BuildLineSettings(const TCustomComPort& port);

// Line errors from the device's error flags; a parity error counts only while the
// port checks parity.
TComErrors ComErrorsFromFlags(uint32_t flags, bool parityCheck);
