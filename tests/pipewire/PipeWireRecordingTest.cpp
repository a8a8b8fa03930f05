// Recording a PipeWire microphone (the fixture's daemon, a tone source) with the
// simulated camera on a busy machine: every buffer of the tone reaches the movie, and
// a daemon that stalls becomes silence of its length, counted and said.
#include "VirtualMicrophone.h"

#include "../BusyLoad.h"
#include "../MovieReader.h"
#include "../Wait.h"

#include <orva/OrvaAudioDevice.h>
#include <orva/OrvaStatus.h>
#include <orva/OrvaDeviceManager.h>
#include <orva/OrvaRecordSession.h>
#include <orva/OrvaVideoDevice.h>
#include "platform/foundation/SystemLog.h"

#include <zedederadIvoBackend.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <mutex>

using namespace orva;
using orvatest::VirtualMicrophone;
namespace fs = std::filesystem;

namespace {

// Where a recorded tone has no sound: runs of near-zero samples a millisecond or
// longer, from the first loud sample on.
struct Silences {
    double longest = 0, total = 0; // seconds
};
Silences silencesOf(const std::vector<float>& samples, int rate)
{
    Silences s;
    size_t i = 0;
    while (i < samples.size() && std::fabs(samples[i]) < 0.05) ++i;
    size_t run = 0;
    for (; i <= samples.size(); ++i) {
        if (i < samples.size() && std::fabs(samples[i]) < 0.001) {
            ++run;
            continue;
        }
        if (run >= static_cast<size_t>(rate / 1000)) {
            s.longest = std::max(s.longest, static_cast<double>(run) / rate);
            s.total += static_cast<double>(run) / rate;
        }
        run = 0;
    }
    return s;
}

struct Counter : OrvaAVDeviceDelegate {
    void didCaptureFrame(const void*, uint32_t, int64_t, const std::shared_ptr<OrvaDeviceInfo>&) override { ++count; }
    std::atomic<int> count{0};
};

class PipeWireRecording : public ::testing::Test {
protected:
    void SetUp() override
    {
        unsetenv("ORVA_ALL_VENDORS");
        SystemLog::setEchoToStandardError(false);
        ASSERT_EQ(ZI_Select_Backend(ZI_HALF_VIDEO, ZI_BACKEND_SIMULATOR), ZI_OK);
        ASSERT_EQ(ZI_Select_Backend(ZI_HALF_AUDIO, ZI_BACKEND_SYSTEM), ZI_OK);
        char pattern[] = "/tmp/orva-pw-record-XXXXXX";
        ASSERT_TRUE(::mkdtemp(pattern));
        dir = pattern;
        source = std::make_unique<VirtualMicrophone>(VirtualMicrophone::Options{.name = "recorded-mic"});
        ASSERT_TRUE(source->ready());
        auto manager = OrvaDeviceManager::getSharedInstance();
        ASSERT_TRUE(orvatest::waitUntil([&] { return manager->getAudioDeviceList()->size() == 1; }));
        mic = std::dynamic_pointer_cast<OrvaAudioDevice>(OrvaAVDevice::newDevice(manager->getAudioDeviceList()->front()));
        camera = std::dynamic_pointer_cast<OrvaVideoDevice>(OrvaAVDevice::newDevice(manager->getVideoDeviceList()->front()));
        ASSERT_TRUE(mic && camera);
        ASSERT_EQ(mic->openDevice(), kOrvaOK);
        ASSERT_EQ(camera->openDevice(), kOrvaOK);
        for (const auto& f : *mic->getSupportedFormats()) {
            const auto& d = dynamic_cast<const AudioFormatDescription&>(*f).streamBasicDescription();
            if (d.mFormatID == kAudioFormatLinearPCM && d.mSampleRate == 48000 && d.mChannelsPerFrame == 2)
                mic->setFormat(f);
        }
        for (const auto& f : *camera->getSupportedFormats()) {
            const auto* v = dynamic_cast<const VideoFormatDescription*>(f.get());
            if (v->mediaSubType() == kCodecAVC1 && v->dimensions().width == 640) camera->setFormat(f);
        }
        ASSERT_TRUE(mic->getFormat() && camera->getFormat());
    }
    void TearDown() override
    {
        if (mic) mic->closeDevice();
        if (camera) camera->closeDevice();
        mic.reset();
        camera.reset();
        source.reset();
        OrvaDeviceManager::destroy();
        fs::remove_all(dir);
    }
    // Records until the camera has given `frames` frames, running `during` when it
    // has given `at`.
    std::shared_ptr<OrvaRecordSession> record(const std::string& name, int frames, int at = -1,
                                              const std::function<void(OrvaRecordSession&)>& during = {})
    {
        auto session = OrvaRecordSession::create(camera, mic, (dir / name).string());
        auto counter = std::make_shared<Counter>();
        camera->addDelegate(counter);
        EXPECT_EQ(session->startSession(), kOrvaOK);
        if (during) {
            EXPECT_TRUE(orvatest::waitUntil([&] { return counter->count >= at; }));
            during(*session);
        }
        EXPECT_TRUE(orvatest::waitUntil([&] { return counter->count >= frames; }));
        EXPECT_EQ(session->stopSession(), 0);
        camera->removeDelegate(counter);
        return session;
    }
    fs::path dir;
    std::unique_ptr<VirtualMicrophone> source;
    std::shared_ptr<OrvaAudioDevice> mic;
    std::shared_ptr<OrvaVideoDevice> camera;
};

TEST_F(PipeWireRecording, OnABusyMachineEveryBufferOfTheToneReachesTheMovie)
{
    orvatest::BusyLoad load(2);
    const auto session = record("busy.mov", 150);
    const auto movie = orvatest::readMovie((dir / "busy.mov").string());
    ASSERT_TRUE(movie.video() && movie.audio());
    const auto silences = silencesOf(movie.audio()->samples, 48000);
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    // A sanitizer's slowdown beside busy processes starves the sound server itself:
    // the timing says nothing there; the recording's memory use is what is checked.
    GTEST_SKIP() << "timing is checked in the unsanitized build";
#endif
    EXPECT_LE(silences.longest, 0.025) << "no gap in the sound (the source's own hiccups are shorter)";
    const double pictureEnd = movie.video()->pts.back() + 1.0 / 30;
    EXPECT_NEAR(movie.audio()->end, pictureEnd, 0.02) << "the sound lasts as long as the recording";
    // A sound server starved itself may skip a cycle: that is counted, and what is
    // counted is silence the movie holds, never more than a hiccup. (The source may
    // have hiccups of its own, zeros Orva receives as sound and cannot count.)
    const auto stats = session->movieStats();
    EXPECT_LE(stats.audioSilenceSeconds, 0.05);
    EXPECT_LE(stats.audioSilenceSeconds, silences.total + 0.011) << "the counted silence is in the movie";
    EXPECT_EQ(stats.audioDropped > 0, stats.audioSilenceSeconds > 0);
}

TEST_F(PipeWireRecording, ADaemonStalledForTwoSecondsIsSilenceOfItsLengthCountedAndSaid)
{
    const pid_t daemon = static_cast<pid_t>(std::atoi(std::getenv("ORVA_TEST_PIPEWIRE_PID")));
    std::vector<std::string> lines;
    std::mutex linesMutex;
    const auto hook = SystemLog::addHook([&](const std::string& line) {
        std::lock_guard lock(linesMutex);
        lines.push_back(line);
    });
    double quietest = 0;
    const auto session = record("stalled.mov", 150, 45, [&](OrvaRecordSession& running) {
        ASSERT_EQ(::kill(daemon, SIGSTOP), 0);
        // The warning's condition holds while the daemon is stopped.
        EXPECT_TRUE(orvatest::waitUntil([&] { return (quietest = running.secondsWithoutSound()) >= 2.0; }));
        ASSERT_EQ(::kill(daemon, SIGCONT), 0);
        EXPECT_TRUE(orvatest::waitUntil([&] { return running.secondsWithoutSound() < 0.5; })) << "the sound is back";
    });
    ::kill(daemon, SIGCONT); // also when an expectation above failed
    SystemLog::removeHook(hook);
    EXPECT_GE(quietest, 2.0);
    const auto stats = session->movieStats();
    EXPECT_NEAR(stats.audioSilenceSeconds, 2.0, 0.4) << "its silence is written as silence";
    EXPECT_GT(stats.audioDropped, 0u) << "and counted";
    const auto movie = orvatest::readMovie((dir / "stalled.mov").string());
    ASSERT_TRUE(movie.video() && movie.audio());
    EXPECT_NEAR(silencesOf(movie.audio()->samples, 48000).longest, 2.0, 0.4);
    EXPECT_NEAR(movie.audio()->end, movie.video()->pts.back() + 1.0 / 30, 0.05) << "sound and picture stay in step";
    std::lock_guard lock(linesMutex);
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(),
                            [](const std::string& l) { return l.find("No sound for") != std::string::npos; }));
}

} // namespace
