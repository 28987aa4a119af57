#pragma once
// When the bytes written so far will have left the line: a completed write has only queued
// them, so reply time-outs and the close's drain count from this estimate, not the write.
#include <algorithm>
#include <chrono>
#include <cstdint>

#include "serial/line_settings.h"

class TLineTime {
public:
    using Clock = std::chrono::steady_clock;

    // Time one character takes on the line: start bit, data bits, parity, stop bits.
    void SetSettings(const TLineSettings& s)
    {
        const double stop = s.StopBits == sbOneStopBit ? 1.0 : s.StopBits == sbOne5StopBits ? 1.5 : 2.0;
        const double bits = 1.0 + s.ByteSize + (s.Parity != prNone ? 1.0 : 0.0) + stop;
        FCharTimeNs = s.BaudRate > 0 ? int64_t(bits * 1e9 / s.BaudRate) : 0;
    }

    // Bytes just queued reach the line after those still ahead of them.
    void Queued(int64_t n) { FFreeAt = std::max(FFreeAt, Clock::now()) + std::chrono::nanoseconds(FCharTimeNs * n); }

    // A reply is arriving, so the request before it has left the line. Where bytes move faster
    // than the line's setting (a pseudo-terminal, an emulated or network port) the estimate
    // would otherwise run further ahead with every request, and each later time-out with it.
    void Answered() { FFreeAt = std::min(FFreeAt, Clock::now()); }

    // Nothing is on its way any more (opened, or output purged).
    void Clear() { FFreeAt = Clock::now(); }

    int64_t BusyNs() const
    {
        return std::max<int64_t>(0,
                                 std::chrono::duration_cast<std::chrono::nanoseconds>(FFreeAt - Clock::now()).count());
    }

private:
    int64_t FCharTimeNs = 0;
    Clock::time_point FFreeAt{};
};
