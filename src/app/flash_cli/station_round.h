#pragma once
// What a station's rounds add up to.
#include <string>

// Units by how they ended. Cancelled units are no failures, and a skipped fixture held no unit.
struct TRoundCounts {
    int Programmed = 0, Failed = 0, Cancelled = 0, Skipped = 0;

    void Add(const std::string& result);
    void Add(const TRoundCounts& other);
    int Units() const { return Programmed + Failed + Cancelled; }
    // programmed / (programmed + failed); negative while neither happened.
    double Yield() const;
    // "Programmed: 2  Failed: 1  Cancelled: 0  Yield: 66.7%" (and "Skipped: N" when any).
    std::string Text() const;
};

struct TRoundSummary {
    int Round = 1;
    TRoundCounts Counts;
    double WallSeconds = 0;
    // "Units: 3  Programmed: 2  ...  Wall time: 12.4 s"
    std::string Text() const;
};
