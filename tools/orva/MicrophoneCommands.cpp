// orva audio-formats, meter, volume and mute.
#include "Cli.h"

#include <orva/OrvaAudioDevice.h>
#include <orva/RunLoop.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

using namespace orva;

namespace cli {

namespace {

bool parseInteger(const std::string& text, long& value)
{
    char* end = nullptr;
    value = std::strtol(text.c_str(), &end, 10);
    return !text.empty() && *end == 0;
}

// Draws the level as a bar from -60 dB to 0 dB, rewriting one line.
class LevelBar : public OrvaAVDeviceDelegate {
public:
    bool respondsTo(DelegateOperation operation) const override
    {
        return operation == DelegateOperation::didMicLevelEventOccured;
    }
    void didCaptureFrame(const void*, uint32_t, int64_t, const std::shared_ptr<OrvaDeviceInfo>&) override {}
    void didMicLevelEventOccured(float level) override
    {
        ++levels;
        if (std::isinf(level) && level < 0) {
            std::printf("\r  metering stopped%*s\n", kWidth + 12, "");
            std::fflush(stdout);
            return;
        }
        const double clamped = std::fmax(-60.0, std::fmin(0.0, level));
        const int filled = static_cast<int>(std::lround((clamped + 60.0) / 60.0 * kWidth));
        std::string bar(static_cast<size_t>(filled), '#');
        bar.resize(kWidth, '.');
        std::printf("\r  %6.1f dB |%s|", level, bar.c_str());
        std::fflush(stdout);
    }
    int levels = 0;

private:
    static constexpr int kWidth = 50;
};

} // namespace

int runAudioFormats(Args& args)
{
    if (!checkArgs("audio-formats", args, 1)) return 2;
    const auto positional = args.positional();
    auto mic = openMicrophone("audio-formats", positional.empty() ? std::nullopt : std::optional(positional[0]));
    if (!mic) return 1;
    auto formats = mic->getSupportedFormats();
    std::printf("%s: %zu wave formats\n", mic->deviceInfo()->nameText().c_str(), formats ? formats->size() : 0);
    std::printf("  %-22s %-10s %8s %9s %5s\n", "format", "tag", "rate", "channels", "bits");
    if (formats) {
        for (const auto& f : *formats) {
            auto a = std::dynamic_pointer_cast<const AudioFormatDescription>(f);
            if (!a) continue;
            const auto& d = a->streamBasicDescription();
            const char* kind = d.mFormatID == kAudioFormatLinearPCM ? "PCM" : d.mFormatID == kAudioFormatMPEG4AAC ? "AAC" : "?";
            char tag[16];
            std::snprintf(tag, sizeof tag, "0x%04X %s", d.mFormatID, kind);
            std::printf("  %-22s %-10s %8.0f %9u %5u\n", audioFormatText(d).c_str(), tag, d.mSampleRate,
                        d.mChannelsPerFrame, d.mBitsPerChannel);
        }
    }
    mic->closeDevice();
    return 0;
}

int runMeter(Args& args)
{
    const auto secondsText = args.option("seconds");
    if (!checkArgs("meter", args, 1)) return 2;
    double seconds = 1e9;
    if (!readSeconds("meter", "seconds", secondsText, seconds)) return 2;
    const auto positional = args.positional();
    auto info = chooseDevice("meter", false, positional.empty() ? std::nullopt : std::optional(positional[0]));
    if (!info) return 1;
    auto mic = std::dynamic_pointer_cast<OrvaAudioDevice>(OrvaAVDevice::newDevice(info));
    auto bar = std::make_shared<LevelBar>();
    mic->addDelegate(bar);
    std::printf("Metering %s%s. Ctrl-C ends.\n", info->nameText().c_str(),
                secondsText ? (" for " + *secondsText + " s").c_str() : "");
    (void)mic->startVUMeter();
    runFor(seconds, 0.1, nullptr);
    (void)mic->stopVUMeter();
    RunLoop::current().runUntilDate(0.05); // levels queued before the stop
    mic->removeDelegate(bar);
    mic->closeDevice();
    return bar->levels > 1 ? 0 : 1;
}

int runVolume(Args& args)
{
    auto micChoice = args.option("mic");
    if (!checkArgs("volume", args, 2)) return 2;
    auto positional = args.positional();
    std::optional<std::string> valueText;
    long value = 0;
    if (positional.size() == 2) {
        micChoice = positional[0];
        valueText = positional[1];
    } else if (positional.size() == 1) {
        if (parseInteger(positional[0], value))
            valueText = positional[0];
        else
            micChoice = positional[0];
    }
    if (valueText && !parseInteger(*valueText, value)) {
        std::fprintf(stderr, "orva volume: the volume is a whole number from 0 to 255, not \"%s\"\n", valueText->c_str());
        return 2;
    }
    auto mic = openMicrophone("volume", micChoice);
    if (!mic) return 1;
    const std::string name = mic->deviceInfo()->nameText();
    if (valueText) {
        if (value < 0 || value > 255)
            std::fprintf(stderr, "orva volume: warning: %ld is outside 0-255; the microphone takes it as %ld\n", value,
                         value & 0xFF);
        mic->setVolumeCur(Number::numberWithInt(static_cast<int32_t>(value)));
    }
    const auto current = mic->getVolumeCur();
    if (current)
        std::printf("%s: volume %d (min %d, max %d, default %d)\n", name.c_str(), current->intValue(),
                    mic->getVolumeMin().intValue(), mic->getVolumeMax().intValue(), mic->getVolumeDefault().intValue());
    else
        std::fprintf(stderr, "orva volume: %s did not report its volume\n", name.c_str());
    mic->closeDevice();
    return current ? 0 : 1;
}

int runMute(Args& args)
{
    auto micChoice = args.option("mic");
    if (!checkArgs("mute", args, 2)) return 2;
    auto positional = args.positional();
    std::optional<bool> wanted;
    if (!positional.empty() && (positional.back() == "on" || positional.back() == "off")) {
        wanted = positional.back() == "on";
        positional.pop_back();
    }
    if (positional.size() > 1 || (positional.size() == 1 && micChoice)) {
        std::fprintf(stderr, "orva mute: say on or off, e.g. orva mute 0 on\n");
        return 2;
    }
    if (!positional.empty()) micChoice = positional[0];
    auto mic = openMicrophone("mute", micChoice);
    if (!mic) return 1;
    if (wanted) mic->setMute(*wanted);
    std::printf("%s: mute %s\n", mic->deviceInfo()->nameText().c_str(), mic->isMuteOn() ? "on" : "off");
    mic->closeDevice();
    return 0;
}

} // namespace cli
