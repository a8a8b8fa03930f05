// The start-code to length conversion over real 1080p H.264 frames, in GB/s, beside
// memchr over the same bytes (a scan for a byte value that does not occur, so memchr
// reads every byte). Both walk the same 20 copies of one second of frames (about
// 3.6 MB, beyond the caches, as a recording's frames are); the conversion's frames
// are restored from pristine copies between batches with the timer paused.
#include "CapturedFrames.h"

#include "recording/H264BoxFormat.h"

#include <benchmark/benchmark.h>

#include <array>
#include <cstdio>
#include <cstring>

namespace {

size_t totalBytes(const std::vector<std::vector<uint8_t>>& frames)
{
    size_t n = 0;
    for (const auto& f : frames) n += f.size();
    return n;
}

constexpr int kCopies = 20;

std::vector<std::vector<uint8_t>> manyFrames()
{
    std::vector<std::vector<uint8_t>> out;
    for (int c = 0; c < kCopies; ++c)
        for (const auto& f : orvabench::capturedH264Frames()) out.push_back(f);
    return out;
}

void BM_ConvertStreamToBoxFormat_1080p(benchmark::State& state)
{
    const auto pristine = manyFrames();
    if (pristine.empty()) return state.SkipWithError("no frames from the simulated camera");
    auto work = pristine;
    int64_t bytes = 0;
    // Conversion prints nothing for well-formed frames; stdout stays quiet.
    for (auto _ : state) {
        state.PauseTiming();
        for (size_t i = 0; i < work.size(); ++i) std::memcpy(work[i].data(), pristine[i].data(), pristine[i].size());
        state.ResumeTiming();
        for (auto& frame : work) orva::ConvertStreamToBoxFormat(frame.data(), static_cast<uint32_t>(frame.size()));
        benchmark::ClobberMemory();
        bytes += static_cast<int64_t>(totalBytes(work));
    }
    state.SetBytesProcessed(bytes);
    state.counters["frames"] = static_cast<double>(work.size());
    state.counters["avg_frame_bytes"] = static_cast<double>(totalBytes(work)) / static_cast<double>(work.size());
}

void BM_Memchr_SameBytes(benchmark::State& state)
{
    const auto frames = manyFrames();
    if (frames.empty()) return state.SkipWithError("no frames from the simulated camera");
    // A byte value absent from every frame makes memchr read each byte.
    std::array<size_t, 256> counts{};
    for (const auto& f : frames)
        for (uint8_t b : f) counts[b]++;
    int absent = -1;
    for (int v = 0; v < 256 && absent < 0; ++v)
        if (counts[static_cast<size_t>(v)] == 0) absent = v;
    std::vector<std::vector<uint8_t>> scanned = frames;
    if (absent < 0) { // every value occurs: scan zero-filled buffers of the same sizes
        for (auto& f : scanned) std::fill(f.begin(), f.end(), 0);
        absent = 1;
    }
    int64_t bytes = 0;
    for (auto _ : state) {
        for (const auto& f : scanned) benchmark::DoNotOptimize(std::memchr(f.data(), absent, f.size()));
        bytes += static_cast<int64_t>(totalBytes(scanned));
    }
    state.SetBytesProcessed(bytes);
}

} // namespace

BENCHMARK(BM_ConvertStreamToBoxFormat_1080p);
BENCHMARK(BM_Memchr_SameBytes);
