// The port's settings objects (parity, flow control, time-outs, buffer sizes): each change
// reaches the port through Changed(), which applies it at once while connected.
#include "serial/CPort.h"

void TComParity::Changed()
{
    if (FComPort)
        FComPort->ApplyLineSettings();
}
void TComParity::SetBits(TParityBits v)
{
    if (v != FBits) {
        FBits = v;
        Changed();
    }
}
void TComParity::SetCheck(bool v)
{
    if (v != FCheck) {
        FCheck = v;
        Changed();
    }
}
void TComParity::SetReplace(bool v)
{
    if (v != FReplace) {
        FReplace = v;
        Changed();
    }
}
void TComParity::SetReplaceChar(char v)
{
    if (v != FReplaceChar) {
        FReplaceChar = v;
        Changed();
    }
}
void TComParity::Assign(const TComParity& s)
{
    FBits = s.FBits;
    FCheck = s.FCheck;
    FReplace = s.FReplace;
    FReplaceChar = s.FReplaceChar;
}

void TComFlowControl::Changed()
{
    if (FComPort)
        FComPort->ApplyLineSettings();
}
void TComFlowControl::SetOutCTSFlow(bool v)
{
    if (v != FOutCTSFlow) {
        FOutCTSFlow = v;
        Changed();
    }
}
void TComFlowControl::SetOutDSRFlow(bool v)
{
    if (v != FOutDSRFlow) {
        FOutDSRFlow = v;
        Changed();
    }
}
void TComFlowControl::SetControlDTR(TDTRFlowControl v)
{
    if (v != FControlDTR) {
        FControlDTR = v;
        Changed();
    }
}
void TComFlowControl::SetControlRTS(TRTSFlowControl v)
{
    if (v != FControlRTS) {
        FControlRTS = v;
        Changed();
    }
}
void TComFlowControl::SetXonXoffOut(bool v)
{
    if (v != FXonXoffOut) {
        FXonXoffOut = v;
        Changed();
    }
}
void TComFlowControl::SetXonXoffIn(bool v)
{
    if (v != FXonXoffIn) {
        FXonXoffIn = v;
        Changed();
    }
}
void TComFlowControl::SetDSRSensitivity(bool v)
{
    if (v != FDSRSensitivity) {
        FDSRSensitivity = v;
        Changed();
    }
}
void TComFlowControl::SetTxContinueOnXoff(bool v)
{
    if (v != FTxContinueOnXoff) {
        FTxContinueOnXoff = v;
        Changed();
    }
}
void TComFlowControl::SetXonChar(char v)
{
    if (v != FXonChar) {
        FXonChar = v;
        Changed();
    }
}
void TComFlowControl::SetXoffChar(char v)
{
    if (v != FXoffChar) {
        FXoffChar = v;
        Changed();
    }
}

TFlowControl TComFlowControl::FlowControl() const
{
    if (FControlRTS == rtsHandshake && FOutCTSFlow && !FXonXoffIn && !FXonXoffOut)
        return fcHardware;
    if (FControlRTS == rtsDisable && !FOutCTSFlow && FXonXoffIn && FXonXoffOut)
        return fcSoftware;
    if (FControlRTS == rtsDisable && !FOutCTSFlow && !FXonXoffIn && !FXonXoffOut)
        return fcNone;
    return fcCustom;
}

void TComFlowControl::SetFlowControl(TFlowControl v)
{
    if (v != fcCustom) {
        FControlRTS = rtsDisable;
        FOutCTSFlow = false;
        FXonXoffIn = false;
        FXonXoffOut = false;
        if (v == fcHardware) {
            FControlRTS = rtsHandshake;
            FOutCTSFlow = true;
        } else if (v == fcSoftware) {
            FXonXoffIn = true;
            FXonXoffOut = true;
        }
    }
    Changed();
}

void TComFlowControl::Assign(const TComFlowControl& s)
{
    FOutCTSFlow = s.FOutCTSFlow;
    FOutDSRFlow = s.FOutDSRFlow;
    FControlDTR = s.FControlDTR;
    FControlRTS = s.FControlRTS;
    FXonXoffOut = s.FXonXoffOut;
    FXonXoffIn = s.FXonXoffIn;
    FDSRSensitivity = s.FDSRSensitivity;
    FTxContinueOnXoff = s.FTxContinueOnXoff;
    FXonChar = s.FXonChar;
    FXoffChar = s.FXoffChar;
}

void TComTimeouts::Set(int32_t& field, int32_t v)
{
    if (v == field)
        return;
    field = v;
    if (FComPort)
        FComPort->ApplyTimeoutSettings();
}
void TComTimeouts::SetReadInterval(int32_t v)
{
    Set(FReadInterval, v);
}
void TComTimeouts::SetReadTotalMultiplier(int32_t v)
{
    Set(FReadTotalMultiplier, v);
}
void TComTimeouts::SetReadTotalConstant(int32_t v)
{
    Set(FReadTotalConstant, v);
}
void TComTimeouts::SetWriteTotalMultiplier(int32_t v)
{
    Set(FWriteTotalMultiplier, v);
}
void TComTimeouts::SetWriteTotalConstant(int32_t v)
{
    Set(FWriteTotalConstant, v);
}
void TComTimeouts::Assign(const TComTimeouts& s)
{
    FReadInterval = s.FReadInterval;
    FReadTotalMultiplier = s.FReadTotalMultiplier;
    FReadTotalConstant = s.FReadTotalConstant;
    FWriteTotalMultiplier = s.FWriteTotalMultiplier;
    FWriteTotalConstant = s.FWriteTotalConstant;
}

void TComBuffer::Set(int32_t& field, int32_t v)
{
    // Compared before the adjustment: 4097 on a buffer of 4096 still applies.
    if (v == field)
        return;
    field = (v > 0 && v % 2 == 1) ? v - 1 : v;
    if (FComPort)
        FComPort->ApplyBufferSizes();
}
void TComBuffer::SetInputSize(int32_t v)
{
    Set(FInputSize, v);
}
void TComBuffer::SetOutputSize(int32_t v)
{
    Set(FOutputSize, v);
}
void TComBuffer::Assign(const TComBuffer& s)
{
    FInputSize = s.FInputSize;
    FOutputSize = s.FOutputSize;
}
