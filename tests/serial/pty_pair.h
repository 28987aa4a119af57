#pragma once
// A pseudo-terminal pair for the serial tests: the port under test opens the slave,
// the test (or a TResponder thread) plays the far end on the master.
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

class TPtyPair {
public:
    TPtyPair();
    ~TPtyPair();
    int Master() const { return FMaster; }
    const std::string& SlavePath() const { return FSlave; }
    void Write(const std::string& bytes);
    // Reads until n bytes arrived or timeoutMs passed.
    std::string Read(size_t n, int timeoutMs = 2000);
    void CloseMaster();
    // The line settings the slave's user set, as the master sees them.
    uint32_t Speed() const;
    bool TwoStopBits() const;

private:
    int FMaster = -1;
    std::string FSlave;
};

// Far end in a thread: after each `requestSize` bytes received it answers `reply`.
class TResponder {
public:
    TResponder(TPtyPair& pty, size_t requestSize, std::string reply, int delayMs = 0);
    ~TResponder();
    std::string Received();

private:
    void Run();
    TPtyPair& FPty;
    size_t FRequestSize;
    std::string FReply;
    int FDelayMs;
    std::mutex FLock;
    std::string FReceived;
    std::atomic<bool> FStop{false};
    std::thread FThread;
};

// Calls ProcessMessages until pred holds or timeoutMs passes; returns pred().
template <class Pred> bool PumpUntil(Pred pred, int timeoutMs = 3000);

#include <chrono>
#include "messages.h"
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
