#pragma once
// The pipe from a station worker to its supervisor: what the unit's run tells, one JSON
// object a line, and at the end how the run ended.
#include <chrono>
#include <string>

#include "app/flash_cli/report.h"
#include "app/flash_cli/unit_events.h"

class TWorkerPipe : public TUnitObserver {
public:
    // fd is borrowed; a write that fails (the supervisor has gone) is dropped.
    explicit TWorkerPipe(int fd) : Fd(fd) { }

    void Status(const std::string& text) override { Send({{"status", text}}); }
    void Range(int span) override;
    // At most ten a second; the end of a range always goes.
    void Position(int done) override;
    void Phase(TRunPhase phase) override { Send({{"phase", RunPhaseName(phase)}}); }
    void Prompt(const std::string& text) override { Send({{"prompt", text}}); }
    void Notice(const std::string& text) override { Send({{"notice", text}}); }
    void Method(int method) override { Send({{"method", method}}); }
    void Identity(const TUnitIdentity& unit) override { Send({{"unit", IdentityJson(unit)}}); }
    void End(const std::string& result, const std::string& error, const std::string& detail);

private:
    void Send(const TJson& message);

    int Fd;
    int Span = 0;
    std::chrono::steady_clock::time_point LastPosition{};
};

// How a worker said its run ended; Seen stays false when it died without saying.
struct TWorkerEnd {
    bool Seen = false;
    std::string Result, Error, Detail;
};

// Hands one line from a worker to observer (an end line to end). A line that is no
// message is ignored: a worker's stray output must not stop the station.
void DispatchWorkerLine(const std::string& line, TUnitObserver& observer, TWorkerEnd& end);
