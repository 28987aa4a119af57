#include "app/flash_cli/station_terminal.h"

#include <algorithm>
#include <cstdio>

#include "app/flash_cli/progress.h"
#include "app/flash_cli/terminal_width.h"

namespace {

size_t PortWidth(const std::vector<const TPortView*>& ports)
{
    size_t width = 4;
    for (const TPortView* p : ports)
        width = std::max(width, p->Port.size());
    return width;
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

std::string PortLineText(const TPortView& port, size_t portWidth, TPortView::Clock::time_point now)
{
    const std::string head = Padded(port.Port, portWidth) + "  ";
    if (port.Ended())
        return head + Padded(port.Record->Result(), 9) + port.Message();
    std::string line = head + Padded(RunPhaseName(port.Phase), 9);
    if (!port.Prompt.empty())
        line += port.Prompt + "  ";
    return line + Tail(port, now);
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
        Plain(port, port.Record->Result() + ": " + port.Message());
    Dirty = true;
    LastDraw = {};
    Tick();
}

void TStationTerminal::Plain(const TPortView& port, const std::string& text)
{
    std::fprintf(stderr, "%s: %s\n", port.Port.c_str(), text.c_str());
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
    const size_t width = PortWidth(Ports);
    const auto now = TPortView::Clock::now();
    for (const TPortView* p : Ports) {
        const std::string line = PortLineText(*p, width, now).substr(0, columns);
        std::fprintf(stderr, "\r\033[K%s\n", line.c_str());
    }
    std::fflush(stderr);
    Drawn = Ports.size();
}

void TStationTerminal::RoundEnded(const std::vector<const TPortView*>& ports)
{
    if (Live) {
        Dirty = true;
        LastDraw = {};
        Tick();
    }
    Drawn = 0;
    Ports.clear();
    const size_t width = PortWidth(ports);
    std::printf("%s  %-9s %7s  %s\n", Padded("PORT", width).c_str(), "RESULT", "TIME", "MESSAGE");
    for (const TPortView* p : ports)
        std::printf("%s  %-9s %6.1fs  %s\n", Padded(p->Port, width).c_str(), p->Record->Result().c_str(),
                    p->Record->Seconds(), p->Message().c_str());
    std::fflush(stdout);
}
