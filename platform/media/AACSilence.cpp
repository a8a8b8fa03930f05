#include "platform/media/AACSilence.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/log.h>
}

#include <map>
#include <mutex>
#include <utility>

namespace orva {

namespace {

// A packet from the middle of a run of silence: the first ones carry the encoder's
// start-up, a later one is what silence steadily encodes to.
std::vector<uint8_t> encodeSilence(uint32_t rate, uint32_t channels)
{
    std::vector<uint8_t> out;
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_AAC);
    if (!codec || rate == 0 || channels == 0 || channels > 8) return out;
    if (av_log_get_level() > AV_LOG_ERROR) av_log_set_level(AV_LOG_ERROR);
    AVCodecContext* context = avcodec_alloc_context3(codec);
    AVFrame* frame = av_frame_alloc();
    AVPacket* packet = av_packet_alloc();
    if (context && frame && packet) {
        context->sample_rate = static_cast<int>(rate);
        context->sample_fmt = AV_SAMPLE_FMT_FLTP;
        context->bit_rate = 64000LL * channels;
        context->profile = FF_PROFILE_AAC_LOW;
        context->time_base = AVRational{1, static_cast<int>(rate)};
        av_channel_layout_default(&context->ch_layout, static_cast<int>(channels));
        if (avcodec_open2(context, codec, nullptr) == 0) {
            frame->format = AV_SAMPLE_FMT_FLTP;
            frame->sample_rate = context->sample_rate;
            frame->nb_samples = 1024;
            if (av_channel_layout_copy(&frame->ch_layout, &context->ch_layout) == 0 && av_frame_get_buffer(frame, 0) == 0) {
                int received = 0;
                for (int64_t i = 0; i < 8 && out.empty(); ++i) {
                    if (av_frame_make_writable(frame) < 0) break;
                    for (uint32_t c = 0; c < channels; ++c)
                        std::fill_n(reinterpret_cast<float*>(frame->data[c]), 1024, 0.0f);
                    frame->pts = i * 1024;
                    if (avcodec_send_frame(context, frame) < 0) break;
                    while (avcodec_receive_packet(context, packet) == 0) {
                        if (++received == 3) out.assign(packet->data, packet->data + packet->size);
                        av_packet_unref(packet);
                    }
                }
            }
        }
    }
    av_packet_free(&packet);
    av_frame_free(&frame);
    avcodec_free_context(&context);
    return out;
}

} // namespace

const std::vector<uint8_t>& AACSilence::packet(uint32_t sampleRate, uint32_t channels)
{
    static std::mutex mutex;
    static std::map<std::pair<uint32_t, uint32_t>, std::vector<uint8_t>> made;
    std::lock_guard lock(mutex);
    auto key = std::make_pair(sampleRate, channels);
    auto it = made.find(key);
    if (it == made.end()) it = made.emplace(key, encodeSilence(sampleRate, channels)).first;
    return it->second;
}

} // namespace orva
