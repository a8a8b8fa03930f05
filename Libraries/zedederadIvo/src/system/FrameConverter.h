// What the backend does to a camera's frame before the component sees it: YUYV
// becomes 2vuy by swapping each byte pair, MJPEG is decoded to 2vuy, and H.264 gets
// 4-byte start codes only. Output buffers are made once per capture (prepare), so
// converting a frame allocates nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace zi::sys {

// YUYV (Y0 U Y1 V) to 2vuy (U Y0 V Y1); `bytes` is even.
void swapBytePairs(const uint8_t* in, uint8_t* out, size_t bytes);

// Rewrites every 3-byte start code (00 00 01 not preceded by 00) to 00 00 00 01.
// Answers 0 when there is none (nothing written: the frame can be used as it is),
// else the rewritten length. `out` holds at least maxRewrittenLength(length) bytes.
size_t rewriteShortStartCodes(const uint8_t* in, size_t length, uint8_t* out);
inline size_t maxRewrittenLength(size_t length)
{
    return length + length / 3 + 1;
}

class MjpegDecoder {
public:
    MjpegDecoder();
    ~MjpegDecoder();
    MjpegDecoder(const MjpegDecoder&) = delete;
    MjpegDecoder& operator=(const MjpegDecoder&) = delete;

    // Sizes the plane buffers for frames of width x height.
    bool prepare(uint32_t width, uint32_t height);
    // Decodes one JPEG of the prepared size into 2vuy (width * height * 2 bytes);
    // false for a frame that is damaged or of another size.
    bool decode(const uint8_t* jpeg, size_t length, uint8_t* out);

private:
    void* mHandle = nullptr;
    uint32_t mWidth = 0, mHeight = 0;
    std::vector<uint8_t> mPlanes[3];
};

} // namespace zi::sys
