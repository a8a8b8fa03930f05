// The system camera backend's cost per frame, from VIDIOC_DQBUF to the component's
// delegates, beside a bare poll/DQBUF/QBUF loop over the same scripted camera and the
// same buffers (prefilled once, as a camera's DMA fills them); and the MJPEG → 2vuy
// decode of a 1080p camera-like frame beside libjpeg-turbo decoding the same bytes to
// planes alone. Figures: CPU nanoseconds per frame of the whole process (both
// threads), the ratio to the anchor, and decoded frames per second on one core.
#include "devices/CallbackGate.h"
#include "devices/video/OrvaVideoDevicePrivate.h"
#include "FakeUvcCamera.h"
#include "SimulatedBus.h"

#include "DeviceFile.h"
#include "FrameConverter.h"
#include "Subscriptions.h"
#include "V4l2Camera.h"

#include <orva/OrvaAVDeviceDelegate.h>
#include <orva/OrvaDeviceInfo.h>
#include <orva/OrvaVideoDevice.h>

#include <benchmark/benchmark.h>
#include <turbojpeg.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <fcntl.h>
#include <functional>
#include <chrono>
#include <random>
#include <sys/mman.h>
#include <sys/resource.h>
#include <thread>

using namespace orva;

namespace {

constexpr uint32_t kWidth = 1920, kHeight = 1080;
const char* kNode = "/dev/video0";

double processCpuNanoseconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e9 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e3;
}

struct CountingDelegate : OrvaAVDeviceDelegate {
    void didCaptureFrame(const void* frame, uint32_t, int64_t, const std::shared_ptr<OrvaDeviceInfo>&) override
    {
        benchmark::DoNotOptimize(frame);
        frames.fetch_add(1, std::memory_order_release);
    }
    std::atomic<uint64_t> frames{0};
};

orvatest::FakeUvcCamera& uyvyCamera()
{
    static orvatest::FakeUvcCamera* camera = [] {
        auto* c = new orvatest::FakeUvcCamera();
        c->addNode(kNode);
        c->addFormat(kNode, {V4L2_PIX_FMT_UYVY, kWidth, kHeight, {{1, 30}}});
        // The benchmark's own copy of the backend answers through the same camera.
        zi::sys::devicefile::install(&c->ops());
        return c;
    }();
    return *camera;
}

// Hands `frames` frames to the camera, each as soon as the reader has queued a buffer.
void feed(orvatest::FakeUvcCamera& camera, uint64_t frames, const std::function<uint64_t()>& delivered)
{
    for (uint64_t i = 0; i < frames; ++i) {
        camera.waitStreaming(kNode, 1);
        camera.pushPrefilled(kNode, kWidth * kHeight * 2, static_cast<int64_t>(i) * 33333);
    }
    while (delivered() < frames) std::this_thread::yield();
}

