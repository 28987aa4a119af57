#include "app/flash_cli/station_round.h"

#include <cstdio>

#include "app/flash_cli/unit_events.h"

void TRoundCounts::Add(const std::string& result)
{
    if (result == ResultOk)
        ++Programmed;
    else if (result == ResultCancelled)
        ++Cancelled;
    else if (result == ResultSkipped)
        ++Skipped;
    else
        ++Failed;
}

void TRoundCounts::Add(const TRoundCounts& other)
{
    Programmed += other.Programmed;
    Failed += other.Failed;
    Cancelled += other.Cancelled;
    Skipped += other.Skipped;
}

double TRoundCounts::Yield() const
{
    const int judged = Programmed + Failed;
    return judged > 0 ? double(Programmed) / judged : -1.0;
}

std::string TRoundCounts::Text() const
{
    char text[160];
    int n = std::snprintf(text, sizeof text, "Programmed: %d  Failed: %d  Cancelled: %d  ", Programmed, Failed,
                          Cancelled);
    if (Skipped > 0)
        n += std::snprintf(text + n, sizeof text - n, "Skipped: %d  ", Skipped);
    if (Yield() < 0)
        std::snprintf(text + n, sizeof text - n, "Yield: -");
    else
        std::snprintf(text + n, sizeof text - n, "Yield: %.1f%%", 100.0 * Yield());
    return text;
}

std::string TRoundSummary::Text() const
{
    char wall[48];
    std::snprintf(wall, sizeof wall, "  Wall time: %.1f s", WallSeconds);
    return "Units: " + std::to_string(Counts.Units()) + "  " + Counts.Text() + wall;
}
