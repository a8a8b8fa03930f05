#include "platform/writer/MovieProbe.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/log.h>
}

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "platform/foundation/FileManager.h"

namespace orva {

std::optional<MovieProbe::Summary> MovieProbe::probe(const std::string& path, std::string* error)
{
    if (av_log_get_level() > AV_LOG_ERROR) av_log_set_level(AV_LOG_ERROR);
    // Only a regular file is opened (a pipe would block for ever), and only as a file:
    // a name such as "http://…" or "pipe:" is never a protocol to libavformat here.
    std::string notAFile;
    if (!FileManager::defaultManager().isRegularFile(path, &notAFile)) {
        if (error) *error = notAFile;
        return std::nullopt;
    }
    AVFormatContext* ctx = nullptr;
    int r = avformat_open_input(&ctx, ("file:" + path).c_str(), nullptr, nullptr);
    auto fail = [&](const char* what) -> std::optional<Summary> {
        if (error) {
            char text[AV_ERROR_MAX_STRING_SIZE] = {};
            av_strerror(r, text, sizeof text);
            *error = std::string(what) + ": " + text;
        }
        if (ctx) avformat_close_input(&ctx);
        return std::nullopt;
    };
    if (r < 0) return fail("cannot open the movie");
    if ((r = avformat_find_stream_info(ctx, nullptr)) < 0) return fail("cannot read the movie's tracks");

    Summary summary;
    summary.format = ctx->iformat ? ctx->iformat->name : "?";
    std::error_code ec;
    summary.fileSize = static_cast<int64_t>(std::filesystem::file_size(path, ec));
    summary.duration = ctx->duration > 0 ? ctx->duration / static_cast<double>(AV_TIME_BASE) : 0;
    std::vector<int64_t> first(ctx->nb_streams, INT64_MAX), end(ctx->nb_streams, INT64_MIN);
    for (unsigned i = 0; i < ctx->nb_streams; ++i) {
        const AVCodecParameters* par = ctx->streams[i]->codecpar;
        Track t;
        t.kind = par->codec_type == AVMEDIA_TYPE_VIDEO ? "video" : par->codec_type == AVMEDIA_TYPE_AUDIO ? "audio" : "other";
        t.codec = avcodec_get_name(par->codec_id);
        char tag[5] = {};
        for (int k = 0; k < 4; ++k) {
            const char c = static_cast<char>((par->codec_tag >> (8 * k)) & 0xFF);
            tag[k] = (c >= 0x20 && c < 0x7F) ? c : '?';
        }
        t.tag = tag;
        t.width = par->width;
        t.height = par->height;
        t.sampleRate = par->sample_rate;
        t.channels = par->ch_layout.nb_channels;
        t.extradataSize = static_cast<size_t>(std::max(par->extradata_size, 0));
        summary.tracks.push_back(t);
    }
    AVPacket* pkt = av_packet_alloc();
    while (pkt && av_read_frame(ctx, pkt) >= 0) {
        const auto i = static_cast<size_t>(pkt->stream_index);
        if (i < summary.tracks.size()) {
            summary.tracks[i].packets++;
            const int64_t pts = pkt->pts != AV_NOPTS_VALUE ? pkt->pts : pkt->dts;
            if (pts != AV_NOPTS_VALUE) {
                first[i] = std::min(first[i], pts);
                end[i] = std::max(end[i], pts + pkt->duration);
            }
        }
        av_packet_unref(pkt);
    }
    av_packet_free(&pkt);
    for (size_t i = 0; i < summary.tracks.size(); ++i) {
        const AVRational tb = ctx->streams[i]->time_base;
        if (first[i] != INT64_MAX) {
            summary.tracks[i].start = std::max<int64_t>(first[i], 0) * av_q2d(tb);
            summary.tracks[i].duration = (end[i] - std::max<int64_t>(first[i], 0)) * av_q2d(tb);
        }
    }
    avformat_close_input(&ctx);
    return summary;
}

std::string MovieProbe::describe(const Summary& s)
{
    char line[256];
    const bool quickTime = s.format.rfind("mov", 0) == 0;
    std::snprintf(line, sizeof line, "%s, %.2f MB, %.3f s, %zu track%s\n",
                  quickTime ? "QuickTime movie" : (s.format + " file").c_str(), s.fileSize / 1e6, s.duration,
                  s.tracks.size(), s.tracks.size() == 1 ? "" : "s");
    std::string text = line;
    for (size_t i = 0; i < s.tracks.size(); ++i) {
        const Track& t = s.tracks[i];
        if (t.kind == "video")
            std::snprintf(line, sizeof line, "  track %zu: video %s (%s) %dx%d, %lld frames, %.3f s from %.3f s%s\n", i,
                          t.tag.c_str(), t.codec.c_str(), t.width, t.height, static_cast<long long>(t.packets),
                          t.duration, t.start, t.codec == "h264" ? (t.extradataSize ? ", with avcC" : ", NO avcC") : "");
        else if (t.kind == "audio" && t.codec.rfind("pcm", 0) == 0) // PCM is read back in chunks: count frames
            std::snprintf(line, sizeof line, "  track %zu: audio %s (%s) %d Hz, %d channel%s, %.0f frames, %.3f s from %.3f s\n",
                          i, t.tag.c_str(), t.codec.c_str(), t.sampleRate, t.channels, t.channels == 1 ? "" : "s",
                          t.duration * t.sampleRate, t.duration, t.start);
        else if (t.kind == "audio")
            std::snprintf(line, sizeof line, "  track %zu: audio %s (%s) %d Hz, %d channel%s, %lld packets, %.3f s from %.3f s\n",
                          i, t.tag.c_str(), t.codec.c_str(), t.sampleRate, t.channels, t.channels == 1 ? "" : "s",
                          static_cast<long long>(t.packets), t.duration, t.start);
        else
            std::snprintf(line, sizeof line, "  track %zu: %s %s\n", i, t.kind.c_str(), t.codec.c_str());
        text += line;
    }
    return text;
}

} // namespace orva
