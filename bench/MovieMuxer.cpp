#include "MovieMuxer.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
}

#include <cstring>

namespace orvabench {

MovieMuxer::MovieMuxer(const std::string& path, uint32_t videoCodec, int width, int height, int fps, int audioRate,
                       int audioChannels, bool fragmented)
    : mPath(path), mCodec(videoCodec), mWidth(width), mHeight(height), mFps(fps), mRate(audioRate),
      mChannels(audioChannels), mFragmented(fragmented)
{
}

MovieMuxer::~MovieMuxer()
{
    close();
}

namespace {

// SPS and PPS of an Annex B access unit, with their start codes.
std::vector<uint8_t> parameterSets(const uint8_t* data, size_t size)
{
    std::vector<uint8_t> out;
    size_t i = 0;
    while (i + 4 <= size) {
        if (!(data[i] == 0 && data[i + 1] == 0 && (data[i + 2] == 1 || (data[i + 2] == 0 && data[i + 3] == 1)))) {
            ++i;
            continue;
        }
        const size_t start = data[i + 2] == 1 ? i + 3 : i + 4;
        size_t end = start;
        while (end + 3 <= size && !(data[end] == 0 && data[end + 1] == 0 && data[end + 2] <= 1)) ++end;
        if (end + 3 > size) end = size;
        const int type = data[start] & 0x1F;
        if (type == 7 || type == 8) {
            const uint8_t code[4] = {0, 0, 0, 1};
            out.insert(out.end(), code, code + 4);
            out.insert(out.end(), data + start, data + end);
        }
        i = end;
    }
    return out;
}

} // namespace

bool MovieMuxer::writeHeader(const uint8_t* firstFrame, size_t size)
{
    AVFormatContext* ctx = nullptr;
    if (avformat_alloc_output_context2(&ctx, nullptr, "mov", mPath.c_str()) < 0) return false;
    mContext = ctx;
    AVStream* video = avformat_new_stream(ctx, nullptr);
    video->time_base = AVRational{1, 90000};
    video->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
    video->codecpar->width = mWidth;
    video->codecpar->height = mHeight;
    if (mCodec == 0x61766331) {
        video->codecpar->codec_id = AV_CODEC_ID_H264;
        const auto sets = parameterSets(firstFrame, size);
        video->codecpar->extradata = static_cast<uint8_t*>(av_mallocz(sets.size() + AV_INPUT_BUFFER_PADDING_SIZE));
        std::memcpy(video->codecpar->extradata, sets.data(), sets.size());
        video->codecpar->extradata_size = static_cast<int>(sets.size());
    } else {
        video->codecpar->codec_id = AV_CODEC_ID_RAWVIDEO;
        video->codecpar->format = AV_PIX_FMT_UYVY422;
        video->codecpar->codec_tag = MKTAG('2', 'v', 'u', 'y');
    }
    if (mRate > 0) {
        AVStream* audio = avformat_new_stream(ctx, nullptr);
        audio->time_base = AVRational{1, mRate};
        audio->codecpar->codec_type = AVMEDIA_TYPE_AUDIO;
        audio->codecpar->codec_id = AV_CODEC_ID_PCM_S16LE;
        audio->codecpar->sample_rate = mRate;
        av_channel_layout_default(&audio->codecpar->ch_layout, mChannels);
        audio->codecpar->block_align = 2 * mChannels;
        audio->codecpar->bits_per_coded_sample = 16;
    }
    if (avio_open(&ctx->pb, mPath.c_str(), AVIO_FLAG_WRITE) < 0) return false;
    AVDictionary* options = nullptr;
    av_dict_set_int(&options, "video_track_timescale", 90000, 0);
    if (mFragmented) {
        av_dict_set(&options, "movflags", "+empty_moov+default_base_moof", 0);
        av_dict_set(&options, "frag_duration", "1000000", 0);
        av_dict_set_int(&options, "frag_size", 8 << 20, 0); // as the recorder does
        ctx->flush_packets = 1;
    }
    const int r = avformat_write_header(ctx, &options);
    av_dict_free(&options);
    return r >= 0;
}

void MovieMuxer::addVideo(const uint8_t* data, size_t size, int64_t time, bool key)
{
    if (!mOk) return;
    if (!mHeaderWritten) {
        mOk = writeHeader(data, size);
        mHeaderWritten = true;
        if (!mOk) return;
    }
    auto* ctx = static_cast<AVFormatContext*>(mContext);
    AVPacket* pkt = av_packet_alloc();
    pkt->data = const_cast<uint8_t*>(data);
    pkt->size = static_cast<int>(size);
    pkt->pts = pkt->dts = av_rescale_q(time, AVRational{1, 1000000}, ctx->streams[0]->time_base);
    pkt->duration = 90000 / mFps;
    pkt->flags = key ? AV_PKT_FLAG_KEY : 0;
    pkt->stream_index = 0;
    mOk = av_write_frame(ctx, pkt) >= 0;
    av_packet_free(&pkt);
}

void MovieMuxer::addAudio(const uint8_t* data, size_t size, int64_t time)
{
    if (!mOk || !mHeaderWritten || mRate <= 0) return; // the header waits for the first picture
    auto* ctx = static_cast<AVFormatContext*>(mContext);
    AVPacket* pkt = av_packet_alloc();
    pkt->data = const_cast<uint8_t*>(data);
    pkt->size = static_cast<int>(size);
    pkt->pts = pkt->dts = av_rescale_q(time, AVRational{1, 1000000}, ctx->streams[1]->time_base);
    pkt->duration = static_cast<int64_t>(size) / (2 * mChannels);
    pkt->flags = AV_PKT_FLAG_KEY;
    pkt->stream_index = 1;
    mOk = av_write_frame(ctx, pkt) >= 0;
    av_packet_free(&pkt);
}

void MovieMuxer::close()
{
    auto* ctx = static_cast<AVFormatContext*>(mContext);
    if (!ctx) return;
    if (mOk && mHeaderWritten) av_write_trailer(ctx);
    avio_closep(&ctx->pb);
    avformat_free_context(ctx);
    mContext = nullptr;
}

} // namespace orvabench