// The anchor: the same handshake with nothing but the handshake.
double bareLoopNanosecondsPerFrame(uint64_t frames)
{
    auto& camera = uyvyCamera();
    const int fd = zi::sys::devicefile::open(kNode, O_RDWR | O_NONBLOCK);
    v4l2_format format{};
    format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    format.fmt.pix = {kWidth, kHeight, V4L2_PIX_FMT_UYVY, V4L2_FIELD_ANY, 0, 0, 0, 0, 0, 0, 0, 0};
    zi::sys::devicefile::xioctl(fd, VIDIOC_S_FMT, &format);
    v4l2_requestbuffers request{};
    request.count = 4;
    request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    request.memory = V4L2_MEMORY_MMAP;
    zi::sys::devicefile::xioctl(fd, VIDIOC_REQBUFS, &request);
    for (uint32_t i = 0; i < request.count; ++i) {
        v4l2_buffer buffer{};
        buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buffer.memory = V4L2_MEMORY_MMAP;
        buffer.index = i;
        zi::sys::devicefile::xioctl(fd, VIDIOC_QUERYBUF, &buffer);
        benchmark::DoNotOptimize(zi::sys::devicefile::mmap(buffer.length, PROT_READ | PROT_WRITE, fd, buffer.m.offset));
        zi::sys::devicefile::xioctl(fd, VIDIOC_QBUF, &buffer);
    }
    v4l2_buf_type type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    zi::sys::devicefile::xioctl(fd, VIDIOC_STREAMON, &type);
    camera.prefill(kNode, std::vector<uint8_t>(size_t{kWidth} * kHeight * 2, 0x80));
    std::atomic<uint64_t> done{0};
    std::thread reader([&] {
        pollfd fds{fd, POLLIN, 0};
        while (done.load() < frames) {
            if (zi::sys::devicefile::poll(&fds, 1, 100) <= 0) continue;
            v4l2_buffer buffer{};
            buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            buffer.memory = V4L2_MEMORY_MMAP;
            if (zi::sys::devicefile::xioctl(fd, VIDIOC_DQBUF, &buffer) != 0) continue;
            done.fetch_add(1);
            zi::sys::devicefile::xioctl(fd, VIDIOC_QBUF, &buffer);
        }
    });
    const double before = processCpuNanoseconds();
    feed(camera, frames, [&] { return done.load(); });
    const double spent = processCpuNanoseconds() - before;
    reader.join();
    zi::sys::devicefile::xioctl(fd, VIDIOC_STREAMOFF, &type);
    zi::sys::devicefile::close(fd);
    return spent / static_cast<double>(frames);
}

double backendNanosecondsPerFrame(uint64_t frames, int delegates)
{
    auto& camera = uyvyCamera();
    zi::Subscriptions subscriptions;
    zi::sys::CameraNode node;
    node.node = kNode;
    auto backend = zi::sys::V4l2Camera::open(node, subscriptions);
    if (!backend) return -1;
    void* handle = reinterpret_cast<void*>(0x10);
    backend->setHandle(handle);
    auto info = std::make_shared<OrvaDeviceInfo>();
    auto device = OrvaVideoDevice::create(info);
    std::vector<std::shared_ptr<CountingDelegate>> counters;
    for (int i = 0; i < delegates; ++i) {
        counters.push_back(std::make_shared<CountingDelegate>());
        device->addDelegate(counters.back());
    }
    // What the camera's own start subscribes with: its callback, through a gate.
    CallbackGate gate(&OrvaAVDevice::Private::of(*device));
    (void)subscriptions.add(handle, VCI_EVENT_FRAME, VideoFrameCompletionCallback, nullptr, &gate);
    _VCI_CAPTURE_PARAMETERS p{};
    for (int i = 0; i < 4; ++i) p.pixelFormat.fourcc[i] = static_cast<uint16_t>("2vuy"[i]);
    p.width = kWidth;
    p.height = kHeight;
    p.frameInterval = 333333;
    p.intervalUnitsPerSecond = 10000000;
    if (backend->setCaptureParameters(p) != ZI_OK || backend->startCapture() != ZI_OK) return -1;
    camera.prefill(kNode, std::vector<uint8_t>(size_t{kWidth} * kHeight * 2, 0x80));
    const double before = processCpuNanoseconds();
    feed(camera, frames, [&] { return counters[0]->frames.load(std::memory_order_acquire); });
    const double spent = processCpuNanoseconds() - before;
    (void)backend->stopCapture();
    subscriptions.removeHandle(handle);
    (void)gate.close();
    return spent / static_cast<double>(frames);
}

void BM_SystemCameraFramePath_vs_BareDqbufLoop(benchmark::State& state)
{
    const uint64_t frames = static_cast<uint64_t>(state.range(0));
    double backend = 0, bare = 0;
    for (auto _ : state) {
        bare = bareLoopNanosecondsPerFrame(frames);
        backend = backendNanosecondsPerFrame(frames, 4);
        if (backend < 0) return state.SkipWithError("the backend did not start");
    }
    state.counters["bare_cpu_ns_per_frame"] = bare;
    state.counters["backend_cpu_ns_per_frame"] = backend;
    state.counters["ratio_to_bare"] = backend / bare;
}
BENCHMARK(BM_SystemCameraFramePath_vs_BareDqbufLoop)->Arg(3000)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

