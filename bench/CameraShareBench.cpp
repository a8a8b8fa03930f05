// Sharing a 1080p camera over PipeWire with one consumer watching, frames paced at
// 30 a second: the sharing thread's CPU per frame, beside what the same frames cost
// without sharing in the same run (copying the 2vuy frame once; decoding the H.264
// frame alone), and the latency from the frame's capture time to the consumer's
// buffer (median and 99th percentile). Needs a PipeWire daemon: run it under
// tests/pipewire/with-pipewire.sh (./test.sh does); without one it says so and skips.
#include "CameraStream.h"

#include "../tests/pipewire/VideoConsumer.h"
#include "platform/media/H264FrameDecoder.h"

#include <PipeWireConnection.h>
#include <PipeWireVideoSource.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <ctime>
#include <thread>
#include <vector>

namespace {

using orva::pipewire::PipeWireVideoSource;

int64_t threadCpuNanoseconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return int64_t{now.tv_sec} * 1000000000 + now.tv_nsec;
}

int64_t monotonicNanoseconds()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t{now.tv_sec} * 1000000000 + now.tv_nsec;
}

// Arg 0: 2vuy handed on as UYVY; 1: 6 Mbit/s H.264 decoded to I420.
void BM_PipeWireCameraShare_vs_NoSharing(benchmark::State& state)
{
    const bool h264 = state.range(0) == 1;
    std::string error;
    auto connection = orva::pipewire::PipeWireConnection::connect(&error);
    if (!connection) return state.SkipWithError("no PipeWire daemon (run under tests/pipewire/with-pipewire.sh)");
    const auto& stream = orvabench::cameraStream(6);
    if (h264 && stream.frames.empty()) return state.SkipWithError("libx264 is not available");
    PipeWireVideoSource::Options options;
    options.nodeName = h264 ? "orva-bench-share-h264" : "orva-bench-share-2vuy";
    options.description = "Benchmark camera";
    options.format = h264 ? PipeWireVideoSource::PixelFormat::I420 : PipeWireVideoSource::PixelFormat::UYVY;
    options.width = 1920;
    options.height = 1080;
    auto source = PipeWireVideoSource::create(connection, options, nullptr, &error);
    if (!source) return state.SkipWithError(error.c_str());
    orvatest::VideoConsumer consumer(options.nodeName);
    for (int i = 0; i < 300 && !source->wanted(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (!source->wanted()) return state.SkipWithError("the consumer did not link");

    const auto raw = orvabench::rawFrames();
    orva::H264FrameDecoder decoder, anchorDecoder;
    std::vector<uint8_t> picture(source->frameBytes()), copy(raw[0].size());
    int64_t ours = 0, anchor = 0, frames = 0;
    const auto period = std::chrono::microseconds(33333);
    for (auto _ : state) {
        auto next = std::chrono::steady_clock::now();
        const size_t count = h264 ? std::min<size_t>(stream.frames.size(), 90) : 90;
        for (size_t i = 0; i < count; ++i, ++frames) {
            std::this_thread::sleep_until(next += period);
            int64_t start = threadCpuNanoseconds();
            if (h264) {
                const auto& frame = stream.frames[i];
                const uint32_t n = decoder.decode(frame.data(), static_cast<uint32_t>(frame.size()), 1920, 1080,
                                                  picture.data(), static_cast<uint32_t>(picture.size()));
                if (n) (void)source->push(monotonicNanoseconds() / 1000, [&](uint8_t* data, uint32_t size, uint32_t) {
                    std::memcpy(data, picture.data(), std::min(n, size));
                    return std::min(n, size);
                });
            } else {
                const auto& frame = raw[i % raw.size()];
                (void)source->push(monotonicNanoseconds() / 1000, [&](uint8_t* data, uint32_t size, uint32_t) {
                    const auto n = static_cast<uint32_t>(std::min<size_t>(frame.size(), size));
                    std::memcpy(data, frame.data(), n);
                    return n;
                });
            }
            ours += threadCpuNanoseconds() - start;
            start = threadCpuNanoseconds();
            if (h264) {
                const auto& frame = stream.frames[i];
                benchmark::DoNotOptimize(anchorDecoder.decode(frame.data(), static_cast<uint32_t>(frame.size()), 1920,
                                                              1080, picture.data(), static_cast<uint32_t>(picture.size())));
            } else {
                std::memcpy(copy.data(), raw[i % raw.size()].data(), copy.size());
                benchmark::ClobberMemory();
            }
            anchor += threadCpuNanoseconds() - start;
        }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200)); // the last frames reach the consumer
    std::vector<double> latencies;
    for (size_t i = 0; i < consumer.frames(); ++i)
        if (consumer.pts(i) > 0) latencies.push_back((consumer.arrival(i) - consumer.pts(i)) / 1e6);
    std::sort(latencies.begin(), latencies.end());
    auto percentile = [&](double p) { return latencies.empty() ? 0.0 : latencies[static_cast<size_t>(p * (latencies.size() - 1))]; };
    state.counters["us_per_frame"] = frames ? ours / 1e3 / frames : 0;
    state.counters["without_sharing_us"] = frames ? anchor / 1e3 / frames : 0;
    state.counters["vs_without"] = anchor ? static_cast<double>(ours) / anchor : 0;
    state.counters["latency_median_ms"] = percentile(0.5);
    state.counters["latency_p99_ms"] = percentile(0.99);
    state.counters["received"] = static_cast<double>(consumer.frames());
    state.counters["dropped"] = static_cast<double>(source->framesDropped());
}

} // namespace

BENCHMARK(BM_PipeWireCameraShare_vs_NoSharing)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kMillisecond);
