// Microphones over a real PipeWire daemon (the fixture's own): listing by vendor,
// arrival and removal, capture against a known tone, AAC, volume and mute, the
// level meter, the daemon going away, and no daemon at all.
#include "VirtualMicrophone.h"
#include "../DeliveryLog.h"

#include <orva/OrvaDeviceManager.h>
#include <orva/OrvaStatus.h>
#include <orva/OrvaAudioDevice.h>
#include <orva/NotificationCenter.h>
#include <orva/RunLoop.h>
#include "platform/foundation/SystemLog.h"

#include <zedederadIvoBackend.h>
#include <zedederadIvoSystem.h>

#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <cstdlib>
#include <mutex>
#include <thread>

using namespace orva;
using orvatest::VirtualMicrophone;

namespace {

const std::string kMakerPath = "pipewire:test-mic;usb=1-4;serial=SN0001";

template <typename Condition>
bool eventually(Condition condition, int seconds = 20)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

std::vector<_VCI_DEVICE_ENTRY> listMicrophones()
{
    uint32_t size = 0, count = 0;
    if (ACI_Enum_Devices(nullptr, &size, &count) != ZI_MORE_DATA) return {};
    std::vector<_VCI_DEVICE_ENTRY> entries(count);
    if (ACI_Enum_Devices(entries.data(), &size, &count) != ZI_OK) return {};
    return entries;
}

std::string text(const uint16_t* field)
{
    std::string out;
    for (size_t i = 0; i < ZI_DEVICE_TEXT_UNITS && field[i]; ++i) out += static_cast<char>(field[i]);
    return out;
}

// Audio buffers as they arrive, with their times.
struct Buffers : orvatest::DeliveryLog {
    // RMS in dB of one channel over the buffers from `first` on.
    double levelDb(size_t first, uint32_t channel, uint32_t channels)
    {
        std::lock_guard lock(mutex);
        double sum = 0;
        size_t n = 0;
        for (size_t b = first; b < data.size(); ++b) {
            const auto* s = reinterpret_cast<const int16_t*>(data[b].data());
            const size_t frames = data[b].size() / (2 * channels);
            for (size_t i = 0; i < frames; ++i, ++n) {
                const double v = s[i * channels + channel] / 32768.0;
                sum += v * v;
            }
        }
        return n ? 10 * std::log10(sum / n + 1e-30) : -300;
    }
    // The first buffer from which the tone is there (the feed starts a moment late).
    size_t firstLoud(uint32_t channels)
    {
        for (size_t b = 0;; ++b) {
            {
                std::lock_guard lock(mutex);
                if (b >= data.size()) return b;
                const auto* s = reinterpret_cast<const int16_t*>(data[b].data());
                for (size_t i = 0; i < data[b].size() / 2; i += channels)
                    if (std::abs(s[i]) > 1000) return b + 5; // a few buffers in: the feed is steady
            }
        }
    }
};

class PipeWireMicrophone : public ::testing::Test {
protected:
    void SetUp() override
    {
        unsetenv("ORVA_ALL_VENDORS");
        SystemLog::setEchoToStandardError(false);
        ASSERT_EQ(ZI_Select_Backend(ZI_HALF_BOTH, ZI_BACKEND_SYSTEM), ZI_OK);
    }
    void TearDown() override
    {
        if (mic) mic->closeDevice();
        mic.reset();
        OrvaDeviceManager::destroy();
        while (ACI_Cleanup() == ZI_OK) {
        }
    }
    // The maker's virtual microphone, listed and opened through the component.
    void openMakerMicrophone(VirtualMicrophone::Options options = {})
    {
        source = std::make_unique<VirtualMicrophone>(std::move(options));
        ASSERT_TRUE(source->ready());
        auto manager = OrvaDeviceManager::getSharedInstance();
        ASSERT_TRUE(eventually([&] { return manager->getAudioDeviceList()->size() == 1; }));
        mic = std::dynamic_pointer_cast<OrvaAudioDevice>(OrvaAVDevice::newDevice(manager->getAudioDeviceList()->front()));
        ASSERT_TRUE(mic);
        ASSERT_EQ(mic->openDevice(), kOrvaOK);
    }
    std::shared_ptr<const FormatDescription> format(uint32_t tag, uint32_t rate, uint32_t channels)
    {
        for (const auto& f : *mic->getSupportedFormats()) {
            const auto& d = dynamic_cast<const AudioFormatDescription&>(*f).streamBasicDescription();
            if (d.mFormatID == tag && d.mSampleRate == rate && d.mChannelsPerFrame == channels) return f;
        }
        return nullptr;
    }

