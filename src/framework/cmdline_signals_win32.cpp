// Ctrl-C, Ctrl-Break and closing the console on Windows: the first is counted for the
// program to look at, a second ends the program at once. The handler runs on a thread the
// system starts for it; a blocked read ends by its own time-out, and the program looks then.
#include <windows.h>

#include <atomic>
#include <cstdio>

#include "framework/cmdline.h"

namespace {

std::atomic<int> StopSignals{0};
const char* SecondSignalText = nullptr;

BOOL WINAPI OnConsoleControl(DWORD event)
{
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT)
        return FALSE;
    if (StopSignals.load() > 0 && SecondSignalText) {
        // The system closes whatever is open; a port is not left held.
        std::fputs(SecondSignalText, stderr);
        std::fflush(stderr);
        ExitProcess(ExitFailed);
    }
    ++StopSignals;
    return TRUE;
}

} // namespace

void CatchStopSignals(const char* secondSignalText)
{
    SecondSignalText = secondSignalText;
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

int StopSignalsReceived()
{
    return StopSignals.load();
}

void RaiseStopSignal()
{
    OnConsoleControl(CTRL_C_EVENT);
}
