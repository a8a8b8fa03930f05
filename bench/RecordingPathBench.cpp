// The recording path against libavformat's QuickTime muxer fed the same frames in the
// same process (bench/MovieMuxer), on camera-like input: libx264 1080p30 at 6 Mbit/s
// (bench/CameraStream) and 48 kHz stereo PCM in 10 ms buffers; or 2vuy 1080p30.
// CPU is the whole process's (every thread: the writer's queue, the simulator's),
// from getrusage. Measured: the movie creator (creator → adapter → writer, then the
// finished movie that recording puts at the destination), the full record session
// fed through the capture library's C ABI, and the anchor; as fast as the writer
// takes them, and at real time. Memory: resident growth over 10 minutes of media, the
// component against the anchor, each in a child process of its own.
//
// ORVA_BENCH_SHORT=1 (test.sh) runs a few seconds of media instead.
#include "CameraStream.h"
#include "MovieMuxer.h"
#include "RecordingMemory.h"
#include "SimulatedBus.h"

#include "Libraries/zedederadIvo/include/zedederadIvoSim.h"
#include <orva/OrvaAudioDevice.h>
#include <orva/OrvaDeviceManager.h>
#include <orva/OrvaMovieCreator.h>
#include <orva/OrvaRecordSession.h>
#include <orva/OrvaVideoDevice.h>
#include "platform/foundation/SystemLog.h"
#include "platform/writer/MovieFinisher.h"
#include "recording/OrvaMovieAssetCreator.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace orva;
namespace fs = std::filesystem;

namespace {

bool shortRun()
{
    const char* v = std::getenv("ORVA_BENCH_SHORT");
    return v && *v && *v != '0';
}

double cpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double statusMegabytes(const char* field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(field, 0) == 0) return std::atof(line.c_str() + std::strlen(field)) / 1024.0;
    return 0;
}

// What is fed: video frames as a camera gives them, 10 ms PCM buffers.
struct Media {
    uint32_t codec = 0x61766331;
    std::vector<std::vector<uint8_t>> frames;
    std::vector<bool> keys;
    std::vector<uint8_t> pcm = std::vector<uint8_t>(480 * 2 * 2);
};

bool isKey(const std::vector<uint8_t>& frame)
{
    for (size_t i = 0; i + 4 < frame.size(); ++i)
        if (frame[i] == 0 && frame[i + 1] == 0 && frame[i + 2] == 1 && (frame[i + 3] & 0x1F) == 5) return true;
    return false;
}

// 10 ms of a 500 Hz tone, 48 kHz stereo 16-bit.
void fillTone(std::vector<uint8_t>& pcm)
{
    for (int i = 0; i < 480; ++i)
        for (int c = 0; c < 2; ++c) {
            const auto v = static_cast<int16_t>(8000 * std::sin(2 * M_PI * 500 * i / 48000.0));
            pcm[(i * 2 + c) * 2] = static_cast<uint8_t>(v & 0xFF);
            pcm[(i * 2 + c) * 2 + 1] = static_cast<uint8_t>((v >> 8) & 0xFF);
        }
}

Media h264Media(int megabits)
{
    Media m;
    for (const auto& f : orvabench::cameraStream(megabits).frames) {
        m.frames.push_back(orvabench::withFourByteStartCodes(f));
        m.keys.push_back(isKey(f));
    }
    fillTone(m.pcm);
    return m;
}

Media uyvyMedia()
{
    Media m;
    m.codec = 0x32767579;
    for (int i = 0; i < 4; ++i) { // a few distinct pictures, looped
        std::vector<uint8_t> picture(1920 * 1080 * 2);
        for (size_t k = 0; k < picture.size(); ++k) picture[k] = static_cast<uint8_t>((k * 7 + static_cast<size_t>(i) * 13) >> 3);
        m.frames.push_back(std::move(picture));
        m.keys.push_back(true);
    }
    fillTone(m.pcm);
    return m;
}

// Set by the memory benchmark: the resident size once 10 s of media were handed in,
// when queues, codec state and buffers have reached their working size.
// and once everything was handed in (before the file is closed).
double* gResidentAfterWarmUp = nullptr;
double* gResidentAtEnd = nullptr;