    std::unique_ptr<VirtualMicrophone> source;
    std::shared_ptr<OrvaAudioDevice> mic;
};

TEST_F(PipeWireMicrophone, ListsUsbSourcesOfTheMakerUnlessEveryVendorIsWanted)
{
    VirtualMicrophone maker({});
    VirtualMicrophone other({"other-mic", "Other Mic", true, 0x1234, 0x0001, "2-1", "X9"});
    VirtualMicrophone plain({"plain-mic", "Plain Mic", false});
    ASSERT_TRUE(maker.ready() && other.ready() && plain.ready());

    ASSERT_EQ(ACI_Init(), ZI_OK);
    auto entries = listMicrophones();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(text(entries[0].path), kMakerPath) << "the USB parent (1-4) is the one a camera on it names";
    EXPECT_EQ(text(entries[0].name), "Test Mic");
    EXPECT_EQ(entries[0].vendorID, 0x2E7A);
    EXPECT_EQ(entries[0].productID, 0x08E5);
    ASSERT_EQ(ACI_Cleanup(), ZI_OK);

    setenv("ORVA_ALL_VENDORS", "1", 1);
    ASSERT_EQ(ACI_Init(), ZI_OK);
    std::vector<std::string> paths;
    for (const auto& e : listMicrophones()) paths.push_back(text(e.path));
    std::sort(paths.begin(), paths.end());
    EXPECT_EQ(paths, (std::vector<std::string>{"pipewire:other-mic;usb=2-1;serial=X9", "pipewire:plain-mic", kMakerPath}));

    std::string report(ZISys_Describe(nullptr, 0) + 1, '\0');
    ZISys_Describe(report.data(), static_cast<uint32_t>(report.size()));
    EXPECT_NE(report.find("connected to PipeWire"), std::string::npos) << report;
}

TEST_F(PipeWireMicrophone, ArrivalAndRemovalBecomeNotifications)
{
    std::mutex mutex;
    std::vector<std::string> heard;
    auto& center = NotificationCenter::defaultCenter();
    auto record = [&](const Notification& n) {
        auto info = std::any_cast<std::shared_ptr<OrvaDeviceInfo>>(n.userInfo.at(n.name));
        std::lock_guard lock(mutex);
        heard.push_back(n.name + " " + *info->path());
    };
    const auto added = center.addObserver(KPXDeviceAdded, record);
    const auto removed = center.addObserver(KPXDeviceRemoved, record);
    auto manager = OrvaDeviceManager::getSharedInstance();
    EXPECT_TRUE(manager->getAudioDeviceList()->empty());

    auto source = std::make_unique<VirtualMicrophone>(VirtualMicrophone::Options{});
    ASSERT_TRUE(source->ready());
    ASSERT_TRUE(eventually([&] { return manager->getAudioDeviceList()->size() == 1; }));
    source.reset();
    ASSERT_TRUE(eventually([&] { return manager->getAudioDeviceList()->empty(); }));
    ASSERT_TRUE(eventually([&] {
        std::lock_guard lock(mutex);
        return heard.size() >= 2;
    }));
    center.removeObserver(added);
    center.removeObserver(removed);
    EXPECT_EQ(heard, (std::vector<std::string>{"kKPXDeviceAdded " + kMakerPath, "kKPXDeviceRemoved " + kMakerPath}));
}

TEST_F(PipeWireMicrophone, PcmCaptureCarriesTheToneInTenMillisecondBuffers)
{
    openMakerMicrophone();
    ASSERT_TRUE(format(ZI_WAVE_FORMAT_LPCM, 48000, 2)) << "16-bit PCM at 48 kHz, the node's two channels";
    ASSERT_TRUE(format(ZI_WAVE_FORMAT_AAC, 48000, 2));
    auto buffers = std::make_shared<Buffers>();
    mic->addDelegate(buffers);
    mic->setFormat(format(ZI_WAVE_FORMAT_LPCM, 48000, 2));
    ASSERT_EQ(mic->startCapture(), kOrvaOK);
    size_t first = 0;
    ASSERT_TRUE(eventually([&] { return (first = buffers->firstLoud(2)) < buffers->count(); }));
    ASSERT_TRUE(eventually([&] { return buffers->count() >= first + 200; })) << "two seconds of sound";
    ASSERT_EQ(mic->stopCapture(), kOrvaOK);

    EXPECT_NEAR(buffers->levelDb(first, 0, 2), VirtualMicrophone::leftLevelDb(), 0.5);
    EXPECT_NEAR(buffers->levelDb(first, 1, 2), VirtualMicrophone::rightLevelDb(), 0.5);
    std::lock_guard lock(buffers->mutex);
    size_t steady = 0;
    for (size_t b = 1; b < buffers->data.size(); ++b) {
        ASSERT_EQ(buffers->data[b].size(), 480u * 4) << "10 ms of 48 kHz stereo";
        ASSERT_GT(buffers->timestamps[b], buffers->timestamps[b - 1]) << "buffer " << b;
        steady += buffers->timestamps[b] - buffers->timestamps[b - 1] == 10000;
    }
    EXPECT_GE(steady, (buffers->data.size() - 1) * 95 / 100)
        << "times advance by the buffer's length; the line moves only now and then to follow the clock";
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const int64_t nowMicroseconds = int64_t{now.tv_sec} * 1000000 + now.tv_nsec / 1000;
    EXPECT_LT(std::llabs(nowMicroseconds - buffers->timestamps.back()), 2'000'000) << "monotonic microseconds";
}

TEST_F(PipeWireMicrophone, AacCaptureDecodesToTheTone)
{
    openMakerMicrophone();
    auto buffers = std::make_shared<Buffers>();
    mic->addDelegate(buffers);
    mic->setFormat(format(ZI_WAVE_FORMAT_AAC, 48000, 2));
    ASSERT_EQ(mic->startCapture(), kOrvaOK);
    ASSERT_TRUE(eventually([&] { return buffers->count() >= 150; })) << "about three seconds of packets";
    ASSERT_EQ(mic->stopCapture(), kOrvaOK);

    std::vector<std::vector<uint8_t>> packets;
    std::vector<int64_t> times;
    {
        std::lock_guard lock(buffers->mutex);
        packets = buffers->data;
        times = buffers->timestamps;
    }
    size_t steady = 0;
    for (size_t b = 1; b < times.size(); ++b) {
        ASSERT_GT(times[b], times[b - 1]);
        steady += std::llabs(times[b] - times[b - 1] - 21333) <= 1;
    }
    EXPECT_GE(steady, (times.size() - 1) * 95 / 100) << "one packet of 1024 frames after another";

    struct Free {
        void operator()(AVCodecContext* c) { avcodec_free_context(&c); }
        void operator()(AVPacket* p) { av_packet_free(&p); }
        void operator()(AVFrame* f) { av_frame_free(&f); }
    };
    std::unique_ptr<AVCodecContext, Free> decoder(avcodec_alloc_context3(avcodec_find_decoder(AV_CODEC_ID_AAC)));
    decoder->sample_rate = 48000;
    av_channel_layout_default(&decoder->ch_layout, 2);
    const uint8_t config[2] = {0x11, 0x90}; // AAC LC, 48 kHz, stereo
    decoder->extradata = static_cast<uint8_t*>(av_mallocz(2 + AV_INPUT_BUFFER_PADDING_SIZE));
    std::memcpy(decoder->extradata, config, 2);
    decoder->extradata_size = 2;
    ASSERT_EQ(avcodec_open2(decoder.get(), decoder->codec, nullptr), 0);
    std::unique_ptr<AVPacket, Free> packet(av_packet_alloc());
    std::unique_ptr<AVFrame, Free> frame(av_frame_alloc());
    double sum = 0;
    size_t n = 0;
    for (size_t b = 0; b < packets.size(); ++b) {
        packet->data = packets[b].data();
        packet->size = static_cast<int>(packets[b].size());
        ASSERT_EQ(avcodec_send_packet(decoder.get(), packet.get()), 0);
        while (avcodec_receive_frame(decoder.get(), frame.get()) == 0) {
            const auto* left = reinterpret_cast<const float*>(frame->data[0]);
            for (int i = 0; i < frame->nb_samples && b > 100; ++i, ++n) sum += double{left[i]} * left[i];
        }
    }
    EXPECT_NEAR(10 * std::log10(sum / n), VirtualMicrophone::leftLevelDb(), 1.0);
}

TEST_F(PipeWireMicrophone, VolumeAndMuteRoundTripThroughTheNode)
{
    openMakerMicrophone();
    // WirePlumber remembers the volume of pw-loopback's nodes for the daemon's life:
    // put it back for the tests that follow in this process.
    struct Restore {
        std::shared_ptr<OrvaAudioDevice> mic;
        ~Restore()
        {
            mic->setVolumeCur(Number::numberWithInt(255));
            mic->setMute(false);
        }
    } restore{mic};
    ASSERT_TRUE(mic->getVolumeCur());
    EXPECT_EQ(mic->getVolumeCur()->intValue(), 255) << "a new node is at full volume";
    mic->setVolumeCur(Number::numberWithInt(128));
    EXPECT_EQ(mic->getVolumeCur()->intValue(), 128);
    EXPECT_FALSE(mic->isMuteOn());
    mic->setMute(true);
    EXPECT_TRUE(mic->isMuteOn());

    // What is captured follows: muted, silence; then the tone at volume 128 (cubic scale).
    auto buffers = std::make_shared<Buffers>();
    mic->addDelegate(buffers);
    mic->setFormat(format(ZI_WAVE_FORMAT_LPCM, 48000, 2));
    ASSERT_EQ(mic->startCapture(), kOrvaOK);
    ASSERT_TRUE(eventually([&] { return buffers->count() >= 100; }));
    EXPECT_LT(buffers->levelDb(20, 0, 2), -90.0);
    mic->setMute(false);
    const size_t unmuted = buffers->count();
    ASSERT_TRUE(eventually([&] { return buffers->count() >= unmuted + 150; }));
    const double expected = VirtualMicrophone::leftLevelDb() + 60 * std::log10(128.0 / 255.0);
    EXPECT_NEAR(buffers->levelDb(unmuted + 50, 0, 2), expected, 0.5);
    ASSERT_EQ(mic->stopCapture(), kOrvaOK);
}

TEST_F(PipeWireMicrophone, MeterFollowsTheToneAndFallsToTheFloorWhenTheSourceGoes)
{
    struct Levels : OrvaAVDeviceDelegate {
        bool respondsTo(DelegateOperation op) const override { return op == DelegateOperation::didMicLevelEventOccured; }
        void didCaptureFrame(const void*, uint32_t, int64_t, const std::shared_ptr<OrvaDeviceInfo>&) override {}
        void didMicLevelEventOccured(float level) override { levels.push_back(level); }
        std::vector<float> levels;
    };
    openMakerMicrophone();
    auto levels = std::make_shared<Levels>();
    mic->addDelegate(levels);
    ASSERT_EQ(mic->startVUMeter(), 0);
    const double expected = (VirtualMicrophone::leftLevelDb() + VirtualMicrophone::rightLevelDb()) / 2;
    auto& loop = RunLoop::current();
    auto heard = [&](auto predicate) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::chrono::steady_clock::now() < deadline) {
            loop.runUntilDate(0.05);
            if (!levels->levels.empty() && predicate(levels->levels.back())) return true;
        }
        return false;
    };
    EXPECT_TRUE(heard([&](float level) { return std::fabs(level - expected) < 0.5; }))
        << "last level " << (levels->levels.empty() ? 0 : levels->levels.back()) << " against " << expected;
    source->remove();
    EXPECT_TRUE(heard([](float level) { return level <= -119.0f; })) << "the floor, not the last level again";
    EXPECT_EQ(mic->stopVUMeter(), 0);
}

