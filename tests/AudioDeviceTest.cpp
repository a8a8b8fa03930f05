#include "SimBus.h"
#include "DeliveryLog.h"
#include "Wait.h"

#include <orva/OrvaDeviceManager.h>
#include <orva/OrvaStatus.h>
#include <orva/OrvaAudioDevice.h>

#include <zedederadIvo.h>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <thread>

using namespace orva;
using orvatest::SimBusTest;

namespace {

const char* kPath = "usb-2/audio";

class AudioDevice : public SimBusTest {
protected:
    void TearDown() override
    {
        mic.reset();
        OrvaDeviceManager::destroy();
        SimBusTest::TearDown();
    }
    void makeMicrophone(bool described = true)
    {
        ZISimDeviceDesc d{};
        d.type = ZISIM_MICROPHONE;
        d.path = kPath;
        d.name = "Mic";
        d.withDefaultDescription = described ? 1 : 0;
        ASSERT_EQ(ZISim_Plug(&d), 0);
        ZISim_WaitIdle();
        auto mics = OrvaAudioDevice::getAudioDeviceList();
        ASSERT_EQ(mics->size(), 1u);
        mic = std::dynamic_pointer_cast<OrvaAudioDevice>(OrvaAVDevice::newDevice((*mics)[0]));
        ASSERT_TRUE(mic);
    }
    void openMicrophone(bool described = true)
    {
        makeMicrophone(described);
        ASSERT_EQ(mic->openDevice(), kOrvaOK);
        ZISim_JournalClear();
    }
    static std::shared_ptr<const AudioFormatDescription> wave(uint32_t tag, double rate, uint32_t channels,
                                                               uint32_t bits)
    {
        AudioStreamBasicDescription d;
        d.mSampleRate = rate;
        d.mFormatID = tag;
        d.mChannelsPerFrame = channels;
        d.mBitsPerChannel = bits;
        d.mBytesPerFrame = 99; // not carried over by setFormat
        return AudioFormatDescription::create(d);
    }
    std::shared_ptr<OrvaAudioDevice> mic;
};

struct BufferLog : orvatest::DeliveryLog {
    BufferLog() : DeliveryLog(4) {}
};

struct Deaf : OrvaAVDeviceDelegate {
    bool respondsTo(DelegateOperation) const override { return false; }
    void didCaptureFrame(const void*, uint32_t, int64_t, const std::shared_ptr<OrvaDeviceInfo>&) override { ++calls; }
    std::atomic<int> calls{0};
};

TEST_F(AudioDevice, WaveFormatsBecomeDescriptionsAndBack)
{
    makeMicrophone();
    EXPECT_EQ(mic->getSupportedFormats(), nullptr) << "closed";
    ASSERT_EQ(mic->openDevice(), kOrvaOK);
    auto formats = mic->getSupportedFormats();
    ASSERT_TRUE(formats);
    ASSERT_EQ(formats->size(), 6u);
    auto first = std::dynamic_pointer_cast<const AudioFormatDescription>((*formats)[0]);
    ASSERT_TRUE(first);
    AudioStreamBasicDescription expected;
    expected.mSampleRate = 48000.0;
    expected.mFormatID = 0x636D;
    expected.mChannelsPerFrame = 2;
    expected.mBitsPerChannel = 16;
    EXPECT_EQ(first->streamBasicDescription(), expected) << "only the four fields, the rest 0";
    EXPECT_EQ(std::dynamic_pointer_cast<const AudioFormatDescription>((*formats)[3])->streamBasicDescription().mFormatID,
              0x6320u);

    // Built once and kept, through close and reopen.
    mic->closeDevice();
    EXPECT_EQ(mic->getSupportedFormats(), nullptr);
    ASSERT_EQ(mic->openDevice(), kOrvaOK);
    ZISim_JournalClear();
    EXPECT_EQ(mic->getSupportedFormats(), formats);
    EXPECT_TRUE(calls("ACI_Enum_Wave_Formats").empty());

    // Back: the rate truncated, the other fields cut to 16 bits; the copy is what is kept.
    auto chosen = wave(0x636D, 44100.9, 2, 16);
    mic->setFormat(chosen);
    EXPECT_NE(mic->getFormat(), chosen);
    EXPECT_EQ(std::dynamic_pointer_cast<const AudioFormatDescription>(mic->getFormat())->streamBasicDescription().mBytesPerFrame,
              0u);
    ASSERT_EQ(mic->startCapture(), kOrvaOK);
    EXPECT_EQ(calls("ACI_Set_Capture_Parameters"),
              (std::vector<std::string>{
                  "ACI_Set_Capture_Parameters(handle=h2, tag=0x636D, channels=2, rate=44100, bits=16) -> 0"}));
    ASSERT_EQ(mic->stopCapture(), kOrvaOK);
    mic->setFormat(nullptr);
    EXPECT_EQ(mic->getFormat(), nullptr);
}

TEST_F(AudioDevice, AnEmptyListingIsAskedAgain)
{
    openMicrophone(/*described*/ false);
    EXPECT_EQ(mic->getSupportedFormats(), nullptr);
    ZISim_InjectResult("ACI_Enum_Wave_Formats", 0, 1); // "no buffer needed": nothing listed
    ASSERT_EQ(ZISim_AddWaveFormat(kPath, 0x636D, 1, 16000, 16), 0);
    EXPECT_EQ(mic->getSupportedFormats(), nullptr);
    auto formats = mic->getSupportedFormats();
    ASSERT_TRUE(formats);
    EXPECT_EQ(formats->size(), 1u);
    EXPECT_EQ(calls("ACI_Enum_Wave_Formats").size(), 4u) << "one call per empty answer, then the two-call listing";
}

TEST_F(AudioDevice, StartAndStopStatusCodes)
{
    makeMicrophone();
    EXPECT_EQ(mic->startCapture(), kOrvaErrorNotOpen);
    EXPECT_EQ(mic->stopCapture(), kOrvaErrorNotOpen);
    ASSERT_EQ(mic->openDevice(), kOrvaOK);
    ZISim_JournalClear();
    EXPECT_EQ(mic->startCapture(), kOrvaErrorNoFormat) << "no format";
    EXPECT_TRUE(journal().empty());

    mic->setFormat(wave(0x636D, 0, 2, 16)); // an absurd rate: the library refuses it
    EXPECT_EQ(mic->startCapture(), kOrvaErrorNoFormat);
    mic->setFormat(wave(0x636D, 48000, 2, 16));
    ZISim_InjectResult("ACI_Subscribe_Event", 9, 1);
    EXPECT_EQ(mic->startCapture(), 9) << "the library's own code";
    // A start the library fails undoes nothing: the subscription stays (the next
    // start withdraws it first, as closing would).
    ZISim_JournalClear();
    ZISim_InjectResult("ACI_Start_Capture", 19, 1);
    EXPECT_EQ(mic->startCapture(), kOrvaErrorMicrophoneBusy);
    EXPECT_TRUE(calls("ACI_UnSubscribe_Event").empty()) << "no step is undone";
    ZISim_InjectResult("ACI_Start_Capture", 4, 1);
    EXPECT_EQ(mic->startCapture(), 4);
    EXPECT_FALSE(mic->isCapturing());

    EXPECT_EQ(mic->startCapture(), kOrvaOK);
    EXPECT_TRUE(mic->isCapturing());
    ZISim_JournalClear();
    EXPECT_EQ(mic->startCapture(), kOrvaOK);
    EXPECT_TRUE(journal().empty()) << "a second start calls nothing";

    // A failed withdrawal leaves the microphone capturing; closing stops it again.
    ZISim_InjectResult("ACI_UnSubscribe_Event", 1, 1);
    EXPECT_EQ(mic->stopCapture(), kOrvaErrorLibraryFailed);
    EXPECT_TRUE(mic->isCapturing());
    ZISim_JournalClear();
    mic->closeDevice();
    EXPECT_EQ(journal(), (std::vector<std::string>{"ACI_Stop_Capture(handle=h1) -> 0",
                                                   "ACI_UnSubscribe_Event(handle=h1, event=71) -> 0",
                                                   "VCI_Close_Device(handle=h1) -> 0"}));
    EXPECT_FALSE(mic->isCapturing());
    ZISim_JournalClear();
    EXPECT_EQ(mic->stopCapture(), kOrvaErrorNotOpen) << "closed";
    EXPECT_TRUE(journal().empty());
    EXPECT_FALSE(mic->isOpen());
}

TEST_F(AudioDevice, PcmBuffersReachRespondingDelegatesOnTheLibraryThread)
{
    openMicrophone();
    auto log = std::make_shared<BufferLog>();
    auto deaf = std::make_shared<Deaf>();
    mic->addDelegate(deaf);
    mic->addDelegate(log);
    mic->setFormat(wave(0x636D, 48000, 2, 16));
    ZISim_UseManualClock(1); // buffers come when the test moves the clock, stamped exactly
    ZISim_SetClock(1000000);
    ASSERT_EQ(mic->startCapture(), kOrvaOK);
    ZISim_SetClock(1000000 + 4 * 10000);
    ASSERT_TRUE(log->waitFor(5));
    ASSERT_EQ(mic->stopCapture(), kOrvaOK);
    const size_t n = log->count();
    ZISim_SetClock(2000000);
    std::this_thread::sleep_for(std::chrono::milliseconds(40)); // a late buffer would show here
    EXPECT_EQ(log->count(), n) << "nothing after the stop returned";
    for (size_t i = 0; i < n; ++i) {
        EXPECT_EQ(log->lengths[i], 480u * 2 * 2) << "10 ms of 48 kHz stereo 16-bit";
        EXPECT_NE(log->threads[i], std::this_thread::get_id());
    }
    EXPECT_EQ(log->timestamps[2] - log->timestamps[1], 10000);
    EXPECT_EQ(log->deviceType, 1);
    EXPECT_EQ(deaf->calls.load(), 0);
}

TEST_F(AudioDevice, AacArrivesAsRawPacketsOfOneThousandTwentyFourFrames)
{
    openMicrophone();
    auto log = std::make_shared<BufferLog>();
    mic->addDelegate(log);
    mic->setFormat(wave(0x6320, 48000, 2, 16));
    ZISim_UseManualClock(1);
    ZISim_SetClock(1000000);
    ASSERT_EQ(mic->startCapture(), kOrvaOK);
    ZISim_SetClock(1000000 + 8 * 21334);
    ASSERT_TRUE(log->waitFor(6));
    ASSERT_EQ(mic->stopCapture(), kOrvaOK);
    for (size_t i = 0; i < log->count(); ++i) {
        EXPECT_GT(log->lengths[i], 4u);
        EXPECT_LT(log->lengths[i], 1536u * 2) << "one packet, not several";
        EXPECT_FALSE(log->data[i][0] == 0xFF && (log->data[i][1] & 0xF0) == 0xF0) << "no ADTS header";
    }
    // Packets 1024 frames apart: 21333 µs at 48 kHz.
    const double spacing = static_cast<double>(log->timestamps[5] - log->timestamps[1]) / 4.0;
    EXPECT_NEAR(spacing, 21333.0, 1.0);
}

TEST_F(AudioDevice, UnpluggedWhileCapturingStopsDeliveringAndStillCloses)
{
    openMicrophone();
    auto log = std::make_shared<BufferLog>();
    mic->addDelegate(log);
    mic->setFormat(wave(0x636D, 16000, 1, 16));
    ASSERT_EQ(mic->startCapture(), kOrvaOK);
    ASSERT_TRUE(log->waitFor(2));
    ASSERT_EQ(ZISim_Unplug(kPath), 0);
    const size_t n = log->count();
    std::this_thread::sleep_for(std::chrono::milliseconds(60)); // six buffers' worth would show here
    EXPECT_LE(log->count(), n + 1) << "at most one already under way";
    EXPECT_EQ(mic->stopCapture(), kOrvaOK);
    mic->closeDevice();
    EXPECT_FALSE(mic->isOpen());
}

TEST_F(AudioDevice, VolumeWrapsAndMuteReadsTheByte)
{
    makeMicrophone();
    ZISim_JournalClear();
    EXPECT_EQ(mic->getVolumeMax().intValue(), 255);
    EXPECT_EQ(mic->getVolumeMin().intValue(), 0);
    EXPECT_EQ(mic->getVolumeDefault().intValue(), 255);
    EXPECT_EQ(mic->getVolumeMax().kind(), Number::Kind::Int32);
    EXPECT_TRUE(journal().empty()) << "answered without the library, even when not open";

    ASSERT_EQ(mic->openDevice(), kOrvaOK);
    ZISim_JournalClear();
    for (int v : {255, 256, 300, -1}) mic->setVolumeCur(Number::numberWithInt(v));
    mic->setVolumeCur(std::nullopt);
    EXPECT_EQ(calls("ACI_Set_Mic_Volume"), (std::vector<std::string>{"ACI_Set_Mic_Volume(handle=h1, volume=255) -> 0",
                                                                      "ACI_Set_Mic_Volume(handle=h1, volume=0) -> 0",
                                                                      "ACI_Set_Mic_Volume(handle=h1, volume=44) -> 0",
                                                                      "ACI_Set_Mic_Volume(handle=h1, volume=255) -> 0",
                                                                      "ACI_Set_Mic_Volume(handle=h1, volume=0) -> 0"}));
    ASSERT_TRUE(mic->getVolumeCur());
    EXPECT_EQ(mic->getVolumeCur()->intValue(), 0);
    ZISim_InjectResult("ACI_Get_Mic_Volume", 1, 1);
    EXPECT_FALSE(mic->getVolumeCur());

    mic->setMute(true);
    EXPECT_TRUE(mic->isMuteOn());
    ZISim_InjectResult("ACI_Get_Mic_Mute", 1, 1);
    EXPECT_FALSE(mic->isMuteOn()) << "the library wrote nothing: the preset 0";
    mic->setMute(false);
    EXPECT_FALSE(mic->isMuteOn());

    mic->setAutoVolume(true);
    EXPECT_FALSE(mic->isAutoVolumeSet());
}

} // namespace
