// The PipeWire microphone beside pw-record, recording the same source in the same run:
// CPU per 10 ms buffer (this process capturing through the capture library's ABI,
// against pw-record's own CPU), and the longest gap in what each got, calm and with
// busy processes beside them. Needs a PipeWire daemon: run it under
// tests/pipewire/with-pipewire.sh (./test.sh does); without one it says so and skips.
#include "../tests/BusyLoad.h"
#include "../tests/pipewire/VirtualMicrophone.h"

#include <zedederadIvo.h>
#include <zedederadIvoBackend.h>

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

double processCpuSeconds()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Another process's CPU so far, from /proc.
double childCpuSeconds(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), {});
    const size_t close = text.rfind(')');
    if (close == std::string::npos) return 0;
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    double ticks = 0;
    for (int i = 3; fields >> field; ++i)
        if (i == 14 || i == 15) ticks += std::stod(field);
    return ticks / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

// The longest stretch without the tone, in seconds, over interleaved stereo frames:
// runs of silence from the first loud frame on.
double longestSilence(const std::vector<int16_t>& stereo, int rate)
{
    size_t i = 0, run = 0, longest = 0;
    while (i + 1 < stereo.size() && std::abs(stereo[i]) < 1000) i += 2;
    for (; i + 1 < stereo.size(); i += 2) {
        if (stereo[i] == 0 && stereo[i + 1] == 0) {
            longest = std::max(longest, ++run);
        } else {
            run = 0;
        }
    }
    return static_cast<double>(longest) / rate;
}

struct Capture {
    std::vector<int16_t> frames; // preallocated: nothing is allocated on the capture thread
    std::atomic<size_t> used{0};
    std::atomic<int64_t> buffers{0};
    std::atomic<int64_t> lastTime{-1}, longestStep{0};

    static void onBuffer(void*, _ACI_EVENT_INFO* info)
    {
        auto* self = static_cast<Capture*>(info->context);
        if (!info->data || info->event != ACI_EVENT_BUFFER) return;
        const size_t samples = info->length / 2;
        const size_t at = self->used.load(std::memory_order_relaxed);
        if (at + samples <= self->frames.size()) {
            std::memcpy(self->frames.data() + at, info->data, samples * 2);
            self->used.store(at + samples, std::memory_order_relaxed);
        }
        const int64_t last = self->lastTime.exchange(info->timestamp);
        if (last >= 0) self->longestStep = std::max<int64_t>(self->longestStep.load(), info->timestamp - last);
        ++self->buffers;
    }
};

struct Run {
    double orvaCpuPerBuffer = 0, pwRecordCpuPerBuffer = 0, orvaGap = 0, pwRecordGap = 0;
};

bool runOnce(double seconds, unsigned busyPerCore, Run& run)
{
    const std::string wav = std::filesystem::temp_directory_path() / ("orva-bench-pw-" + std::to_string(::getpid()) + ".wav");
    std::unique_ptr<orvatest::BusyLoad> load;
    if (busyPerCore) load = std::make_unique<orvatest::BusyLoad>(busyPerCore);
    // Our capture, through the ABI.
    uint32_t size = 0, count = 0;
    if (ACI_Init() != ZI_OK) return false;
    if (ACI_Enum_Devices(nullptr, &size, &count) != ZI_MORE_DATA) return ACI_Cleanup(), false;
    std::vector<_VCI_DEVICE_ENTRY> entries(count);
    (void)ACI_Enum_Devices(entries.data(), &size, &count);
    void* handle = ACI_Open_Device(entries[0].path);
    _ACI_WAVE_FORMAT format{};
    format.formatTag = ZI_WAVE_FORMAT_LPCM;
    format.channels = 2;
    format.samplesPerSec = 48000;
    format.bitsPerSample = 16;
    Capture capture;
    capture.frames.resize(static_cast<size_t>((seconds + 2) * 48000 * 2));
    if (!handle || ACI_Set_Capture_Parameters(handle, &format) != ZI_OK ||
        ACI_Subscribe_Event(handle, ACI_EVENT_BUFFER, &Capture::onBuffer, &capture) != ZI_OK)
        return ACI_Cleanup(), false;
    // pw-record on the same source, at the same time.
    std::vector<std::string> args{"pw-record", "--target", "bench-mic", "--rate", "48000", "--channels", "2", wav};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t recorder = -1;
    if (posix_spawnp(&recorder, "pw-record", nullptr, nullptr, argv.data(), environ) != 0) return ACI_Cleanup(), false;
    const double before = processCpuSeconds();
    (void)ACI_Start_Capture(handle);
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    (void)ACI_Stop_Capture(handle);
    const double ours = processCpuSeconds() - before;
    const double theirs = childCpuSeconds(recorder);
    ::kill(recorder, SIGINT);
    ::waitpid(recorder, nullptr, 0);
    (void)ACI_UnSubscribe_Event(handle, ACI_EVENT_BUFFER);
    (void)VCI_Close_Device(handle); // closes either kind of handle
    (void)ACI_Cleanup();
    load.reset();

    std::ifstream in(wav, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), {});
    std::filesystem::remove(wav);
    std::vector<int16_t> theirFrames(bytes.size() > 44 ? (bytes.size() - 44) / 2 : 0);
    if (!theirFrames.empty()) std::memcpy(theirFrames.data(), bytes.data() + 44, theirFrames.size() * 2);
    capture.frames.resize(capture.used.load());
    const double buffers = std::max<int64_t>(1, capture.buffers.load());
    run.orvaCpuPerBuffer = ours / buffers * 1e6;
    run.pwRecordCpuPerBuffer = theirs / (static_cast<double>(theirFrames.size()) / 2 / 480) * 1e6;
    // A gap: silence in the samples, or a step between buffer times beyond their 10 ms.
    run.orvaGap = std::max(longestSilence(capture.frames, 48000), (capture.longestStep.load() - 10000) / 1e6);
    run.pwRecordGap = longestSilence(theirFrames, 48000);
    return true;
}

void BM_PipeWireCapture_vs_PwRecord(benchmark::State& state)
{
    if (!std::getenv("ORVA_TEST_PIPEWIRE_PID")) {
        state.SkipWithError("no private PipeWire daemon: run under tests/pipewire/with-pipewire.sh");
        return;
    }
    const double seconds = std::getenv("ORVA_BENCH_SHORT") ? 2 : 10;
    const auto busy = static_cast<unsigned>(state.range(0));
    (void)ZI_Select_Backend(ZI_HALF_AUDIO, ZI_BACKEND_SYSTEM);
    setenv("ORVA_ALL_VENDORS", "1", 1);
    orvatest::VirtualMicrophone source({.name = "bench-mic", .description = "Bench Mic"});
    if (!source.ready()) return state.SkipWithError("the tone source did not start");
    Run run;
    for (auto _ : state)
        if (!runOnce(seconds, busy, run)) return state.SkipWithError("the capture did not start");
    state.counters["orva_cpu_us_per_buffer"] = run.orvaCpuPerBuffer;
    state.counters["pwrecord_cpu_us_per_buffer"] = run.pwRecordCpuPerBuffer;
    state.counters["cpu_ratio"] = run.orvaCpuPerBuffer / std::max(1e-9, run.pwRecordCpuPerBuffer);
    state.counters["orva_longest_gap_ms"] = run.orvaGap * 1000;
    state.counters["pwrecord_longest_gap_ms"] = run.pwRecordGap * 1000;
}
// Calm, and with two busy processes per core beside both.
BENCHMARK(BM_PipeWireCapture_vs_PwRecord)->Arg(0)->Arg(2)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);

} // namespace
