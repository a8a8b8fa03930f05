// Frame delivery from the capture library's completion callback through the device's
// delegate walk, on the delivering thread's CPU time: the library's own dispatch (a
// device nobody listens to), the component's fixed cost per frame (a capturing camera
// with no delegate) and the cost of each delegate more (the slope over 1, 2, 4 and 8
// delegates), plus heap allocations per frame. Frames are handed in through the C ABI
// (ZISim_PushFrame) exactly as the library's capture thread hands them in.
#include "AllocationCounter.h"

#include "Libraries/zedederadIvo/include/zedederadIvoSim.h"
#include "SimulatedBus.h"
#include <orva/FormatDescription.h>
#include <orva/OrvaAVDeviceDelegate.h>
#include <orva/OrvaDeviceManager.h>
#include <orva/OrvaVideoDevice.h>
#include "platform/foundation/SystemLog.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <time.h>
#include <vector>

using namespace orva;

namespace {

const char* kPath = "bench-bus/video";
const char* kIdlePath = "bench-bus/idle";

struct CountingDelegate : OrvaAVDeviceDelegate {
    void didCaptureFrame(const void* frame, uint32_t length, int64_t timestamp,
                         const std::shared_ptr<OrvaDeviceInfo>&) override
    {
        benchmark::DoNotOptimize(frame);
        bytes.fetch_add(length + static_cast<uint64_t>(timestamp & 1), std::memory_order_relaxed);
    }
    std::atomic<uint64_t> bytes{0};
};

double threadNanoseconds()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1e9 + static_cast<double>(ts.tv_nsec);
}

// Thread CPU nanoseconds per push (the best of a few rounds, so preemption and the
// first touch do not count).
double nanosecondsPerPush(const char* path, const std::vector<uint8_t>& frame, int64_t& timestamp)
{
    constexpr int kPushes = 20000;
    double best = 1e18;
    for (int round = 0; round < 5; ++round) {
        const double start = threadNanoseconds();
        for (int i = 0; i < kPushes; ++i)
            benchmark::DoNotOptimize(ZISim_PushFrame(path, frame.data(), static_cast<uint32_t>(frame.size()), ++timestamp));
        best = std::min(best, (threadNanoseconds() - start) / kPushes);
    }
    return best;
}

void plug(const char* path, const char* name)
{
    ZISimDeviceDesc d{};
    d.type = ZISIM_CAMERA;
    d.path = path;
    d.name = name;
    d.withDefaultDescription = 1;
    (void)ZISim_Plug(&d);
}

void BM_Delivery_FixedAndPerDelegateCost(benchmark::State& state)
{
    SystemLog::setEchoToStandardError(false);
    orvabench::resetSimulatedBus();
    ZISim_SetBuiltInDevices(0);
    plug(kPath, "Bench Camera");
    plug(kIdlePath, "Idle Camera");
    auto cameras = OrvaDeviceManager::getSharedInstance()->getVideoDeviceList();
    std::shared_ptr<OrvaVideoDevice> camera;
    for (const auto& info : *cameras)
        if (info->nameText() == "Bench Camera") camera = std::dynamic_pointer_cast<OrvaVideoDevice>(OrvaAVDevice::newDevice(info));
    if (!camera || camera->openDevice() != 0) return state.SkipWithError("open failed");
    camera->setFormat(VideoFormatDescription::create(kCodec2VUY, 320, 240));
    ZISim_InjectResult("VCI_Start_Capture", 0, 1); // capturing, with no stream of the library's own
    if (camera->startCapture() != 0) return state.SkipWithError("start failed");

    const std::vector<uint8_t> frame(static_cast<size_t>(state.range(0)), 0x80);
    int64_t timestamp = 0;
    std::vector<std::shared_ptr<CountingDelegate>> delegates;
    double library = 0, fixed = 0, slope = 0, allocations = 0, libraryAllocations = 0;
    for (auto _ : state) {
        library = nanosecondsPerPush(kIdlePath, frame, timestamp);
        fixed = nanosecondsPerPush(kPath, frame, timestamp);
        // Least squares over 1, 2, 4 and 8 delegates.
        double sx = 0, sy = 0, sxx = 0, sxy = 0;
        for (int n : {1, 2, 4, 8}) {
            while (static_cast<int>(delegates.size()) < n) {
                delegates.push_back(std::make_shared<CountingDelegate>());
                camera->addDelegate(delegates.back());
            }
            const double y = nanosecondsPerPush(kPath, frame, timestamp);
            sx += n;
            sy += y;
            sxx += n * n;
            sxy += n * y;
        }
        slope = (4 * sxy - sx * sy) / (4 * sxx - sx * sx);
        // The component's allocations: a frame through eight delegates, less what the
        // library's own dispatch allocates for a device nobody listens to.
        auto allocationsPerPush = [&](const char* path) {
            const uint64_t before = orvabench::threadAllocations();
            for (int i = 0; i < 1000; ++i)
                (void)ZISim_PushFrame(path, frame.data(), static_cast<uint32_t>(frame.size()), ++timestamp);
            return static_cast<double>(orvabench::threadAllocations() - before) / 1000;
        };
        libraryAllocations = allocationsPerPush(kIdlePath);
        allocations = allocationsPerPush(kPath) - libraryAllocations;
        for (auto& d : delegates) camera->removeDelegate(d);
        delegates.clear();
    }
    state.counters["library_dispatch_ns"] = library;
    state.counters["component_fixed_ns"] = fixed - library;
    state.counters["per_delegate_ns"] = slope;
    state.counters["component_allocs_per_frame"] = allocations;
    state.counters["library_allocs_per_frame"] = libraryAllocations;

    (void)camera->stopCapture();
    camera->closeDevice();
    camera.reset();
    OrvaDeviceManager::destroy();
    orvabench::resetSimulatedBus();
}

} // namespace

// A 720p H.264 frame is tens of kilobytes; a 640x480 2vuy frame is 614400 bytes. The
// walk does not touch the bytes, so the size should not matter.
BENCHMARK(BM_Delivery_FixedAndPerDelegateCost)->Arg(40000)->Arg(614400)->Iterations(1);