// A 1080p 4:2:2 JPEG of a camera-like picture: smooth shading with sensor noise.
std::vector<uint8_t> cameraJpeg(int quality)
{
    std::vector<uint8_t> y(size_t{kWidth} * kHeight), u(size_t{kWidth} / 2 * kHeight), v(size_t{kWidth} / 2 * kHeight);
    std::mt19937 noise(7);
    std::normal_distribution<double> grain(0.0, 6.0);
    for (uint32_t row = 0; row < kHeight; ++row)
        for (uint32_t x = 0; x < kWidth; ++x) {
            const double shade = 90 + 60 * std::sin(x / 180.0) * std::cos(row / 140.0) + 30.0 * ((x / 64 + row / 64) % 2);
            y[size_t{row} * kWidth + x] = static_cast<uint8_t>(std::clamp(shade + grain(noise), 16.0, 235.0));
            if (x % 2 == 0) {
                u[size_t{row} * kWidth / 2 + x / 2] = static_cast<uint8_t>(std::clamp(118 + grain(noise) / 2, 16.0, 240.0));
                v[size_t{row} * kWidth / 2 + x / 2] = static_cast<uint8_t>(std::clamp(140 + x / 60.0 + grain(noise) / 2, 16.0, 240.0));
            }
        }
    tjhandle encoder = tjInitCompress();
    const unsigned char* planes[3] = {y.data(), u.data(), v.data()};
    int strides[3] = {static_cast<int>(kWidth), static_cast<int>(kWidth / 2), static_cast<int>(kWidth / 2)};
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    tjCompressFromYUVPlanes(encoder, planes, kWidth, strides, kHeight, TJSAMP_422, &jpeg, &size, quality, 0);
    std::vector<uint8_t> out(jpeg, jpeg + size);
    tjFree(jpeg);
    tjDestroy(encoder);
    return out;
}

void BM_MjpegTo2vuy_1080p_vs_TurboJpegPlanes(benchmark::State& state)
{
    const auto jpeg = cameraJpeg(85);
    zi::sys::MjpegDecoder decoder;
    decoder.prepare(kWidth, kHeight);
    std::vector<uint8_t> out(size_t{kWidth} * kHeight * 2);
    tjhandle anchor = tjInitDecompress();
    std::vector<uint8_t> planeY(size_t{kWidth} * kHeight), planeU(size_t{kWidth} / 2 * kHeight), planeV(planeU.size());
    unsigned char* planes[3] = {planeY.data(), planeU.data(), planeV.data()};
    int strides[3] = {static_cast<int>(kWidth), static_cast<int>(kWidth / 2), static_cast<int>(kWidth / 2)};
    double ours = 0, theirs = 0;
    int64_t frames = 0;
    for (auto _ : state) {
        auto t0 = std::chrono::steady_clock::now();
        if (!decoder.decode(jpeg.data(), jpeg.size(), out.data())) return state.SkipWithError("decode failed");
        auto t1 = std::chrono::steady_clock::now();
        tjDecompressToYUVPlanes(anchor, jpeg.data(), jpeg.size(), planes, kWidth, strides, kHeight, TJFLAG_FASTDCT);
        auto t2 = std::chrono::steady_clock::now();
        ours += std::chrono::duration<double>(t1 - t0).count();
        theirs += std::chrono::duration<double>(t2 - t1).count();
        ++frames;
    }
    tjDestroy(anchor);
    state.counters["jpeg_KB"] = static_cast<double>(jpeg.size()) / 1024;
    state.counters["frames_per_second"] = static_cast<double>(frames) / ours;
    state.counters["turbojpeg_planes_fps"] = static_cast<double>(frames) / theirs;
    state.counters["ratio_to_planes"] = ours / theirs;
}
BENCHMARK(BM_MjpegTo2vuy_1080p_vs_TurboJpegPlanes)->Unit(benchmark::kMillisecond);

} // namespace
