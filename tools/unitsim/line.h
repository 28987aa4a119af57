#pragma once
// The far end's side of a serial line on a pseudo-terminal: serves on a thread of its own,
// hands what the host sends to its handlers and sends their replies, optionally at the
// host's line rate and through a modelled USB adapter's latency timer.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

#include "unitsim/pty.h"

namespace unitsim {

using Clock = std::chrono::steady_clock;

// What the line does with what it receives; all run on the serving thread, any may be empty.
struct LineHandlers {
    std::function<void(const Bytes&)> arrived;                // each read, as it came
    std::function<void(uint8_t)> byte;                        // then each of its bytes (paced)
    std::function<void()> chunkDone;                          // after the read's last byte
    std::function<void(Clock::duration sinceLastByte)> quiet; // nothing read for a while
};

struct LineTiming {
    // Deliver bytes both ways no faster than the bit rate the host set.
    bool pace = false;
    // A USB adapter's latency timer, as FTDI chips have one: bytes for the host wait in the
    // adapter until the timer next expires (it restarts whenever a packet goes, so that is up
    // to latencyMs away), or until a full packet's payload (AdapterPacket bytes) has
    // gathered, then reach the host together. 0: no adapter.
    int latencyMs = 0;
};

class LineServer {
public:
    // Payload of one full-speed USB packet of an FTDI chip: 64 bytes less two status bytes.
    static constexpr size_t AdapterPacket = 62;

    LineServer(Pty& pty, LineHandlers handlers, LineTiming timing = {});
    ~LineServer(); // stops
    LineServer(const LineServer&) = delete;
    LineServer& operator=(const LineServer&) = delete;

    void Start();
    void Stop(); // idempotent; ends waits in progress
    bool Serving() const;
    // Waits until the serving thread has ended (hang-up or Stop).
    bool WaitForStop(std::chrono::milliseconds timeout) const;

    // The following are for the handlers, on the serving thread.
    void Send(const Bytes& bytes);
    // Lets time pass on the line (held bytes still leave on time); false once stopping.
    bool Wait(int ms);
    void HangUp();

private:
    void Serve();
    void Received(const Bytes& chunk);
    bool SleepUntil(Clock::time_point t);
    bool SleepPlain(Clock::time_point t);
    bool StopRequested() const;
    void Put(char c);
    void Flush();
    int PollMs() const;

    Pty& FPty;
    LineHandlers FHandlers;
    LineTiming FTiming;
    int FWake = -1;
    std::thread FThread;

    mutable std::mutex FLock;
    mutable std::condition_variable FChanged;
    bool FStopRequested = false;
    bool FServing = false;

    // Serving thread only.
    Clock::time_point FRxClock{}, FTxClock{}, FLastByte{};
    Bytes FHeld; // in the adapter, not yet sent to the host
    Clock::time_point FFlushAt{};
    Clock::time_point FTimerStart{}; // the adapter's latency timer last started
};

} // namespace unitsim
