// Decodes a camera's H.264 frames (Annex B or length-prefixed as the capture library
// hands them on) to I420 pictures, one frame in, at most one picture out, with
// libavcodec on the calling thread. For sharing an H.264 camera with applications that
// take raw video. One thread at a time.
#pragma once

#include <cstdint>
#include <memory>

namespace orva {

class H264FrameDecoder {
public:
    H264FrameDecoder();
    ~H264FrameDecoder();
    H264FrameDecoder(const H264FrameDecoder&) = delete;
    H264FrameDecoder& operator=(const H264FrameDecoder&) = delete;

    // Decodes one frame; when a picture of `width`x`height` comes out, writes it as
    // I420 (planes one after the other, no padding) into `to` (`size` bytes at least
    // width*height*3/2) and answers the bytes written; 0 otherwise (no picture yet,
    // a damaged frame, another size).
    uint32_t decode(const uint8_t* frame, uint32_t length, uint32_t width, uint32_t height, uint8_t* to, uint32_t size);

private:
    struct State;
    std::unique_ptr<State> mState;
};

} // namespace orva
