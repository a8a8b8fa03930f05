#include "platform/media/H264FrameDecoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
}

#include <cstring>
#include <vector>

namespace orva {

struct H264FrameDecoder::State {
    AVCodecContext* context = nullptr;
    AVPacket* packet = nullptr;
    AVFrame* frame = nullptr;
    std::vector<uint8_t> annexB; // a length-prefixed frame, made Annex B
};

H264FrameDecoder::H264FrameDecoder() : mState(std::make_unique<State>())
{
    if (const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264)) {
        mState->context = avcodec_alloc_context3(codec);
        if (mState->context) {
            mState->context->thread_count = 1; // the capture thread's own work: no threads of its own
            mState->context->flags |= AV_CODEC_FLAG_LOW_DELAY;
            if (avcodec_open2(mState->context, codec, nullptr) < 0) avcodec_free_context(&mState->context);
        }
    }
    mState->packet = av_packet_alloc();
    mState->frame = av_frame_alloc();
}

H264FrameDecoder::~H264FrameDecoder()
{
    av_frame_free(&mState->frame);
    av_packet_free(&mState->packet);
    avcodec_free_context(&mState->context);
}

uint32_t H264FrameDecoder::decode(const uint8_t* frame, uint32_t length, uint32_t width, uint32_t height, uint8_t* to,
                                  uint32_t size)
{
    if (!mState->context || !mState->packet || !mState->frame || !frame || length < 4) return 0;
    const uint32_t needed = width * height + 2 * ((width + 1) / 2) * ((height + 1) / 2);
    if (size < needed) return 0;
    // A recording converts the camera's frames to 4-byte lengths in place before
    // later delegates see them; such a frame's lengths walk exactly to its end (a
    // length 0x000001xx looks like a short start code, so the bytes alone do not say).
    const bool lengths = !(frame[0] == 0 && frame[1] == 0 && frame[2] == 0 && frame[3] == 1) && [&] {
        uint64_t at = 0;
        while (at + 4 <= length)
            at += 4 + (uint64_t{frame[at]} << 24 | uint64_t{frame[at + 1]} << 16 | uint64_t{frame[at + 2]} << 8 | frame[at + 3]);
        return at == length;
    }();
    const uint8_t* data = frame;
    uint32_t bytes = length;
    if (lengths) {
        auto& out = mState->annexB;
        out.clear();
        for (uint32_t at = 0; at + 4 <= length;) {
            const uint32_t unit = uint32_t{frame[at]} << 24 | uint32_t{frame[at + 1]} << 16 | uint32_t{frame[at + 2]} << 8 | frame[at + 3];
            at += 4;
            if (unit > length - at) break;
            static const uint8_t kStart[4] = {0, 0, 0, 1};
            out.insert(out.end(), kStart, kStart + 4);
            out.insert(out.end(), frame + at, frame + at + unit);
            at += unit;
        }
        data = out.data();
        bytes = static_cast<uint32_t>(out.size());
    }
    mState->packet->data = const_cast<uint8_t*>(data);
    mState->packet->size = static_cast<int>(bytes);
    if (avcodec_send_packet(mState->context, mState->packet) < 0) return 0;
    uint32_t written = 0;
    while (avcodec_receive_frame(mState->context, mState->frame) == 0) {
        const AVFrame* f = mState->frame;
        if (f->width == static_cast<int>(width) && f->height == static_cast<int>(height) &&
            (f->format == AV_PIX_FMT_YUV420P || f->format == AV_PIX_FMT_YUVJ420P)) {
            uint8_t* out = to;
            for (int plane = 0; plane < 3; ++plane) {
                const uint32_t w = plane ? (width + 1) / 2 : width, h = plane ? (height + 1) / 2 : height;
                for (uint32_t row = 0; row < h; ++row, out += w)
                    std::memcpy(out, f->data[plane] + static_cast<size_t>(row) * static_cast<size_t>(f->linesize[plane]), w);
            }
            written = needed;
        }
        av_frame_unref(mState->frame);
    }
    return written;
}

} // namespace orva
