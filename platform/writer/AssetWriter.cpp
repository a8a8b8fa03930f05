#include "platform/writer/AssetWriter.h"

#include <orva/FormatDescription.h>
#include "platform/media/SampleBuffer.h"
#include "platform/writer/AssetWriterInput.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/log.h>
}

#include <cerrno>
#include <optional>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace orva {

namespace {

// Samples held while some track still lacks its first format (a microphone starts a
// little after its camera); past either bound the header is written with the tracks
// that have one, and a track that never got a sample stays out of the movie.
constexpr size_t kMaxHeldSamples = 600;
constexpr size_t kMaxHeldBytes = 32u << 20;
// Video frame times are kept to 10 ms. Frames sit on a 30 ms grid, so nothing of it
// is lost (a re-synchronised frame moves by at most 5 ms), and readers that derive a
// frame clock from the track find a regular one: an uncompressed track counts in
// hundredths of a second (a clock readers take as it is), an H.264 track in 1/200 s
// with every time a multiple of 2 (readers take the common step as the frame clock).
// Without this they guess 30 or 33 fps from 30 ms frames and fold two frames onto one
// tick ("non monotonically increasing dts" when such a movie is transcoded).
constexpr int kRawVideoTimescale = 100;
constexpr int kH264Timescale = 200;
constexpr int64_t kVideoTimeStep = 10000; // microseconds

std::mutex& writeFunctionMutex()
{
    static std::mutex m;
    return m;
}
AssetWriter::WriteFunction& writeFunction()
{
    static AssetWriter::WriteFunction f;
    return f;
}

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
    int64_t trim = 0;          // AAC priming to subtract, in 1/rate
    bool trimSeen = false;
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
    std::lock_guard lock(writeFunctionMutex());
    writeFunction() = std::move(function);
}

std::shared_ptr<AssetWriter> AssetWriter::create(const std::string& path)
{
    if (path.empty()) return nullptr;
    return std::shared_ptr<AssetWriter>(new AssetWriter(path));
}

AssetWriter::~AssetWriter()
{
    if (mFormatContext) {
        auto* ctx = static_cast<AVFormatContext*>(mFormatContext);
        if (ctx->pb) {
            av_freep(&ctx->pb->buffer);
            avio_context_free(&ctx->pb);
        }
        avformat_free_context(ctx);
    }
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
    mFd = ::open(mPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
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
    WriteFunction hook;
    {
        std::lock_guard lock(writeFunctionMutex());
        hook = writeFunction();
    }
    int done = 0;
    while (done < size) {
        const long n = hook ? hook(self->mFd, data + done, static_cast<size_t>(size - done))
                            : ::write(self->mFd, data + done, static_cast<size_t>(size - done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            self->mWriteErrno = n < 0 && errno ? errno : EIO;
            return AVERROR(self->mWriteErrno);
        }
        done += static_cast<int>(n);
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
    if (!mHeaderWritten) {
        if (!mTracks[track]->format) mTracks[track]->format = sample->formatDescription();
        mHeld.push_back({track, sample});
        mHeldBytes += sample->totalSampleSize();
        bool allKnown = true;
        for (const auto& t : mTracks) allKnown = allKnown && t->format;
        if (!allKnown && mHeld.size() < kMaxHeldSamples && mHeldBytes < kMaxHeldBytes) return true;
        return writeHeaderAndHeldSamples();
    }
    return writeSample(track, sample);
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
    constexpr int kBufferSize = 1 << 16;
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
            track->sourceBase = AVRational{1, 1000000};
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
            } else {
                fail(kErrorUnknown, "unsupported video codec");
                return false;
            }
            st->time_base = AVRational{1, par->codec_id == AV_CODEC_ID_H264 ? kH264Timescale : kRawVideoTimescale};
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
                track->sourceBase = AVRational{1, 1000000};
            } else {
                fail(kErrorUnknown, "unsupported audio format");
                return false;
            }
            st->time_base = AVRational{1, rate};
        }
        track->stream = st->index;
    }
    if (ctx->nb_streams == 0) {
        fail(kErrorUnknown, "no track received a sample");
        return false;
    }
    AVDictionary* options = nullptr;
    for (unsigned i = 0; i < ctx->nb_streams; ++i)
        if (ctx->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO)
            av_dict_set_int(&options, "video_track_timescale", ctx->streams[i]->time_base.den, 0);
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
    const int64_t step = st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO ? kVideoTimeStep : 1;
    if (pts <= t.lastDts && t.lastDts != INT64_MIN) pts = t.lastDts + step;
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
        const int rate = st->codecpar->sample_rate;
        const int64_t first = MediaTime::convertScale(start, rate).value;
        const Value trim = sample.attachment(kSampleBufferAttachmentKey_TrimDurationAtStart);
        // Only the track's first sample may carry the trim.
        if (!t.trimSeen && trim.isTable()) t.trim = MediaTime::convertScale(MediaTime::fromDictionary(trim), rate).value;
        t.trimSeen = true;
        if (packets.empty()) return writePacket(t, bytes, size, first - t.trim, 1024, true);
        for (size_t i = 0; i < packets.size() && ok; ++i) {
            const auto& p = packets[i];
            if (p.mStartOffset < 0 || static_cast<uint64_t>(p.mStartOffset) + p.mDataByteSize > size ||
                p.mDataByteSize == 0)
                continue;
            ok = writePacket(t, bytes + p.mStartOffset, p.mDataByteSize,
                             first - t.trim + static_cast<int64_t>(i) * 1024, 1024, true);
        }
        return ok;
    }
    if (st->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) {
        const int64_t pts = MediaTime::convertScale(start, 1000000).value;
        const int64_t duration = av_rescale(sample.numSamples(), 1000000, st->codecpar->sample_rate);
        return writePacket(t, bytes, size, pts, duration, true);
    }
    const auto onStep = [](int64_t us) { return (us + kVideoTimeStep / 2) / kVideoTimeStep * kVideoTimeStep; };
    Track::Pending next;
    next.sample = shared;
    next.data = bytes;
    next.size = size;
    next.pts = onStep(MediaTime::convertScale(start, 1000000).value);
    next.duration = timing.duration.valid ? onStep(MediaTime::convertScale(timing.duration, 1000000).value) : 0;
    const Value depends = sample.sampleAttachmentsIfPresent().get(kSampleAttachmentKey_DependsOnOthers);
    next.key = st->codecpar->codec_id != AV_CODEC_ID_H264 || (depends.number() && !depends.number()->boolValue());
    if (t.pending) ok = writePacket(t, t.pending->data, t.pending->size, t.pending->pts, t.pending->duration, t.pending->key);
    t.pending = std::move(next);
    return ok;
}

// The last video frame is shown until the other track ends (by at most a second), so
// both tracks of a movie end together.
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
        if (latestEnd > end && latestEnd - end <= 1000000) last.duration = latestEnd - last.pts;
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
            const int r = av_write_trailer(ctx);
            avio_flush(ctx->pb);
            if (r < 0 || mWriteErrno) {
                if (mWriteErrno == ENOSPC || mWriteErrno == EDQUOT)
                    fail(kErrorDiskFull, "the disk is full");
                else
                    fail(kErrorUnknown, "cannot finish the movie");
            }
        }
    } else if (status() == Status::Writing) {
        fail(kErrorUnknown, "no sample was written");
    }
    closeFile();
    if (status() == Status::Writing) mStatus = Status::Completed;
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
