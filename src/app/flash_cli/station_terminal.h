#pragma once
// The station on the terminal: one live line per port on standard error, redrawn in
// place (or, without a terminal, plain lines at phase changes), the operator's notices
// above them, and a summary table with a line of counts on standard output when every
// port has ended. Results are coloured where the terminal allows it, and said in words.
#include "app/flash_cli/station_output.h"

class TStationTerminal : public TStationOutput {
public:
    // live: redraw the lines in place (standard error is a terminal, progress not refused).
    explicit TStationTerminal(bool live);

    void Started(const TPortView& port) override;
    void StatusChanged(const TPortView& port) override { Changed(port); }
    void PhaseChanged(const TPortView& port) override;
    void ProgressChanged(const TPortView& port) override { Changed(port); }
    void Notice(const TPortView& port, const std::string& text) override;
    void Ended(const TPortView& port) override;
    void Tick() override;
    void RoundEnded(const std::vector<const TPortView*>& ports, const TRoundSummary& summary) override;

private:
    void Changed(const TPortView&) { Dirty = true; }
    void Plain(const TPortView& port, const std::string& text);
    void Draw();
    void Erase();

    bool Live;
    bool ColourErr, ColourOut; // the result words coloured on standard error, standard output
    std::vector<const TPortView*> Ports;
    size_t Drawn = 0; // lines of the live block on the screen
    bool Dirty = false;
    TPortView::Clock::time_point LastDraw{};
};

// A port's live line: "ttyUSB0  program  [#######.........]  42%  5.4 KiB/s  0:03 left",
// at most columns long; the result word of an ended one coloured when colour is set.
std::string PortLineText(const TPortView& port, size_t portWidth, TPortView::Clock::time_point now,
                         size_t columns = std::string::npos, bool colour = false);

// Whether fd takes colours: a terminal, NO_COLOR not set, TERM not dumb.
bool ColoursWanted(int fd);
