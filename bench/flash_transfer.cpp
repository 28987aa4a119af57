// The typical job (245,760-byte image, 1,920 blocks of 128, 57,600 bit/s programming phase)
// erased, programmed and verified against the simulated unit.
//  - unpaced: the host's time per block next to a floor measured in the same run: the same
//    exchange (128 bytes out, one byte back per block) with plain write/poll/read on the same
//    pseudo-terminal pair against the same unit; with the CPU time per block of the thread
//    that transfers (host or floor) and of the whole process (the unit's thread included),
//    which other processes on a busy machine disturb less than the elapsed time;
//  - paced at the line rate: total time next to the line-rate bound (every byte at 10 bits,
//    plus the 100 ms pause before each transfer), without a USB adapter and behind one whose
//    latency timer is 1 or 16 ms.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <poll.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>
#include <string>
#include <vector>

#include "flash/h83664.h"
#include "framework/message_loop.h"
#include "framework/streams.h"
#include "serial/comms.h"
#include "unitsim/pty.h"
#include "unitsim/unitsim.h"

namespace {

constexpr int32_t ImageSize = 245760;
constexpr int32_t Blocks = ImageSize / 128;
constexpr int32_t FlashStart = 0x1800;
constexpr int32_t FlashLength = 256000;
constexpr int32_t LineRate = 57600;

using Clock = std::chrono::steady_clock;

double CpuSeconds(clockid_t clock)
{
    timespec t{};
    clock_gettime(clock, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// Elapsed time and CPU time (this thread's, the process's) of the transfers, per block.
struct TBlockCost {
    double Seconds = 0, ThreadCpu = 0, ProcessCpu = 0;

    static TBlockCost Now()
    {
        return {std::chrono::duration<double>(Clock::now().time_since_epoch()).count(),
                CpuSeconds(CLOCK_THREAD_CPUTIME_ID), CpuSeconds(CLOCK_PROCESS_CPUTIME_ID)};
    }
    TBlockCost& Add(const TBlockCost& from, const TBlockCost& to, double blocks)
    {
        Seconds += (to.Seconds - from.Seconds) / blocks;
        ThreadCpu += (to.ThreadCpu - from.ThreadCpu) / blocks;
        ProcessCpu += (to.ProcessCpu - from.ProcessCpu) / blocks;
        return *this;
    }
};

std::vector<uint8_t> Image()
{
    std::vector<uint8_t> v(ImageSize);
    for (size_t i = 0; i < v.size(); ++i)
        v[i] = uint8_t(i * 13 + (i >> 9));
    return v;
}

struct Job {
    unitsim::UnitSimulator Sim;
    THitachiFlash Flash{nullptr, nullptr, nullptr, nullptr};
    TBriskoComPort Operator;
    TMemoryStream Stream;

    explicit Job(bool pace, int latencyMs = 0) : Sim(Config(pace, latencyMs))
    {
        Sim.Start();
        Flash.FlashStart = FlashStart;
        Flash.FlashLength = FlashLength;
        Flash.FlashCheckSeed = 0x81;
        Flash.ComProgram()->SetBaudRate(br57600);
        Operator.SetPort(Sim.SlavePath());
        const std::vector<uint8_t> image = Image();
        Stream.LoadFrom(image.data(), ImageSize);
        Flash.SelectConnection(TConnectChoice{0, 1, &Operator});
        Flash.Connect();
    }
    ~Job() { Flash.Disconnect(); }

    static unitsim::SimConfig Config(bool pace, int latencyMs)
    {
        unitsim::SimConfig c;
        c.pace = pace;
        c.latencyMs = latencyMs;
        c.keepTrace = false;
        return c;
    }

    void Run()
    {
        Flash.Erase();
        Flash.ProgramImage(Stream);
        Flash.VerifyImage(Stream);
    }
};

// ---- the floor: the same exchange with plain system calls ----------------------------------

void WriteAll(int fd, const void* p, size_t n)
{
    if (!unitsim::WriteAll(fd, p, n))
        throw std::runtime_error("floor: cannot write");
}

uint8_t ReadOne(int fd)
{
    uint8_t b = 0;
    for (;;) {
        pollfd pfd{fd, POLLIN, 0};
        if (::poll(&pfd, 1, 5000) <= 0)
            throw std::runtime_error("floor: no reply");
        if (::read(fd, &b, 1) == 1)
            return b;
    }
}

void PutBE32(std::vector<uint8_t>& v, uint32_t x)
{
    for (int s = 24; s >= 0; s -= 8)
        v.push_back(uint8_t(x >> s));
}

void PlainTransfer(int fd, const uint8_t* code, const std::vector<uint8_t>& image)
{
    std::vector<uint8_t> head(code, code + 4);
    PutBE32(head, FlashStart);
    PutBE32(head, ImageSize);
    WriteAll(fd, head.data(), head.size());
    for (int32_t b = 0; b < Blocks; ++b) {
        WriteAll(fd, image.data() + size_t(b) * 128, 128);
        if (ReadOne(fd) != 0x00)
            throw std::runtime_error("floor: block refused");
        const uint8_t next = 0x00;
        WriteAll(fd, &next, 1); // continue byte, or the end marker after the last block
    }
    if (ReadOne(fd) != 0x22)
        throw std::runtime_error("floor: transfer not complete");
}

// Cost per block of the plain exchange: erase, program and verify on the same unit.
TBlockCost FloorPerBlock(Job& job)
{
    job.Flash.Disconnect(); // the settings stay on the pseudo-terminal
    const int fd = ::open(job.Sim.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        throw std::runtime_error("floor: cannot open the line");
    static const uint8_t erase[4] = {0xD7, 0x68, 0xFE, 0xFA};
    static const uint8_t program[4] = {0xB7, 0xD6, 0xF5, 0x3C};
    static const uint8_t verify[4] = {0x53, 0xE1, 0xA8, 0xD7};
    const std::vector<uint8_t> image = Image();
    std::vector<uint8_t> cmd(erase, erase + 4);
    PutBE32(cmd, FlashStart);
    PutBE32(cmd, FlashLength);
    WriteAll(fd, cmd.data(), cmd.size());
    ReadOne(fd);
    const TBlockCost t0 = TBlockCost::Now();
    PlainTransfer(fd, program, image);
    PlainTransfer(fd, verify, image);
    const TBlockCost t1 = TBlockCost::Now();
    ::close(fd);
    // Back to a negotiated link for the device's run; the unit already sits in its boot loader.
    job.Flash.ConnectionInfo.ConnectMethod = 2;
    job.Flash.ConnectNoVerify();
    return TBlockCost().Add(t0, t1, 2.0 * Blocks);
}

// ---- benchmarks -----------------------------------------------------------------------------

void BM_TypicalJobUnpaced(benchmark::State& state)
{
    Job job(false);
    TBlockCost floor = FloorPerBlock(job);
    for (int i = 1; i < 3; ++i) {
        const TBlockCost next = FloorPerBlock(job);
        if (next.Seconds < floor.Seconds)
            floor = next;
    }
    TBlockCost host;
    const double blocks = 2.0 * Blocks * double(state.max_iterations);
    for (auto _ : state) {
        job.Flash.Erase();
        const TBlockCost t0 = TBlockCost::Now();
        job.Flash.ProgramImage(job.Stream);
        job.Flash.VerifyImage(job.Stream);
        host.Add(t0, TBlockCost::Now(), blocks);
    }
    // The host's time per block leaves out the two mandated 100 ms pauses (asleep: no CPU).
    const double perBlock = host.Seconds - 0.2 / (2.0 * Blocks);
    state.counters["host_us_per_block"] = perBlock * 1e6;
    state.counters["floor_us_per_block"] = floor.Seconds * 1e6;
    state.counters["vs_floor"] = perBlock / floor.Seconds;
    state.counters["host_cpu_us_per_block"] = host.ThreadCpu * 1e6;
    state.counters["floor_cpu_us_per_block"] = floor.ThreadCpu * 1e6;
    state.counters["process_cpu_us_per_block"] = host.ProcessCpu * 1e6;
}
BENCHMARK(BM_TypicalJobUnpaced)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// The argument is the latency timer of a USB adapter between host and unit, in ms: each
// block's acknowledge waits up to that long in the adapter, half of it on average.
void BM_TypicalJobPaced(benchmark::State& state)
{
    const int latencyMs = int(state.range(0));
    Job job(true, latencyMs);
    // The same bytes with plain system calls, to tell the unit's pacing from the host's share
    // (once, without an adapter: it costs a whole paced run).
    const double floorTransfers = latencyMs == 0 ? FloorPerBlock(job).Seconds * 2.0 * Blocks : 0;
    double total = 0;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        job.Run();
        total += std::chrono::duration<double>(Clock::now() - t0).count();
    }
    // Bytes both ways: erase (12 out, 1 in), each transfer (12 header, blocks, a continue byte
    // between blocks, the end marker; a reply per block and the final reply), an identity
    // request after each command (4 out, 30 in); 10 bits per byte, plus 100 ms per transfer.
    const double eraseBytes = 12 + 1 + 34;
    const double transferBytes = 12 + double(ImageSize) + (Blocks - 1) + 1 + Blocks + 1 + 34;
    const double bound = (eraseBytes + 2 * transferBytes) * 10.0 / LineRate + 0.2;
    const double perRun = total / double(state.iterations());
    state.counters["total_s"] = perRun;
    state.counters["bound_s"] = bound;
    state.counters["vs_bound"] = perRun / bound;
    // What the adapter added beyond the bound, per acknowledged reply (a block's or a final one).
    state.counters["over_bound_ms_per_reply"] = (perRun - bound) * 1e3 / (2.0 * (Blocks + 1));
    if (latencyMs == 0) {
        const double transfersBound = 2 * (transferBytes - 34) * 10.0 / LineRate;
        state.counters["floor_transfers_vs_bound"] = floorTransfers / transfersBound;
    }
}
BENCHMARK(BM_TypicalJobPaced)->Arg(0)->Arg(1)->Arg(16)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);

} // namespace

int main(int argc, char** argv)
{
    TApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
