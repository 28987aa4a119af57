#include "app/flash_cli/station_terminal.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "app/flash_cli/progress.h"
#include "app/flash_cli/terminal_width.h"

namespace {

// The first column's width: the labels, or the ports when fixture names are in a column of their own.
size_t LabelWidth(const std::vector<const TPortView*>& ports, bool portsColumn = false)
{
    size_t width = 4;
    for (const TPortView* p : ports)
        width = std::max(width, portsColumn ? p->Port.size() : p->Label().size());
    return width;
}

bool AnyFixtureNamed(const std::vector<const TPortView*>& ports)
{
    return std::any_of(ports.begin(), ports.end(), [](const TPortView* p) { return !p->Fixture.empty(); });
}

size_t FixtureWidth(const std::vector<const TPortView*>& ports)
{
    size_t width = 7;
    for (const TPortView* p : ports)
        width = std::max(width, p->Fixture.size());
    return width;
}

const char* ResultColour(const std::string& result)
{
    if (result == ResultOk)
        return "\033[32m"; // green
    if (result == ResultFailed)
        return "\033[1;31m"; // bold red
    if (result == ResultCancelled)
        return "\033[33m"; // yellow
    return "\033[2m";      // dim: skipped
}

// The result word at offset of line in its colour, when the whole word is there.
std::string ColourWord(std::string line, size_t offset, const std::string& word, bool colour)
{
    if (colour && line.compare(offset, word.size(), word) == 0) {
        line.insert(offset + word.size(), "\033[0m");
        line.insert(offset, ResultColour(word));
    }
    return line;
}

std::string Padded(const std::string& text, size_t width)
{
    return text + std::string(width > text.size() ? width - text.size() : 0, ' ');
}

std::string Tail(const TPortView& port, TPortView::Clock::time_point now)
{
    const double fraction = port.Span > 0 ? double(port.Done) / port.Span : 0.0;
    char text[96];
    std::snprintf(text, sizeof text, "%s %3d%%", ProgressBar(fraction).c_str(), int(fraction * 100.0));
    std::string tail = text;
    if (const double rate = port.Rate(now); rate > 0) {
        const int left = port.SecondsLeft(now);
        std::snprintf(text, sizeof text, "  %.1f KiB/s  %d:%02d left", rate / 1024.0, left / 60, left % 60);
        tail += text;
    }
    return tail;
}

} // namespace

bool ColoursWanted(int fd)
{
    const char* noColour = std::getenv("NO_COLOR");
    const char* term = std::getenv("TERM");
    return isatty(fd) != 0 && (!noColour || !*noColour) && !(term && std::string(term) == "dumb");
}

std::string PortLineText(const TPortView& port, size_t portWidth, TPortView::Clock::time_point now, size_t columns,
                         bool colour)
{
    const std::string head = Padded(port.Label(), portWidth) + "  ";
    if (port.Ended()) {
        const std::string line = (head + Padded(port.Record->Result(), 9) + port.Message()).substr(0, columns);
        return ColourWord(line, head.size(), port.Record->Result(), colour);
    }
    std::string line = head + Padded(RunPhaseName(port.Phase), 9);
    if (!port.Prompt.empty())
        line += port.Prompt + "  ";
    return (line + Tail(port, now)).substr(0, columns);
}

TStationTerminal::TStationTerminal(bool live)
    : Live(live), ColourErr(ColoursWanted(STDERR_FILENO)), ColourOut(ColoursWanted(STDOUT_FILENO))
{
}

void TStationTerminal::Started(const TPortView& port)
{
    Ports.push_back(&port);
    Dirty = true;
}

void TStationTerminal::PhaseChanged(const TPortView& port)
{
    if (!Live && port.Phase != TRunPhase::Done)
        Plain(port, RunPhaseName(port.Phase));
    Dirty = true;
}

void TStationTerminal::Notice(const TPortView& port, const std::string& text)
{
    Erase();
    Plain(port, text);
    Dirty = true;
    LastDraw = {};
    Tick();
}

void TStationTerminal::Ended(const TPortView& port)
{
    if (!Live)
        Plain(port, ColourWord(port.Record->Result(), 0, port.Record->Result(), ColourErr) + ": " + port.Message());
    Dirty = true;
    LastDraw = {};
    Tick();
}

void TStationTerminal::Plain(const TPortView& port, const std::string& text)
{
    std::fprintf(stderr, "%s: %s\n", port.Label().c_str(), text.c_str());
    std::fflush(stderr);
}

void TStationTerminal::Tick()
{
    const auto now = TPortView::Clock::now();
    if (!Live || !Dirty || now - LastDraw < std::chrono::milliseconds(100))
        return;
    LastDraw = now;
    Dirty = false;
    Draw();
}

// Back to the top of the live block, which the next Draw writes again from scratch.
void TStationTerminal::Erase()
{
    if (Live && Drawn > 0)
        std::fprintf(stderr, "\033[%zuA\r\033[J", Drawn);
    Drawn = 0;
}

void TStationTerminal::Draw()
{
    // Each line overwrites its old self, so nothing flickers.
    if (Drawn > 0)
        std::fprintf(stderr, "\033[%zuA", Drawn);
    // A line that wrapped would take two rows and spoil the way back up.
    const size_t columns = TerminalColumns() - 1;
    const size_t width = LabelWidth(Ports);
    const auto now = TPortView::Clock::now();
    for (const TPortView* p : Ports) {
        const std::string line = PortLineText(*p, width, now, columns, ColourErr);
        std::fprintf(stderr, "\r\033[K%s\n", line.c_str());
    }
    std::fflush(stderr);
    Drawn = Ports.size();
}

void TStationTerminal::RoundEnded(const std::vector<const TPortView*>& ports, const TRoundSummary& summary)
{
    if (Live) {
        Dirty = true;
        LastDraw = {};
        Tick();
    }
    Drawn = 0;
    Ports.clear();
    // Named fixtures get a column of their own before the port's.
    const bool named = AnyFixtureNamed(ports);
    const size_t fixtureWidth = named ? FixtureWidth(ports) : 0;
    const size_t width = LabelWidth(ports, true);
    const auto fixture = [&](const TPortView& p) {
        return named ? Padded(p.Fixture.empty() ? "-" : p.Fixture, fixtureWidth) + "  " : std::string();
    };
    std::printf("%s%s  %-9s %7s  %s\n", named ? (Padded("FIXTURE", fixtureWidth) + "  ").c_str() : "",
                Padded("PORT", width).c_str(), "RESULT", "TIME", "MESSAGE");
    for (const TPortView* p : ports) {
        const std::string result = ColourWord(Padded(p->Record->Result(), 9), 0, p->Record->Result(), ColourOut);
        std::printf("%s%s  %s %6.1fs  %s\n", fixture(*p).c_str(), Padded(p->Port, width).c_str(), result.c_str(),
                    p->Record->Seconds(), p->Message().c_str());
    }
    std::printf("%s\n", summary.Text().c_str());
    std::fflush(stdout);
}
