#include "app/flash_cli/progress.h"

void TProgressState::SetStatusText(const std::string& text)
{
    const bool changed = text != StatusText;
    StatusText = text;
    if (changed && OnStatus)
        OnStatus();
}

void TProgressState::SetRange(int min, int max)
{
    Min = min;
    Max = max;
    Pos = min;
    RangeStart = Clock::now();
}

void TProgressState::SetPosition(int position)
{
    Pos = Clamp(position);
    Changed(true);
}

void TProgressState::StepBy(int delta)
{
    Pos = Clamp(Pos + delta);
    if (OnStep)
        OnStep();
    Changed(Pos == Max);
}

double TProgressState::Rate(Clock::time_point now) const
{
    const double seconds = std::chrono::duration<double>(now - RangeStart).count();
    return seconds > 0.2 ? Done() / seconds : 0.0;
}

int TProgressState::SecondsLeft(Clock::time_point now) const
{
    const double rate = Rate(now);
    return rate > 0 ? static_cast<int>((Max - Pos) / rate + 0.5) : -1;
}

std::string ProgressBar(double fraction, int width)
{
    const int filled = static_cast<int>(fraction * width + 0.5);
    std::string bar(static_cast<size_t>(filled), '#');
    bar.append(static_cast<size_t>(width - filled), '.');
    return "[" + bar + "]";
}
