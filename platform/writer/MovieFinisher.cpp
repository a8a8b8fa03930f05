#include "platform/writer/MovieFinisher.h"

#include "platform/foundation/FileManager.h"

#include "platform/writer/AssetWriter.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/log.h>
#include <libavutil/mathematics.h>
}

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <unistd.h>
#include <vector>

namespace orva {

namespace {

struct Output {
    int fd = -1;
    int error = 0; // the first write error, sticky

    static int write(void* opaque, uint8_t* data, int size)
    {
        auto* self = static_cast<Output*>(opaque);
        if (self->error) return AVERROR(self->error);
        int done = 0;
        while (done < size) {
            const ssize_t n = ::write(self->fd, data + done, static_cast<size_t>(size - done));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                self->error = n < 0 ? errno : EIO;
                return AVERROR(self->error);
            }
            done += static_cast<int>(n);
        }
        return size;
    }
    static int64_t seek(void* opaque, int64_t offset, int whence)
    {
        auto* self = static_cast<Output*>(opaque);
        if (whence == AVSEEK_SIZE) {
            const off_t here = ::lseek(self->fd, 0, SEEK_CUR), end = ::lseek(self->fd, 0, SEEK_END);
            ::lseek(self->fd, here, SEEK_SET);
            return end;
        }
        const off_t r = ::lseek(self->fd, offset, whence & ~AVSEEK_FORCE);
        return r < 0 ? AVERROR(errno) : r;
    }
};

std::string text(int code)
{
    char message[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, message, sizeof message);
    return message;
}

} // namespace

