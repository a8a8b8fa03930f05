// The simulated microphone's signal: one sine tone per channel (500 Hz times the
// channel number plus one, a whole number of periods in every 10 ms buffer at the
// usual rates), each at its own RMS level in dB full scale. With the sweep on, all
// levels fall and rise together by up to 24 dB over four seconds, so a meter moves.
// Mute silences the signal and the volume (0–255) scales its amplitude linearly.
#pragma once

#include <array>
#include <cstdint>

namespace zi {

struct ToneSettings {
    std::array<float, 8> levelDb{-12, -15, -18, -21, -24, -27, -30, -33};
    bool sweep = true;
    uint8_t mute = 0;
    uint8_t volume = 255;
};

// Renders `frames` interleaved 16-bit frames starting at absolute frame `firstFrame`
// of the stream, so consecutive buffers continue the tone without a click.
void renderTone(const ToneSettings& settings, int16_t* out, uint32_t frames, uint32_t channels, uint32_t rate,
                int64_t firstFrame);

} // namespace zi
