// Throughput of the run-length decoders on long runs and long literal stretches, counted in
// bytes written. Target: at least 1 GB/s of output for PackBits, PCX and Targa RLE runs.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "imaging/decoders/Decoder.h"

namespace {

constexpr size_t kOutput = 16 << 20;

// Packets of `header` followed by `value` bytes, repeated until they unpack to kOutput bytes.
std::vector<uint8_t> Packets(std::initializer_list<uint8_t> packet, size_t unpackedPerPacket) {
    std::vector<uint8_t> out;
    for (size_t n = 0; n < kOutput; n += unpackedPerPacket)
        out.insert(out.end(), packet);
    return out;
}

void RunDecoder(benchmark::State& state, TDecoder& decoder, std::vector<uint8_t>& packed,
                int32_t unpackedUnits) {
    std::vector<uint8_t> dest(kOutput);
    for (auto _ : state) {
        uint8_t* src = packed.data();
        uint8_t* dst = dest.data();
        decoder.DecodeBlock(src, dst, static_cast<int32_t>(packed.size()), unpackedUnits);
        benchmark::DoNotOptimize(dest.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kOutput));
}

void PackBitsRuns(benchmark::State& state) {
    auto packed = Packets({0x81, 7}, 128);
    TPackbitsRLEDecoder d;
    RunDecoder(state, d, packed, kOutput);
}

void PackBitsLiterals(benchmark::State& state) {
    std::vector<uint8_t> packet(129, 3);
    packet[0] = 127;
    std::vector<uint8_t> packed;
    for (size_t n = 0; n < kOutput; n += 128)
        packed.insert(packed.end(), packet.begin(), packet.end());
    TPackbitsRLEDecoder d;
    RunDecoder(state, d, packed, kOutput);
}

void PCXRuns(benchmark::State& state) {
    auto packed = Packets({0xFF, 7}, 63);
    TPCXRLEDecoder d;
    RunDecoder(state, d, packed, kOutput);
}

void TargaRuns8(benchmark::State& state) {
    auto packed = Packets({0xFF, 7}, 128);
    TTargaRLEDecoder d(8);
    RunDecoder(state, d, packed, kOutput);
}

void TargaRuns24(benchmark::State& state) {
    auto packed = Packets({0xFF, 1, 2, 3}, 128 * 3);
    TTargaRLEDecoder d(24);
    RunDecoder(state, d, packed, kOutput / 3);
}

void TargaRuns32(benchmark::State& state) {
    auto packed = Packets({0xFF, 1, 2, 3, 4}, 128 * 4);
    TTargaRLEDecoder d(32);
    RunDecoder(state, d, packed, kOutput / 4);
}

}  // namespace

BENCHMARK(PackBitsRuns);
BENCHMARK(PackBitsLiterals);
BENCHMARK(PCXRuns);
BENCHMARK(TargaRuns8);
BENCHMARK(TargaRuns24);
BENCHMARK(TargaRuns32);
BENCHMARK_MAIN();
