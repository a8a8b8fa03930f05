// Frame delivery from the capture library's completion callback, through the
// device's delegate walk, to four delegates. Frames are handed in through the
// library's C ABI (ZISim_PushFrame) on the benchmark thread, exactly as the library's
// own capture thread hands them in. Figures: time per frame, time per delegate call,
// and heap allocations per frame made by the component (the library's own lookup of
// the device is measured first with no subscriber and subtracted).
#include "AllocationCounter.h"

#include "Libraries/zedederadIvo/include/zedederadIvoSim.h"
#include "SimulatedBus.h"
#include <orva/OrvaAVDeviceDelegate.h>
#include <orva/OrvaDeviceManager.h>
#include <orva/OrvaVideoDevice.h>
#include "platform/foundation/SystemLog.h"
#include <orva/FormatDescription.h>

#include <benchmark/benchmark.h>

#include <array>
#include <atomic>
#include <vector>

using namespace orva;

namespace {

const char* kPath = "bench-bus/video";

struct CountingDelegate : OrvaAVDeviceDelegate {
    void didCaptureFrame(const void* frame, uint32_t length, int64_t timestamp,
                         const std::shared_ptr<OrvaDeviceInfo>&) override
    {
        benchmark::DoNotOptimize(frame);
        bytes.fetch_add(length + static_cast<uint64_t>(timestamp & 1), std::memory_order_relaxed);
    }
    std::atomic<uint64_t> bytes{0};
};

// Allocations per PushFrame made by the library alone (device open, nobody subscribed).
double libraryAllocationsPerPush(const std::vector<uint8_t>& frame)
{
    constexpr int kRounds = 1000;
    const uint64_t before = orvabench::threadAllocations();
    for (int i = 0; i < kRounds; ++i)
        (void)ZISim_PushFrame(kPath, frame.data(), static_cast<uint32_t>(frame.size()), i);
    return static_cast<double>(orvabench::threadAllocations() - before) / kRounds;
}

void BM_DeliverFrameToFourDelegates(benchmark::State& state)
{
    SystemLog::setEchoToStandardError(false);
    orvabench::resetSimulatedBus();
    ZISim_SetBuiltInDevices(0);
    ZISimDeviceDesc d{};
    d.type = ZISIM_CAMERA;
    d.path = kPath;
    d.name = "Bench Camera";
    d.withDefaultDescription = 1;
    if (ZISim_Plug(&d) != 0) return state.SkipWithError("plug failed");
    auto cameras = OrvaDeviceManager::getSharedInstance()->getVideoDeviceList();
    if (cameras->empty()) return state.SkipWithError("no camera");
    auto camera = std::dynamic_pointer_cast<OrvaVideoDevice>(OrvaAVDevice::newDevice((*cameras)[0]));
    if (!camera || camera->openDevice() != 0) return state.SkipWithError("open failed");

    std::vector<uint8_t> frame(static_cast<size_t>(state.range(0)), 0x80);
    const double libraryOnly = libraryAllocationsPerPush(frame);

    std::array<std::shared_ptr<CountingDelegate>, 4> delegates;
    for (auto& delegate : delegates) {
        delegate = std::make_shared<CountingDelegate>();
        camera->addDelegate(delegate);
    }
    camera->setFormat(VideoFormatDescription::create(kCodec2VUY, 320, 240));
    if (camera->startCapture() != 0) return state.SkipWithError("start failed");

    int64_t timestamp = 0;
    const uint64_t before = orvabench::threadAllocations();
    for (auto _ : state) {
        const int32_t called =
            ZISim_PushFrame(kPath, frame.data(), static_cast<uint32_t>(frame.size()), ++timestamp);
        benchmark::DoNotOptimize(called);
    }
    const double total =
        static_cast<double>(orvabench::threadAllocations() - before) / static_cast<double>(state.iterations());

    state.counters["component_allocs_per_frame"] = total - libraryOnly;
    state.counters["library_allocs_per_frame"] = libraryOnly;
    state.counters["time_per_delegate_call"] = benchmark::Counter(
        static_cast<double>(delegates.size()), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.SetBytesProcessed(state.iterations() * state.range(0));

    (void)camera->stopCapture();
    (void)camera->closeDevice();
    camera.reset();
    OrvaDeviceManager::destroy();
    orvabench::resetSimulatedBus();
}

} // namespace

// A 720p H.264 frame is tens of kilobytes; a 640x480 2vuy frame is 614400 bytes. The
// walk does not touch the bytes, so the size should not matter.
BENCHMARK(BM_DeliverFrameToFourDelegates)->Arg(40000)->Arg(614400)->UseRealTime();
