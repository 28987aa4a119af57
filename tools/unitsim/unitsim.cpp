// The simulated unit on its line: the protocol half (Unit) fed by the line half
// (Pty, LineServer), both writing one trace.
#include "unitsim/unitsim.h"

#include <stdexcept>

#include "unitsim/flash_array.h"
#include "unitsim/line.h"
#include "unitsim/unit.h"

namespace unitsim {

struct UnitSimulator::Impl {
    explicit Impl(const SimConfig& config)
        : Record(config.keepTrace, config.reportToStderr),
          Device(config,
                 UnitLine{[this](const Bytes& b) { Line.Send(b); }, [this] { return Pair.Settings(); },
                          [this](int ms) { return Line.Wait(ms); }, [this] { Line.HangUp(); }},
                 Record),
          Pair(true), Line(Pair, Handlers(), LineTiming{config.pace, config.latencyMs})
    {
    }

    LineHandlers Handlers()
    {
        LineHandlers h;
        h.arrived = [this](const Bytes& chunk) {
            Record.BytesLine("host> ", chunk);
            Device.LineSeen(Pair.Settings());
        };
        h.byte = [this](uint8_t b) { Device.Feed(b); };
        h.chunkDone = [this] { Device.ChunkDone(); };
        h.quiet = [this](Clock::duration since) { Device.HostQuiet(since); };
        return h;
    }

    // Declared in the order they are needed: the unit checks the configuration before a
    // pseudo-terminal is made, and the line stops serving before either goes.
    TraceLog Record;
    Unit Device;
    unitsim::Pty Pair;
    bool Started = false;
    LineServer Line;
};

void ParseIdentity(const std::string& text, SimConfig& config)
{
    std::vector<std::string> parts;
    size_t from = 0;
    for (int i = 0; i < 3; ++i) {
        const size_t comma = text.find(',', from);
        if (comma == std::string::npos)
            throw std::invalid_argument("identity \"" + text + "\": expected seed,start,length,name");
        parts.push_back(text.substr(from, comma - from));
        from = comma + 1;
    }
    parts.push_back(text.substr(from));
    auto number = [&](const std::string& s, long long lo, long long hi, const char* what) {
        size_t used = 0;
        long long v = 0;
        try {
            v = std::stoll(s, &used, 0);
        } catch (const std::exception&) {
            used = 0;
        }
        if (s.empty() || used != s.size() || v < lo || v > hi)
            throw std::invalid_argument("identity " + std::string(what) + " \"" + s + "\": not a number in " +
                                        std::to_string(lo) + ".." + std::to_string(hi));
        return v;
    };
    config.seed = uint16_t(number(parts[0], 0, 0xFFFF, "seed"));
    config.flashStart = int32_t(number(parts[1], INT32_MIN, INT32_MAX, "start"));
    config.flashLength = int32_t(number(parts[2], 0, FlashArray::MaxLength, "length"));
    config.name = parts[3];
}

UnitSimulator::UnitSimulator(const SimConfig& config) : d(std::make_unique<Impl>(config)) { }

UnitSimulator::~UnitSimulator()
{
    Stop();
}

std::string UnitSimulator::SlavePath() const
{
    return d->Pair.SlavePath();
}

void UnitSimulator::Link(const std::string& path)
{
    d->Pair.Link(path);
}

void UnitSimulator::Start()
{
    if (d->Started)
        return;
    d->Started = true;
    d->Record.Restart();
    d->Line.Start();
}

void UnitSimulator::Stop()
{
    d->Line.Stop();
}

std::vector<uint8_t> UnitSimulator::Flash() const
{
    return d->Device.Flash();
}

std::string UnitSimulator::Trace() const
{
    return d->Record.Text();
}

void UnitSimulator::Note(const std::string& text)
{
    d->Record.Note(text);
}

std::vector<std::string> UnitSimulator::Violations() const
{
    return d->Record.Violations();
}

SimStats UnitSimulator::Stats() const
{
    return d->Device.Stats();
}

bool UnitSimulator::WaitForFinish(std::chrono::milliseconds timeout) const
{
    return d->Device.WaitForFinish(timeout);
}

bool UnitSimulator::WaitForStop(std::chrono::milliseconds timeout) const
{
    return d->Line.WaitForStop(timeout);
}

} // namespace unitsim
