#include "MovieReader.h"

#include "platform/writer/MovieFinisher.h"

#include <filesystem>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/log.h>
}

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <mutex>

#include <fcntl.h>
#include <unistd.h>

namespace orvatest {

namespace {
std::mutex gLogMutex;
std::vector<std::string>* gLog = nullptr;

void capture(void*, int level, const char* format, va_list args)
{
    if (level > AV_LOG_ERROR) return;
    char line[512];
    std::vsnprintf(line, sizeof line, format, args);
    std::lock_guard lock(gLogMutex);
    if (gLog) gLog->push_back(line);
}
// The largest sample magnitude of a decoded audio frame, 0-1.
double peak(const AVFrame& frame)
{
    const auto format = static_cast<AVSampleFormat>(frame.format);
    const int channels = frame.ch_layout.nb_channels;
    const bool planar = av_sample_fmt_is_planar(format);
    const int planes = planar ? channels : 1;
    const int perPlane = planar ? frame.nb_samples : frame.nb_samples * channels;
    double most = 0;
    for (int p = 0; p < planes; ++p)
        for (int k = 0; k < perPlane; ++k) {
            double v = 0;
            switch (av_get_packed_sample_fmt(format)) {
            case AV_SAMPLE_FMT_FLT: v = reinterpret_cast<const float*>(frame.extended_data[p])[k]; break;
            case AV_SAMPLE_FMT_S16: v = reinterpret_cast<const int16_t*>(frame.extended_data[p])[k] / 32768.0; break;
            case AV_SAMPLE_FMT_S32: v = reinterpret_cast<const int32_t*>(frame.extended_data[p])[k] / 2147483648.0; break;
            default: break;
            }
            most = std::max(most, std::fabs(v));
        }
    return most;
}

// Appends the first channel of a decoded audio frame, as -1..1.
void appendFirstChannel(const AVFrame& frame, std::vector<float>& out)
{
    const auto format = static_cast<AVSampleFormat>(frame.format);
    const int channels = frame.ch_layout.nb_channels;
    const bool planar = av_sample_fmt_is_planar(format);
    for (int k = 0; k < frame.nb_samples; ++k) {
        const int at = planar ? k : k * channels;
        float v = 0;
        switch (av_get_packed_sample_fmt(format)) {
        case AV_SAMPLE_FMT_FLT: v = reinterpret_cast<const float*>(frame.extended_data[0])[at]; break;
        case AV_SAMPLE_FMT_S16: v = reinterpret_cast<const int16_t*>(frame.extended_data[0])[at] / 32768.0f; break;
        case AV_SAMPLE_FMT_S32: v = static_cast<float>(reinterpret_cast<const int32_t*>(frame.extended_data[0])[at] / 2147483648.0); break;
        default: break;
        }
        out.push_back(v);
    }
}

} // namespace

const ReadTrack* ReadMovie::video() const
{
    for (const auto& t : tracks)
        if (t.video) return &t;
    return nullptr;
}

const ReadTrack* ReadMovie::audio() const
{
    for (const auto& t : tracks)
        if (!t.video) return &t;
    return nullptr;
}

ReadMovie readMovie(const std::string& path)
{
    ReadMovie movie;
    {
        std::lock_guard lock(gLogMutex);
        gLog = &movie.logged;
    }
    av_log_set_callback(capture);
    AVFormatContext* ctx = nullptr;
    if (avformat_open_input(&ctx, path.c_str(), nullptr, nullptr) < 0 || avformat_find_stream_info(ctx, nullptr) < 0) {
        if (ctx) avformat_close_input(&ctx);
        av_log_set_callback(av_log_default_callback);
        std::lock_guard lock(gLogMutex);
        gLog = nullptr;
        return movie;
    }
    movie.opened = true;
    std::vector<AVCodecContext*> decoders(ctx->nb_streams, nullptr);
    for (unsigned i = 0; i < ctx->nb_streams; ++i) {
        const AVCodecParameters* par = ctx->streams[i]->codecpar;
        ReadTrack t;
        t.video = par->codec_type == AVMEDIA_TYPE_VIDEO;
        for (int k = 0; k < 4; ++k) t.tag += static_cast<char>((par->codec_tag >> (8 * k)) & 0xFF);
        t.codec = avcodec_get_name(par->codec_id);
        t.width = par->width;
        t.height = par->height;
        t.sampleRate = par->sample_rate;
        t.channels = par->ch_layout.nb_channels;
        t.frameRate = av_q2d(ctx->streams[i]->r_frame_rate);
        t.extradata.assign(par->extradata, par->extradata + std::max(par->extradata_size, 0));
        movie.tracks.push_back(t);
        if (const AVCodec* codec = avcodec_find_decoder(par->codec_id)) {
            decoders[i] = avcodec_alloc_context3(codec);
            if (avcodec_parameters_to_context(decoders[i], par) < 0 || avcodec_open2(decoders[i], codec, nullptr) < 0)
                avcodec_free_context(&decoders[i]);
        }
    }
    AVPacket* pkt = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    auto drain = [&](size_t i) {
        while (avcodec_receive_frame(decoders[i], frame) == 0) {
            ReadTrack& t = movie.tracks[i];
            t.decoded++;
            if (!t.video) {
                t.framePts.push_back(frame->pts == AV_NOPTS_VALUE ? -1.0
                                                                  : frame->pts * av_q2d(ctx->streams[i]->time_base));
                t.framePeaks.push_back(peak(*frame));
                appendFirstChannel(*frame, t.samples);
            }
            av_frame_unref(frame);
        }
    };
    while (av_read_frame(ctx, pkt) >= 0) {
        const auto i = static_cast<size_t>(pkt->stream_index);
        const double tb = av_q2d(ctx->streams[i]->time_base);
        ReadTrack& t = movie.tracks[i];
        t.pts.push_back(pkt->pts * tb);
        t.durations.push_back(pkt->duration * tb);
        t.keys.push_back(pkt->flags & AV_PKT_FLAG_KEY);
        if (decoders[i]) {
            if (avcodec_send_packet(decoders[i], pkt) < 0) t.decodeErrors++;
            drain(i);
        }
        av_packet_unref(pkt);
    }
    for (size_t i = 0; i < decoders.size(); ++i) {
        if (!decoders[i]) continue;
        avcodec_send_packet(decoders[i], nullptr);
        drain(i);
        avcodec_free_context(&decoders[i]);
    }
    for (auto& t : movie.tracks) {
        if (t.pts.empty()) continue;
        t.start = std::max(0.0, *std::min_element(t.pts.begin(), t.pts.end()));
        t.end = t.pts.back() + t.durations.back();
    }
    av_frame_free(&frame);
    av_packet_free(&pkt);
    avformat_close_input(&ctx);
    av_log_set_callback(av_log_default_callback);
    std::lock_guard lock(gLogMutex);
    gLog = nullptr;
    return movie;
}

ReadMovie readFinishedMovie(const std::string& workingPath, std::string* error)
{
    const std::string finished = workingPath + ".finished.mov";
    std::error_code ec;
    std::filesystem::copy_file(workingPath, finished, std::filesystem::copy_options::overwrite_existing, ec);
    const int fd = ec ? -1 : ::open(finished.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        if (error) *error = "cannot copy " + workingPath;
        return {};
    }
    const auto result = orva::MovieFinisher::finishInPlace(fd);
    ::close(fd);
    if (!result.ok) {
        if (error) *error = result.error;
        return {};
    }
    return readMovie(finished);
}

} // namespace orvatest
