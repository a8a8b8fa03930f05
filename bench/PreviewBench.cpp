// The preview window's display path for a 1080p camera. First without a display (a
// surfaceless Mesa context): CPU per frame to upload the picture and draw it with the
// overlay (caption, level bars, REC), for 2vuy as it comes and for H.264 after
// decoding (the decode measured apart), beside a plain texture upload of the same
// bytes in the same run. Then in a window on the X server of $DISPLAY (./test.sh
// gives it Xvfb): frames shown per second while a capture-like thread delivers 1080p30
// 2vuy, and the process's CPU per frame shown. Without a display the second skips.
#include "CameraStream.h"

#include "platform/graphics/HeadlessGLContext.h"
#include "platform/media/H264FrameDecoder.h"
#include "platform/window/PreviewFeed.h"
#include "platform/window/PreviewScreen.h"
#include "platform/window/PreviewWindow.h"

#define GL_GLEXT_PROTOTYPES 1
#include <GL/gl.h>

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <thread>
#include <vector>

namespace {

// Mesa's software renderer draws on threads of its own: the whole process's CPU.
int64_t processCpuNanoseconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return int64_t{now.tv_sec} * 1000000000 + now.tv_nsec;
}

orva::PreviewScreen::State overlayState()
{
    orva::PreviewScreen::State state;
    state.caption = "Benchmark camera   1920x1080   30.0 fps";
    state.levels = {-20, -26};
    state.peaks = {-9, -14};
    state.recordingSeconds = 12;
    return state;
}

// Arg 0: 2vuy; 1: 6 Mbit/s H.264, decoded to I420 first.
void BM_PreviewDisplayPath_vs_PlainUpload(benchmark::State& state)
{
    const bool h264 = state.range(0) == 1;
    std::string error;
    auto gl = orva::HeadlessGLContext::create(1920, 1080, &error);
    if (!gl) return state.SkipWithError(error.c_str());
    const auto& stream = orvabench::cameraStream(6);
    if (h264 && stream.frames.empty()) return state.SkipWithError("libx264 is not available");
    const auto raw = orvabench::rawFrames();
    orva::PreviewScreen screen("");
    if (!screen.ok()) return state.SkipWithError(screen.error().c_str());
    const auto overlay = overlayState();
    orva::H264FrameDecoder decoder;
    std::vector<uint8_t> picture(size_t{1920} * 1080 * 3 / 2);
    // The anchor: the same bytes into one texture (RGBA texels for 2vuy, one byte
    // plane for I420), nothing drawn.
    GLuint plain = 0;
    glGenTextures(1, &plain);
    glBindTexture(GL_TEXTURE_2D, plain);
    const GLsizei plainWidth = h264 ? 1920 : 960, plainHeight = h264 ? 1620 : 1080;
    const GLenum plainFormat = h264 ? GL_RED : GL_RGBA;
    glTexImage2D(GL_TEXTURE_2D, 0, h264 ? GL_R8 : GL_RGBA8, plainWidth, plainHeight, 0, plainFormat,
                 GL_UNSIGNED_BYTE, nullptr);
    glBindTexture(GL_TEXTURE_2D, 0);
    int64_t ours = 0, anchor = 0, decoding = 0, frames = 0;
    for (auto _ : state) {
        const size_t count = h264 ? std::min<size_t>(stream.frames.size(), 60) : 60;
        for (size_t i = 0; i < count; ++i, ++frames) {
            const uint8_t* bytes = raw[i % raw.size()].data();
            if (h264) {
                const int64_t start = processCpuNanoseconds();
                const auto& frame = stream.frames[i];
                if (!decoder.decode(frame.data(), static_cast<uint32_t>(frame.size()), 1920, 1080, picture.data(),
                                    static_cast<uint32_t>(picture.size())))
                    continue;
                decoding += processCpuNanoseconds() - start;
                bytes = picture.data();
            }
            int64_t start = processCpuNanoseconds();
            screen.upload(h264 ? orva::VideoPicture::Layout::I420 : orva::VideoPicture::Layout::UYVY, bytes, 1920, 1080);
            screen.draw(1920, 1080, overlay);
            glFinish();
            ours += processCpuNanoseconds() - start;
            start = processCpuNanoseconds();
            glBindTexture(GL_TEXTURE_2D, plain);
            glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
            glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, plainWidth, plainHeight, plainFormat, GL_UNSIGNED_BYTE, bytes);
            glBindTexture(GL_TEXTURE_2D, 0);
            glFinish();
            anchor += processCpuNanoseconds() - start;
        }
    }
    glDeleteTextures(1, &plain);
    state.counters["us_per_frame"] = frames ? ours / 1e3 / frames : 0;
    state.counters["plain_upload_us"] = frames ? anchor / 1e3 / frames : 0;
    state.counters["vs_plain_upload"] = anchor ? static_cast<double>(ours) / anchor : 0;
    if (h264) state.counters["decode_us"] = frames ? decoding / 1e3 / frames : 0;
}

// 1080p30 2vuy delivered by a capture-like thread through the preview's feed, shown in
// a window as fast as the display takes it.
void BM_PreviewWindow_1080p30_FramesShown(benchmark::State& state)
{
    if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY")) return state.SkipWithError("no display");
    std::string error;
    auto window = orva::PreviewWindow::open("Orva preview benchmark", 1920, 1080, &error);
    if (!window) return state.SkipWithError(error.c_str());
    orva::PreviewScreen screen("");
    if (!screen.ok()) return state.SkipWithError(screen.error().c_str());
    const auto raw = orvabench::rawFrames();
    const auto overlay = overlayState();
    const double seconds = std::getenv("ORVA_BENCH_SHORT") ? 2 : 10;
    uint64_t shown = 0, delivered = 0;
    int64_t cpu = 0;
    for (auto _ : state) {
        orva::PreviewFeed feed(false, 1920, 1080);
        std::atomic<bool> done{false};
        std::thread camera([&] {
            auto next = std::chrono::steady_clock::now();
            for (size_t i = 0; i < static_cast<size_t>(seconds * 30); ++i) {
                std::this_thread::sleep_until(next += std::chrono::microseconds(33333));
                const auto& frame = raw[i % raw.size()];
                feed.didCaptureFrame(frame.data(), static_cast<uint32_t>(frame.size()), static_cast<int64_t>(i) * 33333, nullptr);
            }
            done = true;
        });
        const int64_t start = processCpuNanoseconds();
        while (!done) {
            (void)window->poll();
            if (const auto* picture = feed.pictures().take()) {
                screen.upload(orva::VideoPicture::Layout::UYVY, picture->bytes.data(), picture->width, picture->height);
                screen.draw(window->width(), window->height(), overlay);
                window->present();
                ++shown;
            } else {
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
        }
        cpu += processCpuNanoseconds() - start;
        camera.join();
        delivered += feed.framesCaptured();
    }
    state.counters["shown_per_s"] = shown / (seconds * state.iterations());
    state.counters["delivered_per_s"] = delivered / (seconds * state.iterations());
    state.counters["cpu_ms_per_shown"] = shown ? cpu / 1e6 / shown : 0;
}

} // namespace

BENCHMARK(BM_PreviewDisplayPath_vs_PlainUpload)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PreviewWindow_1080p30_FramesShown)->Iterations(1)->Unit(benchmark::kMillisecond);