// Hands `seconds` of media to the two callbacks in capture order, each sample copied
// first (a recorder converts H.264 in place, so each side gets a fresh buffer), at
// `speed` times real time (0: as fast as `ready` allows).
template <typename Video, typename Audio, typename Ready>
void feed(const Media& media, double seconds, double speed, Video video, Audio audio, Ready ready)
{
    std::vector<uint8_t> scratch, pcm = media.pcm;
    const auto start = std::chrono::steady_clock::now();
    int64_t frame = 0;
    const int64_t buffers = static_cast<int64_t>(seconds * 100);
    for (int64_t a = 0; a < buffers; ++a) {
        const int64_t t = a * 10000;
        while (frame * 1000000 / 30 <= t) {
            const size_t i = static_cast<size_t>(frame % static_cast<int64_t>(media.frames.size()));
            scratch.assign(media.frames[i].begin(), media.frames[i].end());
            video(scratch, frame * 1000000 / 30, media.keys[i]);
            ++frame;
        }
        audio(pcm, t);
        if (gResidentAfterWarmUp && t == 10'000'000) *gResidentAfterWarmUp = statusMegabytes("VmRSS:");
        if (speed > 0)
            std::this_thread::sleep_until(start + std::chrono::microseconds(static_cast<int64_t>(t / speed)));
        else
            ready();
    }
    if (gResidentAtEnd) *gResidentAtEnd = statusMegabytes("VmRSS:");
}

struct Run {
    double cpu = 0;
    uint64_t dropped = 0;
};

// libavformat alone. Plain: one regular movie, nothing survives a crash. Crash-safe:
// what it takes libavformat to give the recorder's guarantee, a fragmented file
// while recording and a regular movie made of it at the end.
Run runAnchor(const Media& media, double seconds, double speed, const fs::path& file, bool crashSafe = false)
{
    const double before = cpuSeconds();
    {
        orvabench::MovieMuxer muxer(file.string(), media.codec, 1920, 1080, 30, 48000, 2, crashSafe);
        feed(media, seconds, speed,
             [&](std::vector<uint8_t>& f, int64_t t, bool key) { muxer.addVideo(f.data(), f.size(), t, key); },
             [&](std::vector<uint8_t>& p, int64_t t) { muxer.addAudio(p.data(), p.size(), t); }, [] {});
    }
    const fs::path regular = file.string() + ".regular.mov";
    if (crashSafe) {
        const int fd = ::open(file.c_str(), O_RDWR | O_CLOEXEC);
        (void)MovieFinisher::finishInPlace(fd);
        ::close(fd);
    }
    Run run{cpuSeconds() - before, 0};
    fs::remove(file);
    fs::remove(regular);
    return run;
}

// The movie creator, then the movie finished beside the destination as recording does.
Run runCreator(const Media& media, double seconds, double speed, const fs::path& dir)
{
    std::fflush(stdout);
    const int savedOut = ::dup(1); // the writer's start and finish lines are not figures
    (void)std::freopen("/dev/null", "w", stdout);
    const double before = cpuSeconds();
    Run run;
    {
        auto creator = CreateMovieCreator((dir / "working.mov").c_str());
        const auto* assets = dynamic_cast<const OrvaMovieAssetCreator*>(creator.get());
        _OrvaVideoDescription video{1920, 1080, media.codec, 30};
        _OrvaAudioDescription audio{0x636D, 2, 48000, 16};
        (void)creator->Open(&video, &audio);
        const uint64_t base = 1'000'000;
        feed(media, seconds, speed,
             [&](std::vector<uint8_t>& f, int64_t t, bool) {
                 (void)creator->AddSampleToMovie(f.data(), static_cast<uint32_t>(f.size()), base + static_cast<uint64_t>(t),
                                                 OrvaMovieCreator::Video);
             },
             [&](std::vector<uint8_t>& p, int64_t t) {
                 (void)creator->AddSampleToMovie(p.data(), static_cast<uint32_t>(p.size()), base + static_cast<uint64_t>(t),
                                                 OrvaMovieCreator::Audio);
             },
             [&] {
                 while (assets && assets->queuedSamples() > 128) std::this_thread::sleep_for(std::chrono::milliseconds(1));
             });
        while (assets && assets->queuedSamples() > 0) std::this_thread::sleep_for(std::chrono::microseconds(200));
        (void)creator->Close();
        run.dropped = creator->droppedSamples();
    }
    run.cpu = cpuSeconds() - before;
    std::fflush(stdout);
    ::dup2(savedOut, 1);
    ::close(savedOut);
    fs::remove(dir / "working.mov");
    fs::remove(dir / "finished.mov");
    return run;
}

