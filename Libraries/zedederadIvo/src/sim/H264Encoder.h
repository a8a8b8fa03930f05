// The simulated camera's H.264 encoder: libx264 through libavcodec, Annex B output
// with SPS and PPS before every IDR (one IDR per key interval) and every start code
// written as 00 00 00 01, as the maker's cameras send them.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace zi {

class H264Encoder {
public:
    // Null when the encoder cannot be opened for these settings.
    static std::unique_ptr<H264Encoder> create(uint32_t width, uint32_t height, uint32_t fps, uint32_t bitRate,
                                               uint32_t keyInterval);
    ~H264Encoder();

    // Encodes one 4:2:0 frame (planes Y, U, V packed back to back); answers the
    // frame's bytes (valid until the next call), empty on failure.
    const std::vector<uint8_t>& encode(const uint8_t* yuv420, int64_t frameIndex);

    // Rewrites every 3-byte start code to 00 00 00 01.
    static void fourByteStartCodes(const uint8_t* data, size_t size, std::vector<uint8_t>& out);

private:
    H264Encoder() = default;
    struct Impl;
    std::unique_ptr<Impl> mImpl;
    std::vector<uint8_t> mOut;
};

} // namespace zi
