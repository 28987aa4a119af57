#pragma once
// What a run's status and progress sinks have been told, kept for whoever draws it: the
// phase text, the run's phase, the range and position, and the rate of the phase so far.
#include <chrono>
#include <functional>
#include <string>

#include "flash/fdt.h"
#include "flash/run.h"

class TProgressState : public IStatusSink, public IProgressSink {
public:
    using Clock = std::chrono::steady_clock;

    // Called when a new status text begins (drawn once its range is set).
    std::function<void()> OnStatus;
    // Called after the position moved; force when it was set outright or reached the end.
    std::function<void(bool force)> OnChange;
    // Called on every step (the CLI turns Ctrl-C into a transfer abort there).
    std::function<void()> OnStep;

    void SetStatusText(const std::string& text) override;
    void SetRange(int min, int max) override;
    void SetStep(int step) override { Step = step; }
    void SetPosition(int position) override;
    void StepBy(int delta) override;
    int Position() const override { return Pos; }

    void SetPhase(TRunPhase phase) { RunPhase = phase; }

    const std::string& Status() const { return StatusText; }
    TRunPhase Phase() const { return RunPhase; }
    // Progress counts bytes while programming and verifying, attempts or steps otherwise.
    bool CountsBytes() const
    {
        return Max - Min > 1 && (RunPhase == TRunPhase::Program || RunPhase == TRunPhase::Verify);
    }
    int Done() const { return Pos - Min; }
    int Span() const { return Max - Min; }
    double Fraction() const { return Span() > 0 ? double(Done()) / Span() : 0.0; }
    // Bytes per second since the range began; 0 until a rate can be told.
    double Rate(Clock::time_point now = Clock::now()) const;
    // Seconds left at the present rate, or -1 when no rate is known yet.
    int SecondsLeft(Clock::time_point now = Clock::now()) const;

private:
    int Clamp(int v) const { return v < Min ? Min : (v > Max ? Max : v); }
    void Changed(bool force)
    {
        if (OnChange)
            OnChange(force);
    }

    std::string StatusText;
    TRunPhase RunPhase = TRunPhase::Connect;
    int Min = 0, Max = 100, Step = 1, Pos = 0;
    Clock::time_point RangeStart = Clock::now();
};

// "[########................]" for a fraction of width characters.
std::string ProgressBar(double fraction, int width = 24);
