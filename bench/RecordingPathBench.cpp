// The recording path against libavformat's QuickTime muxer fed the same frames in the
// same process (bench/MovieMuxer: a plain movie written through avio_open's buffered
// I/O, sharing none of Orva's code), on camera-like input: libx264 1080p30 at 6 and
// 20 Mbit/s (bench/CameraStream) and 48 kHz stereo PCM in 10 ms buffers; or 2vuy.
// CPU is the whole process's (every thread: the writer's queue, the simulator's),
// from getrusage. Measured: the movie creator (creator → adapter → writer, the movie
// finished in place), the full record session fed through the capture library's C
// ABI, and the anchor; as fast as the writer takes them, and at real time, where the
// feeding loop's own CPU (measured alone) is taken off both sides. Also: the bytes
// the recording writes against the movie's size, the time from the stop to the
// finished file for ten minutes of 720p 2vuy beside the time to copy that file, and
// the fastest feed of more media than the queues hold that loses nothing. Memory:
// resident growth over 10 minutes of media, the component against the anchor, each
// in a child process of its own.
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
#include "platform/writer/WriteSeam.h"
#include "recording/OrvaMovieAssetCreator.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
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
    int width = 1920, height = 1080;
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

Media uyvyMedia(int width = 1920, int height = 1080)
{
    Media m;
    m.codec = 0x32767579;
    m.width = width;
    m.height = height;
    for (int i = 0; i < 4; ++i) { // a few distinct pictures, looped
        std::vector<uint8_t> picture(static_cast<size_t>(width) * height * 2);
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
    uint64_t written = 0, size = 0; // bytes written by the recording, and the movie's size
    double stop = 0;                // seconds from the stop to the finished file
};

// Counts every byte the recording writes (its fragments, the finisher's index).
struct CountedWrites {
    std::atomic<uint64_t> bytes{0};
    CountedWrites()
    {
        WriteSeam::setForTesting([this](int fd, const void* data, size_t size) -> long {
            const long n = ::write(fd, data, size);
            if (n > 0) bytes += static_cast<uint64_t>(n);
            return n;
        });
    }
    ~CountedWrites() { WriteSeam::setForTesting(nullptr); }
};

uint64_t fileSize(const fs::path& file)
{
    std::error_code ec;
    const auto size = fs::file_size(file, ec);
    return ec ? 0 : size;
}

// The feeding loop alone (what both sides pay at real time).
Run runFeed(const Media& media, double seconds, double speed)
{
    const double before = cpuSeconds();
    uint64_t sink = 0;
    feed(media, seconds, speed, [&](std::vector<uint8_t>& f, int64_t, bool) { sink += f[0]; },
         [&](std::vector<uint8_t>& p, int64_t) { sink += p[0]; }, [] {});
    benchmark::DoNotOptimize(sink);
    return Run{cpuSeconds() - before};
}

// libavformat alone: one plain movie, written through its own buffered I/O.
Run runAnchor(const Media& media, double seconds, double speed, const fs::path& file)
{
    const double before = cpuSeconds();
    {
        orvabench::MovieMuxer muxer(file.string(), media.codec, media.width, media.height, 30, 48000, 2);
        feed(media, seconds, speed,
             [&](std::vector<uint8_t>& f, int64_t t, bool key) { muxer.addVideo(f.data(), f.size(), t, key); },
             [&](std::vector<uint8_t>& p, int64_t t) { muxer.addAudio(p.data(), p.size(), t); }, [] {});
    }
    Run run{cpuSeconds() - before};
    run.size = fileSize(file);
    fs::remove(file);
    return run;
}

// The movie creator, its movie finished in place.
Run runCreator(const Media& media, double seconds, double speed, const fs::path& dir, bool keep = false)
{
    std::fflush(stdout);
    const int savedOut = ::dup(1); // the writer's start and finish lines are not figures
    (void)std::freopen("/dev/null", "w", stdout);
    CountedWrites writes;
    const fs::path file = dir / "creator.mov";
    const double before = cpuSeconds();
    Run run;
    {
        auto creator = CreateMovieCreator(file.c_str());
        const auto* assets = dynamic_cast<const OrvaMovieAssetCreator*>(creator.get());
        _OrvaVideoDescription video{media.width, media.height, media.codec, 30, 333333};
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
        const auto stopped = std::chrono::steady_clock::now();
        (void)creator->Close();
        run.stop = std::chrono::duration<double>(std::chrono::steady_clock::now() - stopped).count();
        run.dropped = creator->droppedSamples();
    }
    run.cpu = cpuSeconds() - before;
    run.written = writes.bytes.load();
    run.size = fileSize(file);
    std::fflush(stdout);
    ::dup2(savedOut, 1);
    ::close(savedOut);
    if (!keep) fs::remove(file);
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
    camera->setFormat(VideoFormatDescription::create(media.codec, media.width, media.height));
    mic->setFormat(OrvaAudioDevice::descriptionForWaveFormat(0x636D, 2, 48000, 16));
    const std::string cameraPath = *camera->deviceInfo()->path(), micPath = *mic->deviceInfo()->path();
    std::fflush(stdout);
    const int savedOut = ::dup(1);
    (void)std::freopen("/dev/null", "w", stdout);
    CountedWrites writes;
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
    run.written = writes.bytes.load();
    run.size = fileSize(dir / "session.mov");
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
// the deletion of a large movie pays for the kernel's clean-up of it, which belongs
// to no side.
void best(Run& kept, const Run& run)
{
    const uint64_t dropped = std::max(kept.dropped, run.dropped); // drops in either run count
    if (kept.cpu == 0 || run.cpu < kept.cpu) kept = run;
    kept.dropped = dropped;
}

// The share of a side's CPU that is its own: at real time, less the feeding loop.
double net(const Run& run, const Run& feeding)
{
    return std::max(1e-6, run.cpu - feeding.cpu);
}

// H.264: arg 0 the bit rate (Mbit/s), arg 1 as fast as it goes (0) or at real time (1).
void BM_RecordingPath_1080p30_H264_vs_libavformat(benchmark::State& state)
{
    const Media media = h264Media(static_cast<int>(state.range(0)));
    if (media.frames.empty()) return state.SkipWithError("libx264 is not available");
    const bool realTime = state.range(1) == 1;
    const double seconds = shortRun() ? 2 : realTime ? 10 : 60;
    const double speed = realTime ? 1 : 0;
    const fs::path dir = benchFolder();
    for (auto _ : state) {
        Run anchor, creator, session, feeding;
        for (int round = 0; round < 2; ++round) { // see best()
            if (realTime) best(feeding, runFeed(media, seconds, speed));
            best(anchor, runAnchor(media, seconds, speed, dir / "anchor.mov"));
            best(creator, runCreator(media, seconds, speed, dir));
            best(session, runSession(media, seconds, speed, dir));
        }
        state.counters["media_s"] = seconds;
        state.counters["libavformat_cpu_s"] = net(anchor, feeding);
        state.counters["creator_cpu_s"] = net(creator, feeding);
        state.counters["session_cpu_s"] = net(session, feeding);
        state.counters["creator_vs_libavformat"] = net(creator, feeding) / net(anchor, feeding);
        state.counters["session_vs_libavformat"] = net(session, feeding) / net(anchor, feeding);
        state.counters["written_vs_movie"] = static_cast<double>(creator.written) / std::max<uint64_t>(1, creator.size);
        state.counters["stop_s"] = creator.stop;
        state.counters["dropped"] = static_cast<double>(creator.dropped + session.dropped);
    }
    fs::remove_all(dir);
}

// 2vuy 1080p30 (124 MB a second) at real time, net of the feeding loop; and the fastest
// feed of 20 s (twice what the video queue holds) that loses nothing.
void BM_RecordingPath_1080p30_2vuy_vs_libavformat(benchmark::State& state)
{
    const Media media = uyvyMedia();
    const double seconds = shortRun() ? 1 : 5;
    const fs::path dir = benchFolder();
    for (auto _ : state) {
        Run anchor, creator, feeding;
        for (int round = 0; round < 2; ++round) {
            best(feeding, runFeed(media, seconds, 1));
            best(anchor, runAnchor(media, seconds, 1, dir / "anchor.mov"));
            best(creator, runCreator(media, seconds, 1, dir));
        }
        double highest = 0;
        const double fed = shortRun() ? 2 : 20;
        for (double speed : {1.0, 2.0, 4.0, 8.0}) {
            if (runCreator(media, fed, speed, dir).dropped != 0) break;
            highest = speed;
        }
        state.counters["media_s"] = seconds;
        state.counters["libavformat_cpu_s"] = net(anchor, feeding);
        state.counters["creator_cpu_s"] = net(creator, feeding);
        state.counters["creator_vs_libavformat"] = net(creator, feeding) / net(anchor, feeding);
        state.counters["written_vs_movie"] = static_cast<double>(creator.written) / std::max<uint64_t>(1, creator.size);
        state.counters["dropped_at_real_time"] = static_cast<double>(creator.dropped);
        state.counters["fed_s"] = fed;
        state.counters["highest_speed_without_drops"] = highest;
    }
    fs::remove_all(dir);
}

// The stop of a long 2vuy 1280x720 recording (ten minutes, 33 GB, made from repeated
// frames at full speed): the time from the stop to the finished movie, beside the
// time it takes to copy the file (what finishing by copying would cost at least).
void BM_Recording_StopToFile_10min_2vuy_720p(benchmark::State& state)
{
    const Media media = uyvyMedia(1280, 720);
    const double seconds = shortRun() ? 3 : 600;
    const fs::path dir = benchFolder();
    for (auto _ : state) {
        const Run run = runCreator(media, seconds, 0, dir, true);
        // Copying: the whole file when short, else its first 2 GB, scaled.
        const fs::path file = dir / "creator.mov";
        const uint64_t size = fileSize(file), sample = std::min<uint64_t>(size, 2ull << 30);
        const int in = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
        const int out = ::open((dir / "copy.mov").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        const auto started = std::chrono::steady_clock::now();
        off_t from = 0;
        while (static_cast<uint64_t>(from) < sample) {
            const ssize_t n = ::copy_file_range(in, &from, out, nullptr, sample - static_cast<uint64_t>(from), 0);
            if (n <= 0) break;
        }
        ::fsync(out);
        const double copy = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        ::close(in);
        ::close(out);
        fs::remove(dir / "copy.mov");
        fs::remove(file);
        state.counters["media_s"] = seconds;
        state.counters["movie_GB"] = static_cast<double>(size) / 1e9;
        state.counters["stop_to_file_s"] = run.stop;
        state.counters["copy_s"] = sample ? copy * static_cast<double>(size) / static_cast<double>(sample) : 0;
        state.counters["written_vs_movie"] = static_cast<double>(run.written) / std::max<uint64_t>(1, run.size);
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

BENCHMARK(BM_RecordingPath_1080p30_H264_vs_libavformat)
    ->Args({6, 0})->Args({6, 1})->Args({20, 0})->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK(BM_RecordingPath_1080p30_2vuy_vs_libavformat)->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK(BM_Recording_StopToFile_10min_2vuy_720p)->Iterations(1)->Unit(benchmark::kSecond);
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
