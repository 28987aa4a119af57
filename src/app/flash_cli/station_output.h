#pragma once
// What the station shows while its ports run: the live lines or plain lines on the
// terminal, or JSON events on standard output.
#include <chrono>
#include <string>
#include <vector>

#include "app/flash_cli/report.h"
#include "app/flash_cli/station_round.h"

// One port as the station knows it from its worker's messages.
struct TPortView {
    using Clock = std::chrono::steady_clock;

    std::string Port;
    std::string Fixture; // its name, "" when unnamed
    TRunPhase Phase = TRunPhase::Connect;
    std::string Status, Prompt; // Prompt: "Reset the Unit" while the boot connect repeats
    int Done = 0, Span = 0;
    Clock::time_point RangeStart = Clock::now();
    const TUnitRecord* Record = nullptr; // the report so far; Ended() once the unit has ended

    bool Ended() const { return Record && Record->Ended(); }
    // What people call it: the fixture's name, else the port.
    const std::string& Label() const { return Fixture.empty() ? Port : Fixture; }
    // Bytes a second while programming or verifying, 0 otherwise or until it can be told.
    double Rate(Clock::time_point now) const;
    // Seconds left at that rate, -1 when unknown.
    int SecondsLeft(Clock::time_point now) const;
    // The error display's text of a failure, the success line after a success.
    std::string Message() const;
};

class TStationOutput {
public:
    virtual ~TStationOutput() = default;
    virtual void Started(const TPortView& port) = 0;
    virtual void StatusChanged(const TPortView& /*port*/) { }
    virtual void PhaseChanged(const TPortView& /*port*/) { }
    virtual void ProgressChanged(const TPortView& /*port*/) { }
    virtual void Notice(const TPortView& port, const std::string& text) = 0;
    virtual void Ended(const TPortView& port) = 0;
    // About ten times a second while ports run.
    virtual void Tick() { }
    // Every port of the round has ended.
    virtual void RoundEnded(const std::vector<const TPortView*>& ports, const TRoundSummary& summary) = 0;
};
