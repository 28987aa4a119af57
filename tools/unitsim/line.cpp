#include "unitsim/line.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <stdexcept>

namespace unitsim {

namespace {

// How often a quiet line is looked at; rare wake-ups keep an idle far end's CPU cost nil.
constexpr int QuietPollMs = 250;
// Nobody holds the slave (between two opens of a keeper-less pair): the master polls as hung up.
constexpr int NoSlaveBackoffMs = 10;

Clock::duration CharTime(const LineSettings& s)
{
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(s.CharTime()));
}

} // namespace

LineServer::LineServer(Pty& pty, LineHandlers handlers, LineTiming timing)
    : FPty(pty), FHandlers(std::move(handlers)), FTiming(timing)
{
    FWake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (FWake < 0)
        throw std::runtime_error("cannot make an event descriptor");
}

LineServer::~LineServer()
{
    Stop();
    ::close(FWake);
}

void LineServer::Start()
{
    std::lock_guard<std::mutex> lock(FLock);
    if (FThread.joinable() || FStopRequested)
        return;
    FServing = true;
    FThread = std::thread([this] { Serve(); });
}

void LineServer::Stop()
{
    {
        std::lock_guard<std::mutex> lock(FLock);
        FStopRequested = true;
    }
    FChanged.notify_all();
    const uint64_t one = 1;
    [[maybe_unused]] ssize_t w = ::write(FWake, &one, sizeof one);
    if (FThread.joinable() && FThread.get_id() != std::this_thread::get_id())
        FThread.join();
}

bool LineServer::Serving() const
{
    std::lock_guard<std::mutex> lock(FLock);
    return FServing;
}

bool LineServer::WaitForStop(std::chrono::milliseconds timeout) const
{
    std::unique_lock<std::mutex> lock(FLock);
    return FChanged.wait_for(lock, timeout, [this] { return !FServing; });
}

bool LineServer::StopRequested() const
{
    std::lock_guard<std::mutex> lock(FLock);
    return FStopRequested;
}

bool LineServer::SleepPlain(Clock::time_point t)
{
    std::unique_lock<std::mutex> lock(FLock);
    return !FChanged.wait_until(lock, t, [this] { return FStopRequested; });
}

// Held bytes leave at their time even while the line sleeps for something else.
bool LineServer::SleepUntil(Clock::time_point t)
{
    while (!FHeld.empty() && FFlushAt < t) {
        if (!SleepPlain(FFlushAt))
            return false;
        Flush();
    }
    return SleepPlain(t);
}

bool LineServer::Wait(int ms)
{
    return ms <= 0 || SleepUntil(Clock::now() + std::chrono::milliseconds(ms));
}

void LineServer::Flush()
{
    if (!FHeld.empty())
        FPty.Write(FHeld, [this] { return !StopRequested(); });
    FHeld.clear();
    FTimerStart = Clock::now(); // a packet has gone: the adapter's timer starts again
}

// One byte leaves the unit: straight to the host, or into the adapter's buffer.
void LineServer::Put(char c)
{
    if (FTiming.latencyMs <= 0) {
        FPty.Write(Bytes(1, c), [this] { return !StopRequested(); });
        return;
    }
    if (FHeld.empty()) {
        // The timer runs on while the adapter is idle (it sends an empty packet at each
        // expiry), so a reply's first byte waits for the next expiry: up to latencyMs.
        const Clock::duration period = std::chrono::milliseconds(FTiming.latencyMs);
        FFlushAt = FTimerStart + period * ((Clock::now() - FTimerStart) / period + 1);
    }
    FHeld += c;
    if (FHeld.size() >= AdapterPacket)
        Flush();
}

void LineServer::Send(const Bytes& bytes)
{
    if (bytes.empty() || !FPty.IsOpen())
        return;
    if (!FTiming.pace && FTiming.latencyMs <= 0) {
        FPty.Write(bytes, [this] { return !StopRequested(); });
        return;
    }
    const Clock::duration step = FTiming.pace ? CharTime(FPty.Settings()) : Clock::duration::zero();
    FTxClock = std::max(FTxClock, Clock::now());
    for (char c : bytes) {
        if (FTiming.pace && !SleepUntil(FTxClock))
            return;
        Put(c);
        FTxClock += step;
    }
}

void LineServer::HangUp()
{
    FHeld.clear();
    FPty.HangUp();
}

void LineServer::Received(const Bytes& chunk)
{
    if (FHandlers.arrived)
        FHandlers.arrived(chunk);
    // Reading the settings is a system call: only pacing needs them here.
    const Clock::duration step = FTiming.pace ? CharTime(FPty.Settings()) : Clock::duration::zero();
    FRxClock = std::max(FRxClock, Clock::now());
    for (char c : chunk) {
        if (FTiming.pace) {
            FRxClock += step;
            if (!SleepUntil(FRxClock))
                return;
        }
        if (!FPty.IsOpen())
            break;
        if (FHandlers.byte)
            FHandlers.byte(uint8_t(c));
    }
    if (FHandlers.chunkDone)
        FHandlers.chunkDone();
}

int LineServer::PollMs() const
{
    if (FHeld.empty())
        return QuietPollMs;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(FFlushAt - Clock::now()).count();
    return int(std::clamp<long long>(left, 0, QuietPollMs));
}

void LineServer::Serve()
{
    FLastByte = FTimerStart = Clock::now();
    char buf[4096];
    while (FPty.IsOpen()) {
        pollfd fds[2] = {{FPty.Master(), POLLIN, 0}, {FWake, POLLIN, 0}};
        const int r = ::poll(fds, 2, PollMs());
        if (r < 0 && errno != EINTR)
            break;
        if (fds[1].revents & POLLIN)
            break;
        if (!FHeld.empty() && Clock::now() >= FFlushAt)
            Flush();
        if (r > 0 && (fds[0].revents & POLLIN)) {
            const ssize_t got = ::read(FPty.Master(), buf, sizeof buf);
            if (got > 0) {
                FLastByte = Clock::now();
                Received(Bytes(buf, size_t(got)));
                continue;
            }
            if (got < 0 && (errno == EAGAIN || errno == EINTR))
                continue;
        }
        if (r > 0 && (fds[0].revents & (POLLHUP | POLLERR)) && !(fds[0].revents & POLLIN)) {
            if (!Wait(NoSlaveBackoffMs))
                break;
            continue;
        }
        if (FHandlers.quiet)
            FHandlers.quiet(Clock::now() - FLastByte);
        if (StopRequested())
            break;
    }
    {
        std::lock_guard<std::mutex> lock(FLock);
        FServing = false;
    }
    FChanged.notify_all();
}

} // namespace unitsim