TEST_F(PipeWireMicrophone, FormatsTheNodeDoesNotOfferAreRefused)
{
    VirtualMicrophone source({});
    ASSERT_TRUE(source.ready());
    ASSERT_EQ(ACI_Init(), ZI_OK);
    const auto entries = listMicrophones();
    ASSERT_EQ(entries.size(), 1u);
    ACI_HANDLE handle = ACI_Open_Device(entries[0].path);
    ASSERT_TRUE(handle);

    EXPECT_EQ(ACI_Start_Capture(handle), ZI_ERR_INVALID_ARG) << "no format chosen yet";
    const _ACI_WAVE_FORMAT odd[] = {
        {ZI_WAVE_FORMAT_LPCM, 2, 11025, 16, 0}, // a rate the node does not run at
        {ZI_WAVE_FORMAT_LPCM, 6, 48000, 16, 0}, // more channels than it has
        {ZI_WAVE_FORMAT_LPCM, 2, 48000, 24, 0}, // 24-bit: only 16-bit PCM is offered
        {ZI_WAVE_FORMAT_AAC, 2, 44100, 16, 0},  // AAC is made at 48 kHz only
        {0x1234, 2, 48000, 16, 0},              // no such format
    };
    for (const auto& format : odd)
        EXPECT_EQ(ACI_Set_Capture_Parameters(handle, &format), ZI_ERR_INVALID_ARG)
            << format.formatTag << " " << format.channels << " " << format.samplesPerSec << " " << format.bitsPerSample;
    EXPECT_EQ(ACI_Start_Capture(handle), ZI_ERR_INVALID_ARG) << "a refused format is not kept";

    const _ACI_WAVE_FORMAT good{ZI_WAVE_FORMAT_LPCM, 2, 48000, 16, 0};
    ASSERT_EQ(ACI_Set_Capture_Parameters(handle, &good), ZI_OK);
    EXPECT_EQ(ACI_Start_Capture(handle), ZI_OK);
    EXPECT_EQ(ACI_Stop_Capture(handle), ZI_OK);
    EXPECT_EQ(VCI_Close_Device(handle), ZI_OK); // closes microphone handles too
}