// The whole record session, its devices fed through the capture library's C ABI.
Run runSession(const Media& media, double seconds, double speed, const fs::path& dir)
{
    SystemLog::setEchoToStandardError(false);
    orvabench::resetSimulatedBus();
    // The devices report capturing but stream nothing of their own (no simulated
    // encoder runs): the benchmark is the only source of frames.
    ZISim_InjectResult("VCI_Start_Capture", 0, 1);
    ZISim_InjectResult("ACI_Start_Capture", 0, 1);
    auto manager = OrvaDeviceManager::getSharedInstance();
    auto camera = std::dynamic_pointer_cast<OrvaVideoDevice>(OrvaAVDevice::newDevice(manager->getVideoDeviceList()->front()));
    auto mic = std::dynamic_pointer_cast<OrvaAudioDevice>(OrvaAVDevice::newDevice(manager->getAudioDeviceList()->front()));
    (void)camera->openDevice();
    (void)mic->openDevice();
    camera->setFormat(VideoFormatDescription::create(media.codec, 1920, 1080));
    mic->setFormat(OrvaAudioDevice::descriptionForWaveFormat(0x636D, 2, 48000, 16));
    const std::string cameraPath = *camera->deviceInfo()->path(), micPath = *mic->deviceInfo()->path();
    std::fflush(stdout);
    const int savedOut = ::dup(1);
    (void)std::freopen("/dev/null", "w", stdout);
    const std::string tmp = (dir / "tmp").string();
    fs::create_directories(tmp);
    ::setenv("TMPDIR", tmp.c_str(), 1);
    auto session = OrvaRecordSession::create(camera, mic, (dir / "session.mov").string());
    const double before = cpuSeconds();
    Run run;
    if (session->startSession() == 0) {
        const int64_t base = 1'000'000;
        int64_t fed = 0;
        feed(media, seconds, speed,
             [&](std::vector<uint8_t>& f, int64_t t, bool) {
                 (void)ZISim_PushFrame(cameraPath.c_str(), f.data(), static_cast<uint32_t>(f.size()), base + t);
             },
             [&](std::vector<uint8_t>& p, int64_t t) {
                 (void)ZISim_PushFrame(micPath.c_str(), p.data(), static_cast<uint32_t>(p.size()), base + t);
             },
             [&] { // the session's queue is not in view: a millisecond's pause every 100 ms of media
                 if (++fed % 10 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
             });
        (void)session->stopSession();
        run.dropped = session->droppedSamples();
    }
    run.cpu = cpuSeconds() - before;
    std::fflush(stdout);
    ::dup2(savedOut, 1);
    ::close(savedOut);
    (void)camera->stopCapture();
    camera->closeDevice();
    mic->closeDevice();
    session.reset();
    camera.reset();
    mic.reset();
    OrvaDeviceManager::destroy();
    orvabench::resetSimulatedBus();
    fs::remove_all(dir / "session.mov");
    return run;
}

fs::path benchFolder()
{
    char pattern[] = "/tmp/orva-bench-XXXXXX";
    return ::mkdtemp(pattern) ? fs::path(pattern) : fs::temp_directory_path();
}

// Each side runs twice, interleaved, and its cheaper run counts: whichever run follows
// the deletion of a large movie pays for the kernel's clean-up of it (up to half a
// CPU-second for 124 MB of 2vuy), which belongs to no side.
void best(Run& kept, const Run& run)
{
    const uint64_t dropped = std::max(kept.dropped, run.dropped); // drops in either run count
    if (kept.cpu == 0 || run.cpu < kept.cpu) kept = run;
    kept.dropped = dropped;
}

// H.264 6 Mbit/s: arg 0 as fast as it goes, 1 at real time.
void BM_RecordingPath_1080p30_H264_6Mbit_vs_libavformat(benchmark::State& state)
{
    const Media media = h264Media(6);
    if (media.frames.empty()) return state.SkipWithError("libx264 is not available");
    const bool realTime = state.range(0) == 1;
    const double seconds = shortRun() ? 2 : realTime ? 10 : 60;
    const double speed = realTime ? 1 : 0;
    const fs::path dir = benchFolder();
    for (auto _ : state) {
        Run anchor, safe, creator, session;
        for (int round = 0; round < 2; ++round) { // see best()
            best(anchor, runAnchor(media, seconds, speed, dir / "anchor.mov"));
            best(safe, runAnchor(media, seconds, speed, dir / "safe.mov", true));
            best(creator, runCreator(media, seconds, speed, dir));
            best(session, runSession(media, seconds, speed, dir));
        }
        state.counters["media_s"] = seconds;
        state.counters["libavformat_cpu_s"] = anchor.cpu;
        state.counters["libavformat_crash_safe_cpu_s"] = safe.cpu;
        state.counters["creator_vs_crash_safe"] = creator.cpu / safe.cpu;
        state.counters["session_vs_crash_safe"] = session.cpu / safe.cpu;
        state.counters["creator_cpu_s"] = creator.cpu;
        state.counters["session_cpu_s"] = session.cpu;
        state.counters["creator_vs_libavformat"] = creator.cpu / anchor.cpu;
        state.counters["session_vs_libavformat"] = session.cpu / anchor.cpu;
        state.counters["dropped"] = static_cast<double>(creator.dropped + session.dropped);
    }
    fs::remove_all(dir);
}

// 2vuy 1080p30 (124 MB a second) at real time, and the highest speed at which the
// creator drops nothing.
void BM_RecordingPath_1080p30_2vuy_vs_libavformat(benchmark::State& state)
{
    const Media media = uyvyMedia();
    const double seconds = shortRun() ? 1 : 5;
    const fs::path dir = benchFolder();
    for (auto _ : state) {
        Run anchor, safe, creator;
        for (int round = 0; round < 2; ++round) {
            best(anchor, runAnchor(media, seconds, 1, dir / "anchor.mov"));
            best(safe, runAnchor(media, seconds, 1, dir / "safe.mov", true));
            best(creator, runCreator(media, seconds, 1, dir));
        }
        double highest = 0;
        for (double speed : {1.0, 2.0, 4.0, 8.0}) {
            if (runCreator(media, shortRun() ? 0.5 : 2, speed, dir).dropped != 0) break;
            highest = speed;
        }
        state.counters["media_s"] = seconds;
        state.counters["libavformat_cpu_s"] = anchor.cpu;
        state.counters["creator_cpu_s"] = creator.cpu;
        state.counters["creator_vs_libavformat"] = creator.cpu / anchor.cpu;
        state.counters["libavformat_crash_safe_cpu_s"] = safe.cpu;
        state.counters["creator_vs_crash_safe"] = creator.cpu / safe.cpu;
        state.counters["dropped_at_real_time"] = static_cast<double>(creator.dropped);
        state.counters["highest_speed_without_drops"] = highest;
    }
    fs::remove_all(dir);
}

// Resident memory over 10 minutes of 6 Mbit/s media fed at speed: growth from 10 s of
// media to the end, and the peak the recording added above the process's start.
void BM_RecordingMemory_10min_1080p30_H264_vs_libavformat(benchmark::State& state)
{
    const double seconds = shortRun() ? 20 : 600;
    // Each side in a fresh process of its own (this program run again): a forked child
    // would inherit this process's heap, whose free memory hides growth.
    auto measure = [&](const char* side) {
        int pipe[2];
        if (::pipe(pipe) != 0) return std::pair{0.0, 0.0};
        const pid_t child = ::fork();
        if (child == 0) {
            ::dup2(pipe[1], 3);
            ::setenv("ORVA_BENCH_MEMORY_CHILD", side, 1);
            ::setenv("ORVA_BENCH_MEMORY_SECONDS", std::to_string(seconds).c_str(), 1);
            ::execl("/proc/self/exe", "orva_bench", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        double figures[2] = {0, 0};
        ::close(pipe[1]);
        (void)::read(pipe[0], figures, sizeof figures);
        ::close(pipe[0]);
        ::waitpid(child, nullptr, 0);
        return std::pair{figures[0], figures[1]};
    };
    for (auto _ : state) {
        const auto [componentGrowth, componentPeak] = measure("component");
        const auto [anchorGrowth, anchorPeak] = measure("libavformat");
        if (componentPeak == 0 || anchorPeak == 0) return state.SkipWithError("a measuring process failed");
        state.counters["media_s"] = seconds;
        state.counters["component_growth_MB"] = componentGrowth;
        state.counters["component_peak_added_MB"] = componentPeak;
        state.counters["libavformat_growth_MB"] = anchorGrowth;
        state.counters["libavformat_peak_added_MB"] = anchorPeak;
        state.counters["growth_vs_libavformat"] = anchorGrowth > 0 ? componentGrowth / anchorGrowth : 0;
    }
}

} // namespace

BENCHMARK(BM_RecordingPath_1080p30_H264_6Mbit_vs_libavformat)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK(BM_RecordingPath_1080p30_2vuy_vs_libavformat)->Iterations(1)->Unit(benchmark::kSecond);
namespace orvabench {

int runRecordingMemoryChild(const char* side)
{
    const Media media = h264Media(6);
    if (media.frames.empty()) return 1;
    const char* secondsText = std::getenv("ORVA_BENCH_MEMORY_SECONDS");
    const double seconds = secondsText ? std::atof(secondsText) : 600;
    const fs::path dir = benchFolder();
    const double start = statusMegabytes("VmRSS:");
    double warm = start, end = start;
    gResidentAfterWarmUp = &warm;
    gResidentAtEnd = &end;
    if (std::strcmp(side, "component") == 0)
        (void)runCreator(media, seconds, 0, dir);
    else
        (void)runAnchor(media, seconds, 0, dir / "anchor.mov");
    fs::remove_all(dir);
    // Growth: from warm to the end (what keeps accumulating); peak: the most the
    // recording ever added to the process.
    const double figures[2] = {end - warm, statusMegabytes("VmHWM:") - start};
    return ::write(3, figures, sizeof figures) == sizeof figures ? 0 : 1;
}

} // namespace orvabench

BENCHMARK(BM_RecordingMemory_10min_1080p30_H264_vs_libavformat)->Iterations(1)->Unit(benchmark::kSecond);
