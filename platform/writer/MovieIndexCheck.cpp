#include "platform/writer/MovieIndexCheck.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/log.h>
#include <libavutil/mem.h>
}

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace orva {

namespace {

struct FileToBe {
    int fd;
    uint64_t end;
    const std::vector<uint64_t>& freed;
    const std::vector<uint8_t>& index;
    uint64_t position = 0;

    uint64_t size() const { return end + index.size(); }

    static int read(void* opaque, uint8_t* to, int wanted)
    {
        auto* self = static_cast<FileToBe*>(opaque);
        if (self->position >= self->size()) return AVERROR_EOF;
        const uint64_t count = std::min<uint64_t>(static_cast<uint64_t>(wanted), self->size() - self->position);
        uint64_t done = 0;
        while (done < count && self->position + done < self->end) {
            const size_t n = static_cast<size_t>(std::min(count - done, self->end - self->position - done));
            const ssize_t r = ::pread(self->fd, to + done, n, static_cast<off_t>(self->position + done));
            if (r < 0 && errno == EINTR) continue;
            if (r <= 0) return AVERROR(EIO);
            done += static_cast<uint64_t>(r);
        }
        if (done < count) {
            const uint64_t at = self->position + done - self->end;
            std::memcpy(to + done, self->index.data() + at, static_cast<size_t>(count - done));
        }
        // The types to be freed, where they fall in what was read.
        static const char kFree[4] = {'f', 'r', 'e', 'e'};
        for (uint64_t box : self->freed) {
            for (uint64_t k = 0; k < 4; ++k) {
                const uint64_t at = box + 4 + k;
                if (at >= self->position && at < self->position + count) to[at - self->position] = static_cast<uint8_t>(kFree[k]);
            }
        }
        self->position += count;
        return static_cast<int>(count);
    }

    static int64_t seek(void* opaque, int64_t offset, int whence)
    {
        auto* self = static_cast<FileToBe*>(opaque);
        if (whence & AVSEEK_SIZE) return static_cast<int64_t>(self->size());
        int64_t target = offset;
        switch (whence & ~AVSEEK_FORCE) {
        case SEEK_CUR: target += static_cast<int64_t>(self->position); break;
        case SEEK_END: target += static_cast<int64_t>(self->size()); break;
        default: break;
        }
        if (target < 0) return AVERROR(EINVAL);
        self->position = static_cast<uint64_t>(target);
        return target;
    }
};

} // namespace

bool MovieIndexCheck::opens(int fd, uint64_t end, const std::vector<uint64_t>& freed, const std::vector<uint8_t>& index)
{
    if (av_log_get_level() > AV_LOG_ERROR) av_log_set_level(AV_LOG_ERROR);
    FileToBe file{fd, end, freed, index};
    constexpr int kBuffer = 1 << 12; // small: the reader skips from box to box
    auto* buffer = static_cast<unsigned char*>(av_malloc(kBuffer));
    AVIOContext* io = buffer ? avio_alloc_context(buffer, kBuffer, 0, &file, &FileToBe::read, nullptr, &FileToBe::seek)
                             : nullptr;
    AVFormatContext* ctx = io ? avformat_alloc_context() : nullptr;
    bool ok = false;
    if (ctx) {
        ctx->pb = io;
        ctx->flags |= AVFMT_FLAG_CUSTOM_IO;
        // Only the descriptions: no media is read to tell the streams' formats.
        ctx->probesize = 32;
        ctx->fps_probe_size = 0;
        const AVInputFormat* mov = av_find_input_format("mov");
        if (avformat_open_input(&ctx, nullptr, mov, nullptr) >= 0) {
            ok = ctx->nb_streams > 0;
            avformat_close_input(&ctx);
        }
        // (a failed open frees the context)
    }
    if (io) {
        av_freep(&io->buffer);
        avio_context_free(&io);
    } else {
        av_free(buffer);
    }
    return ok;
}

} // namespace orva
