#include "framework/timers.h"

#include "framework/exceptions.h"
#include "framework/message_loop.h"

void TTimer::SetInterval(int ms)
{
    FInterval = ms < 0 ? 0 : ms;
    if (Enabled())
        Start();
}

void TTimer::Fire()
{
    if (!OnTimer)
        return;
    // A copy: the handler may free its own timer, and with it OnTimer.
    const std::function<void()> handler = OnTimer;
    try {
        handler();
    } catch (const Exception& e) {
        Warn(WithFullStop(e.message()));
    } catch (const std::exception& e) {
        Warn(e.what());
    } catch (...) {
        Warn("unexpected failure in a timer");
    }
}
