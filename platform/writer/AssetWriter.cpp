#include "platform/writer/AssetWriter.h"

#include <orva/FormatDescription.h>
#include "platform/foundation/FileManager.h"
#include "platform/media/AACSilence.h"
#include "platform/media/SampleBuffer.h"
#include "platform/writer/AssetWriterInput.h"
#include "platform/writer/MovieFinisher.h"
#include "platform/writer/WriteSeam.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/log.h>
}

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <optional>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace orva {

namespace {

// Samples held while some track still lacks its first format (a microphone starts a
// little after its camera); past either bound the header is written with the tracks
// that have one, and a track that never got a sample stays out of the movie.
constexpr size_t kMaxHeldSamples = 600;
constexpr size_t kMaxHeldBytes = 32u << 20;
// Video tracks count in 1/90000 s: every common frame rate's period is a whole
// number of ticks there (1/30 s is 3000), so a steady camera's frames get equal
// durations and readers find its true rate.
constexpr int kVideoTimescale = 90000;
// The working file is written in fragments of a second, each complete on disk when
// written (and synced at least once a second), so a recording cut short by a crash or
// a power loss keeps all but its last second.
constexpr const char* kFragmentDuration = "1000000";
// The muxer holds a fragment in memory until it is written: uncompressed video
// (124 MB a second at 1080p) is cut into fragments of at most this size instead, which
// keeps the buffer small and saves the copies of growing it.
constexpr int64_t kFragmentBytes = 8 << 20;
// A gap in an audio track (samples lost on the way) is filled with silence of its
// length, up to this long, so that what follows keeps its place against the video.
constexpr int64_t kLongestFilledGap = 10; // seconds
constexpr int64_t kSyncIntervalNanoseconds = 1000000000;

// The two-byte AudioSpecificConfig of AAC low complexity.
std::vector<uint8_t> audioSpecificConfig(uint32_t rate, uint32_t channels)
{
    static constexpr uint32_t kRates[] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                          22050, 16000, 12000, 11025, 8000,  7350};
    uint32_t index = 0;
    while (index < std::size(kRates) && kRates[index] != rate) ++index;
    if (index == std::size(kRates)) index = 15; // explicit rate is not needed by the rates the devices use
    const uint32_t objectType = 2;
    const uint16_t config = static_cast<uint16_t>((objectType << 11) | (index << 7) | ((channels & 0xF) << 3));
    return {static_cast<uint8_t>(config >> 8), static_cast<uint8_t>(config & 0xFF)};
}

bool setExtradata(AVCodecParameters* par, const std::vector<uint8_t>& bytes)
{
    if (bytes.empty()) return true;
    par->extradata = static_cast<uint8_t*>(av_mallocz(bytes.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    if (!par->extradata) return false;
    std::memcpy(par->extradata, bytes.data(), bytes.size());
    par->extradata_size = static_cast<int>(bytes.size());
    return true;
}

} // namespace

struct AssetWriter::Track {
    std::shared_ptr<const FormatDescription> format;
    int stream = -1;           // index in the movie; -1 until the header (or never, dropped)
    AVRational sourceBase{0, 1};
    int64_t trim = 0;          // AAC priming, in 1/rate (kept in the movie's metadata)
    bool trimSeen = false;
    int rate = 0, channels = 0, blockAlign = 0; // audio
    int64_t lastDts = INT64_MIN;
    int64_t lastEnd = INT64_MIN; // end of the last packet written, in sourceBase
    // A video packet waits for the next one (or the end) before it is written, so the
    // last frame can be held until the other track ends.
    struct Pending {
        std::shared_ptr<SampleBuffer> sample; // keeps the bytes alive
        const uint8_t* data = nullptr;
        size_t size = 0;
        int64_t pts = 0, duration = 0;
        bool key = false;
    };
    std::optional<Pending> pending;
};

void AssetWriter::setWriteFunctionForTesting(WriteFunction function)
{
    WriteSeam::setForTesting(std::move(function));
}

std::shared_ptr<AssetWriter> AssetWriter::create(const std::string& path)
{
    if (path.empty()) return nullptr;
    return std::shared_ptr<AssetWriter>(new AssetWriter(path));
}

AssetWriter::~AssetWriter()
{
    freeFormatContext();
    if (mFd >= 0) ::close(mFd);
}

AssetWriter::Error AssetWriter::error() const
{
    std::lock_guard lock(mErrorMutex);
    return mError;
}

void AssetWriter::fail(int code, std::string message)
{
    {
        std::lock_guard lock(mErrorMutex);
        if (mStatus.load() != Status::Failed) mError = {code, std::move(message)};
    }
    mStatus = Status::Failed;
}

bool AssetWriter::canAddInput(const std::shared_ptr<AssetWriterInput>& input) const
{
    if (!input || status() != Status::Unknown || !input->mWriter.expired()) return false;
    for (const auto& existing : mInputs)
        if (existing->mediaType() == input->mediaType()) return false; // one track per kind
    return true;
}

void AssetWriter::addInput(const std::shared_ptr<AssetWriterInput>& input)
{
    if (!canAddInput(input)) return;
    input->mWriter = weak_from_this();
    input->mTrack = mInputs.size();
    mInputs.push_back(input);
    mTracks.push_back(std::make_shared<Track>());
}

bool AssetWriter::startWriting()
{
    if (status() != Status::Unknown) return false;
    // The working file its maker handed over, or a new one: never through a link,
    // never over a file that is there. Locked while it is written.
    mFd = FileManager::defaultManager().takeWorkingFile(mPath);
    if (mFd < 0) {
        mFd = ::open(mPath.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (mFd >= 0) (void)::flock(mFd, LOCK_EX | LOCK_NB);
    }
    if (mFd < 0) {
        fail(kErrorCannotCreateFile, "cannot create " + mPath + ": " + std::strerror(errno));
        return false;
    }
    mStatus = Status::Writing;
    for (const auto& input : mInputs) input->startPumping();
    return true;
}

void AssetWriter::startSessionAtSourceTime(const MediaTime& time)
{
    mSessionStart = time.valid ? time : MediaTime::zero();
}

int AssetWriter::writeBytes(void* opaque, uint8_t* data, int size)
{
    auto* self = static_cast<AssetWriter*>(opaque);
    if (self->mWriteErrno) return AVERROR(self->mWriteErrno); // a full disk stays full
    int done = 0;
    while (done < size) {
        const long n = WriteSeam::write(self->mFd, data + done, static_cast<size_t>(size - done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            self->mWriteErrno = n < 0 && errno ? errno : EIO;
            return AVERROR(self->mWriteErrno);
        }
        done += static_cast<int>(n);
        self->mBytesWritten.fetch_add(static_cast<uint64_t>(n), std::memory_order_relaxed);
    }
    // What is written reaches the disk at least once a second (a power loss keeps it).
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const int64_t nanoseconds = int64_t{now.tv_sec} * 1000000000 + now.tv_nsec;
    if (nanoseconds - self->mLastSync >= kSyncIntervalNanoseconds) {
        (void)::fdatasync(self->mFd);
        self->mLastSync = nanoseconds;
    }
    return size;
}

int64_t AssetWriter::seek(void* opaque, int64_t offset, int whence)
{
    auto* self = static_cast<AssetWriter*>(opaque);
    if (whence == AVSEEK_SIZE) {
        const off_t here = ::lseek(self->mFd, 0, SEEK_CUR), end = ::lseek(self->mFd, 0, SEEK_END);
        ::lseek(self->mFd, here, SEEK_SET);
        return end;
    }
    const off_t r = ::lseek(self->mFd, offset, whence & ~AVSEEK_FORCE);
    return r < 0 ? AVERROR(errno) : r;
}

// Called on the writer queue. Until every track has its first sample's format, the
// samples are held (libavformat needs the avcC before the header).
bool AssetWriter::append(size_t track, const std::shared_ptr<SampleBuffer>& sample)
{
    if (status() != Status::Writing || !sample || track >= mTracks.size()) return false;
    Track& t = *mTracks[track];
    if (!t.trimSeen) {
        // Only the track's first sample may carry the trim (the AAC encoder's priming).
        const Value trim = sample->attachment(kSampleBufferAttachmentKey_TrimDurationAtStart);
        const auto* audio = dynamic_cast<const AudioFormatDescription*>(sample->formatDescription().get());
        if (trim.isTable() && audio && audio->streamBasicDescription().mSampleRate >= 1) {
            const MediaTime m = MediaTime::fromDictionary(trim);
            if (m.valid) t.trim = MediaTime::convertScale(m, static_cast<int32_t>(audio->streamBasicDescription().mSampleRate)).value;
        }
        t.trimSeen = true;
    }
    if (!mHeaderWritten) {
        if (!t.format) t.format = sample->formatDescription();
        mHeld.push_back({track, sample});
        mHeldBytes += sample->totalSampleSize();
        bool allKnown = true;
        for (const auto& t : mTracks) allKnown = allKnown && t->format;
        if (!allKnown && mHeld.size() < kMaxHeldSamples && mHeldBytes < kMaxHeldBytes) return true;
        return writeHeaderAndHeldSamples();
    }
    return writeSample(track, sample);
}

// Silence in an audio track up to `until` (the movie's time line).
bool AssetWriter::appendSilence(size_t track, const MediaTime& until)
{
    if (status() != Status::Writing || !mHeaderWritten || track >= mTracks.size() || !until.valid) return false;
    Track& t = *mTracks[track];
    if (t.stream < 0 || t.lastEnd == INT64_MIN || t.rate <= 0) return false;
    const MediaTime start = MediaTime::add(until, MediaTime::multiply(mSessionStart, -1));
    const int64_t pts = t.sourceBase.den == 1000000 ? MediaTime::convertScale(start, 1000000).value
                                                     : MediaTime::convertScale(start, t.rate).value;
    return fillAudioGap(t, pts);
}

bool AssetWriter::writeHeaderAndHeldSamples()
{
    const bool header = writeHeader();
    auto held = std::move(mHeld);
    mHeld.clear();
    mHeldBytes = 0;
    if (!header) return false;
    bool ok = true;
    for (const auto& h : held)
        if (ok && !writeSample(h.track, h.sample)) ok = false;
    return ok;
}

bool AssetWriter::writeHeader()
{
    if (av_log_get_level() > AV_LOG_ERROR) av_log_set_level(AV_LOG_ERROR);
    AVFormatContext* ctx = nullptr;
    if (avformat_alloc_output_context2(&ctx, nullptr, "mov", nullptr) < 0 || !ctx) {
        fail(kErrorUnknown, "libavformat has no mov muxer");
        return false;
    }
    mFormatContext = ctx;
    // Writes of a megabyte. (Handing a fragment of several megabytes to the kernel in
    // one write, bypassing this buffer, measured three times slower for 2vuy.)
    constexpr int kBufferSize = 1 << 20;
    auto* buffer = static_cast<unsigned char*>(av_malloc(kBufferSize));
    ctx->pb = buffer ? avio_alloc_context(buffer, kBufferSize, 1, this, nullptr, &AssetWriter::writeBytes,
                                          &AssetWriter::seek)
                     : nullptr;
    if (!ctx->pb) {
        av_free(buffer);
        fail(kErrorUnknown, "out of memory");
        return false;
    }
    ctx->pb->seekable = AVIO_SEEKABLE_NORMAL;

    for (auto& track : mTracks) {
        if (!track->format) continue; // a track that never got a sample stays out
        AVStream* st = avformat_new_stream(ctx, nullptr);
        if (!st) {
            fail(kErrorUnknown, "out of memory");
            return false;
        }
        AVCodecParameters* par = st->codecpar;
        if (const auto* video = dynamic_cast<const VideoFormatDescription*>(track->format.get())) {
            par->codec_type = AVMEDIA_TYPE_VIDEO;
            par->width = video->dimensions().width;
            par->height = video->dimensions().height;
            // Square pixels, progressive: the pasp and fiel atoms mainstream recorders write.
            par->sample_aspect_ratio = AVRational{1, 1};
            par->field_order = AV_FIELD_PROGRESSIVE;
            track->sourceBase = AVRational{1, kVideoTimescale};
            if (video->mediaSubType() == kCodecAVC1) {
                par->codec_id = AV_CODEC_ID_H264;
                if (!setExtradata(par, video->extensions().avcC)) {
                    fail(kErrorUnknown, "out of memory");
                    return false;
                }
            } else if (video->mediaSubType() == kCodec2VUY) {
                par->codec_id = AV_CODEC_ID_RAWVIDEO;
                par->format = AV_PIX_FMT_UYVY422;
                par->codec_tag = MKTAG('2', 'v', 'u', 'y');
                par->bits_per_coded_sample = 16;
                // Its colours, for the colr atom: BT.709 for HD sizes, BT.601 below.
                const bool hd = par->height >= 720;
                par->color_range = AVCOL_RANGE_MPEG;
                par->color_primaries = hd ? AVCOL_PRI_BT709 : AVCOL_PRI_SMPTE170M;
                par->color_trc = hd ? AVCOL_TRC_BT709 : AVCOL_TRC_SMPTE170M;
                par->color_space = hd ? AVCOL_SPC_BT709 : AVCOL_SPC_SMPTE170M;
            } else {
                fail(kErrorUnknown, "unsupported video codec");
                return false;
            }
            st->time_base = AVRational{1, kVideoTimescale};
        } else if (const auto* audio = dynamic_cast<const AudioFormatDescription*>(track->format.get())) {
            const auto& d = audio->streamBasicDescription();
            const int rate = static_cast<int>(d.mSampleRate);
            const int channels = static_cast<int>(d.mChannelsPerFrame);
            if (rate <= 0 || channels <= 0 || channels > 8) {
                fail(kErrorUnknown, "unsupported audio description");
                return false;
            }
            par->codec_type = AVMEDIA_TYPE_AUDIO;
            par->sample_rate = rate;
            track->rate = rate;
            track->channels = channels;
            av_channel_layout_default(&par->ch_layout, channels);
            if (d.mFormatID == kAudioFormatIDMPEG4AAC) {
                par->codec_id = AV_CODEC_ID_AAC;
                par->frame_size = 1024;
                track->sourceBase = AVRational{1, rate};
                if (!setExtradata(par, audioSpecificConfig(static_cast<uint32_t>(rate), static_cast<uint32_t>(channels)))) {
                    fail(kErrorUnknown, "out of memory");
                    return false;
                }
            } else if (d.mFormatID == kAudioFormatIDLinearPCM && (d.mBitsPerChannel == 16 || d.mBitsPerChannel == 24 ||
                                                                   d.mBitsPerChannel == 32 || d.mBitsPerChannel == 8)) {
                par->codec_id = d.mBitsPerChannel == 8    ? AV_CODEC_ID_PCM_S8
                                : d.mBitsPerChannel == 24 ? AV_CODEC_ID_PCM_S24LE
                                : d.mBitsPerChannel == 32 ? AV_CODEC_ID_PCM_S32LE
                                                          : AV_CODEC_ID_PCM_S16LE;
                par->bits_per_coded_sample = static_cast<int>(d.mBitsPerChannel);
                par->block_align = channels * static_cast<int>(d.mBitsPerChannel) / 8;
                track->blockAlign = par->block_align;
                track->sourceBase = AVRational{1, 1000000};
            } else {
                fail(kErrorUnknown, "unsupported audio format");
                return false;
            }
            st->time_base = AVRational{1, rate};
            if (track->trim > 0) av_dict_set_int(&ctx->metadata, kMetadataAACPriming, track->trim, 0);
        }
        av_dict_set(&st->metadata, "language", "und", 0);
        track->stream = st->index;
    }
    if (ctx->nb_streams == 0) {
        fail(kErrorUnknown, "no track received a sample");
        return false;
    }
    // A fragmented movie: each second of it is complete on disk once written.
    char created[32];
    const time_t now = ::time(nullptr);
    tm utc{};
    std::strftime(created, sizeof created, "%Y-%m-%dT%H:%M:%S.000000Z", gmtime_r(&now, &utc));
    av_dict_set(&ctx->metadata, "creation_time", created, 0);
    AVDictionary* options = nullptr;
    av_dict_set_int(&options, "video_track_timescale", kVideoTimescale, 0);
    av_dict_set(&options, "movflags", "+empty_moov+default_base_moof+use_metadata_tags+write_colr", 0);
    av_dict_set(&options, "frag_duration", kFragmentDuration, 0);
    av_dict_set_int(&options, "frag_size", kFragmentBytes, 0);
    ctx->flush_packets = 1;
    const int r = avformat_write_header(ctx, &options);
    av_dict_free(&options);
    if (r < 0) {
        // Never write a packet after a failed header.
        if (mWriteErrno == ENOSPC || mWriteErrno == EDQUOT)
            fail(kErrorDiskFull, "the disk is full");
        else
        {
            char text[AV_ERROR_MAX_STRING_SIZE] = {};
            av_strerror(r, text, sizeof text);
            fail(kErrorUnknown, std::string("cannot write the movie header: ") + text);
        }
        return false;
    }
    mHeaderWritten = true;
    return true;
}

bool AssetWriter::writePacket(Track& t, const uint8_t* data, size_t length, int64_t pts, int64_t duration, bool key)
{
    auto* ctx = static_cast<AVFormatContext*>(mFormatContext);
    AVStream* st = ctx->streams[t.stream];
    // Timestamps that do not increase would make the muxer refuse the track.
    if (pts <= t.lastDts && t.lastDts != INT64_MIN) pts = t.lastDts + 1;
    t.lastDts = pts;
    t.lastEnd = pts + duration;
    AVPacket* pkt = av_packet_alloc();
    if (!pkt) return false;
    pkt->data = const_cast<uint8_t*>(data);
    pkt->size = static_cast<int>(length);
    pkt->pts = pkt->dts = pts;
    pkt->duration = duration;
    pkt->flags = key ? AV_PKT_FLAG_KEY : 0;
    pkt->stream_index = t.stream;
    av_packet_rescale_ts(pkt, t.sourceBase, st->time_base);
    const int r = av_write_frame(ctx, pkt);
    av_packet_free(&pkt);
    if (r >= 0) return true;
    if (mWriteErrno == ENOSPC || mWriteErrno == EDQUOT)
        fail(kErrorDiskFull, "the disk is full");
    else if (mWriteErrno)
        fail(kErrorUnknown, std::string("cannot write the movie: ") + std::strerror(mWriteErrno));
    // A packet the muxer refuses on its own leaves the writer writing.
    return false;
}

bool AssetWriter::writeSample(size_t track, const std::shared_ptr<SampleBuffer>& shared)
{
    Track& t = *mTracks[track];
    if (t.stream < 0 || !shared) return false; // the track was left out of the movie
    const SampleBuffer& sample = *shared;
    auto* ctx = static_cast<AVFormatContext*>(mFormatContext);
    AVStream* st = ctx->streams[t.stream];
    const uint8_t* bytes = sample.bytes();
    const size_t size = sample.totalSampleSize();
    if (!bytes || size == 0) return false;
    const auto& timing = sample.timing();
    if (!timing.presentationTimeStamp.valid) return false;
    const MediaTime start = MediaTime::add(timing.presentationTimeStamp, MediaTime::multiply(mSessionStart, -1));

    bool ok = true;
    const auto& packets = sample.packetDescriptions();
    if (st->codecpar->codec_id == AV_CODEC_ID_AAC) {
        // The priming stays in the working file (its packets start at 0); the finished
        // movie hides it with an edit list (MovieFinisher).
        const int64_t first = MediaTime::convertScale(start, t.rate).value;
        ok = fillAudioGap(t, first);
        if (packets.empty()) return ok && writePacket(t, bytes, size, first, 1024, true);
        for (size_t i = 0; i < packets.size() && ok; ++i) {
            const auto& p = packets[i];
            if (p.mStartOffset < 0 || static_cast<uint64_t>(p.mStartOffset) + p.mDataByteSize > size ||
                p.mDataByteSize == 0)
                continue;
            ok = writePacket(t, bytes + p.mStartOffset, p.mDataByteSize, first + static_cast<int64_t>(i) * 1024, 1024,
                             true);
        }
        return ok;
    }
    if (st->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) {
        const int64_t pts = MediaTime::convertScale(start, 1000000).value;
        const int64_t duration = av_rescale(sample.numSamples(), 1000000, st->codecpar->sample_rate);
        return fillAudioGap(t, pts) && writePacket(t, bytes, size, pts, duration, true);
    }
    Track::Pending next;
    next.sample = shared;
    next.data = bytes;
    next.size = size;
    next.pts = MediaTime::convertScale(start, kVideoTimescale).value;
    next.duration = timing.duration.valid ? MediaTime::convertScale(timing.duration, kVideoTimescale).value : 0;
    const Value depends = sample.sampleAttachmentsIfPresent().get(kSampleAttachmentKey_DependsOnOthers);
    next.key = st->codecpar->codec_id != AV_CODEC_ID_H264 || (depends.number() && !depends.number()->boolValue());
    if (t.pending) {
        // A frame lasts until the next one: a frame lost on the way lengthens the one before.
        if (next.pts > t.pending->pts) t.pending->duration = next.pts - t.pending->pts;
        ok = writePacket(t, t.pending->data, t.pending->size, t.pending->pts, t.pending->duration, t.pending->key);
    }
    t.pending = std::move(next);
    return ok;
}

// Silence from the end of the track's last packet to `pts` (its source time base),
// when samples went missing in between: PCM zeros, or silent AAC packets.
bool AssetWriter::fillAudioGap(Track& t, int64_t pts)
{
    if (t.lastEnd == INT64_MIN || pts <= t.lastEnd) return true;
    auto* ctx = static_cast<AVFormatContext*>(mFormatContext);
    const AVCodecParameters* par = ctx->streams[t.stream]->codecpar;
    const int64_t gap = pts - t.lastEnd;
    if (par->codec_id == AV_CODEC_ID_AAC) {
        const auto& silence = AACSilence::packet(static_cast<uint32_t>(t.rate), static_cast<uint32_t>(t.channels));
        const int64_t packets = std::min<int64_t>(gap / 1024, kLongestFilledGap * t.rate / 1024);
        bool ok = true;
        for (int64_t i = 0; i < packets && ok && !silence.empty(); ++i)
            ok = writePacket(t, silence.data(), silence.size(), t.lastEnd, 1024, true);
        return ok;
    }
    // PCM, in microseconds: a gap longer than 2 ms is lost sound, not rounding.
    if (gap <= 2000 || t.blockAlign <= 0) return true;
    const int64_t frames = std::min(av_rescale(gap, t.rate, 1000000), kLongestFilledGap * t.rate);
    const std::vector<uint8_t> zeros(static_cast<size_t>(frames * t.blockAlign), 0);
    return zeros.empty() || writePacket(t, zeros.data(), zeros.size(), t.lastEnd, av_rescale(frames, 1000000, t.rate), true);
}

// The last video frame is shown until the other track ends (by at most a second,
// rounded up to whole frame periods), so both tracks of a movie end together.
void AssetWriter::flushPendingVideo()
{
    int64_t latestEnd = INT64_MIN; // microseconds
    for (const auto& t : mTracks)
        if (t->stream >= 0 && t->lastEnd != INT64_MIN)
            latestEnd = std::max(latestEnd, av_rescale_q(t->lastEnd, t->sourceBase, AVRational{1, 1000000}));
    for (auto& t : mTracks) {
        if (!t->pending) continue;
        Track::Pending last = std::move(*t->pending);
        t->pending.reset();
        const int64_t end = last.pts + last.duration;
        const int64_t otherEnd =
            latestEnd == INT64_MIN ? INT64_MIN : av_rescale_q(latestEnd, AVRational{1, 1000000}, t->sourceBase);
        const int64_t second = av_rescale_q(1000000, AVRational{1, 1000000}, t->sourceBase);
        // In whole frame periods, so the track keeps its constant rate.
        if (otherEnd > end && otherEnd - end <= second && last.duration > 0)
            last.duration += (otherEnd - end + last.duration - 1) / last.duration * last.duration;
        (void)writePacket(*t, last.data, last.size, last.pts, last.duration, last.key);
    }
}

void AssetWriter::finishWriting()
{
    for (const auto& input : mInputs) input->markAsFinished();
    // Some track never got a sample: the movie is written with those that did.
    if (status() == Status::Writing && !mHeaderWritten && !mHeld.empty()) (void)writeHeaderAndHeldSamples();
    mHeld.clear();
    if (mHeaderWritten) {
        auto* ctx = static_cast<AVFormatContext*>(mFormatContext);
        if (status() == Status::Writing) flushPendingVideo();
        if (status() == Status::Writing) {
            const int r = av_write_trailer(ctx); // the last fragment
            avio_flush(ctx->pb);
            if (r < 0 || mWriteErrno) {
                if (mWriteErrno == ENOSPC || mWriteErrno == EDQUOT)
                    fail(kErrorDiskFull, "the disk is full");
                else
                    fail(kErrorUnknown, "cannot finish the movie");
            }
        }
        freeFormatContext();
        // Finished in place, failed or not: whole fragments are kept, a partial one
        // goes, and the index makes it a regular movie when there is room for it.
        if (mFd >= 0) {
            mFinished = MovieFinisher::finishInPlace(mFd);
            if (!mFinished.ok && mFinished.diskFull && status() == Status::Writing)
                fail(kErrorDiskFull, "the disk is full");
        }
    } else if (status() == Status::Writing) {
        fail(kErrorUnknown, "no sample was written");
    }
    closeFile();
    if (status() == Status::Writing) mStatus = Status::Completed;
}

void AssetWriter::freeFormatContext()
{
    if (!mFormatContext) return;
    auto* ctx = static_cast<AVFormatContext*>(mFormatContext);
    if (ctx->pb) {
        av_freep(&ctx->pb->buffer);
        avio_context_free(&ctx->pb);
    }
    avformat_free_context(ctx);
    mFormatContext = nullptr;
}

void AssetWriter::closeFile()
{
    if (mFd >= 0) {
        if (::fsync(mFd) != 0 && errno == ENOSPC && status() == Status::Writing) fail(kErrorDiskFull, "the disk is full");
        ::close(mFd);
        mFd = -1;
    }
}

} // namespace orva
