// Loading the connect wizard's picture as the programmer does (decode, keep a copy): the
// time, and in MB the memory the load takes at its peak and what the loaded picture holds
// (measured once per case in a child process, from its resident set). Cases: a typical
// 640 x 480 picture, the largest allowed (4096 x 4096) and one beyond it (8192 x 4096), the
// last two progressive and of one colour, so their files are small.
#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

#include "framework/exceptions.h"
#include "framework/graphics.h"
#include "framework/streams.h"
#include "tests/framework/test_images.h"

namespace {

const std::string& File(int which)
{
    static const std::string files[] = {
        testimg::Jpeg(640, 480),
        testimg::Jpeg(4096, 4096, 3, testimg::Scans::Progressive),
        testimg::Jpeg(8192, 4096, 3, testimg::Scans::Progressive),
    };
    return files[which];
}

// Whether the picture loaded; a refused one leaves the picture empty.
bool Load(const std::string& file, TPicture& picture)
{
    TMemoryStream stream;
    stream.LoadFrom(file.data(), int64_t(file.size()));
    TJPEGImage jpeg;
    try {
        jpeg.LoadFromStream(stream);
    } catch (const EInvalidGraphic&) {
        return false;
    }
    picture.Assign(jpeg);
    return true;
}

long ResidentKB()
{
    long pages = 0, resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(f);
    }
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

struct Memory {
    double peakMB = 0, heldMB = 0;
};

// In a child, so that neither the peak nor the heap's reuse depends on the cases before.
Memory Measure(const std::string& file)
{
    int fds[2];
    if (::pipe(fds) != 0)
        return {};
    const pid_t pid = ::fork();
    if (pid == 0) {
        const long before = ResidentKB();
        TPicture picture;
        Load(file, picture);
        const long report[2] = {before, ResidentKB() - before};
        const ssize_t written = ::write(fds[1], report, sizeof report);
        ::_exit(written == sizeof report ? 0 : 1);
    }
    ::close(fds[1]);
    long report[2] = {0, 0};
    const bool got = ::read(fds[0], report, sizeof report) == ssize_t(sizeof report);
    ::close(fds[0]);
    rusage usage{};
    int status = 0;
    ::wait4(pid, &status, 0, &usage);
    if (!got)
        return {};
    return {double(usage.ru_maxrss - report[0]) / 1024, double(report[1]) / 1024};
}

void BM_LoadPicture(benchmark::State& state, int which)
{
    const std::string& file = File(which);
    bool loaded = false;
    for (auto _ : state) {
        TPicture picture;
        loaded = Load(file, picture);
        benchmark::DoNotOptimize(picture.Width());
    }
    const Memory m = Measure(file);
    state.counters["file_KB"] = double(file.size()) / 1024;
    state.counters["loaded"] = loaded;
    state.counters["peak_MB"] = m.peakMB;
    state.counters["held_MB"] = m.heldMB;
}
BENCHMARK_CAPTURE(BM_LoadPicture, typical_640x480, 0)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_LoadPicture, largest_allowed_4096x4096_progressive, 1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_LoadPicture, oversized_8192x4096_progressive, 2)->Unit(benchmark::kMillisecond);

} // namespace
