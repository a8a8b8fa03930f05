// orva audio-formats, meter, volume and mute.
#include "Cli.h"
#include "Terminal.h"
#include "DeviceChoice.h"
#include "FormatChoice.h"
#include "Commands.h"
#include "UnplugWatch.h"
#include "JsonWriter.h"
#include "PeakHold.h"

#include <orva/OrvaAudioDevice.h>
#include <orva/RunLoop.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cctype>
#include <cstdio>
#include <string>
#include <unistd.h>

using namespace orva;

namespace cli {

namespace {

// Takes the levels the meter sends (so it runs) and hears when it stops.
class LevelListener : public OrvaAVDeviceDelegate {
public:
    bool respondsTo(DelegateOperation operation) const override
    {
        return operation == DelegateOperation::didMicLevelEventOccured;
    }
    void didCaptureFrame(const void*, uint32_t, int64_t, const std::shared_ptr<OrvaDeviceInfo>&) override {}
    void didMicLevelEventOccured(float level) override
    {
        ++levels;
        if (std::isinf(level) && level < 0) stopped = true;
    }
    int levels = 0;
    bool stopped = false;
};

// One bar per channel from -60 to 0 dB full scale, with the peak of the last 1.5 s
// held as a '|'.
class Bars : public PeakHold {
public:
    static constexpr int kWidth = 40;

