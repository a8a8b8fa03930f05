// Microphone functions: wave formats, capture, volume and mute.
#include "AudioStream.h"
#include "Call.h"
#include "Stream.h"

#include <algorithm>

using namespace zi;

namespace {

std::string waveArg(const _ACI_WAVE_FORMAT* f)
{
    if (f == nullptr) return "format=null";
    char text[96];
    std::snprintf(text, sizeof text, "tag=0x%04X, channels=%u, rate=%u, bits=%u", f->formatTag, f->channels,
                  f->samplesPerSec, f->bitsPerSample);
    return text;
}

} // namespace

namespace zi::sim {

int32_t ACI_Enum_Wave_Formats(ACI_HANDLE handle, _ACI_WAVE_FORMAT* formats, uint32_t* size, uint32_t* count)
{
    Call call("ACI_Enum_Wave_Formats", "handle=" + handleArg(handle) + ", buffer=" + ptrArg(formats) +
                                           ", size=" + u32Arg(size) + ", count=" + u32Arg(count));
    if (auto r = call.injected()) return call.result(*r);
    return call.result(withDevice(handle, ZISIM_MICROPHONE,
                                  [&](Device& d) { return listRecords(d.waveFormats, formats, size, count); }));
}

int32_t ACI_Set_Capture_Parameters(ACI_HANDLE handle, const _ACI_WAVE_FORMAT* format)
{
    Call call("ACI_Set_Capture_Parameters", "handle=" + handleArg(handle) + ", " + waveArg(format));
    if (auto r = call.injected()) return call.result(*r);
    if (format == nullptr) return call.result(ZI_ERR_INVALID_ARG);
    // Absurd descriptions are refused before the device is asked.
    if (format->samplesPerSec < 8000 || format->samplesPerSec > 192000 || format->channels == 0 ||
        format->channels > 8)
        return call.result(ZI_ERR_INVALID_ARG);
    return call.result(withDevice(handle, ZISIM_MICROPHONE, [&](Device& d) {
        const bool known = std::any_of(d.waveFormats.begin(), d.waveFormats.end(), [&](const _ACI_WAVE_FORMAT& w) {
            return w.formatTag == format->formatTag && w.channels == format->channels &&
                   w.samplesPerSec == format->samplesPerSec &&
                   (w.formatTag != ZI_WAVE_FORMAT_LPCM || w.bitsPerSample == format->bitsPerSample);
        });
        if (!known) return int32_t{ZI_ERR_INVALID_ARG};
        d.waveFormat = *format;
        return int32_t{ZI_OK};
    }));
}

int32_t ACI_Start_Capture(ACI_HANDLE handle)
{
    Call call("ACI_Start_Capture", "handle=" + handleArg(handle));
    if (auto r = call.injected()) return call.result(*r);
    auto& bus = Bus::instance();
    std::shared_ptr<Stream> stream;
    const int32_t status = withDevice(handle, ZISIM_MICROPHONE, [&](Device& d) {
        auto h = bus.handle(handle);
        if (h->stream) return int32_t{ZI_OK}; // already running
        if (bus.deviceStreaming(h->device)) return int32_t{ZI_ERR_BUSY};
        if (!d.waveFormat) return int32_t{ZI_ERR_INVALID_ARG};
        stream = makeAudioStream(handle, h->device, *d.waveFormat);
        if (!stream) return int32_t{ZI_ERR_FAILED};
        h->stream = stream;
        return int32_t{ZI_OK};
    });
    if (status == ZI_OK && stream) stream->start();
    return call.result(status);
}

int32_t ACI_Stop_Capture(ACI_HANDLE handle)
{
    Call call("ACI_Stop_Capture", "handle=" + handleArg(handle));
    if (auto r = call.injected()) return call.result(*r);
    return call.result(stopCapture(handle, ZISIM_MICROPHONE));
}

int32_t ACI_Get_Mic_Mute(ACI_HANDLE handle, uint8_t* mute)
{
    Call call("ACI_Get_Mic_Mute", "handle=" + handleArg(handle) + ", mute=" + ptrArg(mute));
    if (auto r = call.injected()) return call.result(*r);
    if (mute == nullptr) return call.result(ZI_ERR_INVALID_ARG);
    return call.result(withDevice(handle, ZISIM_MICROPHONE, [&](Device& d) {
        *mute = d.mute;
        return int32_t{ZI_OK};
    }));
}

int32_t ACI_Set_Mic_Mute(ACI_HANDLE handle, uint8_t mute)
{
    Call call("ACI_Set_Mic_Mute", "handle=" + handleArg(handle) + ", mute=" + std::to_string(mute));
    if (auto r = call.injected()) return call.result(*r);
    return call.result(withDevice(handle, ZISIM_MICROPHONE, [&](Device& d) {
        d.mute = mute ? 1 : 0;
        return int32_t{ZI_OK};
    }));
}

int32_t ACI_Get_Mic_Volume(ACI_HANDLE handle, uint32_t* volume)
{
    Call call("ACI_Get_Mic_Volume", "handle=" + handleArg(handle) + ", volume=" + ptrArg(volume));
    if (auto r = call.injected()) return call.result(*r);
    if (volume == nullptr) return call.result(ZI_ERR_INVALID_ARG);
    return call.result(withDevice(handle, ZISIM_MICROPHONE, [&](Device& d) {
        *volume = d.volume;
        return int32_t{ZI_OK};
    }));
}

int32_t ACI_Set_Mic_Volume(ACI_HANDLE handle, uint8_t volume)
{
    Call call("ACI_Set_Mic_Volume", "handle=" + handleArg(handle) + ", volume=" + std::to_string(volume));
    if (auto r = call.injected()) return call.result(*r);
    return call.result(withDevice(handle, ZISIM_MICROPHONE, [&](Device& d) {
        d.volume = volume;
        return int32_t{ZI_OK};
    }));
}

} // namespace zi::sim
