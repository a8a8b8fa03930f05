// Start codes to lengths over camera-like H.264: libx264's 1080p30 noisy content at 6
// and 20 Mbit/s (a 01 byte every few hundred bytes), start codes made 4 bytes long as
// the camera backend hands frames on, in a working set four times the last-level
// cache. In the same run and over the same bytes: a converter built on memchr (the
// anchor; the target is at least its speed) and a plain read of every byte (what the
// memory allows). Each pass restores the whole working set first, so the frames a
// pass starts with are no longer in the cache.
#include "CameraStream.h"

#include "recording/H264BoxFormat.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>

namespace {

void writeBigEndian(uint8_t* at, uint32_t value)
{
    at[0] = static_cast<uint8_t>(value >> 24);
    at[1] = static_cast<uint8_t>(value >> 16);
    at[2] = static_cast<uint8_t>(value >> 8);
    at[3] = static_cast<uint8_t>(value);
}

// The anchor: every 01 byte memchr finds that follows three zero bytes ends a start
// code, which becomes the length of the unit it begins.
void memchrConvert(uint8_t* data, size_t length)
{
    const uint8_t* end = data + length;
    const uint8_t* p = data + 3;
    size_t current = SIZE_MAX;
    while (p < end) {
        p = static_cast<const uint8_t*>(std::memchr(p, 0x01, static_cast<size_t>(end - p)));
        if (!p) break;
        if (p[-1] == 0 && p[-2] == 0 && p[-3] == 0) {
            const size_t q = static_cast<size_t>(p - 3 - data);
            if (current != SIZE_MAX) writeBigEndian(data + current, static_cast<uint32_t>(q - current - 4));
            current = q;
            p += 4;
        } else {
            ++p;
        }
    }
    if (current != SIZE_MAX) writeBigEndian(data + current, static_cast<uint32_t>(length - current - 4));
}

// Every byte read once, 8 at a time: the memory's own limit for one thread.
uint64_t readAll(const uint8_t* data, size_t length)
{
    uint64_t sum = 0;
    size_t i = 0;
    for (; i + 8 <= length; i += 8) {
        uint64_t word;
        std::memcpy(&word, data + i, 8);
        sum ^= word;
    }
    for (; i < length; ++i) sum ^= data[i];
    return sum;
}

using Frames = std::vector<std::vector<uint8_t>>;

template <typename Pass>
double timedPass(Frames& work, const Frames& pristine, Pass pass)
{
    for (size_t i = 0; i < work.size(); ++i) std::memcpy(work[i].data(), pristine[i].data(), pristine[i].size());
    const auto start = std::chrono::steady_clock::now();
    for (auto& frame : work) pass(frame);
    benchmark::ClobberMemory();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void BM_StartCodesToLengths_vs_MemchrConverter(benchmark::State& state)
{
    const auto& stream = orvabench::cameraStream(static_cast<int>(state.range(0)));
    if (stream.frames.empty()) return state.SkipWithError("libx264 is not available");
    Frames frames;
    for (const auto& f : stream.frames) frames.push_back(orvabench::withFourByteStartCodes(f));
    const Frames pristine = orvabench::workingSet(frames, 4 * orvabench::lastLevelCacheBytes());
    Frames work = pristine;
    size_t bytes = 0, ones = 0;
    for (const auto& f : pristine) {
        bytes += f.size();
        for (uint8_t b : f) ones += b == 1;
    }
    double ours = 0, anchor = 0, read = 0;
    uint64_t sink = 0;
    for (auto _ : state) {
        const double pass = timedPass(work, pristine, [](std::vector<uint8_t>& f) {
            orva::ConvertStreamToBoxFormat(f.data(), static_cast<uint32_t>(f.size()));
        });
        ours += pass;
        anchor += timedPass(work, pristine, [](std::vector<uint8_t>& f) { memchrConvert(f.data(), f.size()); });
        read += timedPass(work, pristine, [&](std::vector<uint8_t>& f) { sink ^= readAll(f.data(), f.size()); });
        state.SetIterationTime(pass);
    }
    benchmark::DoNotOptimize(sink);
    const double n = static_cast<double>(state.iterations()) * static_cast<double>(bytes) / 1e9;
    state.counters["working_set_MB"] = static_cast<double>(bytes) / 1e6;
    state.counters["bytes_per_01"] = ones ? static_cast<double>(bytes) / static_cast<double>(ones) : 0;
    state.counters["orva_GBps"] = n / ours;
    state.counters["memchr_converter_GBps"] = n / anchor;
    state.counters["read_GBps"] = n / read;
    state.counters["orva_vs_memchr_converter"] = anchor / ours;
    state.counters["orva_vs_read"] = read / ours;
}

} // namespace

BENCHMARK(BM_StartCodesToLengths_vs_MemchrConverter)->Arg(6)->Arg(20)->UseManualTime()->Unit(benchmark::kMillisecond);
