#include "serial/line_settings.h"

#include "serial/CPort.h"
#include "serial/serial_platform.h"

TLineSettings BuildLineSettings(const TCustomComPort& port)
{
    TLineSettings s;
    s.BaudRate = uint32_t(port.BaudRate() == brCustom ? port.CustomBaudRate() : StandardBaudRate(port.BaudRate()));

    const TComFlowControl& fc = *port.FlowControl();
    const TComParity& parity = *port.Parity();
    uint32_t flags = lsBinary;
    if (port.DiscardNull())
        flags |= lsNull;
    if (fc.OutCTSFlow())
        flags |= lsOutCTSFlow;
    if (fc.OutDSRFlow())
        flags |= lsOutDSRFlow;
    flags |= (uint32_t(fc.ControlDTR()) << 4) & lsDTRControlMask;
    flags |= (uint32_t(fc.ControlRTS()) << 12) & lsRTSControlMask;
    if (fc.XonXoffOut())
        flags |= lsOutX;
    if (fc.XonXoffIn())
        flags |= lsInX;
    if (fc.DSRSensitivity())
        flags |= lsDSRSensitivity;
    if (fc.TxContinueOnXoff())
        flags |= lsTxContinueOnXoff;
    if (parity.Check()) {
        flags |= lsParityCheck;
        if (parity.Replace())
            flags |= lsErrorChar;
    }
    s.Flags = flags;

    const int32_t limit = port.Buffer()->InputSize() / 4;
    s.XonLim = uint16_t(limit);
    s.XoffLim = uint16_t(limit);
    s.ByteSize = uint8_t(5 + int(port.DataBits()));
    s.Parity = uint8_t(parity.Bits());
    s.StopBits = uint8_t(port.StopBits());
    s.XonChar = fc.XonChar();
    s.XoffChar = fc.XoffChar();
    s.ErrorChar = (parity.Check() && parity.Replace()) ? parity.ReplaceChar() : 0;
    s.EventChar = port.EventChar();
    return s;
}

TComErrors ComErrorsFromFlags(uint32_t flags, bool parityCheck)
{
    TComErrors e = 0;
    if (flags & efFrame)
        e |= 1u << ceFrame;
    if ((flags & efRxParity) && parityCheck)
        e |= 1u << ceRxParity;
    if (flags & efOverrun)
        e |= 1u << ceOverrun;
    if (flags & efBreak)
        e |= 1u << ceBreak;
    if (flags & efIOE)
        e |= 1u << ceIO;
    if (flags & efMode)
        e |= 1u << ceMode;
    if (flags & efRxOver)
        e |= 1u << ceRxOver;
    if (flags & efTxFull)
        e |= 1u << ceTxFull;
    return e;
}
