#include "SimBus.h"

#include <orva/OrvaDeviceManager.h>
#include <orva/OrvaStatus.h>
#include <orva/OrvaAudioDevice.h>
#include "platform/capture/CaptureDevice.h"
#include <orva/RunLoop.h>
#include <orva/NotificationCenter.h>
#include "platform/capture/AudioChannel.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <thread>

using namespace orva;
using orvatest::SimBusTest;

namespace {

struct LevelLog : OrvaAVDeviceDelegate {
    bool respondsTo(DelegateOperation op) const override { return op == DelegateOperation::didMicLevelEventOccured; }
    void didCaptureFrame(const void*, uint32_t, int64_t, const std::shared_ptr<OrvaDeviceInfo>&) override {}
    void didMicLevelEventOccured(float level) override
    {
        levels.push_back(level);
        threads.push_back(std::this_thread::get_id());
    }
    int stops() const
    {
        int n = 0;
        for (float l : levels) n += std::isinf(l) && l < 0;
        return n;
    }
    std::vector<float> levels;
    std::vector<std::thread::id> threads;
};

struct FramesOnly : OrvaAVDeviceDelegate {
    void didCaptureFrame(const void*, uint32_t, int64_t, const std::shared_ptr<OrvaDeviceInfo>&) override {}
    void didMicLevelEventOccured(float) override { ++levels; }
    int levels = 0;
};

class AudioMeter : public SimBusTest {
protected:
    void TearDown() override
    {
        if (mic) {
            (void)mic->stopVUMeter();
            mic->closeDevice();
        }
        RunLoop::current().runUntilDate(0.01); // drain queued level tasks
        mic.reset();
        OrvaDeviceManager::destroy();
        SimBusTest::TearDown();
    }
    // A microphone at path whose channels have fixed levels at full volume.
    void makeMicrophone(const std::string& path, std::vector<float> levels)
    {
        ZISimDeviceDesc d{};
        d.type = ZISIM_MICROPHONE;
        d.path = path.c_str();
        d.name = "Mic";
        d.withDefaultDescription = levels.size() == 1 ? 0 : 1; // a mono microphone lists only mono
        ASSERT_EQ(ZISim_Plug(&d), 0);
        if (levels.size() == 1) {
            ASSERT_EQ(ZISim_AddWaveFormat(path.c_str(), 0x636D, 1, 16000, 16), 0);
        }
        for (size_t c = 0; c < levels.size(); ++c)
            ASSERT_EQ(ZISim_SetMicrophoneSignal(path.c_str(), static_cast<uint32_t>(c), levels[c], 0), 0);
        ZISim_WaitIdle();
        for (auto& info : *OrvaAudioDevice::getAudioDeviceList())
            if (info->path() && *info->path() == path)
                mic = std::dynamic_pointer_cast<OrvaAudioDevice>(OrvaAVDevice::newDevice(info));
        ASSERT_TRUE(mic);
        ASSERT_EQ(mic->openDevice(), kOrvaOK);
        mic->setVolumeCur(Number::numberWithInt(255));
    }
    // Runs the main run loop (where levels arrive) until `condition` holds or a
    // generous deadline passes; answers whether it held.
    template <typename Condition>
    bool meterUntil(Condition condition)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!condition()) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            RunLoop::current().runUntilDate(0.01);
        }
        return true;
    }
    // Runs the meter until a level within 0.1 dB of `expected` arrives; answers the
    // last level received (NaN when none came).
    float meterNear(float expected)
    {
        (void)meterUntil([&] { return !log->levels.empty() && std::fabs(log->levels.back() - expected) <= 0.1f; });
        return log->levels.empty() ? NAN : log->levels.back();
    }
    // Runs the meter until `n` more levels arrived; answers the last.
    float meterTicks(size_t n)
    {
        const size_t target = log->levels.size() + n;
        (void)meterUntil([&] { return log->levels.size() >= target; });
        return log->levels.empty() ? NAN : log->levels.back();
    }
    std::shared_ptr<OrvaAudioDevice> mic;
    std::shared_ptr<LevelLog> log = std::make_shared<LevelLog>();
};

TEST_F(AudioMeter, LevelIsThePlainMeanOfTheChannelsInDecibels)
{
    makeMicrophone("usb-3/audio", {-20.0f, -40.0f});
    mic->addDelegate(log);
    EXPECT_EQ(mic->startVUMeter(), 0);
    EXPECT_NEAR(meterNear(-30.0f), -30.0f, 0.1);
    meterTicks(4); // the timer repeats
    EXPECT_EQ(log->threads.front(), std::this_thread::get_id()) << "through the main queue";
    const auto lines = logLines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "IsRunning YES"), lines.end());

    mic->setVolumeCur(Number::numberWithInt(128)); // half the amplitude: about 6 dB down
    const float halfVolume = -30.0f + 20.0f * std::log10(128.0f / 255.0f);
    EXPECT_NEAR(meterNear(halfVolume), halfVolume, 0.1);
    mic->setMute(true);
    EXPECT_NEAR(meterNear(-120.0f), -120.0f, 0.1) << "mute reads as silence";
}

