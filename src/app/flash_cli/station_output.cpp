#include "app/flash_cli/station_output.h"

double TPortView::Rate(Clock::time_point now) const
{
    if (Span <= 1 || (Phase != TRunPhase::Program && Phase != TRunPhase::Verify))
        return 0.0;
    const double seconds = std::chrono::duration<double>(now - RangeStart).count();
    return seconds > 0.2 ? Done / seconds : 0.0;
}

int TPortView::SecondsLeft(Clock::time_point now) const
{
    const double rate = Rate(now);
    return rate > 0 ? static_cast<int>((Span - Done) / rate + 0.5) : -1;
}

std::string TPortView::Message() const
{
    if (!Ended())
        return std::string();
    return Record->Result() == ResultOk ? Record->SuccessLine() : Record->Error();
}
