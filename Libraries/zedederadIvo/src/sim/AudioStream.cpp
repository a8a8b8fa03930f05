#include "AudioStream.h"

#include "AacEncoder.h"
#include "Bus.h"
#include "ToneSignal.h"

#include <vector>

namespace zi {

namespace {

// The device's signal as it is now (mute and volume may change while capturing).
ToneSettings toneOf(const std::shared_ptr<Device>& device)
{
    auto& bus = Bus::instance();
    std::lock_guard lock(bus.mutex);
    ToneSettings t;
    t.levelDb = device->signalLevelDb;
    t.sweep = device->signalSweep;
    t.mute = device->mute;
    t.volume = device->volume;
    return t;
}

// Frames of `frames` per period of `rate`, in microseconds, rounded.
int64_t periodOf(uint32_t frames, uint32_t rate)
{
    return (static_cast<int64_t>(frames) * 1000000 + rate / 2) / rate;
}

// Buffers of `frames` 16-bit frames of the device's tone, one after another.
Stream::Producer toneProducer(const std::shared_ptr<Device>& device, uint32_t frames, uint32_t channels, uint32_t rate)
{
    auto buffer = std::make_shared<std::vector<int16_t>>(static_cast<size_t>(frames) * channels);
    return [device, buffer, frames, channels, rate](int64_t index, const uint8_t*& data, uint32_t& length) {
        renderTone(toneOf(device), buffer->data(), frames, channels, rate, index * frames);
        data = reinterpret_cast<const uint8_t*>(buffer->data());
        length = static_cast<uint32_t>(buffer->size() * sizeof(int16_t));
        return true;
    };
}

} // namespace

std::shared_ptr<Stream> makeAudioStream(void* handle, const std::shared_ptr<Device>& device,
                                        const _ACI_WAVE_FORMAT& format)
{
    const uint32_t rate = format.samplesPerSec, channels = format.channels;
    if (rate < 8000 || rate > 192000 || channels == 0 || channels > 8) return nullptr;
    if (format.formatTag == ZI_WAVE_FORMAT_LPCM) {
        if (format.bitsPerSample != 16) return nullptr;
        const uint32_t frames = rate / 100;
        return std::make_shared<Stream>(handle, ACI_EVENT_BUFFER, periodOf(frames, rate), device,
                                        toneProducer(device, frames, channels, rate));
    }
    if (format.formatTag == ZI_WAVE_FORMAT_AAC) {
        std::shared_ptr<AacEncoder> encoder = AacEncoder::create(rate, channels);
        if (!encoder) return nullptr;
        const uint32_t frames = AacEncoder::kFramesPerPacket;
        return std::make_shared<Stream>(
            handle, ACI_EVENT_BUFFER, periodOf(frames, rate), device,
            [encoder, pcm = toneProducer(device, frames, channels, rate)](int64_t index, const uint8_t*& data,
                                                                          uint32_t& length) {
                (void)pcm(index, data, length);
                const auto& packet = encoder->encode(reinterpret_cast<const int16_t*>(data));
                if (packet.empty()) return false; // the encoder's delay: nothing to send yet
                data = packet.data();
                length = static_cast<uint32_t>(packet.size());
                return true;
            });
    }
    return nullptr;
}

std::shared_ptr<Stream> makeTapStream(const std::shared_ptr<Device>& device, uint32_t channels, Stream::Sink sink)
{
    constexpr uint32_t rate = 48000, frames = rate / 100;
    return std::make_shared<Stream>(periodOf(frames, rate), device, toneProducer(device, frames, channels, rate),
                                    std::move(sink));
}

uint32_t nativeChannels(const Device& device)
{
    uint32_t widest = 0;
    for (const auto& w : device.waveFormats) widest = std::max<uint32_t>(widest, w.channels);
    return widest ? std::min<uint32_t>(widest, 8) : 2;
}

} // namespace zi
