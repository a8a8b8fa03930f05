#include "AacEncoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/log.h>
}

namespace zi {

struct AacEncoder::Impl {
    AVCodecContext* context = nullptr;
    AVFrame* frame = nullptr;
    AVPacket* packet = nullptr;
    uint32_t channels = 0;
    int64_t pts = 0;
    ~Impl()
    {
        av_packet_free(&packet);
        av_frame_free(&frame);
        avcodec_free_context(&context);
    }
};

std::unique_ptr<AacEncoder> AacEncoder::create(uint32_t sampleRate, uint32_t channels)
{
    // The encoder's statistics on close are not for the host's terminal.
    if (av_log_get_level() > AV_LOG_ERROR) av_log_set_level(AV_LOG_ERROR);
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_AAC);
    if (codec == nullptr || channels == 0 || channels > 8 || sampleRate == 0) return nullptr;
    std::unique_ptr<AacEncoder> encoder(new AacEncoder);
    encoder->mImpl = std::make_unique<Impl>();
    Impl& impl = *encoder->mImpl;
    impl.channels = channels;
    impl.context = avcodec_alloc_context3(codec);
    if (impl.context == nullptr) return nullptr;
    impl.context->sample_rate = static_cast<int>(sampleRate);
    impl.context->sample_fmt = AV_SAMPLE_FMT_FLTP;
    impl.context->bit_rate = 64000LL * channels;
    impl.context->profile = FF_PROFILE_AAC_LOW;
    impl.context->time_base = AVRational{1, static_cast<int>(sampleRate)};
    av_channel_layout_default(&impl.context->ch_layout, static_cast<int>(channels));
    if (avcodec_open2(impl.context, codec, nullptr) < 0) return nullptr;
    impl.frame = av_frame_alloc();
    impl.packet = av_packet_alloc();
    if (!impl.frame || !impl.packet) return nullptr;
    impl.frame->format = AV_SAMPLE_FMT_FLTP;
    impl.frame->sample_rate = static_cast<int>(sampleRate);
    impl.frame->nb_samples = static_cast<int>(kFramesPerPacket);
    if (av_channel_layout_copy(&impl.frame->ch_layout, &impl.context->ch_layout) < 0) return nullptr;
    if (av_frame_get_buffer(impl.frame, 0) < 0) return nullptr;
    return encoder;
}

AacEncoder::~AacEncoder() = default;

const std::vector<uint8_t>& AacEncoder::encode(const int16_t* interleaved)
{
    mOut.clear();
    Impl& impl = *mImpl;
    if (interleaved == nullptr || av_frame_make_writable(impl.frame) < 0) return mOut;
    for (uint32_t c = 0; c < impl.channels; ++c) {
        auto* plane = reinterpret_cast<float*>(impl.frame->data[c]);
        for (uint32_t i = 0; i < kFramesPerPacket; ++i) plane[i] = interleaved[i * impl.channels + c] / 32768.0f;
    }
    impl.frame->pts = impl.pts;
    impl.pts += kFramesPerPacket;
    if (avcodec_send_frame(impl.context, impl.frame) < 0) return mOut;
    if (avcodec_receive_packet(impl.context, impl.packet) == 0) {
        mOut.assign(impl.packet->data, impl.packet->data + impl.packet->size);
        av_packet_unref(impl.packet);
    }
    return mOut;
}

} // namespace zi
