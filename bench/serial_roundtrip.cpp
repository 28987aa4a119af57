// One pseudo-terminal pair and one far-end thread for the whole run: after every N
// bytes it receives it answers one byte. The floor sends the same bytes with plain
// write/poll/read on the same slave; the port does it with SendBufferExpect.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <vector>
#include <atomic>
#include <ctime>
#include <string>
#include <thread>

#include "framework/message_loop.h"
#include "serial/comms.h"
#include "unitsim/line.h"

namespace {

struct TFarEnd {
    unitsim::Pty pty{false};
    std::string slave = pty.SlavePath();
    std::atomic<size_t> requestSize{1};
    size_t pending = 0;
    unitsim::LineServer server{pty, unitsim::LineHandlers{{}, [this](uint8_t) { Take(); }, {}, {}}};

    TFarEnd() { server.Start(); }
    void Take()
    {
        if (++pending < requestSize.load())
            return;
        pending = 0;
        server.Send(std::string(1, 0x06));
    }
};

TFarEnd* FarEnd = nullptr;

double CpuMs(clockid_t clock = CLOCK_PROCESS_CPUTIME_ID)
{
    timespec t{};
    clock_gettime(clock, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

int OpenRawSlave()
{
    int fd = open(FarEnd->slave.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    termios t{};
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    tcsetattr(fd, TCSANOW, &t);
    return fd;
}

bool RawRoundTrip(int fd, const std::string& data)
{
    tcflush(fd, TCIFLUSH);
    if (write(fd, data.data(), data.size()) != ssize_t(data.size()))
        return false;
    char ack = 0;
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 1000) <= 0)
            return false;
        if (read(fd, &ack, 1) == 1)
            return true;
    }
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// The floor and the port take turns on the same slave, so machine load hits both
// alike; the reported time is the port's, with both medians and their ratio.
void BM_RoundTrip(benchmark::State& state)
{
    const size_t n = size_t(state.range(0));
    FarEnd->requestSize = n;
    const int fd = OpenRawSlave(); // opened first: the port's lock does not affect it
    TBriskoComPort port;
    port.SetPort(FarEnd->slave);
    port.OpenPort(); // with the event thread, as every port of the program runs
    const std::string data(n, 'U');
    std::vector<double> raw, ours;
    using Clock = std::chrono::steady_clock;
    for (auto _ : state) {
        auto t0 = Clock::now();
        if (!RawRoundTrip(fd, data))
            state.SkipWithError("no answer to the floor");
        auto t1 = Clock::now();
        char ack = 0;
        port.SendBufferExpect(data.data(), int32_t(n), &ack, 1);
        auto t2 = Clock::now();
        raw.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
        ours.push_back(std::chrono::duration<double, std::micro>(t2 - t1).count());
        state.SetIterationTime(std::chrono::duration<double>(t2 - t1).count());
    }
    port.ClosePort();
    close(fd);
    state.counters["floor_median_us"] = Median(raw);
    state.counters["port_median_us"] = Median(ours);
    state.counters["ratio"] = Median(ours) / Median(raw);
}

void BM_IdleOpenPortCpu(benchmark::State& state)
{
    TBriskoComPort port;
    port.SetPort(FarEnd->slave);
    port.OpenPort();
    for (auto _ : state) {
        const double start = CpuMs();
        std::this_thread::sleep_for(std::chrono::seconds(5));
        state.counters["cpu_ms_per_5s"] = CpuMs() - start;
    }
    port.ClosePort();
}

// Closing an idle open port: stopping the event thread must be prompt.
void BM_CloseIdlePort(benchmark::State& state)
{
    TBriskoComPort port;
    port.SetPort(FarEnd->slave);
    for (auto _ : state) {
        port.OpenPort();
        std::this_thread::sleep_for(std::chrono::milliseconds(20)); // thread settles in its wait
        const auto start = std::chrono::steady_clock::now();
        port.ClosePort();
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
}

void BM_Delay500Cpu(benchmark::State& state)
{
    for (auto _ : state) {
        const double start = CpuMs(), startThread = CpuMs(CLOCK_THREAD_CPUTIME_ID);
        TBriskoComPort::Delay(500);
        state.counters["cpu_ms"] = CpuMs() - start;
        state.counters["thread_cpu_ms"] = CpuMs(CLOCK_THREAD_CPUTIME_ID) - startThread;
    }
}

BENCHMARK(BM_RoundTrip)->Arg(1)->Arg(128)->UseManualTime()->Iterations(3000);
BENCHMARK(BM_CloseIdlePort)->UseManualTime()->Iterations(50)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_IdleOpenPortCpu)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Delay500Cpu)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    TApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    TFarEnd farEnd;
    FarEnd = &farEnd;
    { // scheduler, caches and the far end warmed up before anything is measured
        const int fd = OpenRawSlave();
        for (int i = 0; i < 2000; ++i)
            RawRoundTrip(fd, "U");
        close(fd);
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    FarEnd = nullptr;
    return 0;
}
