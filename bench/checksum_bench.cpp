// Checksum throughput on 4096-byte blocks, the unit of the modem image.
#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

#include "image/checksum.h"

namespace {

std::vector<std::uint8_t> random_block(std::size_t size)
{
    std::mt19937 generator(42);
    std::vector<std::uint8_t> block(size);
    for (auto& byte : block) {
        byte = static_cast<std::uint8_t>(generator());
    }
    return block;
}

void run(benchmark::State& state, quarnel::ChecksumFunction checksum)
{
    const auto block = random_block(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(checksum(block));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

void BM_block_checksum_reference(benchmark::State& state) { run(state, quarnel::block_checksum_reference); }
void BM_block_checksum(benchmark::State& state) { run(state, quarnel::block_checksum); }
void BM_block_checksum_portable(benchmark::State& state) { run(state, quarnel::block_checksum_portable); }

// A 1 MiB chunk's table, as the converter fills it, and with the portable blocks interleaved.
void run_table(benchmark::State& state, decltype(&quarnel::checksum_blocks) fill)
{
    const auto chunk = random_block(std::size_t{1} << 20);
    std::vector<std::uint8_t> table(2 * (chunk.size() / quarnel::kBlockSize));
    for (auto _ : state) {
        fill(chunk, 0, table, quarnel::kBlockSize);
        benchmark::DoNotOptimize(table.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * chunk.size()));
}
void BM_checksum_blocks(benchmark::State& state) { run_table(state, quarnel::checksum_blocks); }
void BM_checksum_blocks_portable(benchmark::State& state) { run_table(state, quarnel::checksum_blocks_portable); }

BENCHMARK(BM_checksum_blocks);
BENCHMARK(BM_checksum_blocks_portable);
BENCHMARK(BM_block_checksum_reference)->Arg(4096);
BENCHMARK(BM_block_checksum)->Arg(4096)->Arg(2048)->Arg(1 << 20);
BENCHMARK(BM_block_checksum_portable)->Arg(4096);

// Each kernel this CPU can run, on its own.
const bool kRegistered = [] {
    for (const quarnel::ChecksumKernel& kernel : quarnel::checksum_kernels()) {
        if (kernel.runnable) {
            benchmark::RegisterBenchmark(
                ("BM_block_checksum_" + std::string(kernel.name)).c_str(),
                [function = kernel.function](benchmark::State& state) { run(state, function); })
                ->Arg(4096);
        }
    }
    return true;
}();

}  // namespace

BENCHMARK_MAIN();
