// The station at scale: 1, 4 and 16 simulated units, paced at the line rate (57,600 bit/s
// in the programming phase), a 16 KiB image, all started together by one
// moravent-flash-cli with one --port per unit. Reported per set:
//  - wall time, and vs_one: that time against the single unit's in the same run (the goal
//    is 16 units within 1.05x of one: the units must not slow each other);
//  - host_cpu_ms_per_unit: user and system CPU of the programmer and its workers (the
//    simulators, which stand in for the units, are not counted), divided by the units.
// Run the sets in order (1 first), e.g. build/bin/bench_station.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "unitsim/unitsim.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
constexpr int ImageSize = 16 * 1024;

struct TChildUsage {
    int Status = -1;
    double CpuSeconds = 0;
};

// Runs a program to its end with its output thrown away; CPU covers the waited-for workers.
TChildUsage RunQuietly(const std::vector<std::string>& args)
{
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    for (int fd : {0, 1, 2})
        posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY, 0);
    pid_t pid = -1;
    const int err = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (err != 0)
        throw std::runtime_error("cannot start " + args[0]);
    TChildUsage usage;
    rusage ru{};
    while (::wait4(pid, &usage.Status, 0, &ru) < 0 && errno == EINTR) {
    }
    usage.CpuSeconds =
        double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) + double(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
    return usage;
}

// The job, stamped once into a copy of the programmer.
const std::string& Programmer()
{
    static const std::string path =
        [] {
            const fs::path dir = fs::temp_directory_path() / ("bench_station_" + std::to_string(::getpid()));
            fs::create_directories(dir);
            std::vector<char> image(ImageSize);
            for (size_t i = 0; i < image.size(); ++i)
                image[i] = char(i * 7 + (i >> 8));
            std::ofstream(dir / "image.bin", std::ios::binary).write(image.data(), std::streamsize(image.size()));
            std::ofstream(dir / "job.json")
                << "{\"title\": \"Bench\", \"flash_start\": 6144, \"flash_length\": 256000, \"flash_check_seed\": 129,"
                   " \"program_serial\": {\"baud\": 57600, \"data_bits\": 8, \"stop_bits\": 1, \"parity\": \"none\"},"
                   " \"image\": \"image.bin\"}";
            const std::string out = (dir / "programmer").string();
            if (RunQuietly(
                    {MORAVENT_JOB, "build", (dir / "job.json").string(), "-o", out, "--template", MORAVENT_FLASH_CLI})
                    .Status != 0)
                throw std::runtime_error("moravent-job build failed");
            std::atexit(
                [] { fs::remove_all(fs::temp_directory_path() / ("bench_station_" + std::to_string(::getpid()))); });
            return out;
        }();
    return path;
}

double OneUnitSeconds = 0;

void BM_Station(benchmark::State& state)
{
    const int units = static_cast<int>(state.range(0));
    double wall = 0, cpu = 0;
    for (auto _ : state) {
        std::vector<std::unique_ptr<unitsim::UnitSimulator>> sims;
        std::vector<std::string> args = {Programmer(), "--no-progress"};
        for (int i = 0; i < units; ++i) {
            unitsim::SimConfig cfg;
            cfg.pace = true;
            cfg.keepTrace = false;
            sims.push_back(std::make_unique<unitsim::UnitSimulator>(cfg));
            sims.back()->Start();
            args.insert(args.end(), {"--port", sims.back()->SlavePath()});
        }
        const auto start = std::chrono::steady_clock::now();
        const TChildUsage usage = RunQuietly(args);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (usage.Status != 0) {
            state.SkipWithError("a unit failed");
            return;
        }
        state.SetIterationTime(seconds);
        wall += seconds;
        cpu += usage.CpuSeconds;
    }
    wall /= double(state.iterations());
    cpu /= double(state.iterations());
    if (units == 1)
        OneUnitSeconds = wall;
    state.counters["units"] = units;
    state.counters["wall_s"] = wall;
    state.counters["vs_one"] = OneUnitSeconds > 0 ? wall / OneUnitSeconds : 0.0;
    state.counters["host_cpu_ms_per_unit"] = 1000.0 * cpu / units;
}

} // namespace

BENCHMARK(BM_Station)->Arg(1)->Arg(4)->Arg(16)->Iterations(3)->UseManualTime()->Unit(benchmark::kSecond);

BENCHMARK_MAIN();
