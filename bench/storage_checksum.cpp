// The start-up checksum check over the full payload, next to a memchr scan of the same
// bytes (the machine's read floor), both in bytes per second.
#include <benchmark/benchmark.h>

#include <cstring>

#include "storage/block_writer.h"
#include "storage/storeexe.h"

namespace {

// A valid block with non-zero bytes throughout, so neither loop can take a shortcut.
std::string& Block()
{
    static std::string exe = [] {
        std::vector<uint8_t> payload = NewPayload();
        for (size_t i = 0; i < payload.size(); ++i)
            payload[i] = uint8_t(i * 31 + 1) | 1;
        std::string bytes = StoredDataMarker() + std::string(layout::PayloadSize + 4, '\0');
        StampBlock(bytes, 0, payload);
        return bytes;
    }();
    return exe;
}

void BM_CheckStoredData(benchmark::State& state)
{
    const auto* block = reinterpret_cast<const uint8_t*>(Block().data());
    for (auto _ : state)
        benchmark::DoNotOptimize(CheckStoredData(block));
    state.SetBytesProcessed(int64_t(state.iterations()) * layout::PayloadSize);
}
BENCHMARK(BM_CheckStoredData);

void BM_MemchrFullScan(benchmark::State& state)
{
    const char* payload = Block().data() + layout::PayloadOffset;
    for (auto _ : state) {
        benchmark::DoNotOptimize(payload);
        benchmark::DoNotOptimize(std::memchr(payload, 0, layout::PayloadSize)); // no zero byte: full scan
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * layout::PayloadSize);
}
BENCHMARK(BM_MemchrFullScan);

} // namespace
