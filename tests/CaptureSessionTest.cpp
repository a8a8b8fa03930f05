#include "SimBus.h"
#include "Wait.h"

#include "platform/capture/CaptureDevice.h"
#include "platform/capture/CaptureSession.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <thread>

using namespace orva;
using orvatest::SimBusTest;

namespace {

class CaptureSessionTest : public SimBusTest {
protected:
    std::shared_ptr<CaptureDevice> device(const std::string& path)
    {
        for (auto& d : CaptureDevice::devicesWithMediaType(MediaType::Audio))
            if (d->busPath() == path) return d;
        return nullptr;
    }
    // Waits until the channel reads `level` (within 0.1 dB), with a generous deadline.
    static bool reads(const std::shared_ptr<CaptureConnection>& connection, size_t channel, float level)
    {
        return orvatest::waitUntil(
            [&] { return std::fabs(connection->audioChannels()[channel]->averagePowerLevel() - level) <= 0.1f; });
    }
};

TEST_F(CaptureSessionTest, ConnectionsMeasureEachChannelWhileRunning)
{
    plugMicrophone("usb-9/audio");
    ASSERT_EQ(ZISim_SetMicrophoneSignal("usb-9/audio", 0, -10.0f, 0), 0);
    ASSERT_EQ(ZISim_SetMicrophoneSignal("usb-9/audio", 1, -30.0f, 0), 0);
    auto mic = device("usb-9/audio");
    ASSERT_TRUE(mic);
    EXPECT_EQ(mic->channelCount(), 2u);
    EXPECT_NE(mic->uniqueID().find("usb-9/audio"), std::string::npos);

    auto session = CaptureSession::create();
    auto output = AudioPreviewOutput::create();
    output->setVolume(0);
    session->addOutput(output);
    EXPECT_TRUE(output->connections()->empty()) << "no input, no connection";
    auto input = CaptureDeviceInput::deviceInputWithDevice(mic, nullptr);
    ASSERT_TRUE(input);
    session->beginConfiguration();
    session->addInput(input);
    EXPECT_TRUE(output->connections()->empty()) << "nothing changes until the configuration is committed";
    session->commitConfiguration();
    ASSERT_EQ(output->connections()->size(), 1u);
    const auto connection = output->connections()->front();
    ASSERT_EQ(connection->audioChannels().size(), 2u);
    EXPECT_EQ(connection->audioChannels()[0]->averagePowerLevel(), AudioChannel::kSilenceLevel) << "not running yet";

    session->startRunning();
    EXPECT_TRUE(session->isRunning());
    const float volume = 20.0f * std::log10(200.0f / 255.0f); // a plugged microphone starts at volume 200
    EXPECT_TRUE(reads(connection, 0, -10.0f + volume));
    EXPECT_TRUE(reads(connection, 1, -30.0f + volume));

    session->stopRunning();
    ASSERT_EQ(ZISim_SetMicrophoneSignal("usb-9/audio", 0, -50.0f, 0), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(60)); // a buffer after the stop would show here
    EXPECT_NEAR(connection->audioChannels()[0]->averagePowerLevel(), -10.0f + volume, 0.1) << "stopped: no more buffers";

    session->removeInput(input);
    EXPECT_TRUE(session->inputs().empty());
    EXPECT_TRUE(output->connections()->empty());
    EXPECT_EQ(session->inputsDescription(), "()");
}

TEST_F(CaptureSessionTest, InputsForDevicesThatAreGone)
{
    plugMicrophone("usb-9/audio");
    auto mic = device("usb-9/audio");
    ASSERT_TRUE(mic);
    ASSERT_EQ(ZISim_Unplug("usb-9/audio"), 0);
    std::string error;
    EXPECT_FALSE(CaptureDeviceInput::deviceInputWithDevice(mic, &error));
    EXPECT_NE(error.find("not connected"), std::string::npos);
    EXPECT_FALSE(CaptureDeviceInput::deviceInputWithDevice(nullptr, nullptr));
    EXPECT_TRUE(CaptureDevice::devicesWithMediaType(MediaType::Audio).empty());
}

} // namespace
