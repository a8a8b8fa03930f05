// The whole recording path fed as fast as it takes it: 60 s of 1080p30 H.264 (the
// simulated camera's own frames, one second looped with advancing timestamps) and
// 48 kHz stereo PCM, handed in through the capture library's C ABI (ZISim_PushFrame)
// to a running OrvaRecordSession, which converts, times, queues and writes them into
// a movie. Figures: the process CPU seconds this takes, beside the CPU seconds of
// `ffmpeg -c copy` remuxing the same elementary streams into a .mov; and resident
// memory after each 20 s of media, which stays flat.
#include "CapturedFrames.h"

#include "Libraries/zedederadIvo/include/zedederadIvoSim.h"
#include "SimulatedBus.h"
#include <orva/OrvaDeviceManager.h>
#include <orva/OrvaAudioDevice.h>
#include <orva/OrvaVideoDevice.h>
#include "platform/foundation/SystemLog.h"
#include <orva/OrvaRecordSession.h>

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sys/resource.h>
#include <thread>
#include <time.h>
#include <unistd.h>

using namespace orva;
namespace fs = std::filesystem;

namespace {

constexpr int kSeconds = 60;

double processCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + ts.tv_nsec / 1e9;
}

double childCpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_CHILDREN, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double residentMegabytes()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::atof(line.c_str() + 6) / 1024.0;
    return 0;
}

std::vector<uint8_t> toneBuffer()
{
    std::vector<uint8_t> pcm(480 * 2 * 2);
    for (int i = 0; i < 480; ++i) {
        const auto v = static_cast<int16_t>(8000 * std::sin(2 * M_PI * 500 * i / 48000.0));
        for (int c = 0; c < 2; ++c) {
            pcm[(i * 2 + c) * 2] = static_cast<uint8_t>(v & 0xFF);
            pcm[(i * 2 + c) * 2 + 1] = static_cast<uint8_t>((v >> 8) & 0xFF);
        }
    }
    return pcm;
}

void BM_RecordingPath_60s_1080p30_H264_PCM(benchmark::State& state)
{
    const auto& gop = orvabench::capturedH264Frames();
    if (gop.empty()) return state.SkipWithError("no frames from the simulated camera");
    const std::vector<uint8_t> pcm = toneBuffer();
    const fs::path dir = fs::temp_directory_path() / ("orva-bench-" + std::to_string(::getpid()));
    fs::create_directories(dir);

    for (auto _ : state) {
        // Devices that report capturing but whose library streams nothing: the
        // benchmark is the only source of frames.
        SystemLog::setEchoToStandardError(false);
        orvabench::resetSimulatedBus();
        ZISim_InjectResult("VCI_Start_Capture", 0, 1);
        ZISim_InjectResult("ACI_Start_Capture", 0, 1);
        auto manager = OrvaDeviceManager::getSharedInstance();
        auto camera = std::dynamic_pointer_cast<OrvaVideoDevice>(OrvaAVDevice::newDevice(manager->getVideoDeviceList()->front()));
        auto mic = std::dynamic_pointer_cast<OrvaAudioDevice>(OrvaAVDevice::newDevice(manager->getAudioDeviceList()->front()));
        (void)camera->openDevice();
        (void)mic->openDevice();
        camera->setFormat(VideoFormatDescription::create(kCodecAVC1, 1920, 1080));
        mic->setFormat(OrvaAudioDevice::descriptionForWaveFormat(0x636D, 2, 48000, 16));
        const std::string cameraPath = *camera->deviceInfo()->path(), micPath = *mic->deviceInfo()->path();

        std::fflush(stdout);
        const int savedOut = ::dup(1); // the writer's start and finish lines are not figures
        (void)std::freopen("/dev/null", "w", stdout);
        auto session = OrvaRecordSession::create(camera, mic, (dir / "path.mov").string());
        const double cpuBefore = processCpuSeconds();
        const double rssStart = residentMegabytes();
        std::vector<double> rss;
        if (session->startSession() != 0) state.SkipWithError("the session did not start");
        std::vector<uint8_t> scratch;
        const int64_t base = 1'000'000;
        int64_t videoIndex = 0;
        for (int64_t a = 0; a < kSeconds * 100; ++a) {
            const int64_t t = base + a * 10000;
            while (base + videoIndex * 33333 <= t) {
                const auto& frame = gop[static_cast<size_t>(videoIndex % static_cast<int64_t>(gop.size()))];
                scratch.assign(frame.begin(), frame.end()); // the session converts in place
                (void)ZISim_PushFrame(cameraPath.c_str(), scratch.data(), static_cast<uint32_t>(scratch.size()),
                                      base + videoIndex * 33333);
                ++videoIndex;
            }
            (void)ZISim_PushFrame(micPath.c_str(), pcm.data(), static_cast<uint32_t>(pcm.size()), t);
            if (a % 10 == 9) std::this_thread::sleep_for(std::chrono::milliseconds(1)); // lets the writer keep up
            if (a % 2000 == 1999) rss.push_back(residentMegabytes());
        }
        (void)session->stopSession();
        const double cpu = processCpuSeconds() - cpuBefore;
        std::fflush(stdout);
        ::dup2(savedOut, 1);
        ::close(savedOut);
        (void)camera->stopCapture();
        camera->closeDevice();
        mic->closeDevice();
        const uint64_t dropped = session->droppedSamples();
        session.reset();
        camera.reset();
        mic.reset();
        OrvaDeviceManager::destroy();
        orvabench::resetSimulatedBus();

        // The same elementary streams, remuxed by ffmpeg.
        {
            std::ofstream video(dir / "video.h264", std::ios::binary), audio(dir / "audio.raw", std::ios::binary);
            for (int64_t i = 0; i < videoIndex; ++i) {
                const auto& frame = gop[static_cast<size_t>(i % static_cast<int64_t>(gop.size()))];
                video.write(reinterpret_cast<const char*>(frame.data()), static_cast<std::streamsize>(frame.size()));
            }
            for (int a = 0; a < kSeconds * 100; ++a)
                audio.write(reinterpret_cast<const char*>(pcm.data()), static_cast<std::streamsize>(pcm.size()));
        }
        const std::string command = "ffmpeg -nostdin -v error -y -f h264 -framerate 30 -i '" + (dir / "video.h264").string() +
                                    "' -f s16le -ar 48000 -ac 2 -i '" + (dir / "audio.raw").string() +
                                    "' -c copy '" + (dir / "ffmpeg.mov").string() + "'";
        const double childBefore = childCpuSeconds();
        const int status = std::system(command.c_str());
        const double ffmpegCpu = childCpuSeconds() - childBefore;

        state.counters["orva_cpu_s"] = cpu;
        state.counters["ffmpeg_copy_cpu_s"] = status == 0 ? ffmpegCpu : -1;
        state.counters["orva_over_ffmpeg"] = status == 0 && ffmpegCpu > 0 ? cpu / ffmpegCpu : -1;
        state.counters["video_frames"] = static_cast<double>(videoIndex);
        state.counters["dropped"] = static_cast<double>(dropped);
        state.counters["movie_MB"] = static_cast<double>(fs::file_size(dir / "path.mov")) / 1e6;
        state.counters["rss_start_MB"] = rssStart;
        for (size_t i = 0; i < rss.size(); ++i) state.counters["rss_" + std::to_string((i + 1) * 20) + "s_MB"] = rss[i];
    }
    fs::remove_all(dir);
}

} // namespace

BENCHMARK(BM_RecordingPath_60s_1080p30_H264_PCM)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
