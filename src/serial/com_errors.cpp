// The component's error texts, as EComPort carries them.
#include "serial/CPort.h"

namespace {

const char* const ComErrorMessages[] = {
    "",
    "Unable to open com port",
    "WriteFile function failed",
    "ReadFile function failed",
    "Invalid Async parameter",
    "PurgeComm function failed",
    "Unable to get async status",
    "SetCommState function failed",
    "SetCommTimeouts failed",
    "SetupComm function failed",
    "ClearCommError function failed",
    "GetCommModemStatus function failed",
    "EscapeCommFunction function failed",
    "TransmitCommChar function failed",
    "Cannot set property while connected",
    "EnumPorts function failed",
    "Failed to store settings",
    "Failed to load settings",
    "Link (un)registration failed",
    "Cannot change led state if ComPort is selected",
    "Cannot wait for event if event thread is created",
    "WaitForEvent method failed",
    "A component is linked to OnRxBuf event",
    "Registry error",
};

std::string ComErrorText(int code, int systemError)
{
    std::string text =
        (code >= 1 && code < int(std::size(ComErrorMessages))) ? ComErrorMessages[code] : "Unknown com port error";
    if (systemError != -1)
        text += " (win error code: " + std::to_string(systemError) + ")";
    return text;
}

} // namespace

EComPort::EComPort(int code, int systemError)
    : Exception(ComErrorText(code, systemError)), FCode(code), FSystemError(systemError)
{
}
