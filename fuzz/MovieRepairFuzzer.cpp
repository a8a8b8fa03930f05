// Feeds arbitrary bytes, as a working movie, to what finishes and repairs recordings
// (`orva repair`): the file's boxes are read, an index written and descriptions freed.
// Nothing may crash, read or write out of bounds, or hang; and a file it calls
// finished must open in libavformat and read, packet by packet, to its end. (Whether
// the packets decode depends on the bytes the input put in them.)
#include "platform/writer/MovieFinisher.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/log.h>
}

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

using namespace orva;

namespace {

// Opens the finished file and reads every packet; false when libavformat refuses it.
bool readsToItsEnd(int fd)
{
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    AVFormatContext* ctx = nullptr;
    if (avformat_open_input(&ctx, path.c_str(), nullptr, nullptr) < 0) return false;
    bool ok = ctx->nb_streams > 0;
    AVPacket* packet = av_packet_alloc();
    int r = 0;
    while (ok && (r = av_read_frame(ctx, packet)) >= 0) av_packet_unref(packet);
    ok = ok && r == AVERROR_EOF;
    av_packet_free(&packet);
    avformat_close_input(&ctx);
    return ok;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool quiet = [] {
        av_log_set_level(AV_LOG_QUIET);
        return true;
    }();
    (void)quiet;
    // An anonymous file in memory: nothing is written to disk.
    const int fd = ::memfd_create("working-movie", MFD_CLOEXEC);
    if (fd < 0) std::abort();
    for (size_t done = 0; done < size;) {
        const ssize_t n = ::write(fd, data + done, size - done);
        if (n <= 0) std::abort();
        done += static_cast<size_t>(n);
    }
    const auto result = MovieFinisher::finishInPlace(fd);
    if (result.ok && result.tracks > 0 && !readsToItsEnd(fd)) std::abort(); // a "movie" no reader takes
    ::close(fd);
    return 0;
}
