#include "ToneSignal.h"

#include <algorithm>
#include <cmath>

namespace zi {

void renderTone(const ToneSettings& settings, int16_t* out, uint32_t frames, uint32_t channels, uint32_t rate,
                int64_t firstFrame)
{
    if (out == nullptr || frames == 0 || channels == 0 || rate == 0) return;
    if (settings.mute) {
        std::fill(out, out + static_cast<size_t>(frames) * channels, int16_t{0});
        return;
    }
    // The sweep is constant within a buffer, so each buffer's RMS is exactly its level.
    double sweepDb = 0;
    if (settings.sweep) {
        const double t = static_cast<double>(firstFrame) / rate;
        sweepDb = -12.0 * (1.0 - std::cos(2.0 * M_PI * t / 4.0));
    }
    const double gain = settings.volume / 255.0;
    for (uint32_t c = 0; c < channels; ++c) {
        const double levelDb = settings.levelDb[std::min<size_t>(c, settings.levelDb.size() - 1)] + sweepDb;
        const double amplitude = std::sqrt(2.0) * std::pow(10.0, levelDb / 20.0) * gain * 32767.0;
        const double step = 2.0 * M_PI * 500.0 * (c + 1) / rate;
        for (uint32_t i = 0; i < frames; ++i) {
            // The phase from the frame index modulo the rate keeps precision over hours.
            const double phase = step * static_cast<double>((firstFrame + i) % rate);
            const double v = std::clamp(amplitude * std::sin(phase), -32768.0, 32767.0);
            out[static_cast<size_t>(i) * channels + c] = static_cast<int16_t>(std::lround(v));
        }
    }
}

} // namespace zi
