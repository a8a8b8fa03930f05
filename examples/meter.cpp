// Show the first microphone's level as a bar, in dB full scale.
//
//   orva-example-meter [SECONDS]     (5 seconds by default)
//
// Build against an installed Orva:
//   c++ -std=c++20 meter.cpp $(pkg-config --cflags --libs orva) -o orva-example-meter
#include <orva/OrvaAVDeviceDelegate.h>
#include <orva/OrvaAudioDevice.h>
#include <orva/OrvaDeviceManager.h>
#include <orva/OrvaStatus.h>
#include <orva/RunLoop.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

// A delegate that answers the optional level operation. Levels arrive on the main
// thread (through its run loop) about thirty times a second.
class LevelBar : public orva::OrvaAVDeviceDelegate {
public:
    bool respondsTo(orva::DelegateOperation operation) const override
    {
        return operation == orva::DelegateOperation::didMicLevelEventOccured;
    }
    // The frame operation is required; a meter does not need the audio itself.
    void didCaptureFrame(const void*, uint32_t, int64_t, const std::shared_ptr<orva::OrvaDeviceInfo>&) override {}
    void didMicLevelEventOccured(float level) override
    {
        if (std::isinf(level)) return; // the meter stopped
        const int width = static_cast<int>(std::fmax(0.0, (level + 60.0) / 60.0 * 40.0));
        std::printf("\r%6.1f dB |%-40s|", level, std::string(static_cast<size_t>(std::fmin(width, 40)), '#').c_str());
        std::fflush(stdout);
    }
};

int main(int argc, char** argv)
{
    const double seconds = argc > 1 ? std::atof(argv[1]) : 5.0;
    auto manager = orva::OrvaDeviceManager::getSharedInstance();
    auto microphones = manager->getAudioDeviceList();
    if (microphones->empty()) {
        std::fprintf(stderr, "no microphone\n");
        return 1;
    }
    auto microphone =
        std::dynamic_pointer_cast<orva::OrvaAudioDevice>(orva::OrvaAVDevice::newDevice(microphones->front()));
    if (microphone->openDevice() != orva::kOrvaOK) return 1;
    auto bar = std::make_shared<LevelBar>();
    microphone->addDelegate(bar);

    // The meter's timer belongs to the thread that starts it, which must turn its
    // run loop: here, for the given time.
    (void)microphone->startVUMeter();
    orva::RunLoop::current().runUntilDate(seconds);
    (void)microphone->stopVUMeter();
    std::printf("\n");

    microphone->removeDelegate(bar);
    microphone->closeDevice();
    orva::OrvaDeviceManager::destroy();
    return 0;
}
