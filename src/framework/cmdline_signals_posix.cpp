// Ctrl-C and TERM on POSIX systems: the first is counted for the program to look at, a second
// ends the program at once.
#include <signal.h>
#include <unistd.h>

#include <string>

#include "framework/cmdline.h"

namespace {

volatile sig_atomic_t StopSignals = 0;
const char* SecondSignalText = nullptr;

extern "C" void OnStopSignal(int)
{
    if (StopSignals > 0 && SecondSignalText) {
        // The kernel closes whatever is open; a port is not left locked.
        [[maybe_unused]] ssize_t n =
            write(STDERR_FILENO, SecondSignalText, std::char_traits<char>::length(SecondSignalText));
        _exit(ExitFailed);
    }
    StopSignals = StopSignals + 1;
}

} // namespace

void CatchStopSignals(const char* secondSignalText)
{
    SecondSignalText = secondSignalText;
    struct sigaction sa { };
    sa.sa_handler = OnStopSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0; // no SA_RESTART: a blocked read returns EINTR, so the program can look
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
}

int StopSignalsReceived()
{
    return StopSignals;
}

void RaiseStopSignal()
{
    ::raise(SIGINT);
}
