#include "H264Encoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
}

#include <cstring>
#include <string>

namespace zi {

struct H264Encoder::Impl {
    AVCodecContext* context = nullptr;
    AVFrame* frame = nullptr;
    AVPacket* packet = nullptr;
    int64_t fps = 30;
    ~Impl()
    {
        av_packet_free(&packet);
        av_frame_free(&frame);
        avcodec_free_context(&context);
    }
};

std::unique_ptr<H264Encoder> H264Encoder::create(uint32_t width, uint32_t height, uint32_t fps, uint32_t bitRate,
                                                 uint32_t keyInterval)
{
    if (width == 0 || height == 0 || width % 2 || height % 2 || width > 4096 || height > 4096) return nullptr;
    const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
    if (!codec) return nullptr;
    if (av_log_get_level() > AV_LOG_ERROR) av_log_set_level(AV_LOG_ERROR);
    std::unique_ptr<H264Encoder> encoder(new H264Encoder());
    encoder->mImpl = std::make_unique<Impl>();
    auto& impl = *encoder->mImpl;
    impl.context = avcodec_alloc_context3(codec);
    AVCodecContext* c = impl.context;
    impl.fps = fps ? fps : 30;
    c->width = static_cast<int>(width);
    c->height = static_cast<int>(height);
    c->pix_fmt = AV_PIX_FMT_YUV420P;
    // The stream declares the camera's frame rate in its timing information (and a
    // level that fits the size); quality, not a per-frame bit budget, drives the rate.
    c->time_base = AVRational{1, static_cast<int>(impl.fps)};
    c->framerate = AVRational{static_cast<int>(impl.fps), 1};
    c->gop_size = static_cast<int>(keyInterval);
    c->max_b_frames = 0;
    (void)bitRate;
    c->thread_count = 1;
    av_opt_set(c->priv_data, "preset", "ultrafast", 0);
    av_opt_set(c->priv_data, "tune", "zerolatency", 0);
    const std::string params = "crf=26:repeat-headers=1:scenecut=0:keyint=" + std::to_string(keyInterval) +
                               ":min-keyint=" + std::to_string(keyInterval);
    av_opt_set(c->priv_data, "x264-params", params.c_str(), 0);
    if (avcodec_open2(c, codec, nullptr) < 0) return nullptr;
    impl.frame = av_frame_alloc();
    impl.frame->format = c->pix_fmt;
    impl.frame->width = c->width;
    impl.frame->height = c->height;
    if (av_frame_get_buffer(impl.frame, 0) < 0) return nullptr;
    impl.packet = av_packet_alloc();
    return encoder;
}

H264Encoder::~H264Encoder() = default;

const std::vector<uint8_t>& H264Encoder::encode(const uint8_t* yuv, int64_t frameIndex)
{
    mOut.clear();
    auto& impl = *mImpl;
    AVFrame* f = impl.frame;
    if (av_frame_make_writable(f) < 0) return mOut;
    const int w = f->width, h = f->height;
    const uint8_t* src = yuv;
    for (int y = 0; y < h; ++y) std::memcpy(f->data[0] + y * f->linesize[0], src + y * w, static_cast<size_t>(w));
    src += static_cast<size_t>(w) * h;
    for (int plane = 1; plane <= 2; ++plane) {
        for (int y = 0; y < h / 2; ++y)
            std::memcpy(f->data[plane] + y * f->linesize[plane], src + y * (w / 2), static_cast<size_t>(w / 2));
        src += static_cast<size_t>(w / 2) * (h / 2);
    }
    f->pts = frameIndex;
    f->pict_type = AV_PICTURE_TYPE_NONE;
    if (avcodec_send_frame(impl.context, f) < 0) return mOut;
    while (avcodec_receive_packet(impl.context, impl.packet) == 0) {
        std::vector<uint8_t> converted;
        fourByteStartCodes(impl.packet->data, static_cast<size_t>(impl.packet->size), converted);
        mOut.insert(mOut.end(), converted.begin(), converted.end());
        av_packet_unref(impl.packet);
    }
    return mOut;
}

void H264Encoder::fourByteStartCodes(const uint8_t* data, size_t size, std::vector<uint8_t>& out)
{
    out.clear();
    out.reserve(size + 64);
    size_t i = 0;
    while (i < size) {
        if (i + 3 <= size && data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) {
            // A start code: make it four bytes unless a zero byte already precedes it.
            if (out.empty() || out.back() != 0) out.push_back(0);
            out.push_back(0);
            out.push_back(0);
            out.push_back(1);
            i += 3;
            continue;
        }
        out.push_back(data[i++]);
    }
}

} // namespace zi
