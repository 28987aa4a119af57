#pragma once
// A pseudo-terminal pair for the serial tests: the port under test opens the slave,
// the test (or a TResponder thread) plays the far end on the master.
#include <cstdint>
#include <mutex>
#include <string>

#include "unitsim/line.h"
#include "unitsim/pty.h"

class TPtyPair {
public:
    TPtyPair() : FPty(false) { }
    int Master() const { return FPty.Master(); }
    const std::string& SlavePath() const { return FPty.SlavePath(); }
    void Write(const std::string& bytes) { FPty.Write(bytes); }
    // Reads until n bytes arrived or timeoutMs passed.
    std::string Read(size_t n, int timeoutMs = 2000) { return FPty.Read(n, std::chrono::milliseconds(timeoutMs)); }
    void CloseMaster() { FPty.HangUp(); }
    // The line settings the slave's user set, as the master sees them.
    uint32_t Speed() const { return uint32_t(FPty.Settings().bitRate); }
    bool TwoStopBits() const { return FPty.Settings().stopBits == 2; }
    unitsim::Pty& Line() { return FPty; }

private:
    unitsim::Pty FPty;
};

// Far end in a thread: after each `requestSize` bytes received it answers `reply`.
class TResponder {
public:
    TResponder(TPtyPair& pty, size_t requestSize, std::string reply, int delayMs = 0);
    std::string Received();

private:
    void Take(uint8_t byte);
    size_t FRequestSize;
    std::string FReply;
    int FDelayMs;
    size_t FPending = 0;
    std::mutex FLock;
    std::string FReceived;
    unitsim::LineServer FServer; // last: stops before the rest goes
};

// Calls ProcessMessages until pred holds or timeoutMs passes; returns pred().
template <class Pred> bool PumpUntil(Pred pred, int timeoutMs = 3000);

#include <chrono>
#include <thread>
#include "framework/message_loop.h"
#include "framework/syncqueue.h"
template <class Pred> bool PumpUntil(Pred pred, int timeoutMs)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!pred() && std::chrono::steady_clock::now() < end) {
        ProcessMessages();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return pred();
}

// Milliseconds since start.
inline double MsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}
