#pragma once
// --json with a run: one JSON object a line on standard output for every event of every
// port ("start", "phase", "progress" at most ten a second per port, "notice", and "end"
// carrying the report object), and a "summary" of every round. Each carries its time.
// Standard error keeps the operator's notices.
#include <map>

#include "app/flash_cli/station_output.h"

class TJsonEvents : public TStationOutput {
public:
    void Started(const TPortView& port) override;
    void PhaseChanged(const TPortView& port) override;
    void ProgressChanged(const TPortView& port) override;
    void Notice(const TPortView& port, const std::string& text) override;
    void Ended(const TPortView& port) override;
    void Tick() override;
    void RoundEnded(const std::vector<const TPortView*>& ports, const TRoundSummary& summary) override;

private:
    struct TPending {
        TPortView::Clock::time_point Last{};
        bool Waiting = false;
    };
    void Progress(const TPortView& port, TPending& pending, TPortView::Clock::time_point now);
    std::map<const TPortView*, TPending> Pending;
};

// port: null for an event of the whole station.
void PrintEvent(const std::string& event, const TPortView* port, TJson fields);
