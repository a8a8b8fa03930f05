#include "platform/capture/CaptureConnection.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace orva {

CaptureConnection::CaptureConnection(std::shared_ptr<CaptureDeviceInput> input, uint32_t channels)
    : mInput(std::move(input))
{
    for (uint32_t c = 0; c < channels; ++c) mChannels.push_back(std::make_shared<AudioChannel>());
}

void CaptureConnection::measure(const int16_t* samples, uint32_t frames, uint32_t channels)
{
    if (samples == nullptr || frames == 0 || channels == 0) return;
    constexpr size_t kMaxChannels = 8;
    std::array<double, kMaxChannels> sum{};
    const uint32_t measured = std::min<uint32_t>({channels, static_cast<uint32_t>(mChannels.size()), kMaxChannels});
    for (uint32_t i = 0; i < frames; ++i)
        for (uint32_t c = 0; c < measured; ++c) {
            const double v = samples[static_cast<size_t>(i) * channels + c] / 32768.0;
            sum[c] += v * v;
        }
    for (uint32_t c = 0; c < measured; ++c) {
        const double meanSquare = sum[c] / frames;
        const double level = meanSquare > 0 ? 10.0 * std::log10(meanSquare) : AudioChannel::kSilenceLevel;
        mChannels[c]->setAveragePowerLevel(static_cast<float>(std::max<double>(level, AudioChannel::kSilenceLevel)));
    }
}

void CaptureConnection::silence()
{
    for (auto& channel : mChannels) channel->setAveragePowerLevel(AudioChannel::kSilenceLevel);
}

} // namespace orva