MovieFinisher::Result MovieFinisher::finish(const std::string& workingPath, int fd)
{
    Result result;
    if (av_log_get_level() > AV_LOG_ERROR) av_log_set_level(AV_LOG_ERROR);
    std::string notAFile;
    if (!FileManager::defaultManager().isRegularFile(workingPath, &notAFile)) { // a pipe would block for ever
        result.error = notAFile;
        return result;
    }
    AVFormatContext* in = nullptr;
    int r = avformat_open_input(&in, ("file:" + workingPath).c_str(), nullptr, nullptr);
    if (r < 0) {
        result.error = "cannot read \"" + workingPath + "\": " + text(r);
        return result;
    }
    // The working file's own header describes every track in full (codec, size, the
    // avcC): nothing is decoded to find out.

    AVFormatContext* out = nullptr;
    Output output{fd, 0};
    unsigned char* buffer = static_cast<unsigned char*>(av_malloc(1 << 16));
    if (avformat_alloc_output_context2(&out, nullptr, "mov", nullptr) < 0 || !out || !buffer) {
        av_free(buffer);
        avformat_close_input(&in);
        result.error = "out of memory";
        return result;
    }
    out->pb = avio_alloc_context(buffer, 1 << 16, 1, &output, nullptr, &Output::write, &Output::seek);
    out->pb->seekable = AVIO_SEEKABLE_NORMAL;

    // The priming the working file notes, hidden in the finished movie: its first AAC
    // packet starts at minus the priming, which the muxer writes as an edit list.
    const AVDictionaryEntry* primingEntry = av_dict_get(in->metadata, AssetWriter::kMetadataAACPriming, nullptr, 0);
    const int64_t priming = primingEntry ? std::strtoll(primingEntry->value, nullptr, 10) : 0;
    if (const AVDictionaryEntry* created = av_dict_get(in->metadata, "creation_time", nullptr, 0))
        av_dict_set(&out->metadata, "creation_time", created->value, 0);

    std::vector<int> map(in->nb_streams, -1);
    int videoTimescale = 0;
    for (unsigned i = 0; i < in->nb_streams; ++i) {
        const AVStream* source = in->streams[i];
        const AVMediaType type = source->codecpar->codec_type;
        if (type != AVMEDIA_TYPE_VIDEO && type != AVMEDIA_TYPE_AUDIO) continue;
        AVStream* stream = avformat_new_stream(out, nullptr);
        if (!stream || avcodec_parameters_copy(stream->codecpar, source->codecpar) < 0) continue;
        stream->codecpar->codec_tag = source->codecpar->codec_tag;
        stream->time_base = source->time_base;
        stream->sample_aspect_ratio = source->codecpar->sample_aspect_ratio;
        av_dict_copy(&stream->metadata, source->metadata, 0);
        if (!av_dict_get(stream->metadata, "language", nullptr, 0)) av_dict_set(&stream->metadata, "language", "und", 0);
        if (type == AVMEDIA_TYPE_VIDEO) videoTimescale = source->time_base.den;
        map[i] = stream->index;
    }
    AVDictionary* options = nullptr;
    if (videoTimescale > 0) av_dict_set_int(&options, "video_track_timescale", videoTimescale, 0);
    av_dict_set(&options, "movflags", "+write_colr", 0);
    r = out->nb_streams ? avformat_write_header(out, &options) : AVERROR_INVALIDDATA;
    av_dict_free(&options);
    if (r < 0) {
        result.error = out->nb_streams ? "cannot write the movie: " + text(r) : "\"" + workingPath + "\" holds no track";
    } else {
        // Each packet is held until the next of its track arrives: a packet the reader
        // gives no duration (raw video in a working file) lasts until the next, and the
        // last one until its track's end as the working file records it (the reader
        // gives it the track's usual duration; the writer may have held it longer).
        std::vector<AVPacket*> held(in->nb_streams, nullptr);
        int64_t end = 0; // microseconds
        auto put = [&](AVPacket* p, int64_t nextPts, bool last) {
            const AVStream* source = in->streams[p->stream_index];
            if (nextPts != AV_NOPTS_VALUE && nextPts > p->pts && (p->duration <= 0 || last))
                p->duration = nextPts - p->pts;
            end = std::max(end, av_rescale_q(p->pts + p->duration, source->time_base, AVRational{1, 1000000}));
            const int target = map[p->stream_index];
            p->stream_index = target;
            av_packet_rescale_ts(p, source->time_base, out->streams[target]->time_base);
            p->pos = -1;
            const int written = av_write_frame(out, p);
            av_packet_unref(p);
            return written;
        };
        AVPacket* packet = av_packet_alloc();
        while (packet && r >= 0 && av_read_frame(in, packet) >= 0) {
            const int index = packet->stream_index;
            // A packet cut short (the end of a file whose last write failed) is left out.
            if (index >= static_cast<int>(map.size()) || map[index] < 0 || packet->pts == AV_NOPTS_VALUE ||
                (packet->flags & AV_PKT_FLAG_CORRUPT)) {
                av_packet_unref(packet);
                continue;
            }
            const AVStream* source = in->streams[index];
            if (source->codecpar->codec_id == AV_CODEC_ID_AAC && priming > 0) {
                const int64_t shift = av_rescale_q(priming, AVRational{1, source->codecpar->sample_rate}, source->time_base);
                packet->pts -= shift;
                if (packet->dts != AV_NOPTS_VALUE) packet->dts -= shift;
            }
            if (held[index]) r = put(held[index], packet->pts, false);
            else if (!(held[index] = av_packet_alloc())) r = AVERROR(ENOMEM);
            if (r >= 0) av_packet_move_ref(held[index], packet);
            else av_packet_unref(packet);
        }
        for (AVPacket*& last : held) {
            if (last && r >= 0 && last->data) {
                const AVStream* source = in->streams[last->stream_index];
                const int64_t trackEnd =
                    source->duration > 0 ? source->duration + std::max<int64_t>(source->start_time, 0) : AV_NOPTS_VALUE;
                r = put(last, trackEnd, true);
            }
            av_packet_free(&last);
        }
        av_packet_free(&packet);
        if (r >= 0) r = av_write_trailer(out);
        avio_flush(out->pb);
        if (r < 0 || output.error) {
            result.diskFull = output.error == ENOSPC || output.error == EDQUOT;
            result.error = result.diskFull ? "the disk is full" : "cannot write the movie: " + text(r < 0 ? r : AVERROR(output.error));
        } else {
            result.ok = true;
            result.seconds = static_cast<double>(end) / 1e6;
        }
    }
    av_freep(&out->pb->buffer);
    avio_context_free(&out->pb);
    avformat_free_context(out);
    avformat_close_input(&in);
    return result;
}

} // namespace orva
