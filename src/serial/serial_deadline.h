#pragma once
// Monotonic deadlines for the serial time-outs, computed in one place.
#include <chrono>
#include <cstdint>

class TDeadline {
public:
    using Clock = std::chrono::steady_clock;
    static TDeadline Never() { return TDeadline(); }
    static TDeadline After(uint64_t ms)
    {
        TDeadline d;
        // Anything beyond a few weeks is as good as never and must not overflow.
        if (ms > (uint64_t(1) << 40))
            return d;
        d.FInfinite = false;
        d.FAt = Clock::now() + std::chrono::milliseconds(int64_t(ms));
        return d;
    }
    // The total time-out of a transfer of count bytes: multiplier x count + constant
    // milliseconds, or none when both are zero (the values as the port's time-outs hold them).
    static TDeadline ForTotal(uint32_t multiplier, uint32_t constant, int32_t count)
    {
        if (multiplier == 0 && constant == 0)
            return Never();
        return After(uint64_t(multiplier) * uint64_t(count < 0 ? 0 : count) + constant);
    }
    // The same deadline ns nanoseconds later (never stays never).
    TDeadline Later(int64_t ns) const
    {
        TDeadline d = *this;
        if (!d.FInfinite && ns > 0)
            d.FAt += std::chrono::nanoseconds(ns);
        return d;
    }
    bool Infinite() const { return FInfinite; }
    int64_t RemainingNs() const
    {
        if (FInfinite)
            return INT64_MAX;
        return std::chrono::duration_cast<std::chrono::nanoseconds>(FAt - Clock::now()).count();
    }
    // True when this deadline comes before other (an infinite one never does).
    bool Before(const TDeadline& other) const
    {
        if (FInfinite)
            return false;
        return other.FInfinite || FAt < other.FAt;
    }

private:
    TDeadline() = default;
    bool FInfinite = true;
    Clock::time_point FAt{};
};