TEST_F(AudioMeter, MonoMicrophoneReadsItsOneChannel)
{
    plugMicrophone("usb-4/audio"); // a stereo one first on the bus, not matched
    makeMicrophone("usb-5/audio", {-6.5f});
    ZISim_JournalClear();
    mic->addDelegate(log);
    (void)mic->startVUMeter();
    EXPECT_NEAR(meterNear(-6.5f), -6.5f, 0.1);
    EXPECT_TRUE(calls("ACI_").empty()) << "the meter does not go through the capture library";
}

TEST_F(AudioMeter, StopSendsNegativeInfinityOnceToListeningDelegatesOnly)
{
    makeMicrophone("usb-3/audio", {-20.0f, -20.0f});
    auto framesOnly = std::make_shared<FramesOnly>();
    mic->addDelegate(framesOnly);
    mic->addDelegate(log);
    EXPECT_EQ(mic->stopVUMeter(), 0);
    EXPECT_TRUE(log->levels.empty()) << "idle: nothing sent";

    (void)mic->startVUMeter();
    meterTicks(1);
    EXPECT_EQ(mic->stopVUMeter(), 0);
    ASSERT_FALSE(log->levels.empty());
    EXPECT_TRUE(std::isinf(log->levels.back()) && log->levels.back() < 0) << "sent at once, on this thread";
    EXPECT_EQ(mic->stopVUMeter(), 0) << "already stopped: nothing sent";
    const size_t afterStop = log->levels.size();
    RunLoop::current().runUntilDate(0.1);
    EXPECT_EQ(log->stops(), 1);
    EXPECT_LE(log->levels.size(), afterStop + 1) << "at most a level queued before the stop; no more ticks";
    EXPECT_EQ(framesOnly->levels, 0);

    (void)mic->startVUMeter(); // right after a stop: a new session, new levels
    EXPECT_NEAR(meterNear(-20.0f), -20.0f, 0.1);

    // closeDevice stops a running meter, even on a device that was never opened.
    auto unopened = std::dynamic_pointer_cast<OrvaAudioDevice>(OrvaAVDevice::newDevice(mic->deviceInfo()));
    auto other = std::make_shared<LevelLog>();
    unopened->addDelegate(other);
    (void)unopened->startVUMeter();
    unopened->closeDevice();
    EXPECT_EQ(other->stops(), 1);
}

TEST_F(AudioMeter, PlatformDevicesAreMatchedByPathInTheirOrder)
{
    plugMicrophone("usb-6/audio-extra", "Second");
    makeMicrophone("usb-6/audio", {-20.0f, -20.0f});
    auto devices = CaptureDevice::devicesWithMediaType(MediaType::Audio);
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_NE(devices[0]->uniqueID().find("usb-6/audio-extra"), std::string::npos);
    EXPECT_TRUE(CaptureDevice::devicesWithMediaType(MediaType::Video).empty());

    // "usb-6/audio" is inside both unique IDs; the first in the platform's order wins.
    (void)mic->startVUMeter();
    const auto lines = logLines();
    const bool logged = std::any_of(lines.begin(), lines.end(), [](const std::string& l) {
        return l.find("CaptureDeviceInput") != std::string::npos && l.find("usb-6/audio-extra") != std::string::npos;
    });
    EXPECT_TRUE(logged);
}

TEST_F(AudioMeter, AnUnpluggedMicrophoneFallsToSilenceAndTheHostHearsItLeft)
{
    makeMicrophone("usb-8/audio", {-20.0f, -20.0f});
    std::vector<std::string> heard;
    const auto token = NotificationCenter::defaultCenter().addObserver(
        KPXDeviceRemoved, [&](const Notification& n) { heard.push_back(n.name); });
    mic->addDelegate(log);
    (void)mic->startVUMeter();
    ASSERT_NEAR(meterNear(-20.0f), -20.0f, 0.1);

    ASSERT_EQ(ZISim_Unplug("usb-8/audio"), 0);
    ZISim_WaitIdle();
    EXPECT_NEAR(meterNear(AudioChannel::kSilenceLevel), AudioChannel::kSilenceLevel, 0.1) << "not the last level forever";
    EXPECT_NEAR(meterTicks(3), AudioChannel::kSilenceLevel, 0.1) << "and it stays there";
    EXPECT_TRUE(mic->channelLevels().empty() || mic->channelLevels().front() == AudioChannel::kSilenceLevel);
    NotificationCenter::defaultCenter().removeObserver(token);
    EXPECT_EQ(heard, std::vector<std::string>{"kKPXDeviceRemoved"});
}

TEST_F(AudioMeter, NoMatchingDeviceRunsWithoutInputAndSendsNoLevels)
{
    makeMicrophone("usb-7/audio", {-20.0f, -20.0f});
    ASSERT_EQ(ZISim_Unplug("usb-7/audio"), 0); // the platform no longer lists it
    ZISim_WaitIdle();
    mic->addDelegate(log);
    (void)mic->startVUMeter();
    RunLoop::current().runUntilDate(0.1); // a few ticks' worth, if any were sent
    EXPECT_TRUE(log->levels.empty());
    const auto lines = logLines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "IsRunning YES"), lines.end());
    (void)mic->stopVUMeter();
    EXPECT_EQ(log->stops(), 1);
}

} // namespace