TEST_F(PipeWireMicrophone, DaemonStoppingMidCaptureEndsCaptureWithoutHanging)
{
    openMakerMicrophone();
    std::mutex mutex;
    int removals = 0;
    const auto token = NotificationCenter::defaultCenter().addObserver(KPXDeviceRemoved, [&](const Notification&) {
        std::lock_guard lock(mutex);
        ++removals;
    });
    auto buffers = std::make_shared<Buffers>();
    mic->addDelegate(buffers);
    mic->setFormat(format(ZI_WAVE_FORMAT_LPCM, 48000, 2));
    ASSERT_EQ(mic->startCapture(), kOrvaOK);
    ASSERT_TRUE(eventually([&] { return buffers->count() >= 20; }));

    const char* daemon = std::getenv("ORVA_TEST_PIPEWIRE_PID");
    ASSERT_TRUE(daemon);
    timespec killed{};
    clock_gettime(CLOCK_MONOTONIC, &killed);
    ASSERT_EQ(kill(static_cast<pid_t>(std::atoi(daemon)), SIGKILL), 0);
    ASSERT_TRUE(eventually([&] {
        std::lock_guard lock(mutex);
        return removals == 1;
    })) << "the microphone leaves";
    EXPECT_TRUE(OrvaDeviceManager::getSharedInstance()->getAudioDeviceList()->empty());
    // Sound captured before may still be on its way to the delegate (the delivery
    // thread drains what the server handed over); none was captured after.
    std::this_thread::sleep_for(std::chrono::milliseconds(200)); // time for buffers that should not come
    {
        std::lock_guard lock(buffers->mutex);
        const int64_t killedAt = int64_t{killed.tv_sec} * 1000000 + killed.tv_nsec / 1000;
        for (size_t b = 0; b < buffers->timestamps.size(); ++b)
            EXPECT_LT(buffers->timestamps[b], killedAt) << "buffer " << b << " was captured after the daemon went";
    }

    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(mic->getVolumeCur());
    EXPECT_EQ(mic->stopCapture(), kOrvaOK);
    mic->closeDevice();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5)) << "nothing waits for a dead daemon";
    NotificationCenter::defaultCenter().removeObserver(token);
}

TEST_F(PipeWireMicrophone, NoDaemonMeansNoMicrophonesAndAReason)
{
    setenv("PIPEWIRE_REMOTE", "orva-no-such-daemon", 1);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(ACI_Init(), ZI_OK);
    EXPECT_TRUE(listMicrophones().empty());
    std::string report(ZISys_Describe(nullptr, 0) + 1, '\0');
    ZISys_Describe(report.data(), static_cast<uint32_t>(report.size()));
    EXPECT_NE(report.find("PipeWire is not running"), std::string::npos) << report;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    unsetenv("PIPEWIRE_REMOTE");
}

} // namespace