    static int cells(double db) { return static_cast<int>(std::lround((std::clamp(db, kFloor, 0.0) - kFloor) / -kFloor * kWidth)); }
    std::string line(size_t channel, float level) const
    {
        std::string bar(static_cast<size_t>(cells(level)), '#');
        bar.resize(kWidth, '.');
        const double held = peaks()[channel];
        const int peak = std::min(cells(held), kWidth - 1);
        if (held > kFloor) bar[static_cast<size_t>(peak)] = '|';
        char text[128];
        std::snprintf(text, sizeof text, "  ch%zu %6.1f dBFS [%s] peak %6.1f", channel + 1, level, bar.c_str(), held);
        return text;
    }
};

} // namespace

int runAudioFormats(Invocation& invocation)
{
    DeviceUse mic(openMicrophone(invocation, invocation.operand(0)));
    if (!mic) return kExitFailure;
    auto formats = mic->getSupportedFormats();
    std::vector<AudioStreamBasicDescription> rows;
    for (const auto& f : formats ? *formats : FormatList{})
        if (auto a = std::dynamic_pointer_cast<const AudioFormatDescription>(f)) rows.push_back(a->streamBasicDescription());
    const std::string name = mic->deviceInfo()->nameText();
    auto kind = [](const AudioStreamBasicDescription& d) {
        return d.mFormatID == kAudioFormatLinearPCM ? "lpcm" : d.mFormatID == kAudioFormatMPEG4AAC ? "aac" : "other";
    };
    if (invocation.json()) {
        JsonWriter json(out());
        json.beginObject().field("device", name).key("formats").beginArray();
        for (const auto& d : rows)
            json.beginObject()
                .field("format", audioFormatText(d))
                .field("codec", kind(d))
                .field("tag", static_cast<int64_t>(d.mFormatID))
                .field("rate", d.mSampleRate)
                .field("channels", d.mChannelsPerFrame)
                .field("bits", d.mBitsPerChannel)
                .endObject();
        json.endArray().endObject();
    } else {
        std::fprintf(out(), "%s: %zu wave formats\n", name.c_str(), rows.size());
        std::fprintf(out(), "  %-22s %-12s %8s %9s %5s\n", "format", "tag", "rate", "channels", "bits");
        for (const auto& d : rows) {
            char tag[24];
            std::snprintf(tag, sizeof tag, "0x%04X %s", d.mFormatID, kind(d));
            std::fprintf(out(), "  %-22s %-12s %8.0f %9u %5u\n", audioFormatText(d).c_str(), tag, d.mSampleRate,
                         d.mChannelsPerFrame, d.mBitsPerChannel);
        }
    }
    if (rows.empty()) return invocation.fail(kExitFailure, "%s lists no format (the capture library failed)", name.c_str());
    return kExitOk;
}

int runMeter(Invocation& invocation)
{
    const auto seconds = invocation.seconds("seconds", 1e9);
    if (!seconds) return kExitUsage;
    auto info = chooseDevice(invocation, false, invocation.operand(0));
    if (!info) return kExitFailure;
    DeviceUse mic(std::dynamic_pointer_cast<OrvaAudioDevice>(OrvaAVDevice::newDevice(info)));
    auto listener = std::make_shared<LevelListener>();
    mic.addDelegate(listener);
    const bool json = invocation.json(), terminal = ::isatty(::fileno(out()));
    (void)mic->startVUMeter();
    std::fprintf(err(), "Metering %s%s. Ctrl-C ends.\n", info->nameText().c_str(),
                 invocation.value("seconds") ? (" for " + *invocation.value("seconds") + " s").c_str() : "");
    Bars bars;
    size_t drawn = 0; // lines of bars on the screen
    const auto start = std::chrono::steady_clock::now();
    bool gone = false;
    UnplugWatch unplug(invocation, {info}); // a source that leaves without a last word
    const bool wasInterrupted = runFor(*seconds, 0.1, [&](double elapsed) {
        const auto levels = mic->channelLevels();
        if (levels.empty()) return;
        const bool stalled = mic->meterStalled();
        bars.update(levels, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        const char* note = stalled ? "  stalled: no sound comes" : "";
        if (json) {
            JsonWriter line(out(), true);
            line.beginObject().field("time", elapsed).field("stalled", stalled).key("channels").beginArray();
            for (size_t i = 0; i < levels.size(); ++i)
                line.beginObject().field("level_db", static_cast<double>(levels[i])).field("peak_db", bars.peaks()[i]).endObject();
            line.endArray().endObject();
            return;
        }
        if (!terminal) { // into a file or a pipe: a block of lines per tick
            for (size_t i = 0; i < levels.size(); ++i)
                std::fprintf(out(), "%6.2f s %s%s\n", elapsed, bars.line(i, levels[i]).c_str(), note);
            return;
        }
        if (drawn) std::fprintf(out(), "\033[%zuA", drawn); // back to the first bar
        for (size_t i = 0; i < levels.size(); ++i)
            std::fprintf(out(), "%s%s\033[K\n", bars.line(i, levels[i]).c_str(), note);
        drawn = levels.size();
        std::fflush(out());
    }, [&] { return gone = listener->stopped || unplug.gone(); });
    (void)mic->stopVUMeter();
    RunLoop::current().runUntilDate(0.05); // levels queued before the stop
    if (gone) return invocation.fail(kExitFailure, "%s is gone", info->nameText().c_str());
    if (wasInterrupted) return kExitInterrupted;
    return listener->levels > 0 ? kExitOk : invocation.fail(kExitFailure, "no level came from %s", info->nameText().c_str());
}

int runVolume(Invocation& invocation)
{
    std::optional<std::string> micChoice = invocation.value("mic"), valueText;
    const auto& operands = invocation.operands();
    auto isNumber = [](const std::string& t) {
        return !t.empty() && t.find_first_not_of("-+0123456789x") == std::string::npos &&
               (std::isdigit(static_cast<unsigned char>(t.back())) || t.size() > 1);
    };
    if (operands.size() == 2) {
        if (micChoice) return invocation.fail(kExitUsage, "give the microphone once: as MIC or with --mic");
        micChoice = operands[0];
        valueText = operands[1];
    } else if (operands.size() == 1) {
        (isNumber(operands[0]) ? valueText : micChoice) = operands[0];
        if (!isNumber(operands[0]) && invocation.value("mic"))
            return invocation.fail(kExitUsage, "give the microphone once: as MIC or with --mic");
    }
    std::optional<int64_t> value;
    if (valueText && !(value = invocation.integer(*valueText, "the volume", 0, 255))) return kExitUsage;
    DeviceUse mic(openMicrophone(invocation, micChoice));
    if (!mic) return kExitFailure;
    const std::string name = mic->deviceInfo()->nameText();
    if (value) mic->setVolumeCur(Number::numberWithInt(static_cast<int32_t>(*value)));
    const auto current = mic->getVolumeCur();
    if (!current) return invocation.fail(kExitFailure, "%s did not report its volume", name.c_str());
    if (invocation.json()) {
        JsonWriter json(out());
        json.beginObject().field("device", name).field("volume", current->intValue()).field("min", 0).field("max", 255);
        json.endObject();
    } else {
        std::fprintf(out(), "%s: volume %d (0 to 255, default 255)\n", name.c_str(), current->intValue());
    }
    if (value && current->intValue() != *value)
        return invocation.fail(kExitFailure, "%s kept its volume at %d", name.c_str(), current->intValue());
    return kExitOk;
}

int runMute(Invocation& invocation)
{
    std::vector<std::string> operands = invocation.operands();
    std::optional<bool> wanted;
    // on/off, yes/no, true/false; 1/0 too after a microphone (a lone number is one).
    auto onOff = [](std::string word, bool numbers) -> std::optional<bool> {
        for (auto& c : word) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (word == "on" || word == "yes" || word == "true" || (numbers && word == "1")) return true;
        if (word == "off" || word == "no" || word == "false" || (numbers && word == "0")) return false;
        return std::nullopt;
    };
    if (!operands.empty() && (wanted = onOff(operands.back(), operands.size() == 2))) operands.pop_back();
    if (operands.size() > 1)
        return invocation.fail(kExitUsage, "say on or off (yes/no, 1/0), not \"%s\", e.g. orva mute 0 on",
                               operands.back().c_str());
    if (!operands.empty() && invocation.value("mic"))
        return invocation.fail(kExitUsage, "give the microphone once: as MIC or with --mic");
    DeviceUse mic(openMicrophone(invocation, operands.empty() ? invocation.value("mic") : operands[0]));
    if (!mic) return kExitFailure;
    if (wanted) mic->setMute(*wanted);
    const bool on = mic->isMuteOn();
    if (invocation.json()) {
        JsonWriter json(out());
        json.beginObject().field("device", mic->deviceInfo()->nameText()).field("mute", on).endObject();
    } else {
        std::fprintf(out(), "%s: mute %s\n", mic->deviceInfo()->nameText().c_str(), on ? "on" : "off");
    }
    if (wanted && on != *wanted) return invocation.fail(kExitFailure, "the microphone did not change its mute");
    return kExitOk;
}

} // namespace cli
