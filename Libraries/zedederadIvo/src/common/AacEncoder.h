// The simulated microphone's AAC encoder: FFmpeg's native AAC encoder through
// libavcodec, low complexity, 1024 frames per packet, raw packets (no ADTS header),
// as the maker's microphones deliver them.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace zi {

class AacEncoder {
public:
    static constexpr uint32_t kFramesPerPacket = 1024;

    // Null when the encoder cannot be opened for these settings.
    static std::unique_ptr<AacEncoder> create(uint32_t sampleRate, uint32_t channels);
    ~AacEncoder();

    // Encodes 1024 interleaved 16-bit frames; answers the next packet (valid until the
    // next call), empty while the encoder is still filling its delay.
    const std::vector<uint8_t>& encode(const int16_t* interleaved);

private:
    AacEncoder() = default;
    struct Impl;
    std::unique_ptr<Impl> mImpl;
    std::vector<uint8_t> mOut;
};

} // namespace zi
