#include "app/flash_cli/json_events.h"

#include <cmath>
#include <cstdio>

namespace {

constexpr auto ProgressInterval = std::chrono::milliseconds(100);

} // namespace

void PrintEvent(const std::string& event, const TPortView* port, TJson fields)
{
    // Keys added since the first events come last, so that lines read as they always did.
    TJson e;
    e["event"] = event;
    if (port)
        e["port"] = port->Port;
    for (auto& [key, value] : fields.items())
        e[key] = std::move(value);
    if (port)
        e["fixture"] = port->Fixture.empty() ? TJson(nullptr) : TJson(port->Fixture);
    if (!e.contains("time"))
        e["time"] = IsoTime(std::chrono::system_clock::now());
    std::printf("%s\n", e.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
    std::fflush(stdout);
}

void TJsonEvents::Started(const TPortView& port)
{
    Pending[&port] = TPending{};
    PrintEvent("start", &port, {{"time", IsoTime(std::chrono::system_clock::now())}});
}

void TJsonEvents::PhaseChanged(const TPortView& port)
{
    // Progress held back by the rate limit goes first when the limit allows; otherwise the
    // phase event itself says the phase before it is complete.
    TPending& pending = Pending[&port];
    if (pending.Waiting)
        Progress(port, pending, TPortView::Clock::now());
    PrintEvent("phase", &port, {{"phase", RunPhaseName(port.Phase)}});
}

void TJsonEvents::ProgressChanged(const TPortView& port)
{
    TPending& pending = Pending[&port];
    pending.Waiting = true;
    const auto now = TPortView::Clock::now();
    if (now - pending.Last >= ProgressInterval)
        Progress(port, pending, now);
}

void TJsonEvents::Progress(const TPortView& port, TPending& pending, TPortView::Clock::time_point now)
{
    if (now - pending.Last < ProgressInterval)
        return;
    pending.Last = now;
    pending.Waiting = false;
    const int percent = port.Span > 0 ? static_cast<int>(100.0 * port.Done / port.Span) : 0;
    TJson fields = {
        {"phase", RunPhaseName(port.Phase)}, {"done", port.Done}, {"total", port.Span}, {"percent", percent}};
    if (const double rate = port.Rate(now); rate > 0)
        fields["rate"] = static_cast<long>(rate + 0.5);
    PrintEvent("progress", &port, std::move(fields));
}

void TJsonEvents::Notice(const TPortView& port, const std::string& text)
{
    PrintEvent("notice", &port, {{"text", text}});
    std::fprintf(stderr, "%s: %s\n", port.Label().c_str(), text.c_str());
    std::fflush(stderr);
}

void TJsonEvents::Ended(const TPortView& port)
{
    Pending.erase(&port);
    PrintEvent("end", &port, {{"report", port.Record->Json()}});
    // Which unit to take out of its fixture is for a person to read.
    if (port.Record->Result() != ResultOk) {
        std::fprintf(stderr, "%s: %s: %s\n", port.Label().c_str(), port.Record->Result().c_str(),
                     port.Message().c_str());
        std::fflush(stderr);
    }
}

void TJsonEvents::Tick()
{
    const auto now = TPortView::Clock::now();
    for (auto& [port, pending] : Pending)
        if (pending.Waiting)
            Progress(*port, pending, now);
}

void TJsonEvents::RoundEnded(const std::vector<const TPortView*>& /*ports*/, const TRoundSummary& summary)
{
    const TRoundCounts& c = summary.Counts;
    const double yield = c.Yield();
    PrintEvent("summary", nullptr,
               {{"round", summary.Round},
                {"units", c.Units()},
                {"programmed", c.Programmed},
                {"failed", c.Failed},
                {"cancelled", c.Cancelled},
                {"skipped", c.Skipped},
                {"yield", yield < 0 ? TJson(nullptr) : TJson(std::round(yield * 1000.0) / 1000.0)},
                {"wall_time_s", std::round(summary.WallSeconds * 1000.0) / 1000.0}});
}
